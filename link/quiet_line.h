// Bounded waits for a partner that has more to say: the quiet-line loop run
// after a received reply, and the draining of the partner's pending
// telegrams. A partner that keeps sending past these bounds is broken; the
// driver gives up instead of staying in the loop.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"
#include "serial/serial_port.h"

namespace morvane {

// Rounds of the quiet-line loop. A round with bytes waiting lasts at least
// 65 ms (a 15 ms wait and the purge's 50 ms wait for more input), so 40
// rounds are more than 2.5 s of a partner that does not fall silent.
constexpr uint32_t kQuietLineRoundLimit = 40;

// The wait before each round of the quiet-line loop and each drain pass.
constexpr uint32_t kQuietLineWaitMs = 15;

// Telegrams DrainPartner takes in one call; when still more is pending after
// them it gives up. A partner queues a handful at most.
constexpr uint32_t kDrainPassLimit = 8;

// Called once per round of the quiet-line loop, after its DLE went out, so
// that each caller can log the round with its own line.
using QuietLineRound = void (*)(void* context);

// As long as the port's status can be read and reports bytes in the input
// queue: wait 15 ms, purge the input, send DLE (result ignored), call
// on_round (may be null), and ask again. Returns true when the line fell
// quiet (or the status could not be read), false when round_limit rounds ran
// and bytes were still waiting.
bool WaitQuietLine(PortHandle port, QuietLineRound on_round, void* context,
                   uint32_t round_limit = kQuietLineRoundLimit);

enum class DrainOutcome {
    kQuiet,       // nothing (more) pending: the input queue was empty
    kStepFailed,  // a step of a pass failed (no STX, no block, a DLE not written)
    kBoundHit,    // the pass limit or the quiet-line limit ran out
};

// The drain of DrainPartner on a port, with its bounds as parameters.
DrainOutcome DrainPending(PortHandle port, uint8_t variant, uint32_t pass_limit = kDrainPassLimit,
                          uint32_t round_limit = kQuietLineRoundLimit);

// Takes and discards the partner's pending telegrams on the channel's port,
// within the default bounds.
void DrainPartner(const ChannelArea& area);

}  // namespace morvane
