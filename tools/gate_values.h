// Gate values on the command line: the host gate type an address asks for,
// text to the host's buffer layout, and the buffer back to values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver_library.h"
#include "gates/gate_address.h"  // a parsed address's fields and words per value
#include "morvane/morvane.h"

namespace morvane::tool {

// The host gate type code (MORVANE_GATE_WORD, _FLOAT, _LONG, _DIGITAL or
// _STRING) that fits the form of an address string.
uint32_t GateTypeForAddress(const std::string& address);

// What the driver's parse never reads of address: a form other than a
// string's is taken on its first 8 characters (a bit number after a blank
// whole), whatever follows them.
std::string IgnoredTail(const std::string& address);

// The driver's parse of address for a single or block transfer; false when
// it refuses it (its reason in its log).
bool ParseAddress(HostChannel& channel, const std::string& address, bool block, GateAddress* gate);

bool IsBit(const GateAddress& gate);

const char* KindName(const GateAddress& gate);

// The most values of gate's kind one transfer takes: what a block read
// stages (4096 bytes), or a block write sends.
int32_t MaxCount(const GateAddress& gate, bool write);

// Zeros for count values of gate in the single (one value) or block layout.
std::vector<uint8_t> HostBuffer(const GateAddress& gate, int32_t count, bool block);

// Stores text as value index of the buffer; false with *error for a text
// that is not a value of the gate's kind, or one the PLC cannot hold.
bool StoreValue(const GateAddress& gate, bool block, size_t index, const std::string& text,
                std::vector<uint8_t>* buffer, std::string* error);

// One value as the driver handed it over.
struct Value {
    enum class Kind { kWord, kBit, kLong, kFloat, kString } kind = Kind::kWord;
    uint32_t bits = 0;  // a word, a bit, a long's or a float's bits
    std::string text;   // a string's characters, up to its first NUL
    // The PLC's words as they came off the line, most significant first;
    // empty where the host's value does not keep them (a float is converted,
    // a string ends at its first NUL, a bit is taken out of its word).
    std::vector<uint16_t> raw;
};

Value ValueAt(const GateAddress& gate, bool block, size_t index,
              const std::vector<uint8_t>& buffer);

// For people: words as decimal (signed on request) and hex, bits as 0 or 1,
// longs as decimal, floats with 7 significant digits, strings quoted with
// control characters and backslashes escaped.
std::string ValueText(const Value& value, bool signed_words);

// "4660", "-2.5", or a string's characters unquoted. exact: a float as the
// shortest text that reads back as the same float (16777216, where seven
// digits give 16777220), for machines.
std::string ValueNumber(const Value& value, bool signed_words, bool exact = false);

// Bytes of the PLC's strings, taken as Latin-1, in UTF-8.
std::string Latin1ToUtf8(const std::string& text);
// UTF-8 text made Latin-1 bytes, as the PLC's strings hold them; npos, or
// the index of the first character that is not UTF-8 or beyond U+00FF.
size_t Utf8ToLatin1(const std::string& text, std::string* latin1);
void AppendUtf8(uint32_t code_point, std::string* out);

// Quotes and backslashes behind a backslash; bytes below 0x20, and from 0x7F
// to last, in format ("\\x%02X").
std::string Escaped(const std::string& text, const char* format, unsigned last);

}  // namespace morvane::tool
