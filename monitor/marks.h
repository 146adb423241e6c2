// The input of a port read with PARMRK|INPCK: the kernel hands a character
// the UART found damaged (parity or framing error, or a break) over as
// FF 00 X, and a data byte FF as FF FF. A mark cut by the end of a read
// goes on with the next read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane::monitor {

class MarkReader {
  public:
    // Appends the characters the bytes complete, and whether each came damaged.
    void Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>* chars,
              std::vector<bool>* damaged);

  private:
    int state_ = 0;  // 0 plain, 1 after FF, 2 after FF 00
};

}  // namespace morvane::monitor
