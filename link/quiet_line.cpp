// Taking and discarding the partner's pending telegrams, and the bounded
// wait for a quiet line after a block.
#include "link/quiet_line.h"

#include "link/link3964.h"
#include "link/thread_priority.h"

namespace morvane {
namespace {

// False when the status was read and the input queue is empty.
bool InputPending(PortHandle port) {
    uint32_t waiting = 0;
    return !SerialBytesWaiting(port, &waiting) || waiting > 0;
}

}  // namespace

bool WaitQuietLine(PortHandle port, QuietLineRound on_round, void* context, uint32_t round_limit) {
    for (uint32_t round = 0; SerialInputWaiting(port); ++round) {
        if (round >= round_limit) return false;
        SleepMs(kQuietLineWaitMs);
        SerialPurgeInput(port);
        SendByte(port, kDle);
        if (on_round != nullptr) on_round(context);
    }
    return true;
}

DrainOutcome DrainPending(PortHandle port, uint8_t variant, uint32_t pass_limit,
                          uint32_t round_limit) {
    uint8_t block[kLinkBufferSize];
    for (uint32_t pass = 0;; ++pass) {
        SleepMs(kQuietLineWaitMs);
        if (!InputPending(port)) return DrainOutcome::kQuiet;
        if (pass >= pass_limit) return DrainOutcome::kBoundHit;
        if (ExpectByte(port, kStx) != AckResult::kAcknowledged) return DrainOutcome::kStepFailed;
        SerialPurgeInput(port);
        if (SendByte(port, kDle) != SendResult::kSent) return DrainOutcome::kStepFailed;
        uint16_t length = 0;
        if (Receive(port, variant, block, &length) != ReceiveResult::kReceived)
            return DrainOutcome::kStepFailed;
        if (SendByte(port, kDle) != SendResult::kSent) return DrainOutcome::kStepFailed;
        if (!WaitQuietLine(port, nullptr, nullptr, round_limit)) return DrainOutcome::kBoundHit;
    }
}

void DrainPartner(const ChannelArea& area) {
    DrainPending(area.port_handle, area.port_settings.is_3964r);
}

}  // namespace morvane
