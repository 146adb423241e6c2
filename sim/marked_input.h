// The marked input of a terminal opened with PARMRK: the kernel hands over
// a character the UART found damaged (parity or framing error) as FF 00 X,
// a break as FF 00 00, and a data byte FF doubled as FF FF. The decoder
// takes the stream a byte at a time, so a mark cut by the end of a read
// goes on with the next. The simulator's own decoder, apart from the
// driver's: a fault in one is not copied into the partner it is tested
// against.
#pragma once

#include <cstdint>
#include <optional>

namespace plcsim {

// A character as the receiving UART handed it over.
struct ReceivedChar {
    uint8_t byte = 0;
    bool damaged = false;  // parity or framing error, or a break (00)
};

class MarkDecoder {
  public:
    // The character this byte completes, if any.
    std::optional<ReceivedChar> Feed(uint8_t byte);
    // Forgets a mark begun: after the input was discarded.
    void Reset() { state_ = State::kPlain; }

  private:
    enum class State { kPlain, kAfterFf, kAfterFf00 };
    State state_ = State::kPlain;
};

}  // namespace plcsim
