// Packs the host's values into the data of one SEND telegram.
#pragma once

#include <cstdint>

#include "gates/gate_address.h"
#include "morvane/morvane.h"

namespace morvane {

// A single bit of a word: PackData cannot pack it from the host's value
// alone; the SEND exchange reads the word from the PLC and writes it whole.
inline bool IsSingleBit(const GateAddress& gate) {
    return gate.class_letter != MORVANE_CLASS_STRING && gate.width == 16 && gate.bit_number >= 0 &&
           gate.bit_number <= 15;
}

// Writes this telegram's data bytes (at most 128) to data_area: 0, or 1 for
// a record it cannot pack (a single bit among them).
int PackData(const TransferBlock& block, uint8_t* data_area, ValueLayout layout,
             uint32_t telegram_index);

}  // namespace morvane
