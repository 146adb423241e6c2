#include "gate_values.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gates/plc_float.h"

namespace morvane::tool {
namespace {

// Bytes one value takes in the host's buffer, and where value index starts.
size_t ValueBytes(const GateAddress& gate, bool block) {
    if (gate.class_letter == MORVANE_CLASS_STRING)
        return block ? MORVANE_STRING_SLOT_SIZE : StringLengthOf(gate) + 1;
    if (gate.class_letter == MORVANE_CLASS_WORD)
        return block ? sizeof(uint16_t) : MORVANE_VALUE_SLOT_SIZE;
    return sizeof(uint32_t);
}
size_t ValueOffset(const GateAddress& gate, bool block, size_t index) {
    return ValueBytes(gate, block) * index;
}
// A single command's 16-bit value lives in the second half of its slot.
size_t WordOffset(bool block) {
    return block ? 0 : MORVANE_VALUE_SLOT_WORD_OFFSET;
}

// Decimal digits, or 0x and hex digits; a minus sign only before decimal
// digits of a signed kind. Leading zeros are decimal, never octal: a user
// typing 010 means ten.
bool ParseInteger(const std::string& text, bool is_signed, long long low, long long high,
                  long long* value) {
    size_t at = 0;
    const bool negative = is_signed && !text.empty() && text[0] == '-';
    if (negative) at = 1;
    unsigned base = 10;
    if (!negative && (text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0)) {
        base = 16;
        at = 2;
    }
    if (at >= text.size()) return false;
    unsigned long long magnitude = 0;
    for (; at < text.size(); ++at) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
        unsigned digit = 16;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        if (digit >= base) return false;
        magnitude = magnitude * base + digit;
        if (magnitude > static_cast<unsigned long long>(high) + 1) return false;
    }
    *value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return *value >= low && *value <= high;
}

// What an integer kind takes, for its refusals.
std::string Expected(bool is_bit, long long low, long long high) {
    if (is_bit) return "";
    char text[96];
    std::snprintf(text, sizeof text, " (expected decimal %lld to %lld, or 0x0 to 0x%llX)", low,
                  high, static_cast<unsigned long long>(high));
    return text;
}

}  // namespace

uint32_t GateTypeForAddress(const std::string& address) {
    const char form = address.size() > 6 ? static_cast<char>(std::toupper(address[6])) : ' ';
    const char next = address.size() > 7 ? address[7] : ' ';
    if (form == 'F') return MORVANE_GATE_FLOAT;
    if (form == 'L') return MORVANE_GATE_LONG;
    if (form == 'S') return MORVANE_GATE_STRING;
    if (form == ' ' && next == ' ') return MORVANE_GATE_WORD;
    return MORVANE_GATE_DIGITAL;  // a bit number
}

std::vector<uint8_t> HostBuffer(const GateAddress& gate, int32_t count, bool block) {
    const size_t values = count > 0 ? static_cast<size_t>(count) : 1;
    return std::vector<uint8_t>(ValueBytes(gate, block) * values, 0);
}

bool StoreValue(const GateAddress& gate, bool block, size_t index, const std::string& text,
                std::vector<uint8_t>* buffer, std::string* error) {
    uint8_t* at = buffer->data() + ValueOffset(gate, block, index);
    long long integer = 0;
    switch (gate.class_letter) {
        case MORVANE_CLASS_STRING: {
            if (text.size() > StringLengthOf(gate)) {
                *error = "string longer than " + std::to_string(StringLengthOf(gate));
                return false;
            }
            std::memcpy(at, text.c_str(), text.size() + 1);
            return true;
        }
        case MORVANE_CLASS_FLOAT: {
            errno = 0;
            char* end = nullptr;
            const float value = std::strtof(text.c_str(), &end);
            if (text.empty() || *end != '\0') {
                *error = "not a floating-point value: " + text;
                return false;
            }
            if (errno != 0) {
                *error = "floating-point value out of range: " + text;
                return false;
            }
            std::memcpy(at, &value, sizeof value);
            return true;
        }
        case MORVANE_CLASS_LONG: {
            if (!ParseInteger(text, true, INT32_MIN, UINT32_MAX, &integer)) {
                *error = "not a 32-bit integer: " + text + Expected(false, INT32_MIN, UINT32_MAX);
                return false;
            }
            const uint32_t value = static_cast<uint32_t>(integer);
            std::memcpy(at, &value, sizeof value);
            return true;
        }
        default: {
            const long long high = IsBit(gate) ? 1 : UINT16_MAX;
            const long long low = IsBit(gate) ? 0 : INT16_MIN;
            if (!ParseInteger(text, !IsBit(gate), low, high, &integer)) {
                *error = (IsBit(gate) ? "not a bit (0 or 1): " : "not a 16-bit word: ") + text +
                         Expected(IsBit(gate), low, high);
                return false;
            }
            const uint16_t value = static_cast<uint16_t>(integer);
            std::memcpy(at + WordOffset(block), &value, sizeof value);
            return true;
        }
    }
}

