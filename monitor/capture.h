// The capture format: a text file, one line per run of characters that
// arrived together from one side,
//     <microseconds since the start> <H|P> <hex byte>...
// where H is a character from the host and P one from the PLC, and a byte
// written !XX arrived flagged damaged by the UART. Lines starting with '#'
// are comments; "#start-utc-us N" gives the wall-clock time of time 0 (in
// microseconds since 1970), "#line 9600 8E1" the line's settings and
// "#heard host" (or PLC) that one side alone was listened to, and "#cut"
// that a port failed there: what was begun ended with it. Times never go
// back. Written by the monitor, plcsim and morvane alike, read by
// the monitor's --replay.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/events.h"

namespace morvane::monitor {

// The file name ending that asks the other programs for a capture.
inline constexpr char kCaptureExtension[] = ".mcap";

// True when a trace file's name asks for a capture.
inline bool NamesCapture(std::string_view file) {
    const std::string_view ending = kCaptureExtension;
    return file.size() > ending.size() && file.ends_with(ending);
}

struct CaptureHeader {
    uint64_t start_utc_us = 0;  // 0: unknown
    std::string line;           // "9600 8E1"; empty: not given
    Heard heard = Heard::kBoth;
};

// The header of a capture that starts now.
CaptureHeader HeaderStartingNow(const std::string& line);

class CaptureWriter {
  public:
    explicit CaptureWriter(FILE* out) : out_(out) {}
    void Header(const CaptureHeader& header);
    // Characters that arrived together; damaged may be null (none).
    void Write(uint64_t time_us, Side from, const uint8_t* bytes, size_t count,
               const bool* damaged = nullptr);
    // The same with a flag per character (missing ones: not damaged).
    void Write(uint64_t time_us, Side from, const std::vector<uint8_t>& bytes,
               const std::vector<bool>& damaged);
    void Write(const LineChar& c) { Write(c.time_us, c.from, &c.byte, 1, &c.damaged); }
    void Cut() { std::fputs("#cut\n", out_); }

  private:
    FILE* out_;
};

// Reads a capture line by line; each gives its characters.
class CaptureReader {
  public:
    // False with *error ("line 12: ...") for a line that is not a capture's.
    bool Line(std::string_view text, std::vector<LineChar>* chars, std::string* error);
    const CaptureHeader& header() const { return header_; }
    size_t cuts() const { return cuts_; }  // "#cut" lines read so far

  private:
    CaptureHeader header_;
    size_t cuts_ = 0;
    uint64_t last_us_ = 0;
    size_t number_ = 0;
};

// A whole capture in memory.
bool ReadCapture(std::string_view text, CaptureHeader* header, std::vector<LineChar>* chars,
                 std::string* error);

}  // namespace morvane::monitor
