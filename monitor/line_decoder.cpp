#include "monitor/line_decoder.h"

#include <string>

#include "monitor/text_format.h"

namespace morvane::monitor {
namespace {

// Longer than any legal block doubled throughout: what goes beyond is no
// block any more, and the monitor's memory stays bounded.
constexpr size_t kLongestBlock = 600;

std::string Hex2(uint8_t byte) {
    std::string text;
    AppendHexByte(&text, byte);
    return text;
}

// Empties an event for the next one and keeps the room its bytes had, so
// that blocks and stray runs do not allocate once the first has been seen.
void Clear(LinkEvent* event) {
    std::vector<uint8_t> payload = std::move(event->payload);
    std::vector<uint8_t> raw = std::move(event->raw);
    *event = LinkEvent{};
    payload.clear();
    raw.clear();
    event->payload = std::move(payload);
    event->raw = std::move(raw);
}

}  // namespace

uint64_t LineDecoder::AckDelay() const {
    if (times_.ack_delay_us != 0) return times_.ack_delay_us;
    return procedure_ == Procedure::k3964R ? 2000000 : 550000;
}

void LineDecoder::Report(AnomalyClass what, uint64_t time_us, Side from, std::string detail) {
    sink_.OnAnomaly(Anomaly{what, time_us, from, std::move(detail)});
}

void LineDecoder::Feed(const LineChar& c) {
    Tick(c.time_us);
    if (c.damaged) ReportDamaged(c);
    if ((phase_ == Phase::kInBlock || phase_ == Phase::kAfterEtx) && c.from == sender_ &&
        c.time_us - last_us_ > times_.char_delay_us)
        ReportGap(c);
    if (heard_ == Heard::kBoth)
        Dispatch(c);
    else
        OneSide(c);
    last_us_ = c.time_us;
}

void LineDecoder::ReportDamaged(const LineChar& c) {
    Report(AnomalyClass::kDamaged, c.time_us, c.from,
           "character " + Hex2(c.byte) + " from the " + SideName(c.from) + " flagged damaged");
}

void LineDecoder::ReportGap(const LineChar& c) {
    Report(AnomalyClass::kCharGap, c.time_us, c.from,
           std::to_string((c.time_us - last_us_) / 1000) + " ms between characters of a block");
}

void LineDecoder::Dispatch(const LineChar& c) {
    switch (phase_) {
        case Phase::kIdle:
            return Idle(c);
        case Phase::kRequested:
            return Requested(c);
        case Phase::kInBlock:
            return InBlock(c);
        case Phase::kAfterEtx:
            return AfterEtx(c);
        case Phase::kAwaitAck:
            return AwaitAck(c);
    }
}

void LineDecoder::Tick(uint64_t now_us) {
    if (Overdue(now_us)) TimeOut();
}

bool LineDecoder::Overdue(uint64_t now_us) const {
    if (heard_ != Heard::kBoth) return OneSideOverdue(now_us);
    switch (phase_) {
        case Phase::kRequested:
            return !late_reported_ && now_us - wait_from_us_ > AckDelay();
        case Phase::kInBlock:
            return now_us - last_us_ > AckDelay();
        case Phase::kAfterEtx:
        case Phase::kAwaitAck:
            return now_us - wait_from_us_ > AckDelay();
        case Phase::kIdle:
            return false;
    }
    return false;
}

void LineDecoder::TimeOut() {
    if (heard_ != Heard::kBoth && phase_ != Phase::kInBlock) return OneSideTimeOut();
    switch (phase_) {
        // Stamped at the deadline, not when it was noticed: a live watch and
        // the replay of its capture notice it at different times.
        case Phase::kRequested:
            late_reported_ = true;
            Report(AnomalyClass::kNoAck, wait_from_us_ + AckDelay(),
                   requested_[0] ? Side::kHost : Side::kPlc,
                   "connection request not answered within " + std::to_string(AckDelay() / 1000) +
                       " ms");
            return;
        case Phase::kInBlock:
            Report(AnomalyClass::kCharGap, last_us_ + AckDelay(), sender_,
                   std::string("block from the ") + SideName(sender_) + " cut short");
            EndBlock();
            return;
        case Phase::kAfterEtx:
        case Phase::kAwaitAck:
            EndBlock("block unanswered");
            return;
        case Phase::kIdle:
            return;
    }
}

void LineDecoder::Flush() {
    EndStray();
    if (phase_ == Phase::kInBlock || phase_ == Phase::kAfterEtx || phase_ == Phase::kAwaitAck)
        EndBlock();
    phase_ = Phase::kIdle;
    requested_[0] = requested_[1] = false;
}

void LineDecoder::Single(LinkKind kind, const LineChar& c) {
    EndStray();
    sink_.OnLink(OneChar(kind, c));
}

void LineDecoder::Nak(const LineChar& c, LinkEvent::Answered answered, const char* detail) {
    EndStray();
    LinkEvent& event = OneChar(LinkKind::kNak, c);
    event.answered = answered;
    event.request_us = answered == LinkEvent::Answered::kOwnRequest
                           ? first_request_us_[static_cast<int>(c.from)]
                           : 0;
    // Named before the transfer it may end is shown.
    Report(AnomalyClass::kNak, c.time_us, c.from,
           std::string("NAK from the ") + SideName(c.from) + " " + detail);
    sink_.OnLink(event);
}

LinkEvent& LineDecoder::OneChar(LinkKind kind, const LineChar& c) {
    // Its byte vectors stay empty: setting the fields anew costs no allocation.
    one_char_.kind = kind;
    one_char_.from = c.from;
    one_char_.time_us = one_char_.end_us = c.time_us;
    one_char_.chars = 1;
    one_char_.damaged = c.damaged;
    one_char_.answered = LinkEvent::Answered::kNothing;
    return one_char_;
}

void LineDecoder::Stray(const LineChar& c) {
    if (stray_.chars != 0 && stray_.from != c.from) EndStray();
    if (stray_.chars == 0) {
        Clear(&stray_);
        stray_.kind = LinkKind::kStray;
        stray_.from = c.from;
        stray_.time_us = c.time_us;
    }
    stray_.end_us = c.time_us;
    ++stray_.chars;
    stray_.damaged = stray_.damaged || c.damaged;
    stray_.raw.push_back(c.byte);
}

void LineDecoder::EndStray() {
    if (stray_.chars == 0) return;
    sink_.OnLink(stray_);
    std::string detail = std::to_string(stray_.chars) + " character(s) from the " +
                         SideName(stray_.from) + " outside any block: ";
    AppendHexBytes(&detail, stray_.raw);
    Report(AnomalyClass::kStray, stray_.time_us, stray_.from, std::move(detail));
    Clear(&stray_);
}

void LineDecoder::Idle(const LineChar& c) {
    if (c.damaged) return Stray(c);
    if (c.byte == kStx) {
        Single(LinkKind::kRequest, c);
        requested_[static_cast<int>(c.from)] = true;
        request_us_[static_cast<int>(c.from)] = first_request_us_[static_cast<int>(c.from)] =
            c.time_us;
        wait_from_us_ = c.time_us;
        late_reported_ = false;
        phase_ = Phase::kRequested;
        return;
    }
    if (c.byte == kNak) return Nak(c, LinkEvent::Answered::kNothing, "with nothing pending");
    Stray(c);
}

void LineDecoder::Requested(const LineChar& c) {
    const int from = static_cast<int>(c.from);
    const int other = 1 - from;
    if (c.damaged) return Stray(c);
    if (c.byte == kDle && requested_[other]) {
        Single(LinkKind::kAccept, c);
        StartBlock(Other(c.from), first_request_us_[other]);
        return;
    }
    if (c.byte == kStx) {
        if (requested_[from]) {
            if (!late_reported_)
                Report(AnomalyClass::kNoAck, c.time_us, c.from,
                       std::string("connection request of the ") + SideName(c.from) +
                           " unanswered, repeated");
        } else {
            Report(AnomalyClass::kConflict, c.time_us, c.from,
                   "both sides request the line at once");
            first_request_us_[from] = c.time_us;
        }
        Single(LinkKind::kRequest, c);
        requested_[from] = true;
        request_us_[from] = c.time_us;
        wait_from_us_ = c.time_us;
        late_reported_ = false;
        return;
    }
    if (c.byte == kNak) {
        if (requested_[other]) {
            requested_[other] = false;
            Nak(c, LinkEvent::Answered::kRequest, "refusing a connection request");
        } else {
            if (!late_reported_)
                Report(AnomalyClass::kNoAck, c.time_us, c.from,
                       std::string("connection request of the ") + SideName(c.from) +
                           " unanswered, given up");
            requested_[from] = false;
            Nak(c, LinkEvent::Answered::kOwnRequest, "giving up its connection request");
        }
        if (!requested_[0] && !requested_[1]) phase_ = Phase::kIdle;
        return;
    }
    Stray(c);
}

void LineDecoder::StartBlock(Side sender, uint64_t request_us) {
    phase_ = Phase::kInBlock;
    requested_[0] = requested_[1] = false;
    sender_ = sender;
    Clear(&block_);
    block_.kind = LinkKind::kBlock;
    block_.from = sender;
    block_.request_us = request_us;
    block_.time_us = 0;
    after_dle_ = false;
    bcc_ = 0;
    raw_length_ = 0;
}

void LineDecoder::InBlock(const LineChar& c) {
    if (c.from != sender_) return ReceiverInBlock(c);
    if (block_.chars == 0 && c.byte == kStx && !c.damaged) {
        // After a conflict the sender may repeat its request when the answer
        // already crossed it: no block begins with STX.
        return Single(LinkKind::kRequest, c);
    }
    if (block_.chars == 0) block_.time_us = c.time_us;
    block_.end_us = c.time_us;
    ++block_.chars;
    block_.damaged = block_.damaged || c.damaged;
    bcc_ ^= c.byte;
    ++raw_length_;
    if (after_dle_ && c.byte == kEtx) {
        block_.complete = true;
        phase_ = Phase::kAfterEtx;
        wait_from_us_ = c.time_us;
        return;
    }
    if (after_dle_ && c.byte == kDle) {
        block_.payload.push_back(kDle);  // a doubled DLE: one data byte
        after_dle_ = false;
    } else if (c.byte == kDle) {
        after_dle_ = true;
    } else {
        if (after_dle_) block_.payload.push_back(kDle);  // a lone DLE, kept as data
        after_dle_ = false;
        block_.payload.push_back(c.byte);
    }
    if (raw_length_ >= kLongestBlock) EndBlock();
}

void LineDecoder::ReceiverInBlock(const LineChar& c) {
    // The receiver gives up on a block cut short: DLE or NAK, or its own request.
    if (!c.damaged && c.byte == kDle) {
        block_.acknowledged = true;
        EndBlock();
        return Single(LinkKind::kAck, c);
    }
    if (!c.damaged && c.byte == kNak) {
        block_.refused = true;
        EndBlock();
        return Nak(c, LinkEvent::Answered::kBlock, "refusing a block cut short");
    }
    EndBlock();
    Dispatch(c);
}

void LineDecoder::AfterEtx(const LineChar& c) {
    if (c.from == sender_ &&
        (procedure_ != Procedure::k3964 || c.time_us - last_us_ <= times_.char_delay_us)) {
        TakeBcc(c);
        phase_ = Phase::kAwaitAck;
        wait_from_us_ = c.time_us;
        return;
    }
    if (c.from != sender_ && procedure_ == Procedure::kUnknown) procedure_ = Procedure::k3964;
    phase_ = Phase::kAwaitAck;
    if (c.from == sender_) {
        EndBlock("block unanswered");
        return Dispatch(c);
    }
    AwaitAck(c);
}

void LineDecoder::TakeBcc(const LineChar& c, bool settles) {
    block_.has_bcc = true;
    block_.bcc_ok = c.byte == bcc_ && !c.damaged;
    block_.end_us = c.time_us;
    ++block_.chars;
    block_.damaged = block_.damaged || c.damaged;
    if (block_.bcc_ok) {
        if (settles) procedure_ = Procedure::k3964R;
    } else {
        Report(AnomalyClass::kBccFailed, c.time_us, c.from,
               "block check " + Hex2(c.byte) + " from the " + SideName(c.from) +
                   ", the block gives " + Hex2(bcc_));
    }
}

void LineDecoder::AwaitAck(const LineChar& c) {
    if (c.from == sender_ || c.damaged || (c.byte != kDle && c.byte != kNak)) {
        EndBlock("block unanswered");
        return Dispatch(c);
    }
    if (c.byte == kDle) {
        block_.acknowledged = true;
        EndBlock();
        return Single(LinkKind::kAck, c);
    }
    block_.refused = true;
    EndBlock();
    Nak(c, LinkEvent::Answered::kBlock, "refusing a block");
}

void LineDecoder::EndBlock(const char* unanswered) {
    EndStray();
    phase_ = Phase::kIdle;
    if (block_.chars == 0) return;  // accepted, then nothing came
    if (unanswered != nullptr)
        Report(AnomalyClass::kNoAck, block_.end_us, sender_,
               std::string(unanswered) + " (from the " + SideName(sender_) + ")");
    if (after_dle_ && !block_.complete) block_.payload.push_back(kDle);
    sink_.OnLink(block_);
    Clear(&block_);
}

}  // namespace morvane::monitor
