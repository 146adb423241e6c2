// A channel started on a serial port, or on the PLC simulator embedded in
// this process (on a pseudo-terminal, served by a thread of its own) when no
// port is given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "commands.h"
#include "host_channel.h"

namespace plcsim {
class Simulator;
}

namespace morvane::tool {

struct SessionOptions {
    std::string port;        // empty: the embedded simulator
    std::string protocol;    // "3964" or "3964R"; empty: the configuration file in the cwd
    uint16_t baud = 0;       // 0: the driver's default line
    int32_t timeout = 0;     // internal time-out in hundredths; 0: ColdStart's
    std::string sim_blocks;  // simulator data blocks: loaded if present, saved at the end
    bool sim_trace = false;  // the simulator's line trace on standard error
    bool pace = false;       // the simulator paces the line as 9600 baud 8E1 would
};

// Takes the session options (--port NAME, --protocol 3964|3964R, --baud N,
// --timeout H, --sim-blocks FILE, --sim-trace, --pace) from the front of
// arguments; false with *error for a bad one.
bool TakeSessionOptions(Arguments* arguments, SessionOptions* options, std::string* error);

extern const char kSessionOptionsUsage[];

class LineSession {
  public:
    explicit LineSession(const DriverLibrary& driver);
    ~LineSession();  // closes the port, stops the simulator, saves its blocks
    LineSession(const LineSession&) = delete;
    LineSession& operator=(const LineSession&) = delete;

    // Starts the simulator if no port is given, then the channel (ColdStart,
    // and ChangeTevParams for a time-out). False with *error.
    bool Open(const SessionOptions& options, std::string* error);

    HostChannel& channel() { return *channel_; }

  private:
    bool StartSimulator(std::string* error);
    int32_t ColdStartWithProtocol(StartBlock* start);

    const DriverLibrary& driver_;
    SessionOptions options_;
    std::unique_ptr<HostChannel> channel_;
    std::unique_ptr<plcsim::Simulator> sim_;
};

}  // namespace morvane::tool
