// Packing the host's values into the data of a SEND telegram: most
// significant byte first, floats in the PLC's format.
#include "gates/write_encoder.h"

#include <cstddef>

#include "gates/byte_order.h"
#include "gates/gate_address.h"
#include "gates/plc_float.h"

namespace morvane {
namespace {

// Items telegram_index carries: its share of the transfer's data bytes.
uint32_t ItemsOfTelegram(const TransferBlock& block, uint32_t words_per_item,
                         uint32_t telegram_index) {
    const uint16_t total_words = static_cast<uint16_t>(words_per_item * block.count);
    return TelegramDataBytes(2u * total_words, telegram_index) / (2 * words_per_item);
}

// Exactly n bytes: the string up to its NUL, NUL bytes behind it.
int PackString(const TransferBlock& block, uint8_t* data_area) {
    const uint8_t length = StringLengthOf(block.gate);
    if (length > MORVANE_TELEGRAM_DATA_SIZE) return 1;
    const char* text = static_cast<const char*>(block.data);
    bool ended = false;
    for (uint8_t i = 0; i < length; ++i) {
        ended = ended || text[i] == '\0';
        data_area[i] = ended ? 0 : static_cast<uint8_t>(text[i]);
    }
    return 0;
}

void PackWords(const uint8_t* values, uint32_t items, uint32_t stride, uint8_t* data_area) {
    for (uint32_t i = 0; i < items; ++i)
        PutLineWord(data_area + 2 * i, LoadNative<uint16_t>(values + stride * i));
}

int PackLongs(const uint8_t* values, uint32_t items, bool plc_float, uint8_t* data_area) {
    for (uint32_t i = 0; i < items; ++i) {
        uint32_t value = LoadNative<uint32_t>(values + 4 * i);
        if (plc_float) {
            if (!PlcFloatCanEncode(value)) return 1;
            value = IeeeToPlcFloat(value);
        }
        PutLineWord(data_area + 4 * i, static_cast<uint16_t>(value >> 16));
        PutLineWord(data_area + 4 * i + 2, static_cast<uint16_t>(value));
    }
    return 0;
}

}  // namespace

int PackData(const TransferBlock& block, uint8_t* data_area, ValueLayout layout,
             uint32_t telegram_index) {
    const GateAddress& gate = block.gate;
    if (gate.class_letter == MORVANE_CLASS_STRING) return PackString(block, data_area);

    const uint32_t items = ItemsOfTelegram(block, WordsPerItem(gate), telegram_index);
    const uint8_t* values = static_cast<const uint8_t*>(block.data) +
                            static_cast<size_t>(MORVANE_TELEGRAM_DATA_SIZE) * telegram_index;
    if (gate.width == 16 && gate.bit_number == -1) {
        if (layout == ValueLayout::kValueSlot)
            PackWords(values + MORVANE_VALUE_SLOT_WORD_OFFSET, items, MORVANE_VALUE_SLOT_SIZE,
                      data_area);
        else
            PackWords(values, items, 2, data_area);
        return 0;
    }
    if (gate.width == 32)
        return PackLongs(values, items, gate.class_letter == MORVANE_CLASS_FLOAT, data_area);
    return 1;
}

}  // namespace morvane
