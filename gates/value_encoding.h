// Values between the line (most significant byte first, PLC float format) and
// the host's memory (native order, IEEE 754 singles).
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

constexpr uint32_t kStringSlotSize = 81;  // block reads: one string slot

// PLC float word (exponent byte, 24-bit two's complement mantissa) to IEEE bits.
uint32_t PlcFloatToIeee(uint32_t plc_word);

// IEEE bits to a PLC float word. NaN cannot be represented: check first with
// PlcFloatCanEncode.
uint32_t IeeeToPlcFloat(uint32_t ieee_bits);
bool PlcFloatCanEncode(uint32_t ieee_bits);

// Decodes reply data into the host's buffer: one value for command code 5,
// count values in the block layout otherwise. 0, or 1 for an unknown width.
int UnpackReply(const TransferBlock* block, const uint8_t* data, uint32_t command_code);

// Stages one telegram's values at reply_data[128 * telegram_index]; 0 or 1.
int UnpackChunk(ChannelArea* area, const uint8_t* data, uint16_t byte_count, uint32_t class_letter,
                uint32_t telegram_index);

}  // namespace morvane
