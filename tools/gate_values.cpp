#include "gate_values.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace morvane::tool {
namespace {

// Bytes one value takes in the host's buffer.
size_t ValueBytes(const GateAddress& gate, bool block) {
    if (gate.class_letter == MORVANE_CLASS_STRING)
        return block ? MORVANE_STRING_SLOT_SIZE : StringLengthOf(gate) + 1;
    if (gate.class_letter == MORVANE_CLASS_WORD)
        return block ? sizeof(uint16_t) : MORVANE_VALUE_SLOT_SIZE;
    return sizeof(uint32_t);
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
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    if (first != last && *first == '-' && (hex || !is_signed)) return false;
    const auto [end, error] = std::from_chars(first, last, *value, hex ? 16 : 10);
    return error == std::errc() && end == last && *value >= low && *value <= high;
}

// What an integer kind takes, for its refusals.
std::string Expected(long long low, long long high) {
    char text[96];
    std::snprintf(text, sizeof text, " (expected decimal %lld to %lld, or 0x0 to 0x%llX)", low,
                  high, static_cast<unsigned long long>(high));
    return text;
}

// Why the character at index of text cannot be stored: one of UTF-8 that
// Latin-1 lacks, shown as typed, or a byte that is not UTF-8 at all.
std::string UnstorableCharacter(const std::string& text, size_t index) {
    const auto lead = static_cast<unsigned char>(text[index]);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
    size_t end = index + 1;
    while (end < text.size() && end < index + length && (text[end] & 0xC0) == 0x80)
        ++end;
    if (length > 1 && end == index + length)
        return "string with " + text.substr(index, length) +
               ": the PLC's strings hold Latin-1 characters only";
    char byte[8];
    std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(lead));
    return std::string("string not in UTF-8: byte ") + byte + " at position " +
           std::to_string(index + 1);
}

}  // namespace

bool IsBit(const GateAddress& gate) {
    return gate.class_letter == MORVANE_CLASS_WORD && gate.bit_number != -1;
}

const char* KindName(const GateAddress& gate) {
    return gate.class_letter == MORVANE_CLASS_FLOAT    ? "float"
           : gate.class_letter == MORVANE_CLASS_LONG   ? "long"
           : gate.class_letter == MORVANE_CLASS_STRING ? "string"
           : IsBit(gate)                               ? "bit"
                                                       : "word";
}

int32_t MaxCount(const GateAddress& gate, bool write) {
    const uint32_t line_bytes = gate.class_letter == MORVANE_CLASS_STRING ? StringLengthOf(gate)
                                : gate.class_letter == MORVANE_CLASS_WORD ? 2
                                                                          : 4;
    const uint32_t limit = write ? MORVANE_MAX_TRANSFER_BYTES : MORVANE_REPLY_DATA_SIZE;
    return static_cast<int32_t>(limit / (line_bytes == 0 ? 1 : line_bytes));
}

uint32_t GateTypeForAddress(const std::string& address) {
    const char form = address.size() > 6 ? static_cast<char>(std::toupper(address[6])) : ' ';
    const char next = address.size() > 7 ? address[7] : ' ';
    if (form == 'F') return MORVANE_GATE_FLOAT;
    if (form == 'L') return MORVANE_GATE_LONG;
    if (form == 'S') return MORVANE_GATE_STRING;
    if (form == ' ' && next == ' ') return MORVANE_GATE_WORD;
    return MORVANE_GATE_DIGITAL;  // a bit number
}

std::string IgnoredTail(const std::string& address) {
    if (address.size() > 6 && std::toupper(static_cast<unsigned char>(address[6])) == 'S')
        return "";
    // A bit number after a blank is read whole, past the 8th character too
    // ("001002 15"): the blanks, then at most two digits, of the first ten.
    size_t read = 8;
    if (address.size() > 6 && address[6] == ' ') {
        size_t at = 6;
        while (at < address.size() && at < 10 && address[at] == ' ')
            ++at;
        for (size_t end = at + 2; at < end && at < address.size() && at < 10 &&
                                  std::isdigit(static_cast<unsigned char>(address[at]));)
            ++at;
        read = std::max(read, at);
    }
    return address.size() <= read ? "" : address.substr(read);
}

bool ParseAddress(HostChannel& channel, const std::string& address, bool block, GateAddress* gate) {
    ParseBlock parse{};
    parse.address = address.c_str();
    parse.gate_type = GateTypeForAddress(address);
    const bool parsed =
        channel.Call(block ? MORVANE_CMD_BLOCK_ADDRESS_PARSER : MORVANE_CMD_SINGLE_ADDRESS_PARSER,
                     &parse) == MORVANE_OK;
    *gate = parse.gate;
    return parsed;
}

std::vector<uint8_t> HostBuffer(const GateAddress& gate, int32_t count, bool block) {
    const size_t values = count > 0 ? static_cast<size_t>(count) : 1;
    return std::vector<uint8_t>(ValueBytes(gate, block) * values, 0);
}

