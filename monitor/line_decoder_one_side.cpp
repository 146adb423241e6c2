// The decoder with one side of the line heard alone. The partner's answers
// never arrive, so they are not waited for: what is left to read is the
// heard side's requests, its blocks up to DLE ETX and their block checks,
// and its own DLEs and NAKs, whose meaning needs the partner's characters.
#include "monitor/line_decoder.h"

namespace morvane::monitor {

bool LineDecoder::OneSideOverdue(uint64_t now_us) const {
    switch (phase_) {
        case Phase::kRequested:
            return now_us - wait_from_us_ > AckDelay();
        case Phase::kInBlock:
            return now_us - last_us_ > AckDelay();
        case Phase::kAfterEtx:
            // A block check follows DLE ETX at once; later comes the next message.
            return now_us - wait_from_us_ > times_.char_delay_us;
        case Phase::kAwaitAck:
        case Phase::kIdle:
            return false;
    }
    return false;
}

void LineDecoder::OneSideTimeOut() {
    // A request followed by nothing was given up; whether it was answered is
    // not heard, so it is no anomaly here.
    if (phase_ == Phase::kAfterEtx) EndBlock();
    phase_ = Phase::kIdle;
}

void LineDecoder::OneSide(const LineChar& c) {
    if (c.from != HeardSide(heard_)) return Stray(c);
    switch (phase_) {
        case Phase::kIdle:
        case Phase::kAwaitAck:
            return OneSideIdle(c);
        case Phase::kRequested:
            return OneSideRequested(c);
        case Phase::kInBlock:
            return InBlock(c);
        case Phase::kAfterEtx:
            return OneSideAfterEtx(c);
    }
}

void LineDecoder::OneSideIdle(const LineChar& c) {
    phase_ = Phase::kIdle;
    if (c.damaged) return Stray(c);
    if (c.byte == kStx) {
        Single(LinkKind::kRequest, c);
        request_us_[0] = wait_from_us_ = c.time_us;
        phase_ = Phase::kRequested;
        return;
    }
    if (c.byte == kDle) return Single(LinkKind::kAnswer, c);
    if (c.byte == kNak)
        return Nak(c, LinkEvent::Answered::kNothing, "(what it answers is not heard)");
    Stray(c);
}

void LineDecoder::OneSideRequested(const LineChar& c) {
    if (!c.damaged && c.byte == kStx) {
        // Asked again: the first request went unanswered or was refused.
        Single(LinkKind::kRequest, c);
        wait_from_us_ = c.time_us;
        return;
    }
    if (!c.damaged && (c.byte == kDle || c.byte == kNak)) {
        // No telegram or reply begins with DLE or NAK: the request was given
        // up, and this answers the partner.
        phase_ = Phase::kIdle;
        return OneSideIdle(c);
    }
    StartBlock(HeardSide(heard_), request_us_[0]);
    InBlock(c);
}

void LineDecoder::OneSideAfterEtx(const LineChar& c) {
    // Unknown which procedure runs, a character is the block check only when
    // it fits: a 3964 sender's next character could be anything. Under 3964
    // that is its DLE, STX or NAK, which often fits by chance (a telegram for
    // DB1 W2 x1 sums to DLE): such a one is the check only when it came in
    // one read with the DLE ETX, and settles nothing. A 3964R line shows
    // itself by the first block whose check is another character.
    const bool link_char = c.byte == kDle || c.byte == kStx || c.byte == kNak;
    const bool fits = c.byte == bcc_ && !c.damaged && (!link_char || c.time_us == last_us_);
    if (procedure_ == Procedure::k3964R || (procedure_ == Procedure::kUnknown && fits)) {
        TakeBcc(c, !link_char);
        return EndBlock();
    }
    EndBlock();
    OneSideIdle(c);
}

}  // namespace morvane::monitor
