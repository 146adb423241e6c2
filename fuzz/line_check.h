// What the driver may write on the line during one transfer command: single
// control characters, and RK512 request telegrams in the frame of the
// channel's procedure (doubled DLE, closing DLE ETX, block check in 3964R)
// that name the transfer's data block, start word and word count. A
// follow-on telegram goes on the line once: the k-th one since the last
// first telegram is telegram k, and a SEND carries the host's values of
// that telegram's place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane::fuzz {

struct TransferOnLine {
    bool is_3964r;
    bool fetch_allowed;  // reads, and the read of a bit write
    bool send_allowed;
    uint8_t data_block;
    uint16_t start_word;
    uint16_t total_words;
    uint16_t fetch_words;  // total of a FETCH: the bit write reads its word alone
    // The data of the whole SEND as the PLC must receive it; empty when it
    // depends on the PLC (a bit write).
    std::vector<uint8_t> send_data;
};

class WrittenLineCheck {
  public:
    explicit WrittenLineCheck(const TransferOnLine& transfer) : transfer_(transfer) {}

    // Why the next block the driver wrote is not one it may write; nullptr
    // when it is.
    const char* Next(const uint8_t* bytes, size_t length);

  private:
    const char* CheckTelegram(const std::vector<uint8_t>& telegram);
    const char* CheckSendData(const uint8_t* data, size_t length, size_t index) const;

    const TransferOnLine& transfer_;
    size_t telegram_index_ = 0;  // of the last telegram, in its pass
};

}  // namespace morvane::fuzz
