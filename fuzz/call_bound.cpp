#include "fuzz/call_bound.h"

#include "gates/gate_address.h"
#include "gates/transfer_plan.h"
#include "link/link3964.h"
#include "link/quiet_line.h"
#include "link/rk512_telegram.h"
#include "serial/serial_port.h"

namespace morvane::fuzz {
namespace {

constexpr uint64_t kPurgeMs = uint64_t{kPurgeReadLimit} * kPurgeReadTimeoutMs;
constexpr uint64_t kQuietLineMs = uint64_t{kQuietLineRoundLimit} * (kQuietLineWaitMs + kPurgeMs);

// A received block: one read per byte the buffer holds, the one refused
// behind it, and the block check character.
uint64_t BlockMs(uint64_t t) {
    return (kLinkBufferSize + 2) * t;
}

// Every pass: wait, STX, purge, block, quiet line; then the wait that finds
// the line quiet or the pass limit reached.
uint64_t DrainMs(uint64_t t) {
    return (kDrainPassLimit + 1) * uint64_t{kQuietLineWaitMs} +
           kDrainPassLimit * (t + kPurgeMs + BlockMs(t) + kQuietLineMs);
}

// Purge, two connection requests, the telegram's acknowledgement and the
// reply's STX, purge, the reply, the drain of a conflict and the one after a
// refusal, the quiet line.
uint64_t AttemptMs(uint64_t t) {
    return 2 * kPurgeMs + 4 * t + BlockMs(t) + 2 * DrainMs(t) + kQuietLineMs;
}

}  // namespace

uint64_t ExchangeBoundMs(uint64_t read_timeout_ms) {
    return kMaxAttempts * AttemptMs(read_timeout_ms);
}

uint64_t CallBoundMs(uint32_t command_code, const GateAddress& gate, int32_t count,
                     uint64_t read_timeout_ms) {
    const uint64_t exchange = ExchangeBoundMs(read_timeout_ms);
    const bool is_bit = gate.class_letter == MORVANE_CLASS_WORD && gate.bit_number != -1;
    TransferBlock block{};
    block.gate = gate;
    block.count = count < 0 ? 0 : count;
    const int64_t bytes = TransferBytes(block);
    const uint64_t telegrams = bytes <= 0 ? 1 : TelegramsFor(static_cast<uint32_t>(bytes));
    switch (command_code) {
        case MORVANE_CMD_SINGLE_READ:
            return exchange;
        case MORVANE_CMD_SINGLE_WRITE:
            return is_bit ? 2 * exchange : exchange;  // the bit's word is read first
        case MORVANE_CMD_BLOCK_READ:
        case MORVANE_CMD_BLOCK_WRITE:
            return kMaxPasses * telegrams * exchange;
        default:
            return 0;
    }
}

}  // namespace morvane::fuzz
