#include "monitor/transfers.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "monitor/telegrams.h"

namespace morvane::monitor {
namespace {

constexpr int kMostTries = 4;

// Why a block the receiver took did not get through; null when it did.
const char* Refusal(const LinkEvent& block) {
    if (block.refused) return "refused with NAK";
    if (!block.complete) return "cut short";
    if (block.has_bcc && !block.bcc_ok) return "with a failed block check";
    if (!block.acknowledged) return "not acknowledged";
    return nullptr;
}

std::string Name(const Transfer& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%s DB%u W%u x%u", TransferKindName(t.kind), t.data_block,
                  t.start_word, t.words);
    return text;
}

}  // namespace

void TransferAssembler::Report(AnomalyClass what, uint64_t at_us, Side from, std::string detail) {
    anomalies_(Anomaly{what, at_us, from, std::move(detail)});
}

void TransferAssembler::Link(const LinkEvent& event) {
    last_us_ = event.end_us;
    if (heard_ != Heard::kBoth) return OneSide(event);
    if (event.kind == LinkKind::kNak && event.from == Side::kHost) {
        if (event.answered == LinkEvent::Answered::kOwnRequest && !awaiting_reply_)
            RefusedConnection(event);
        else if (awaiting_reply_)
            NoReply(event.end_us);
        return;
    }
    if (event.kind != LinkKind::kBlock) return;
    if (event.from == Side::kHost)
        HostBlock(event);
    else
        Reply(event);
}

// A connection request given up: a try of the open transfer's next
// telegram (one repeated after a failure, or a follow-on), else of the next
// transfer's; a fourth one in a row is a transfer of its own whose telegram
// never went out.
void TransferAssembler::RefusedConnection(const LinkEvent& event) {
    if (open_ && (last_try_failed_ || index_ > 0)) {
        ++tries_;
        ++open_->retries;
        if (index_ == 0) ++open_->attempts;
        open_->failure = "no answer to the connection request, or a NAK";
        open_->end_us = event.end_us;
        if (index_ == 0 && tries_ >= kMostTries) Close();
        return;
    }
    if (refused_connections_++ == 0) first_refused_us_ = event.request_us;
    if (refused_connections_ >= kMostTries) CloseUnsent(event.end_us);
}

void TransferAssembler::CloseUnsent(uint64_t end_us) {
    if (refused_connections_ == 0) return;
    Close();
    Transfer unsent;
    unsent.kind = TransferKind::kConnect;
    unsent.time_us = first_refused_us_;
    unsent.end_us = end_us;
    unsent.attempts = refused_connections_;
    unsent.retries = refused_connections_ - 1;
    unsent.failure = "no telegram went out: no answer to the connection request, or a NAK";
    refused_connections_ = 0;
    transfers_(unsent);
}

void TransferAssembler::HostBlock(const LinkEvent& block) {
    if (IsFirstTelegram(block.payload)) return FirstTelegram(block);
    if (IsFollowOn(block.payload)) return FollowOn(block);
    Report(AnomalyClass::kStray, block.time_us, Side::kHost, "host block is no RK512 telegram");
    if (awaiting_reply_) NoReply(block.time_us);
}

void TransferAssembler::FirstTelegram(const LinkEvent& block) {
    const std::vector<uint8_t>& p = block.payload;
    const bool same = open_ && p == first_telegram_;
    if (awaiting_reply_) NoReply(block.time_us);
    if (same && open_ && index_ == 0 && tries_ < kMostTries) {
        ++tries_;
        ++open_->attempts;
        ++open_->retries;
        Report(AnomalyClass::kRetry, block.time_us, Side::kHost,
               "telegram repeated: " + Name(*open_) + ", try " + std::to_string(tries_));
    } else if (same && open_ && index_ > 0) {
        ++open_->attempts;
        ++open_->retries;
        tries_ = 1;
        index_ = 0;
        open_->data.clear();
        Report(AnomalyClass::kRetry, block.time_us, Side::kHost,
               "transfer started again: " + Name(*open_));
    } else {
        Close();
        open_.emplace();
        open_->data = std::move(spare_data_);
        open_->data.clear();
        open_->time_us = block.request_us;
        ReadRequest(p, &*open_);
        open_->attempts = 1;
        first_telegram_ = p;
        tries_ = 1;
    }
    // Requests given up before this telegram were tries of it.
    open_->attempts += refused_connections_;
    open_->retries += refused_connections_;
    tries_ += refused_connections_;
    refused_connections_ = 0;
    ++open_->sent;
    telegram_ = p;
    pending_data_.clear();
    AddWords(p, 10, &pending_data_);
    last_try_failed_ = false;
    if (const char* refusal = Refusal(block)) {
        Fail(TransferResult::kLineFailed, std::string("telegram ") + refusal, block.end_us);
        return;
    }
    awaiting_reply_ = true;
}

void TransferAssembler::FollowOn(const LinkEvent& block) {
    const std::vector<uint8_t>& p = block.payload;
    const TransferKind kind = KindOf(p);
    if (!open_ || open_->kind != kind) {
        Report(AnomalyClass::kStray, block.time_us, Side::kHost,
               "follow-on telegram without an open transfer");
        return;
    }
    if (awaiting_reply_) NoReply(block.time_us);
    if (!open_) return;
    if (last_try_failed_ && p == telegram_) {
        ++tries_;
        ++open_->retries;
        Report(AnomalyClass::kRetry, block.time_us, Side::kHost,
               "follow-on telegram " + std::to_string(index_) + " repeated: " + Name(*open_));
    } else {
        tries_ = 1;
    }
    ++open_->sent;
    telegram_ = p;
    pending_data_.clear();
    AddWords(p, 4, &pending_data_);
    last_try_failed_ = false;
    if (const char* refusal = Refusal(block)) {
        Fail(TransferResult::kLineFailed, std::string("follow-on telegram ") + refusal,
             block.end_us);
        return;
    }
    awaiting_reply_ = true;
}

