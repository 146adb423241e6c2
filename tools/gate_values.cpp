#include "gate_values.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace morvane::tool {
namespace {

constexpr size_t kValueSlot = 4;    // a single command's value slot
constexpr size_t kStringSlot = 81;  // a block read's string slot

uint32_t StringLength(const GateAddress& gate) {
    return static_cast<uint32_t>(gate.packed_address) >> 24;
}

bool IsBit(const GateAddress& gate) {
    return gate.class_letter == MORVANE_CLASS_WORD && gate.bit_number != -1;
}

// Bytes one value takes in the host's buffer, and where value index starts.
size_t ValueBytes(const GateAddress& gate, bool block) {
    if (gate.class_letter == MORVANE_CLASS_STRING)
        return block ? kStringSlot : StringLength(gate) + 1;
    if (gate.class_letter == MORVANE_CLASS_WORD) return block ? 2 : kValueSlot;
    return 4;
}
size_t ValueOffset(const GateAddress& gate, bool block, size_t index) {
    return ValueBytes(gate, block) * index;
}
// A single command's 16-bit value lives in the second half of its slot.
size_t WordOffset(bool block) {
    return block ? 0 : 2;
}

bool ParseInteger(const std::string& text, long long low, long long high, long long* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    *value = std::strtoll(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && *value >= low && *value <= high;
}

}  // namespace

uint32_t GateTypeForAddress(const std::string& address) {
    const char form = address.size() > 6 ? static_cast<char>(std::toupper(address[6])) : ' ';
    const char next = address.size() > 7 ? address[7] : ' ';
    if (form == 'F') return 3;
    if (form == 'L') return 4;
    if (form == 'S') return 7;
    if (form == ' ' && next == ' ') return 0;
    return 6;  // a bit number
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
            if (text.size() > StringLength(gate)) {
                *error = "string longer than " + std::to_string(StringLength(gate));
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
            if (!ParseInteger(text, INT32_MIN, UINT32_MAX, &integer)) {
                *error = "not a 32-bit integer: " + text;
                return false;
            }
            const uint32_t value = static_cast<uint32_t>(integer);
            std::memcpy(at, &value, sizeof value);
            return true;
        }
        default: {
            const long long high = IsBit(gate) ? 1 : UINT16_MAX;
            const long long low = IsBit(gate) ? 0 : INT16_MIN;
            if (!ParseInteger(text, low, high, &integer)) {
                *error = (IsBit(gate) ? "not a bit (0 or 1): " : "not a 16-bit word: ") + text;
                return false;
            }
            const uint16_t value = static_cast<uint16_t>(integer);
            std::memcpy(at + WordOffset(block), &value, sizeof value);
            return true;
        }
    }
}

std::string FormatValue(const GateAddress& gate, bool block, size_t index,
                        const std::vector<uint8_t>& buffer) {
    const uint8_t* at = buffer.data() + ValueOffset(gate, block, index);
    char text[128];
    switch (gate.class_letter) {
        case MORVANE_CLASS_STRING: {
            const size_t length = strnlen(reinterpret_cast<const char*>(at), StringLength(gate));
            return "\"" + std::string(reinterpret_cast<const char*>(at), length) + "\"";
        }
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
            std::snprintf(text, sizeof text, "%u (0x%04X)", static_cast<unsigned>(value),
                          static_cast<unsigned>(value));
            return text;
        }
    }
}

}  // namespace morvane::tool
