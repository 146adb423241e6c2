// The line trace a controls engineer reads: every byte that crosses the
// line, one line per control character or telegram block, with the time
// since the trace began, the direction, control characters by name and the
// block's data in hex, e.g.
//     12.480 ms  host > PLC  STX
//     14.002 ms  PLC > host  DLE
//     14.107 ms  host > PLC  00 00 45 44 01 02 00 01 FF FF DLE ETX BCC 10
// A block is what a sender sends after its STX was answered with DLE; it
// ends with DLE ETX, and in 3964R with the block check character after them.
// A character the UART reported damaged shows as its hex and "!damaged", a
// block check character that does not fit its block as "BCC 45!failed".
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "monitor/events.h"

namespace morvane::tool {

using LineSide = monitor::Side;

class LineTrace {
  public:
    using Clock = std::chrono::steady_clock;
    using Sink = std::function<void(const std::string&)>;

    LineTrace(Sink sink, Clock::time_point start) : sink_(std::move(sink)), start_(start) {}

    // 3964R blocks carry a block check character after DLE ETX.
    void set_block_check(bool block_check) { block_check_ = block_check; }

    // Bytes from one side, as they arrived at time at.
    void Bytes(LineSide from, const uint8_t* bytes, size_t count, Clock::time_point at);
    // A character that arrived damaged: shown where it came, not framed.
    void Damaged(LineSide from, uint8_t byte, Clock::time_point at);
    // Ends any unfinished line (a block cut short is marked so).
    void Flush();

  private:
    struct SideState {
        std::string text;  // the line being built; empty: none
        Clock::time_point first;
        bool in_block = false;
        bool after_dle = false;  // in a block: a DLE not yet paired
        bool awaiting_bcc = false;
        uint8_t bcc = 0;             // the block's check so far: its bytes XORed
        bool asked_to_send = false;  // sent STX, not yet answered
    };

    void Byte(LineSide from, uint8_t byte, Clock::time_point at);
    void Append(LineSide from, const std::string& token, Clock::time_point at);
    void Write(LineSide from, const char* note);
    void End(LineSide from, const char* note = "");

    Sink sink_;
    Clock::time_point start_;
    // Set by the session once the channel has started; the bytes are the
    // relay thread's alone.
    std::atomic<bool> block_check_ = false;
    SideState sides_[2];
};

}  // namespace morvane::tool
