// Decoding the data of FETCH replies: into the host's buffer for transfers of
// one telegram, into the ChannelArea's reply data for larger ones.
#include "gates/reply_decoder.h"

#include <cstring>

#include "gates/byte_order.h"
#include "gates/gate_address.h"
#include "gates/plc_float.h"

namespace morvane {
namespace {

void UnpackWords(uint8_t* out, const uint8_t* data, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        StoreNative(out + 2 * i, ReadLineWord(data + 2 * i));
}

void UnpackLongs(uint8_t* out, const uint8_t* data, uint32_t count, bool is_float) {
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t value = ReadLineLong(data + 4 * i);
        StoreNative(out + 4 * i, is_float ? PlcFloatToIeee(value) : value);
    }
}

// The n characters up to the first NUL among them, NUL behind it, and a NUL
// at position n.
void UnpackString(uint8_t* out, const uint8_t* data, uint32_t length) {
    bool ended = false;
    for (uint32_t i = 0; i < length; ++i) {
        ended = ended || data[i] == 0;
        out[i] = ended ? 0 : data[i];
    }
    out[length] = 0;
}

// A bit outside the word reads as clear rather than shifting out of range.
uint16_t BitOf(uint16_t word, int32_t bit_number) {
    if (bit_number < 0 || bit_number > 15) return 0;
    return static_cast<uint16_t>(word >> bit_number & 1u);
}

// Bytes of one item in the reply, 0 for a record whose items the reply does
// not hold: the reply carries WordsPerItem words per item, and a value wider
// than that, or a string of odd length or beyond a slot, would be read past it.
uint32_t ReplyItemBytes(const GateAddress& gate) {
    if (gate.class_letter == MORVANE_CLASS_STRING) {
        const uint32_t length = StringLengthOf(gate);
        return length >= 2 && length <= MORVANE_STRING_MAX_LENGTH && length % 2 == 0 ? length : 0;
    }
    if (gate.width == 16) return 2;
    if (gate.width == 32 && WordsPerItem(gate) >= 2) return 4;
    return 0;
}

void UnpackSingle(const GateAddress& gate, const uint8_t* data, uint8_t* out) {
    if (gate.class_letter == MORVANE_CLASS_STRING) {
        UnpackString(out, data, StringLengthOf(gate));
    } else if (gate.width == 16) {
        const uint16_t word = ReadLineWord(data);
        const uint16_t value = gate.bit_number == -1 ? word : BitOf(word, gate.bit_number);
        StoreNative(out + MORVANE_VALUE_SLOT_WORD_OFFSET, value);
    } else {
        UnpackLongs(out, data, 1, gate.class_letter == MORVANE_CLASS_FLOAT);
    }
}

}  // namespace

int UnpackReply(const TransferBlock* block, const uint8_t* data, ValueLayout layout) {
    const GateAddress& gate = block->gate;
    const uint32_t item_bytes = ReplyItemBytes(gate);
    if (item_bytes == 0) return 1;
    if (block->count <= 0) return 0;  // the PLC sent no value
    auto* out = static_cast<uint8_t*>(block->data);
    if (layout == ValueLayout::kValueSlot) {
        UnpackSingle(gate, data, out);
        return 0;
    }
    const auto count = static_cast<uint32_t>(block->count);
    if (count > MORVANE_TELEGRAM_DATA_SIZE / item_bytes) return 1;
    if (gate.class_letter == MORVANE_CLASS_STRING)
        return UnpackStringSlots(out, data, item_bytes, count);
    if (gate.width == 16)
        UnpackWords(out, data, count);
    else
        UnpackLongs(out, data, count, gate.class_letter == MORVANE_CLASS_FLOAT);
    return 0;
}

int UnpackStringSlots(void* slots, const uint8_t* packed, uint32_t length, uint32_t count) {
    if (length > MORVANE_STRING_MAX_LENGTH) return 1;
    auto* out = static_cast<uint8_t*>(slots);
    for (uint32_t i = 0; i < count; ++i)
        UnpackString(out + MORVANE_STRING_SLOT_SIZE * i, packed + length * i, length);
    return 0;
}

int UnpackChunk(ChannelArea* area, const uint8_t* data, uint16_t byte_count, uint32_t class_letter,
                uint32_t telegram_index) {
    const uint64_t offset = static_cast<uint64_t>(telegram_index) * MORVANE_TELEGRAM_DATA_SIZE;
    if (byte_count > MORVANE_TELEGRAM_DATA_SIZE || offset + byte_count > sizeof area->reply_data)
        return 1;
    uint8_t* out = area->reply_data + offset;
    switch (class_letter) {
        case MORVANE_CLASS_WORD:
            UnpackWords(out, data, byte_count / 2u);
            return 0;
        case MORVANE_CLASS_FLOAT:
        case MORVANE_CLASS_LONG:
            UnpackLongs(out, data, byte_count / 4u, class_letter == MORVANE_CLASS_FLOAT);
            return 0;
        case MORVANE_CLASS_STRING:
            if (byte_count > 0) std::memcpy(out, data, byte_count);
            return 0;
        default:
            return 1;
    }
}

}  // namespace morvane
