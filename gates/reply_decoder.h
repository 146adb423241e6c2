// Decoding the data of FETCH replies into the host's memory: words most
// significant byte first become native order, PLC floats IEEE 754 singles.
#pragma once

#include <cstdint>

#include "gates/gate_address.h"
#include "morvane/morvane.h"

namespace morvane {

// Decodes reply data into the host's buffer in the given layout (a bit of a
// word in the value slot as 0 or 1). 0, or 1 with nothing written
// for a record the reply cannot fill: an unknown width, a 32-bit width on a
// one-word class, a string length other than 2 to 80 and even, or a block of
// more than one telegram's 128 bytes.
int UnpackReply(const TransferBlock* block, const uint8_t* data, ValueLayout layout);

// Fills count string slots (MORVANE_STRING_SLOT_SIZE apart) from count strings of
// length n packed one after another: each cut at its first NUL and terminated
// at slot position n. 0, or 1 with nothing written for a length above 80.
int UnpackStringSlots(void* slots, const uint8_t* packed, uint32_t length, uint32_t count);

// Stages one telegram's values at reply_data[128 * telegram_index]: 0, or 1
// with nothing written for an unknown class letter, more than 128 bytes, or a
// telegram that would end beyond the 4096 bytes of reply data.
int UnpackChunk(ChannelArea* area, const uint8_t* data, uint16_t byte_count, uint32_t class_letter,
                uint32_t telegram_index);

}  // namespace morvane
