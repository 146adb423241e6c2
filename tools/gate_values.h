// Gate values on the command line: the host gate type an address asks for,
// text to the host's buffer layout and back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "morvane/morvane.h"

namespace morvane::tool {

// The host gate type code (0 word, 3 float, 4 long, 6 digital, 7 string)
// that fits the form of an address string.
uint32_t GateTypeForAddress(const std::string& address);

// A host buffer for count values of gate in the single (one value) or block
// layout, filled with zeros.
std::vector<uint8_t> HostBuffer(const GateAddress& gate, int32_t count, bool block);

// Stores text as value index of the buffer; false with *error for a text
// that is not a value of the gate's kind.
bool StoreValue(const GateAddress& gate, bool block, size_t index, const std::string& text,
                std::vector<uint8_t>* buffer, std::string* error);

// The value index of the buffer as text: words as decimal (signed on
// request) and hex, bits as 0 or 1, integers as decimal, floats with 7
// significant digits, strings quoted.
std::string FormatValue(const GateAddress& gate, bool block, size_t index,
                        const std::vector<uint8_t>& buffer, bool signed_words = false);

// The value index as the PLC holds it: its data words, most significant
// first (a float in the PLC's format, a string's bytes in pairs); empty for
// a bit, whose word the driver does not hand over.
std::vector<uint16_t> RawWords(const GateAddress& gate, bool block, size_t index,
                               const std::vector<uint8_t>& buffer);

// The PLC's data words one value of the gate takes: 1 for a word or bit, 2
// for a float or long, half the length for a string.
uint32_t DataWordsPerValue(const GateAddress& gate);

// The string of a string gate's value index, cut at its first NUL.
std::string StringValue(const GateAddress& gate, bool block, size_t index,
                        const std::vector<uint8_t>& buffer);

}  // namespace morvane::tool