std::string FormatValue(const GateAddress& gate, bool block, size_t index,
                        const std::vector<uint8_t>& buffer, bool signed_words) {
    const uint8_t* at = buffer.data() + ValueOffset(gate, block, index);
    char text[128];
    switch (gate.class_letter) {
        case MORVANE_CLASS_STRING:
            return "\"" + StringValue(gate, block, index, buffer) + "\"";
        case MORVANE_CLASS_FLOAT: {
            float value;
            std::memcpy(&value, at, sizeof value);
            std::snprintf(text, sizeof text, "%.7g", static_cast<double>(value));
            return text;
        }
        case MORVANE_CLASS_LONG: {
            int32_t value;
            std::memcpy(&value, at, sizeof value);
            std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
            return text;
        }
        default: {
            uint16_t value;
            std::memcpy(&value, at + WordOffset(block), sizeof value);
            if (IsBit(gate)) return value != 0 ? "1" : "0";
            if (signed_words) {
                std::snprintf(text, sizeof text, "%d (0x%04X)",
                              static_cast<int>(static_cast<int16_t>(value)),
                              static_cast<unsigned>(value));
            } else {
                std::snprintf(text, sizeof text, "%u (0x%04X)", static_cast<unsigned>(value),
                              static_cast<unsigned>(value));
            }
            return text;
        }
    }
}

bool IsBit(const GateAddress& gate) {
    return gate.class_letter == MORVANE_CLASS_WORD && gate.bit_number != -1;
}

std::string StringValue(const GateAddress& gate, bool block, size_t index,
                        const std::vector<uint8_t>& buffer) {
    const char* at = reinterpret_cast<const char*>(buffer.data() + ValueOffset(gate, block, index));
    return std::string(at, strnlen(at, StringLengthOf(gate)));
}

std::vector<uint16_t> RawWords(const GateAddress& gate, bool block, size_t index,
                               const std::vector<uint8_t>& buffer) {
    const uint8_t* at = buffer.data() + ValueOffset(gate, block, index);
    switch (gate.class_letter) {
        case MORVANE_CLASS_STRING: {
            std::vector<uint16_t> words(StringLengthOf(gate) / 2, 0);
            const std::string text = StringValue(gate, block, index, buffer);
            for (size_t i = 0; i < text.size(); ++i)
                words[i / 2] |=
                    static_cast<uint16_t>(static_cast<uint8_t>(text[i]) << (i % 2 == 0 ? 8 : 0));
            return words;
        }
        case MORVANE_CLASS_FLOAT:
        case MORVANE_CLASS_LONG: {
            uint32_t value;
            std::memcpy(&value, at, sizeof value);
            if (gate.class_letter == MORVANE_CLASS_FLOAT) value = IeeeToPlcFloat(value);
            return {static_cast<uint16_t>(value >> 16), static_cast<uint16_t>(value)};
        }
        default: {
            if (IsBit(gate)) return {};
            uint16_t value;
            std::memcpy(&value, at + WordOffset(block), sizeof value);
            return {value};
        }
    }
}

}  // namespace morvane::tool
