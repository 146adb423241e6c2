// A channel started on a serial port, or on the PLC simulator embedded in
// this process (Linux: on a pseudo-terminal, served by a thread of its own)
// when no port is given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "commands.h"
#include "embedded_plc.h"
#include "host_channel.h"
#include "session_options.h"
#include "trace_relay.h"

namespace morvane::tool {

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
    int32_t ColdStartWithProtocol(StartBlock* start);
    std::string OpenFailure(const LineParameters& line) const;

    const DriverLibrary& driver_;
    SessionOptions options_;
    std::unique_ptr<HostChannel> channel_;
    std::unique_ptr<EmbeddedPlc> plc_;
    std::unique_ptr<TraceRelay> relay_;  // ended before the simulator stops
};

}  // namespace morvane::tool
