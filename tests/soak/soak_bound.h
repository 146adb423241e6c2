// The longest a call may take on this line, from the driver's read time-out
// and its bounds: attempts per telegram, passes per transfer, the drain of
// the partner's telegrams and the quiet-line loop.
//
// Every read that times out costs the read time-out and ends its step (a
// block's receipt included: the relay delivers a block at once or holds a
// byte back past the time-out, never a byte just inside it); a purge ends
// after one short read, since nothing here sends 512 bytes within it; writes
// go out at once to the relay, which always reads.
#pragma once

#include <cstdint>

#include "gates/transfer_plan.h"
#include "link/quiet_line.h"
#include "link/rk512_telegram.h"
#include "soak/soak_transfer.h"

namespace morvane::soak {

constexpr double kPurgeMs = 50;     // the purge's one short read
constexpr double kPassWaitMs = 15;  // the wait before each drain pass and quiet-line round

struct ExchangeBound {
    double quiet_line_ms;
    double drain_ms;
    double attempt_ms;
    double exchange_ms;  // all attempts of one telegram
};

inline ExchangeBound BoundOfExchange(double timeout_ms) {
    ExchangeBound b{};
    b.quiet_line_ms = kQuietLineRoundLimit * (kPassWaitMs + kPurgeMs);
    // Each pass: STX, the block, the quiet line; one more wait finds the line quiet.
    b.drain_ms = (kDrainPassLimit + 1) * kPassWaitMs +
                 kDrainPassLimit * (2 * timeout_ms + kPurgeMs + b.quiet_line_ms);
    // Purge, set-up (two reads), acknowledgement, reply set-up, purge, the
    // reply, a drain after a conflict or a refusal, the quiet line.
    b.attempt_ms = 2 * kPurgeMs + 5 * timeout_ms + 2 * b.drain_ms + b.quiet_line_ms;
    b.exchange_ms = kMaxAttempts * b.attempt_ms;
    return b;
}

inline double CallBoundMs(const Transfer& t, double timeout_ms) {
    const double exchange = BoundOfExchange(timeout_ms).exchange_ms;
    const uint32_t bytes = LineBytes(t);
    const uint32_t telegrams = bytes == 0 ? 1 : (bytes - 1) / MORVANE_TELEGRAM_DATA_SIZE + 1;
    const bool one_pass = t.op == Op::kSingleRead || t.op == Op::kSingleWrite ||
                          (t.op == Op::kBlockRead && telegrams == 1);
    const double passes = one_pass ? 1 : kMaxPasses;
    const double per_telegram = t.kind == Kind::kBit && IsWrite(t.op) ? 2 * exchange : exchange;
    return passes * telegrams * per_telegram;
}

}  // namespace morvane::soak
