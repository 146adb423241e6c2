#include "gates/write_encoder.h"

#include <cstring>

#include "entry/log.h"
#include "gates/gate_address.h"
#include "gates/value_encoding.h"
#include "link/rk512_exchange.h"
#include "link/rk512_telegram.h"

namespace morvane {
namespace {

constexpr uint32_t kValueSlotBytes = MORVANE_VALUE_SLOT_SIZE;
// A single 16-bit value lives in the slot's second half.
constexpr uint32_t kSlotWordOffset = MORVANE_VALUE_SLOT_WORD_OFFSET;

uint16_t LoadU16(const uint8_t* at) {
    uint16_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}
uint32_t LoadU32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}
void StoreU16(uint8_t* at, uint16_t value) {
    std::memcpy(at, &value, sizeof value);
}
void PutWord(uint8_t* out, uint16_t word) {
    out[0] = static_cast<uint8_t>(word >> 8);
    out[1] = static_cast<uint8_t>(word);
}

// Items telegram_index carries: the whole count while the transfer fits one
// telegram, else up to 64 words' worth.
uint32_t ItemsOfTelegram(const TransferBlock& block, uint32_t words_per_item,
                         uint32_t telegram_index) {
    const uint16_t total_words = static_cast<uint16_t>(words_per_item * block.count);
    if (total_words <= kTelegramDataWords) return static_cast<uint32_t>(block.count);
    const int64_t left = total_words - int64_t{kTelegramDataWords} * telegram_index;
    if (left <= 0) return 0;
    return static_cast<uint32_t>(left < kTelegramDataWords ? left : kTelegramDataWords) /
           words_per_item;
}

// Exactly n bytes: the string up to its NUL, NUL bytes behind it.
int PackString(const TransferBlock& block, uint8_t* data_area) {
    const uint8_t length = StringLengthOf(block.gate);
    if (length > kTelegramDataBytes) return 1;
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
        PutWord(data_area + 2 * i, LoadU16(values + stride * i));
}

int PackLongs(const uint8_t* values, uint32_t items, bool plc_float, uint8_t* data_area) {
    for (uint32_t i = 0; i < items; ++i) {
        uint32_t value = LoadU32(values + 4 * i);
        if (plc_float) {
            if (!PlcFloatCanEncode(value)) return 1;
            value = IeeeToPlcFloat(value);
        }
        PutWord(data_area + 4 * i, static_cast<uint16_t>(value >> 16));
        PutWord(data_area + 4 * i + 2, static_cast<uint16_t>(value));
    }
    return 0;
}

}  // namespace

int PackData(TevRequest* request, uint8_t* data_area, uint32_t command_code,
             uint32_t telegram_index) {
    const TransferBlock& block = *TransferOf(request);
    const GateAddress& gate = block.gate;
    if (gate.class_letter == MORVANE_CLASS_STRING) return PackString(block, data_area);

    const uint32_t items = ItemsOfTelegram(block, WordsPerItem(gate), telegram_index);
    const uint8_t* values = static_cast<const uint8_t*>(block.data) +
                            static_cast<size_t>(kTelegramDataBytes) * telegram_index;
    if (gate.width == 16 && gate.bit_number == -1) {
        if (command_code == MORVANE_CMD_SINGLE_WRITE)
            PackWords(values + kSlotWordOffset, items, kValueSlotBytes, data_area);
        else
            PackWords(values, items, 2, data_area);
        return 0;
    }
    if (gate.width == 16 && gate.bit_number >= 0 && gate.bit_number <= 15)
        return ReadModifyWrite(request, data_area);
    if (gate.width == 32)
        return PackLongs(values, items, gate.class_letter == MORVANE_CLASS_FLOAT, data_area);
    return 1;
}

int ReadModifyWrite(TevRequest* request, uint8_t* data_area) {
    TransferBlock& block = *TransferOf(request);
    uint8_t* slot_word = static_cast<uint8_t*>(block.data) + kSlotWordOffset;
    const int32_t bit_number = block.gate.bit_number;
    const uint16_t host_value = LoadU16(slot_word);
    const uint32_t command_code = request->command_code;

    // The inner read fetches the whole word into the slot's second half.
    request->command_code = MORVANE_CMD_SINGLE_READ;
    block.gate.bit_number = -1;
    const int read = DoRead(request, 0);
    const uint16_t plc_word = LoadU16(slot_word);
    request->command_code = command_code;
    block.gate.bit_number = bit_number;
    StoreU16(slot_word, host_value);
    if (read != 0) {
        err(kLogTrace, "ZIDIV> err ReadModifyWrite read fail");
        return read;
    }

    const uint16_t mask = static_cast<uint16_t>(1u << bit_number);
    PutWord(data_area, host_value != 0 ? (plc_word | mask) : (plc_word & ~mask));
    return 0;
}

}  // namespace morvane
