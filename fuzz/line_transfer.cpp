#include "fuzz/line_transfer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "gates/gate_address.h"
#include "gates/plc_float.h"

namespace morvane::fuzz {
namespace {

constexpr int32_t kAnyChannel = 1;
constexpr uint32_t kLargestStartWord = 255;

enum class Form { kWord, kBit, kFloat, kLong, kString };

bool IsSingle(uint32_t command) {
    return command == MORVANE_CMD_SINGLE_READ || command == MORVANE_CMD_SINGLE_WRITE;
}

// The address text for form, data block, word and detail, with the gate
// type a host gives such an address.
void AddressText(Form form, int data_block, int word, int detail, char (&text)[16],
                 uint32_t* gate_type) {
    switch (form) {
        case Form::kWord:
            std::snprintf(text, sizeof text, "%03d%03d", data_block, word);
            *gate_type = 0;
            break;
        case Form::kBit:
            std::snprintf(text, sizeof text, detail & 0x10 ? "%03d%03d%2d" : "%03d%03d%02d",
                          data_block, word, detail % 16);
            *gate_type = 6;
            break;
        case Form::kFloat:
        case Form::kLong:
            std::snprintf(text, sizeof text, "%03d%03d%c", data_block, word & ~1,
                          form == Form::kFloat ? 'F' : 'L');
            *gate_type = form == Form::kFloat ? 3 : 4;
            break;
        case Form::kString: {
            const int length = 2 * (1 + detail % 40);
            std::snprintf(text, sizeof text, "%03d%03dS%02d", data_block,
                          word - word % (length / 2), length);
            *gate_type = 7;
            break;
        }
    }
}

GateAddress ParsedRecord(const uint8_t* b, uint32_t command, ChannelArea* area) {
    static constexpr Form kForms[] = {Form::kWord,   Form::kBit,  Form::kFloat, Form::kLong,
                                      Form::kString, Form::kWord, Form::kBit,   Form::kFloat};
    Form form = kForms[b[0] >> 2 & 7];
    if (!IsSingle(command) && form == Form::kBit) form = Form::kWord;  // no bit blocks
    char text[16];
    ParseBlock parse{};
    AddressText(form, b[1], b[2], b[3], text, &parse.gate_type);
    parse.address = text;
    TevRequest request{
        area,
        IsSingle(command) ? MORVANE_CMD_SINGLE_ADDRESS_PARSER : MORVANE_CMD_BLOCK_ADDRESS_PARSER,
        kAnyChannel, 0, &parse};
    // Every text made here is a valid address: a refusal would leave the
    // transfer untried.
    FUZZ_CHECK(TevMain(&request) == 0);
    return parse.gate;
}

GateAddress RawRecord(const uint8_t* b) {
    static constexpr uint32_t kLetters[] = {'I', 'F', 'L', 'S', 'I', 'S', 'X', 0};
    GateAddress gate{};
    gate.parsed = 1;
    gate.class_letter = kLetters[b[0] >> 2 & 7];
    const uint8_t detail = b[3];
    gate.width = detail & 2 ? static_cast<int8_t>(detail) : (detail & 1 ? 32 : 16);
    gate.bit_number = (detail & 0xC0) == 0xC0 ? b[5] % 24 - 4 : -1;
    const uint32_t length = b[4];  // a string's length: the count's high byte
    const uint32_t item = b[2] | (detail & 0x20u) << 3;
    gate.packed_address = static_cast<int32_t>(length << 24 | uint32_t{b[1]} << 16 | item);
    return gate;
}

void PutWord(std::vector<uint8_t>& out, uint16_t word) {
    out.push_back(static_cast<uint8_t>(word >> 8));
    out.push_back(static_cast<uint8_t>(word));
}

// The data of the whole SEND as the PLC must receive it; empty for a bit
// write, whose word comes from the PLC, and for a block of strings, which
// is refused.
std::vector<uint8_t> SendData(const Transfer& t, const uint8_t* values) {
    std::vector<uint8_t> data;
    const GateAddress& gate = t.gate;
    if (gate.class_letter == MORVANE_CLASS_STRING) {
        if (t.command != MORVANE_CMD_SINGLE_WRITE) return data;
        const size_t length = StringLengthOf(gate);
        const size_t text = strnlen(reinterpret_cast<const char*>(values), length);
        data.assign(values, values + text);
        data.resize(length, 0);
        return data;
    }
    if (gate.bit_number != -1) return data;
    const bool single = t.command == MORVANE_CMD_SINGLE_WRITE;
    for (int32_t i = 0; i < t.count; ++i) {
        if (gate.width == 16) {
            uint16_t word;
            std::memcpy(&word, values + (single ? 4 * i + 2 : 2 * i), sizeof word);
            PutWord(data, word);
            continue;
        }
        uint32_t value;
        std::memcpy(&value, values + 4 * i, sizeof value);
        if (gate.class_letter == MORVANE_CLASS_FLOAT) value = IeeeToPlcFloat(value);
        PutWord(data, static_cast<uint16_t>(value >> 16));
        PutWord(data, static_cast<uint16_t>(value));
    }
    return data;
}

}  // namespace

bool IsRead(uint32_t command) {
    return command == MORVANE_CMD_SINGLE_READ || command == MORVANE_CMD_BLOCK_READ;
}

Transfer DecodeTransfer(const uint8_t* b, bool raw, ChannelArea* area) {
    static constexpr uint32_t kCommands[] = {MORVANE_CMD_SINGLE_READ, MORVANE_CMD_BLOCK_READ,
                                             MORVANE_CMD_SINGLE_WRITE, MORVANE_CMD_BLOCK_WRITE};
    Transfer t{};
    t.command = kCommands[b[0] & 3];
    t.gate = raw ? RawRecord(b) : ParsedRecord(b, t.command, area);
    const int count = b[4] << 8 | b[5];
    // Mostly one value for the single commands; blocks up to past 4096 bytes.
    t.count = IsSingle(t.command) ? (b[0] & 0x80 ? count % 70 : 1) : count % 2200;
    t.value_seed = static_cast<uint32_t>(b[0] << 24 | b[3] << 16 | count) | 1;
    return t;
}

bool ParserCouldMake(const GateAddress& gate) {
    const uint32_t c = gate.class_letter;
    const bool narrow = c == MORVANE_CLASS_WORD || c == MORVANE_CLASS_STRING;
    const bool wide = c == MORVANE_CLASS_FLOAT || c == MORVANE_CLASS_LONG;
    if (!(narrow && gate.width == 16) && !(wide && gate.width == 32)) return false;
    const bool bit_ok = gate.bit_number == -1 ||
                        (c == MORVANE_CLASS_WORD && gate.bit_number >= 0 && gate.bit_number <= 15);
    if (!bit_ok) return false;
    const uint32_t length = StringLengthOf(gate);
    if (c == MORVANE_CLASS_STRING && (length < 2 || length > 80 || length % 2 != 0)) return false;
    return uint32_t{ItemIndexOf(gate)} * WordsPerItem(gate) <= kLargestStartWord;
}

size_t HostBufferSize(uint32_t command, const GateAddress& gate, int32_t count) {
    const size_t items = count > 0 ? static_cast<size_t>(count) : 0;
    const size_t length = StringLengthOf(gate);
    const bool is_string = gate.class_letter == MORVANE_CLASS_STRING;
    switch (command) {
        case MORVANE_CMD_SINGLE_READ:
            return is_string ? length + 1 : 4;
        case MORVANE_CMD_SINGLE_WRITE:
            return is_string ? length + 1 : 4 * std::max<size_t>(items, 1);
        default:
            if (is_string) return MORVANE_STRING_SLOT_SIZE * items;
            return (gate.width == 32 ? 4 : 2) * items;
    }
}

void FillValues(std::vector<uint8_t>& bytes, uint32_t seed) {
    constexpr size_t kPattern = 256;  // thousands of values need no more variety
    uint32_t x = seed;
    const size_t own = std::min(bytes.size(), kPattern);
    for (size_t i = 0; i < own; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<uint8_t>(x);
    }
    for (size_t done = own; done < bytes.size();) {
        const size_t part = std::min(done, bytes.size() - done);
        std::memcpy(bytes.data() + done, bytes.data(), part);
        done += part;
    }
}

void ApplyTinyFloatRule(const GateAddress& gate, int32_t count, std::vector<uint8_t>& values) {
    if (gate.class_letter != MORVANE_CLASS_FLOAT || count < 1 || values.size() < 4) return;
    float value;
    std::memcpy(&value, values.data(), sizeof value);
    if (value < 1e-20f && value > -1e-19f) {
        value = 0.0f;
        std::memcpy(values.data(), &value, sizeof value);
    }
}

TransferOnLine LineRules(bool is_3964r, const Transfer& t, const uint8_t* values) {
    const bool read = IsRead(t.command);
    const bool is_bit = t.gate.class_letter == MORVANE_CLASS_WORD && t.gate.bit_number != -1;
    const uint16_t words_per_item = WordsPerItem(t.gate);
    const auto total = static_cast<uint16_t>(words_per_item * static_cast<uint32_t>(t.count));
    return {is_3964r,
            read || is_bit,
            !read,
            DataBlockOf(t.gate),
            static_cast<uint16_t>(ItemIndexOf(t.gate) * words_per_item),
            total,
            is_bit && !read ? uint16_t{1} : total,
            read ? std::vector<uint8_t>{} : SendData(t, values)};
}

}  // namespace morvane::fuzz
