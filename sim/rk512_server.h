// The PLC's RK512 side: takes a FETCH or SEND telegram for data-block words
// and builds the reply telegram (4-byte header, error byte last, FETCH data
// behind it). Transfers above 128 data bytes continue in follow-on telegrams.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/data_blocks.h"

namespace plcsim {

using Bytes = std::vector<uint8_t>;

// Error numbers of the reply header (byte 3).
enum Rk512Error : uint8_t {
    kRkOk = 0x00,              // carried out
    kRkBadLength = 0x0C,       // SEND data do not match the telegram's word count
    kRkNoFollowOn = 0x10,      // follow-on telegram without an open transfer of its kind
    kRkNoSuchBlock = 0x14,     // data block does not exist
    kRkUnknownCommand = 0x16,  // header malformed, command not 'E'/'A' or data type not 'D'
    kRkBeyondBlockEnd = 0x34,  // start word plus word count beyond the block's end
};

// What an error number means, in words; null for a number not in the table.
const char* Rk512ErrorMeaning(uint8_t error);

constexpr uint8_t kCmdFetch = 'E';
constexpr uint8_t kCmdSend = 'A';
constexpr uint8_t kTypeDataBlock = 'D';
constexpr uint16_t kWordsPerTelegram = 64;

class Rk512Server {
  public:
    explicit Rk512Server(DataBlocks& blocks) : blocks_(blocks) {}

    Bytes Handle(const Bytes& telegram);

    // True while a transfer waits for its follow-on telegrams.
    bool transfer_open() const { return transfer_.remaining > 0; }

  private:
    struct Transfer {
        uint8_t command = 0;
        uint8_t db = 0;
        uint16_t next_word = 0;
        uint16_t remaining = 0;
    };
    Bytes HandleFirst(const Bytes& telegram);
    Bytes HandleFollowOn(const Bytes& telegram);
    // Serves the next chunk of the open transfer; data are SEND data.
    Bytes Continue(uint8_t first_byte, const uint8_t* data, size_t data_size);

    DataBlocks& blocks_;
    Transfer transfer_;
};

}  // namespace plcsim
