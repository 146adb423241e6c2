// The options of a session on one channel, as read, write, poll and browse
// take them before their first address.
#pragma once

#include <cstdint>
#include <string>

#include "commands.h"
#include "output_format.h"

namespace morvane::tool {

struct SessionOptions {
    std::string port;        // empty: the embedded simulator
    std::string protocol;    // "3964" or "3964R"; empty: the configuration file in the cwd
    uint16_t baud = 0;       // 0: the driver's default line
    int32_t timeout = 0;     // internal time-out in hundredths; 0: ColdStart's
    std::string sim_blocks;  // simulator data blocks: loaded if present, saved at the end
    bool sim_trace = false;  // the simulator's line trace on standard error
    bool pace = false;       // the simulator paces the line as 9600 baud 8E1 would
    DisplayOptions display;  // how read and poll print
};

// Takes the session options (--port NAME, --protocol 3964|3964R, --baud N,
// --timeout H, --sim-blocks FILE, --sim-trace, --pace, and the display
// options --hex, --signed, --json, --csv) from the front of
// arguments; false with *error for a bad one.
bool TakeSessionOptions(Arguments* arguments, SessionOptions* options, std::string* error);

// The port name the driver takes for a device: devices under /dev/ go
// without the prefix, which the driver puts back, since a port name holds
// at most 11 characters.
std::string PortNameOf(const std::string& device);

// A whole decimal number within low..high; false for anything else.
bool TakeNumber(const std::string& text, long low, long high, long* value);

extern const char kSessionOptionsUsage[];

}  // namespace morvane::tool
