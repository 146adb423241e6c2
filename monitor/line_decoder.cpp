#include "monitor/line_decoder.h"

#include <string>

namespace morvane::monitor {
namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kNak = 0x15;
// Longer than any legal block doubled throughout: what goes beyond is no
// block any more, and the monitor's memory stays bounded.
constexpr size_t kLongestBlock = 600;

std::string Hex2(uint8_t byte) {
    static const char kDigits[] = "0123456789ABCDEF";
    return {kDigits[byte >> 4], kDigits[byte & 15]};
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
    if (c.damaged)
        Report(AnomalyClass::kDamaged, c.time_us, c.from,
               "character " + Hex2(c.byte) + " from the " + SideName(c.from) + " flagged damaged");
    if ((phase_ == Phase::kInBlock || phase_ == Phase::kAfterEtx) && c.from == sender_ &&
        c.time_us - last_us_ > times_.char_delay_us)
        Report(AnomalyClass::kCharGap, c.time_us, c.from,
               std::to_string((c.time_us - last_us_) / 1000) + " ms between characters of a block");
    Dispatch(c);
    last_us_ = c.time_us;
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
    const uint64_t waited = now_us - wait_from_us_;
    switch (phase_) {
        case Phase::kRequested:
            if (!late_reported_ && waited > AckDelay()) {
                late_reported_ = true;
                Report(AnomalyClass::kNoAck, now_us, requested_[0] ? Side::kHost : Side::kPlc,
                       "connection request unanswered");
            }
            return;
        case Phase::kInBlock:
            if (now_us - last_us_ > AckDelay()) {
                Report(AnomalyClass::kCharGap, now_us, sender_,
                       std::string("block from the ") + SideName(sender_) + " cut short");
                EndBlock();
            }
            return;
        case Phase::kAfterEtx:
        case Phase::kAwaitAck:
            if (waited > AckDelay()) EndBlock("block unanswered");
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
    LinkEvent event;
    event.kind = kind;
    event.from = c.from;
    event.time_us = event.end_us = c.time_us;
    event.chars = 1;
    event.damaged = c.damaged;
    sink_.OnLink(event);
}

void LineDecoder::Nak(const LineChar& c, LinkEvent::Answered answered, const char* detail) {
    EndStray();
    LinkEvent event;
    event.kind = LinkKind::kNak;
    event.from = c.from;
    event.time_us = event.end_us = c.time_us;
    event.chars = 1;
    event.damaged = c.damaged;
    event.answered = answered;
    sink_.OnLink(event);
    Report(AnomalyClass::kNak, c.time_us, c.from,
           std::string("NAK from the ") + SideName(c.from) + " " + detail);
}

void LineDecoder::Stray(const LineChar& c) {
    if (stray_.chars != 0 && stray_.from != c.from) EndStray();
    if (stray_.chars == 0) {
        stray_ = LinkEvent{};
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
    std::string bytes;
    for (uint8_t byte : stray_.raw)
        bytes += (bytes.empty() ? "" : " ") + Hex2(byte);
    sink_.OnLink(stray_);
    Report(AnomalyClass::kStray, stray_.time_us, stray_.from,
           std::to_string(stray_.chars) + " character(s) from the " + SideName(stray_.from) +
               " outside any block: " + bytes);
    stray_ = LinkEvent{};
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
    block_ = LinkEvent{};
    block_.kind = LinkKind::kBlock;
    block_.from = sender;
    block_.request_us = request_us;
    block_.time_us = 0;
    after_dle_ = false;
    bcc_ = 0;
    raw_length_ = 0;
}

void LineDecoder::InBlock(const LineChar& c) {
    if (c.from != sender_) {
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
        return Dispatch(c);
    }
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

void LineDecoder::AfterEtx(const LineChar& c) {
    if (c.from == sender_ &&
        (procedure_ != Procedure::k3964 || c.time_us - last_us_ <= times_.char_delay_us)) {
        block_.has_bcc = true;
        block_.bcc_ok = c.byte == bcc_ && !c.damaged;
        block_.end_us = c.time_us;
        ++block_.chars;
        block_.damaged = block_.damaged || c.damaged;
        if (block_.bcc_ok) {
            procedure_ = Procedure::k3964R;
        } else {
            Report(AnomalyClass::kBccFailed, c.time_us, c.from,
                   "block check " + Hex2(c.byte) + " from the " + SideName(c.from) +
                       ", the block gives " + Hex2(bcc_));
        }
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
    block_ = LinkEvent{};
}

}  // namespace morvane::monitor
