// The transfers the line fuzzer asks for: what six input bytes make of a
// command, its gate record, count and values, and what the line and the
// host's buffer must show afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/line_check.h"
#include "morvane/morvane.h"

namespace morvane::fuzz {

constexpr size_t kTransferBytes = 6;

struct Transfer {
    uint32_t command;
    GateAddress gate;
    int32_t count;
    uint32_t value_seed;
};

// Bytes: command and form, data block, word or item, detail (bit number,
// string length, width), two count bytes. The record is the one the parse
// command makes of the address text an operator would type for them, or,
// raw, the record straight from the bytes as a careless host could hand
// one over (any class letter, width, bit number, string length, item).
Transfer DecodeTransfer(const uint8_t* bytes, bool raw, ChannelArea* area);

// A record the parse commands can produce: 'I' and 'S' 16 bits wide, 'F'
// and 'L' 32; a bit number (0 to 15) only on 'I'; a string length even and
// 2 to 80; a start word the telegram header's byte holds.
bool ParserCouldMake(const GateAddress& gate);

bool IsRead(uint32_t command);

// Bytes of the host's buffer the command's layout gives for the record.
size_t HostBufferSize(uint32_t command, const GateAddress& gate, int32_t count);

// Values from the seed: a 256-byte xorshift pattern, repeated.
void FillValues(std::vector<uint8_t>& bytes, uint32_t seed);

// The one change a write may make to the host's values: a first float too
// close to zero for the PLC is sent, and kept, as 0.0 once the write runs.
void ApplyTinyFloatRule(const GateAddress& gate, int32_t count, std::vector<uint8_t>& values);

// What the transfer may put on the line; values are the host's after the call.
TransferOnLine LineRules(bool is_3964r, const Transfer& t, const uint8_t* values);

}  // namespace morvane::fuzz
