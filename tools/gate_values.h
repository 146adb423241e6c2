// Gate values on the command line: the host gate type an address asks for,
// text to the host's buffer layout and back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gates/gate_address.h"  // a parsed address's fields and words per value
#include "morvane/morvane.h"

namespace morvane::tool {

// The host gate type code (MORVANE_GATE_WORD, _FLOAT, _LONG, _DIGITAL or
// _STRING) that fits the form of an address string.
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

// A bit of a data word: a word gate with a bit number.
bool IsBit(const GateAddress& gate);

// The string of a string gate's value index, cut at its first NUL.
std::string StringValue(const GateAddress& gate, bool block, size_t index,
                        const std::vector<uint8_t>& buffer);

}  // namespace morvane::tool
