// Reading the fields of a parsed gate address and the TransferBlock, the
// split of a transfer into telegrams, and where its values sit for the host.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

inline uint8_t StringLengthOf(const GateAddress& gate) {
    return static_cast<uint8_t>(static_cast<uint32_t>(gate.packed_address) >> 24);
}
inline uint8_t DataBlockOf(const GateAddress& gate) {
    return static_cast<uint8_t>(static_cast<uint32_t>(gate.packed_address) >> 16);
}
inline uint16_t ItemIndexOf(const GateAddress& gate) {
    return static_cast<uint16_t>(static_cast<uint32_t>(gate.packed_address) & 0xFFFFu);
}

// A transfer goes on the line in telegrams of MORVANE_TELEGRAM_DATA_SIZE
// data bytes each, the last one taking the rest; at least one telegram.
constexpr uint32_t TelegramsFor(uint32_t bytes) {
    return bytes == 0 ? 1 : (bytes - 1) / MORVANE_TELEGRAM_DATA_SIZE + 1;
}

// Data bytes telegram_index of a transfer of total_bytes carries; 0 beyond its end.
constexpr uint16_t TelegramDataBytes(uint32_t total_bytes, uint32_t telegram_index) {
    const uint64_t from = uint64_t{telegram_index} * MORVANE_TELEGRAM_DATA_SIZE;
    if (from >= total_bytes) return 0;
    const uint64_t left = total_bytes - from;
    return static_cast<uint16_t>(left < MORVANE_TELEGRAM_DATA_SIZE ? left
                                                                   : MORVANE_TELEGRAM_DATA_SIZE);
}

// Where a transfer's values sit in the host's buffer.
enum class ValueLayout {
    kValueSlot,  // one value in the single-value slot (SingleRead, SingleWrite)
    kBlock,      // count values one after another (BlockRead, BlockWrite)
};

// Data words one item occupies: 1 for 'I', n/2 for a string of n, 2 otherwise.
inline uint8_t WordsPerItem(const GateAddress& gate) {
    if (gate.class_letter == MORVANE_CLASS_WORD) return 1;
    if (gate.class_letter == MORVANE_CLASS_STRING) return StringLengthOf(gate) / 2;
    return 2;
}

inline TransferBlock* TransferOf(const TevRequest* request) {
    return static_cast<TransferBlock*>(request->parameter_block);
}

}  // namespace morvane
