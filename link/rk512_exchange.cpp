#include "link/rk512_exchange.h"

#include "link/link3964.h"
#include "link/quiet_line.h"
#include "link/rk512_telegram.h"
#include "link/thread_priority.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"
#include "serial/serial_port.h"

namespace morvane {
namespace {

// How an attempt ended: with leave set no further attempt runs.
struct Outcome {
    int result;
    bool leave;
};
constexpr Outcome Ended(int result) {
    return {result, false};
}
constexpr Outcome Left(int result) {
    return {result, true};
}

struct Attempt {
    const Exchange& exchange;
    PortHandle port;
    uint8_t variant;
    bool conflict;  // survives from one attempt to the next
    uint16_t counter;
    uint8_t raw[kLinkBufferSize];
    uint16_t raw_length;
};

void Log(const Attempt& a, const char* format) {
    err(MORVANE_LOG_TRACE, format, a.exchange.label, static_cast<int>(a.counter));
}

// The PLC did not acknowledge the telegram or did not answer it.
Outcome NoAnswer(const Attempt& a) {
    const Exchange& x = a.exchange;
    if (x.rules.follow_on_no_answer_is_refusal && x.telegram_index != 0) return Left(1);
    return Ended(2);
}

// Once a follow-on telegram is on the line the PLC may have taken it even
// when its acknowledgement or reply was lost. Sent again it would be applied
// at the PLC's next position: a SEND would write this telegram's words over
// the next ones, a FETCH would return the next words in this one's place.
Outcome SentOnce(const Attempt& a, Outcome outcome) {
    if (a.exchange.telegram_index != 0 && outcome.result != 0) outcome.leave = true;
    return outcome;
}

// The PLC answered but refused, or the answer is malformed: the first
// telegram is sent again, a follow-on telegram gives up.
Outcome Refused(const Attempt& a) {
    return a.exchange.telegram_index == 0 ? Ended(1) : Left(1);
}

// One round of the quiet-line loop: the PLC kept sending after its reply.
void LogQuietLineRound(void* context) {
    const Attempt& a = *static_cast<const Attempt*>(context);
    Log(a, a.exchange.texts->quiet_line_resend);
}

Outcome ShortReply(const Attempt& a, uint16_t length) {
    err(MORVANE_LOG_TRACE, a.exchange.texts->short_reply, a.exchange.label,
        static_cast<unsigned>(length), static_cast<int>(a.counter));
    return Refused(a);
}

Outcome CheckReply(Attempt& a) {
    const Exchange& x = a.exchange;
    // The error byte is the fourth byte as received, DLE pairs included.
    if (a.raw_length < kReplyHeaderBytes) return ShortReply(a, a.raw_length);
    // A reply starts 00 for a first telegram and FF for a follow-on. A PLC
    // that still holds the reply of an earlier telegram (its last DLE lost)
    // may send it for this one: of the same length and error-free, its
    // words would be taken for the ones asked for.
    const uint8_t kind = a.raw[0];
    if (kind != (x.telegram_index == 0 ? kReplyFirstTelegram : kReplyFollowOnTelegram)) {
        err(MORVANE_LOG_TRACE, x.texts->other_reply, x.label, static_cast<unsigned>(kind),
            static_cast<int>(a.counter));
        return Refused(a);
    }
    const uint8_t error_byte = a.raw[kReplyErrorByte];
    if (error_byte != 0) {
        err(MORVANE_LOG_TRACE, x.texts->error_byte, static_cast<unsigned>(error_byte), x.label,
            static_cast<int>(a.counter));
        DrainPartner(x.request);
        return Refused(a);
    }
    const uint16_t reply_length = UndoubleDle(a.raw, x.plain_reply, a.raw_length);
    *x.plain_reply_length = reply_length;
    if (reply_length < kReplyHeaderBytes) return ShortReply(a, reply_length);
    // A stray byte can make a refusal look like a confirmation (00 00 00 00 0C
    // has a zero error byte), so a SEND reply must be the bare header too.
    const unsigned received = reply_length - kReplyHeaderBytes;
    const unsigned expected = x.expected_data_bytes;
    if (received != expected) {
        err(MORVANE_LOG_TRACE, x.texts->wrong_length, x.label, received, expected,
            static_cast<unsigned>(a.counter));
        return Refused(a);
    }
    return Left(0);
}

// From the telegram on the line to the checked reply.
Outcome SendAndTakeReply(Attempt& a) {
    const Exchange& x = a.exchange;
    const ExchangeTexts& texts = *x.texts;
    if (SendBlock(a.port, x.framed, x.framed_length) != kLinkOk) {
        Log(a, texts.tx_header);
        return Ended(2);
    }
    const int ack = ExpectByte(a.port, kDle);
    if (ack != kLinkOk) {
        Log(a, texts.rx_header_ack);
        if (x.rules.drain_after_any_header_refusal || ack == kLinkNakByte) DrainPartner(x.request);
        return NoAnswer(a);
    }
    if (ExpectByte(a.port, kStx) != kLinkOk) {
        Log(a, texts.rx_reply_sync);
        return NoAnswer(a);
    }
    SerialPurgeInput(a.port);
    if (SendByte(a.port, kDle) != kLinkOk) {
        Log(a, texts.tx_reply_sync_ack);
        return Ended(2);
    }
    if (Receive(a.port, a.variant, a.raw, &a.raw_length) != kLinkOk) {
        Log(a, texts.rx_reply);
        return NoAnswer(a);
    }
    if (SendByte(a.port, kDle) != kLinkOk) {
        Log(a, texts.tx_reply_ack);
        return Ended(2);
    }
    if (a.conflict) {
        a.conflict = false;
        DrainPartner(x.request);
    }
    // A PLC that does not fall silent within the bound is broken: the
    // attempt ends as a failure on the line, whatever its reply said.
    if (!WaitQuietLine(a.port, LogQuietLineRound, &a)) return Ended(2);
    return CheckReply(a);
}

Outcome RunAttempt(Attempt& a) {
    const Exchange& x = a.exchange;
    const ExchangeTexts& texts = *x.texts;
    SerialPurgeInput(a.port);
    const int ready = CheckIfReady(a.port);
    if (ready == kLinkTimeout) {
        a.conflict = true;  // the PLC has a telegram of its own to drain later
    } else if (ready != kLinkOk) {
        Log(a, texts.synchronising);
        return Ended(2);
    }
    if (SerialInputWaiting(a.port)) {
        SendByte(a.port, kNak);
        Log(a, texts.input_waiting);
        return Ended(2);
    }
    return SentOnce(a, SendAndTakeReply(a));
}

}  // namespace

int RunExchange(const Exchange& exchange) {
    ChannelArea* area = exchange.request->channel_area;
    area->saved_thread_priority = ThreadPriorityGet();
    const int raised = ThreadPrioritySet(kThreadPriorityTimeCritical);
    if (raised != 1) err(MORVANE_LOG_TRACE, exchange.texts->set_priority, raised);

    Attempt attempt{exchange, area->port_handle, area->port_settings.is_3964r, false, 0, {}, 0};
    Outcome outcome = Ended(2);
    do {
        ++attempt.counter;
        outcome = RunAttempt(attempt);
    } while (!outcome.leave && outcome.result != 0 && attempt.counter < kMaxAttempts);

    if (ThreadPrioritySet(area->saved_thread_priority) != 1)
        err(MORVANE_LOG_TRACE, exchange.texts->reset_priority);
    return outcome.result;
}

}  // namespace morvane
