// Wall-clock time stamps of the tool's output: local time for people, UTC
// in ISO 8601 for machines.
//
// A progress line on standard error for transfers that take more than about
// a second, only when standard error is a terminal (on Linux). The driver's
// block read is one blocking call, so a thread of its own compares the time
// spent with the time the transfer's characters take on the line.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "morvane/morvane.h"

namespace morvane::tool {

using WallTime = std::chrono::system_clock::time_point;

// "13:25:01.123", or "2026-12-08 13:25:01.123" with the date (local time).
std::string LocalClock(WallTime time, bool with_date);

// "2026-12-08T13:25:01.123Z".
std::string IsoUtc(WallTime time);

// What a transfer of words data words, read or written, takes on line.
std::chrono::milliseconds ExpectedLineTime(uint32_t words, const LineParameters& line);

// Writes line and a line end on standard error, wiping a progress line first.
void WriteErrorLine(const std::string& line);

class TransferProgress {
  public:
    TransferProgress(std::string what, std::chrono::milliseconds expected);
    ~TransferProgress();  // stops and wipes the line

    static constexpr std::chrono::milliseconds kShowAfter{1000};

  private:
    struct Watch;  // the platform's watching thread
    std::unique_ptr<Watch> watch_;
};

}  // namespace morvane::tool
