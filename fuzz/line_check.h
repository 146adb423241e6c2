// What the driver may write on the line during one transfer command: single
// control characters, and RK512 request telegrams in the frame of the
// channel's procedure (doubled DLE, closing DLE ETX, block check in 3964R)
// that name the transfer's data block, start word and word count.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane::fuzz {

struct TransferOnLine {
    bool is_3964r;
    bool fetch_allowed;  // reads, and the read of a bit write
    bool send_allowed;
    uint8_t data_block;
    uint16_t start_word;
    uint16_t total_words;
    uint16_t fetch_words;  // total of a FETCH: the bit write reads its word alone
};

// Why the block the driver wrote is not one it may write; nullptr when it is.
const char* CheckWrittenBlock(const uint8_t* bytes, size_t length, const TransferOnLine& transfer);

}  // namespace morvane::fuzz
