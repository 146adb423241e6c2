#include "link/rk512_exchange.h"

#include "link/link3964.h"
#include "link/quiet_line.h"
#include "link/rk512_telegram.h"
#include "link/thread_priority.h"
#include "link/transfer_policy.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"
#include "serial/serial_port.h"

namespace morvane {
namespace {

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

// One round of the quiet-line loop: the PLC kept sending after its reply.
void LogQuietLineRound(void* context) {
    const Attempt& a = *static_cast<const Attempt*>(context);
    Log(a, a.exchange.texts->quiet_line_resend);
}

AttemptEnd ShortReply(const Attempt& a, uint16_t length) {
    err(MORVANE_LOG_TRACE, a.exchange.texts->short_reply, a.exchange.label,
        static_cast<unsigned>(length), static_cast<int>(a.counter));
    return AttemptEnd::kRefused;
}

AttemptEnd CheckReply(Attempt& a) {
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
        return AttemptEnd::kRefused;
    }
    const uint8_t error_byte = a.raw[kReplyErrorByte];
    if (error_byte != 0) {
        err(MORVANE_LOG_TRACE, x.texts->error_byte, static_cast<unsigned>(error_byte), x.label,
            static_cast<int>(a.counter));
        DrainPartner(*x.area);
        return AttemptEnd::kRefused;
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
        return AttemptEnd::kRefused;
    }
    return AttemptEnd::kDone;
}

// From the telegram on the line to the checked reply.
AttemptEnd SendAndTakeReply(Attempt& a) {
    const Exchange& x = a.exchange;
    const ExchangeTexts& texts = *x.texts;
    if (SendBlock(a.port, x.framed, x.framed_length) != SendResult::kSent) {
        Log(a, texts.tx_header);
        return AttemptEnd::kLineFailed;
    }
    const AckResult ack = ExpectByte(a.port, kDle);
    if (ack != AckResult::kAcknowledged) {
        Log(a, texts.rx_header_ack);
        if (DrainsAfterNoAcknowledgement(x.kind, ack == AckResult::kNak)) DrainPartner(*x.area);
        return AttemptEnd::kNoAnswer;
    }
    if (ExpectByte(a.port, kStx) != AckResult::kAcknowledged) {
        Log(a, texts.rx_reply_sync);
        return AttemptEnd::kNoAnswer;
    }
    SerialPurgeInput(a.port);
    if (SendByte(a.port, kDle) != SendResult::kSent) {
        Log(a, texts.tx_reply_sync_ack);
        return AttemptEnd::kLineFailed;
    }
    if (Receive(a.port, a.variant, a.raw, &a.raw_length) != ReceiveResult::kReceived) {
        Log(a, texts.rx_reply);
        return AttemptEnd::kNoAnswer;
    }
    if (SendByte(a.port, kDle) != SendResult::kSent) {
        Log(a, texts.tx_reply_ack);
        return AttemptEnd::kLineFailed;
    }
    if (a.conflict) {
        a.conflict = false;
        DrainPartner(*x.area);
    }
    // A PLC that does not fall silent within the bound is broken: the
    // attempt ends as a failure on the line, whatever its reply said.
    if (!WaitQuietLine(a.port, LogQuietLineRound, &a)) return AttemptEnd::kLineFailed;
    return CheckReply(a);
}

AttemptEnd RunAttempt(Attempt& a) {
    const ExchangeTexts& texts = *a.exchange.texts;
    SerialPurgeInput(a.port);
    const ReadyResult ready = CheckIfReady(a.port);
    if (ready == ReadyResult::kReadyAfterConflict) {
        a.conflict = true;  // the PLC has a telegram of its own to drain later
    } else if (ready != ReadyResult::kReady) {
        Log(a, texts.synchronising);
        return AttemptEnd::kNotSent;
    }
    if (SerialInputWaiting(a.port)) {
        SendByte(a.port, kNak);
        Log(a, texts.input_waiting);
        return AttemptEnd::kNotSent;
    }
    return SendAndTakeReply(a);
}

}  // namespace

TelegramResult RunExchange(const Exchange& exchange) {
    ChannelArea* area = exchange.area;
    area->saved_thread_priority = ThreadPriorityGet();
    const int raised = ThreadPrioritySet(kThreadPriorityTimeCritical);
    if (raised != 1) err(MORVANE_LOG_TRACE, exchange.texts->set_priority, raised);

    Attempt attempt{exchange, area->port_handle, area->port_settings.is_3964r, false, 0, {}, 0};
    AttemptVerdict verdict{};
    do {
        ++attempt.counter;
        verdict = JudgeAttempt(exchange.kind, exchange.telegram_index, RunAttempt(attempt));
    } while (verdict.try_again && attempt.counter < kMaxAttempts);

    if (ThreadPrioritySet(area->saved_thread_priority) != 1)
        err(MORVANE_LOG_TRACE, exchange.texts->reset_priority);
    return verdict.result;
}

}  // namespace morvane