size_t TransferAssembler::ExpectedDataBytes() const {
    const size_t total = size_t{open_->words} * 2;
    const size_t done = static_cast<size_t>(index_) * kDataPerTelegram;
    return total > done ? std::min(total - done, kDataPerTelegram) : 0;
}

void TransferAssembler::Reply(const LinkEvent& block) {
    if (IsFirstTelegram(block.payload)) return;  // the PLC's own telegram, not a reply
    if (!open_ || !awaiting_reply_) {
        Report(AnomalyClass::kStray, block.time_us, Side::kPlc, "reply without a telegram");
        return;
    }
    awaiting_reply_ = false;
    const std::vector<uint8_t>& p = block.payload;
    if (const char* refusal = Refusal(block))
        return Fail(TransferResult::kLineFailed, std::string("reply ") + refusal, block.end_us);
    const size_t want = open_->kind == TransferKind::kFetch ? ExpectedDataBytes() : 0;
    if (p.size() < 4) {
        Report(AnomalyClass::kLengthMismatch, block.time_us, Side::kPlc,
               "reply of " + std::to_string(p.size()) + " bytes has no header, to " + Name(*open_));
        return Fail(TransferResult::kBadLength, "reply without header", block.end_us);
    }
    // As the host takes it: a reply starts 00 for a first telegram and FF
    // for a follow-on; another mark is the reply of another telegram.
    if (p[0] != (index_ == 0 ? 0x00 : 0xFF)) {
        char mark[48];
        std::snprintf(mark, sizeof mark, "reply marked %02X, not %s, to telegram %d of ", p[0],
                      index_ == 0 ? "00" : "FF", index_);
        Report(AnomalyClass::kLengthMismatch, block.time_us, Side::kPlc, mark + Name(*open_));
        return Fail(TransferResult::kBadLength, "reply of another telegram", block.end_us);
    }
    if (p[3] != 0) {
        char text[32];
        std::snprintf(text, sizeof text, "error 0x%02X", p[3]);
        const char* meaning = PlcErrorMeaning(p[3]);
        Report(AnomalyClass::kPlcError, block.time_us, Side::kPlc,
               std::string(text) + " (" + (meaning ? meaning : "unknown") + ") in the reply to " +
                   Name(*open_));
        open_->error_byte = p[3];
        return Fail(TransferResult::kPlcError, text, block.end_us);
    }
    if (p.size() - 4 != want) {  // a SEND's reply is the bare header
        Report(AnomalyClass::kLengthMismatch, block.time_us, Side::kPlc,
               "reply carries " + std::to_string(p.size() - 4) + " data bytes, " + Name(*open_) +
                   " asked " + std::to_string(want));
        return Fail(TransferResult::kBadLength, "reply of the wrong length", block.end_us);
    }
    // A PLC that confirms a SEND telegram short of the words its header
    // announced took words that were never sent.
    if (open_->kind == TransferKind::kSend && pending_data_.size() * 2 != ExpectedDataBytes()) {
        Report(AnomalyClass::kLengthMismatch, block.time_us, Side::kHost,
               "telegram " + std::to_string(index_) + " of " + Name(*open_) + " carries " +
                   std::to_string(pending_data_.size() * 2) + " data bytes, " +
                   std::to_string(ExpectedDataBytes()) + " announced; the PLC confirmed it");
        return Fail(TransferResult::kBadLength, "telegram of the wrong length", block.end_us);
    }
    std::vector<uint16_t>& data = open_->data;
    const size_t before = data.size();
    if (open_->kind == TransferKind::kFetch)
        AddWords(p, 4, &data);
    else
        data.insert(data.end(), pending_data_.begin(), pending_data_.end());
    const bool no_words = data.size() == before;
    ++index_;
    ++open_->telegrams;
    tries_ = 0;
    last_try_failed_ = false;
    open_->end_us = block.end_us;
    if (data.size() >= open_->words || no_words) {
        open_->result = TransferResult::kOk;
        open_->failure.clear();
        open_->error_byte = 0;
        Close();
    }
}

void TransferAssembler::Fail(TransferResult result, std::string why, uint64_t at_us) {
    if (!open_) return;
    open_->result = result;
    open_->failure = std::move(why);
    open_->end_us = at_us;
    awaiting_reply_ = false;
    last_try_failed_ = true;
    if (index_ == 0 && tries_ >= kMostTries) Close();
}

// The PLC took the telegram but its reply never came, and the host gave
// up waiting: it refused the reply's request, moved on or fell silent.
void TransferAssembler::NoReply(uint64_t at_us) {
    Report(AnomalyClass::kNoAck, at_us, Side::kPlc,
           "no reply to telegram " + std::to_string(index_) + " of " + Name(*open_));
    Fail(TransferResult::kLineFailed, "no reply", at_us);
}

void TransferAssembler::Close() {
    if (open_) {
        transfers_(*open_);
        spare_data_ = std::move(open_->data);
    }
    open_.reset();
    index_ = 0;
    tries_ = 0;
    awaiting_reply_ = false;
    last_try_failed_ = false;
}

void TransferAssembler::EndQuiet() {
    if (awaiting_reply_) NoReply(last_us_);
    Close();
    CloseUnsent(last_us_);
}

void TransferAssembler::Flush() {
    if (open_ && awaiting_reply_) Fail(TransferResult::kLineFailed, "no reply", last_us_);
    Close();
    CloseUnsent(last_us_);
}

}  // namespace morvane::monitor
