// The kernel's marking of damaged characters in the input stream, decoded.
// With parity marking on, a character that failed its parity or stop-bit
// check arrives as FF 00 X, a break as FF 00 00, and a real FF data byte is
// doubled to FF FF; every other byte stands for itself. A mark may be split
// across reads, so the decoder keeps what it has seen of an unfinished one.
#pragma once

#include <cstdint>

namespace morvane {

struct MarkedInput {
    uint8_t pending = 0;  // bytes of an unfinished mark seen: 0, 1 (FF) or 2 (FF 00)
};

// Decodes count bytes of raw into out, which may be raw itself: the output
// never runs ahead of the input. damaged (count bytes, may be null) gets 1
// for each output byte that arrived marked, else 0. Returns the number of
// output bytes; *any_damaged is set when one of them was marked.
uint32_t DecodeMarkedInput(MarkedInput* state, const uint8_t* raw, uint32_t count, uint8_t* out,
                           uint8_t* damaged, bool* any_damaged);

}  // namespace morvane
