// The options of a session on one channel, as read, write, poll and browse
// take them before their first address.
#pragma once

#include <cstdint>
#include <string>

#include "commands.h"
#include "frame_option.h"
#include "output_format.h"

namespace morvane::tool {

struct SessionOptions {
    std::string port;        // the driver's port name; empty: the embedded simulator
    std::string device;      // the device's path, links resolved (empty: the simulator)
    LineChoice line;         // baud rate, frame, protocol
    int32_t timeout = 0;     // internal time-out in hundredths; 0: ColdStart's
    std::string sim_blocks;  // simulator data blocks: loaded if present, saved at the end
    bool sim_trace = false;  // the simulator's line trace on standard error
    bool pace = false;       // the simulator paces the line at the chosen rate and frame
    bool trace = false;      // every byte on the line, on standard error
    DisplayOptions display;  // how read and poll print
};

// Takes the session options (--port NAME, the line options, --timeout H,
// --sim-blocks FILE, --sim-trace, --pace, --trace, and the display options
// --hex, --signed, --json, --csv) from the front of arguments; false with
// *error for a bad one, or a simulator's option with --port.
bool TakeSessionOptions(Arguments* arguments, SessionOptions* options, std::string* error);

// The port name the driver takes for a device: devices under /dev/ go
// without the prefix, which the driver puts back, since a port name holds
// at most 11 characters.
std::string PortNameOf(const std::string& device);

// A port as the user names it (a path, a link such as /dev/serial/by-id/...,
// or a name under /dev/) resolved to its device and the driver's port name;
// false with *error when the name of a device that is there is still too
// long for the driver (a missing one fails when the port opens).
bool ResolvePort(const std::string& given, std::string* device, std::string* port,
                 std::string* error);

// A whole decimal number within low..high; false for anything else.
bool TakeNumber(const std::string& text, long low, long high, long* value);

extern const char kSessionOptionsUsage[];

}  // namespace morvane::tool