bool StoreValue(const GateAddress& gate, bool block, size_t index, const std::string& text,
                std::vector<uint8_t>* buffer, std::string* error) {
    uint8_t* at = buffer->data() + ValueBytes(gate, block) * index;
    auto refuse = [error](const std::string& why) {
        *error = why;
        return false;
    };
    long long integer = 0;
    if (gate.class_letter == MORVANE_CLASS_STRING) {
        // Read back, the PLC's bytes show as Latin-1: what is typed is taken
        // the same way, so that "é" is stored as the one byte E9.
        std::string latin1;
        const size_t bad = Utf8ToLatin1(text, &latin1);
        if (bad != std::string::npos) return refuse(UnstorableCharacter(text, bad));
        if (latin1.size() > StringLengthOf(gate))
            return refuse("string longer than " + std::to_string(StringLengthOf(gate)));
        std::memcpy(at, latin1.c_str(), latin1.size() + 1);
    } else if (gate.class_letter == MORVANE_CLASS_FLOAT) {
        errno = 0;
        char* end = nullptr;
        const float value = std::strtof(text.c_str(), &end);
        if (text.empty() || *end != '\0') return refuse("not a floating-point value: " + text);
        if (std::isnan(value))
            return refuse("not a number: " + text + " (the PLC's float has no NaN)");
        // From 2^127 on, infinities too, the driver would saturate in silence.
        if (errno != 0 || std::fabs(value) >= 0x1p127f)
            return refuse("floating-point value out of range: " + text +
                          " (the PLC holds 0 and magnitudes from 1.2e-38 to 1.7e38)");
        std::memcpy(at, &value, sizeof value);
    } else if (gate.class_letter == MORVANE_CLASS_LONG) {
        if (!ParseInteger(text, true, INT32_MIN, UINT32_MAX, &integer))
            return refuse("not a 32-bit integer: " + text + Expected(INT32_MIN, UINT32_MAX));
        const uint32_t value = static_cast<uint32_t>(integer);
        std::memcpy(at, &value, sizeof value);
    } else {
        const bool bit = IsBit(gate);
        if (!ParseInteger(text, !bit, bit ? 0 : INT16_MIN, bit ? 1 : UINT16_MAX, &integer))
            return refuse(bit ? "not a bit (0 or 1): " + text
                              : "not a 16-bit word: " + text + Expected(INT16_MIN, UINT16_MAX));
        const uint16_t value = static_cast<uint16_t>(integer);
        std::memcpy(at + WordOffset(block), &value, sizeof value);
    }
    return true;
}

Value ValueAt(const GateAddress& gate, bool block, size_t index,
              const std::vector<uint8_t>& buffer) {
    const uint8_t* at = buffer.data() + ValueBytes(gate, block) * index;
    Value value;
    if (gate.class_letter == MORVANE_CLASS_STRING) {
        const char* text = reinterpret_cast<const char*>(at);
        value.kind = Value::Kind::kString;
        value.text.assign(text, strnlen(text, StringLengthOf(gate)));
    } else if (gate.class_letter == MORVANE_CLASS_FLOAT ||
               gate.class_letter == MORVANE_CLASS_LONG) {
        std::memcpy(&value.bits, at, sizeof value.bits);
        value.kind =
            gate.class_letter == MORVANE_CLASS_FLOAT ? Value::Kind::kFloat : Value::Kind::kLong;
        if (value.kind == Value::Kind::kLong)
            value.raw = {static_cast<uint16_t>(value.bits >> 16),
                         static_cast<uint16_t>(value.bits)};
    } else {
        uint16_t word = 0;
        std::memcpy(&word, at + WordOffset(block), sizeof word);
        value.kind = IsBit(gate) ? Value::Kind::kBit : Value::Kind::kWord;
        value.bits = IsBit(gate) ? (word != 0 ? 1 : 0) : word;
        if (!IsBit(gate)) value.raw = {word};
    }
    return value;
}

std::string ValueNumber(const Value& value, bool signed_words, bool exact) {
    if (value.kind == Value::Kind::kString) return value.text;
    if (value.kind == Value::Kind::kLong) return std::to_string(static_cast<int32_t>(value.bits));
    if (value.kind == Value::Kind::kWord && signed_words)
        return std::to_string(static_cast<int16_t>(value.bits));
    if (value.kind != Value::Kind::kFloat) return std::to_string(value.bits);
    char text[64];
    const float number = std::bit_cast<float>(value.bits);
    if (exact) return {text, std::to_chars(text, text + sizeof text, number).ptr};
    std::snprintf(text, sizeof text, "%.7g", static_cast<double>(number));
    return text;
}

void AppendUtf8(uint32_t code_point, std::string* out) {
    if (code_point < 0x80) {
        out->push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
        out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
}

std::string Latin1ToUtf8(const std::string& text) {
    std::string out;
    for (const char c : text)
        AppendUtf8(static_cast<unsigned char>(c), &out);
    return out;
}

size_t Utf8ToLatin1(const std::string& text, std::string* latin1) {
    latin1->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            latin1->push_back(static_cast<char>(lead));
            continue;
        }
        // Two bytes, 110000xx 10xxxxxx, hold U+0080 to U+00FF; anything
        // else is beyond Latin-1 or no UTF-8 at all.
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
        if ((lead != 0xC2 && lead != 0xC3) || (next & 0xC0) != 0x80) return i;
        latin1->push_back(static_cast<char>(((lead & 0x03) << 6) | (next & 0x3F)));
        ++i;
    }
    return std::string::npos;
}

std::string Escaped(const std::string& text, const char* format, unsigned last) {
    std::string escaped;
    char hex[8];
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            escaped += {'\\', c};
        } else if (byte < 0x20 || (byte >= 0x7F && byte <= last)) {
            std::snprintf(hex, sizeof hex, format, static_cast<unsigned>(byte));
            escaped += hex;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string ValueText(const Value& value, bool signed_words) {
    if (value.kind == Value::Kind::kWord) {
        char hex[16];
        std::snprintf(hex, sizeof hex, " (0x%04X)", static_cast<unsigned>(value.bits));
        return ValueNumber(value, signed_words) + hex;
    }
    if (value.kind != Value::Kind::kString) return ValueNumber(value, signed_words);
    // One value stays on one line, whatever bytes the PLC holds; the C1
    // controls (0x80 to 0x9F) would steer a terminal as well.
    return "\"" + Latin1ToUtf8(Escaped(value.text, "\\x%02X", 0x9F)) + "\"";
}

}  // namespace morvane::tool
