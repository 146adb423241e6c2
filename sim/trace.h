// Byte trace of the line as the simulator sees it: one line per control
// character or block, with the time since the start, the direction and the
// bytes; control characters are named. A character the UART flagged as
// damaged shows in hex with a "!" behind it ("45!"), never named.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/rk512_server.h"

namespace plcsim {

enum class Direction { kReceived, kSent };

// The name of a control character of the link procedure (STX, ETX, DLE,
// NAK); null for any other byte.
const char* ControlName(uint8_t byte);

// A byte as two upper-case hex digits, as the traces show data.
std::string Hex(uint8_t byte);

class Trace {
  public:
    using Sink = std::function<void(const std::string&)>;
    // The characters of one trace line as they crossed the line, for a
    // capture: microseconds since the trace began, the direction, the bytes
    // (a block's BCC last) and which of them arrived damaged.
    using CharSink = std::function<void(uint64_t time_us, Direction direction, const Bytes& bytes,
                                        const std::vector<bool>& damaged)>;

    void set_sink(Sink sink) { sink_ = std::move(sink); }
    void set_char_sink(CharSink sink) { char_sink_ = std::move(sink); }
    bool enabled() const { return sink_ || char_sink_; }

    void Control(Direction direction, uint8_t byte, bool damaged = false);
    // A block as it stands on the line (doubled DLEs, DLE ETX); bcc >= 0 adds
    // it. damaged: per byte of framed and then the BCC; empty: none.
    void Block(Direction direction, const Bytes& framed, int bcc,
               const std::vector<bool>& damaged = {});
    void Note(const std::string& text);

    // "rx"/"tx" and the bytes, without the time: what the tests compare.
    static std::string FormatControl(Direction direction, uint8_t byte, bool damaged = false);
    static std::string FormatBlock(Direction direction, const Bytes& framed, int bcc,
                                   const std::vector<bool>& damaged = {});
    // Characters that crossed the line in a trace line, time stamp or not:
    // every byte of a control character or block (doubled DLEs and the BCC
    // included), none for a note.
    static size_t Characters(const std::string& line);

  private:
    void Emit(const std::string& text);
    void EmitChars(Direction direction, const Bytes& bytes, const std::vector<bool>& damaged);
    Sink sink_;
    CharSink char_sink_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace plcsim
