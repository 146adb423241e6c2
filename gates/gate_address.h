// Reading the fields of a parsed gate address and the TransferBlock, and the
// data words one telegram of a transfer carries.
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

// Data words one telegram of a transfer carries; the last one takes the rest.
constexpr uint16_t kTelegramDataWords = MORVANE_TELEGRAM_DATA_SIZE / 2;

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
