// Wall-clock time stamps of the tool's output: local time for people, UTC
// in ISO 8601 for machines.
#pragma once

#include <chrono>
#include <string>

namespace morvane::tool {

using WallTime = std::chrono::system_clock::time_point;

// "13:25:01.123", or "2026-12-08 13:25:01.123" with the date (local time).
std::string LocalClock(WallTime time, bool with_date);

// "2026-12-08T13:25:01.123Z".
std::string IsoUtc(WallTime time);

}  // namespace morvane::tool
