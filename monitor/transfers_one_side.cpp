// Transfers with one side of the line heard alone: the host's requests
// without their replies, or the PLC's replies without their requests.
#include <cstdio>
#include <string>

#include "monitor/telegrams.h"
#include "monitor/transfers.h"

namespace morvane::monitor {

void TransferAssembler::OneSide(const LinkEvent& block) {
    if (block.kind != LinkKind::kBlock || block.from != HeardSide(heard_)) return;
    if (heard_ == Heard::kHost)
        RequestAlone(block);
    else
        ReplyAlone(block);
}

void TransferAssembler::RequestAlone(const LinkEvent& block) {
    const std::vector<uint8_t>& p = block.payload;
    if (IsFirstTelegram(p)) {
        Close();
        open_.emplace();
        open_->data = std::move(spare_data_);
        open_->data.clear();
        open_->heard = Heard::kHost;
        open_->time_us = block.request_us;
        ReadRequest(p, &*open_);
        AddWords(p, 10, &open_->data);
    } else if (IsFollowOn(p) && open_ && open_->kind == KindOf(p)) {
        if (open_->kind == TransferKind::kSend) AddWords(p, 4, &open_->data);
    } else {
        Report(AnomalyClass::kStray, block.time_us, Side::kHost,
               IsFollowOn(p) ? "follow-on telegram without an open transfer"
                             : "host block is no RK512 telegram");
        return;
    }
    ++open_->telegrams;
    ++open_->sent;
    open_->end_us = block.end_us;
    // Shown as soon as its telegrams cover its words: a FETCH's replies carry
    // a telegram's worth of words each, a SEND's telegrams carry them.
    const size_t covered = open_->kind == TransferKind::kSend
                               ? open_->data.size()
                               : size_t(open_->telegrams) * kDataPerTelegram / 2;
    if (covered >= open_->words) Close();
}

void TransferAssembler::ReplyAlone(const LinkEvent& block) {
    const std::vector<uint8_t>& p = block.payload;
    if (IsFirstTelegram(p)) return;  // the PLC's own telegram, not a reply
    Transfer reply;
    reply.heard = Heard::kPlc;
    reply.time_us = block.request_us;
    reply.end_us = block.end_us;
    reply.telegrams = 1;
    if (!block.complete) {
        reply.failure = "reply cut short";
    } else if (block.has_bcc && !block.bcc_ok) {
        reply.failure = "reply with a failed block check";
    } else if (block.damaged) {
        reply.failure = "reply damaged";
    } else if (p.size() < 4) {
        Report(AnomalyClass::kLengthMismatch, block.time_us, Side::kPlc,
               "reply of " + std::to_string(p.size()) + " bytes has no header");
        reply.result = TransferResult::kBadLength;
        reply.failure = "reply without header";
    } else if (p[3] != 0) {
        char text[32];
        std::snprintf(text, sizeof text, "error 0x%02X", p[3]);
        const char* meaning = PlcErrorMeaning(p[3]);
        Report(AnomalyClass::kPlcError, block.time_us, Side::kPlc,
               std::string(text) + " (" + (meaning ? meaning : "unknown") + ") in a reply");
        reply.result = TransferResult::kPlcError;
        reply.error_byte = p[3];
        reply.failure = text;
    } else {
        reply.result = TransferResult::kOk;
        AddWords(p, 4, &reply.data);
    }
    transfers_(reply);
}

}  // namespace morvane::monitor
