// Watching a live line: ports read as their bytes arrive, each byte stamped
// with the time and the side it came from. In the line (--between) the
// bytes read from one port are written to the other at once, before any is
// decoded, except those a port marked damaged; when one port fails,
// forwarding stops both ways.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "monitor/events.h"

namespace morvane::monitor {

struct WatchEnd {
    int fd = -1;
    Side from = Side::kHost;  // the side whose bytes this port receives
    bool marked = false;      // read with PARMRK: damaged characters marked
    int forward_to = -1;      // -1: listen only
    std::string name;         // for messages
};

struct WatchCalls {
    // The characters of one read, all at one time, before on_char has them;
    // may be empty.
    std::function<void(uint64_t time_us, Side from, const std::vector<uint8_t>& chars,
                       const std::vector<bool>& damaged)>
        on_read;
    std::function<void(const LineChar&)> on_char;  // may be empty, as may on_tick
    std::function<void(uint64_t now_us)> on_tick;  // about every 50 ms without bytes
    std::function<bool()> keep_going;
};

// Microseconds on the monotonic clock.
uint64_t MonotonicMicros();

// Runs until keep_going says no (returns "") or a port fails (returns what
// failed). Times are microseconds since start_us on the monotonic clock.
std::string WatchLine(const std::vector<WatchEnd>& ends, uint64_t start_us,
                      const WatchCalls& calls);

}  // namespace morvane::monitor
