// A channel started on a serial port, or on the PLC simulator embedded in
// this process (Linux: on a pseudo-terminal, served by a thread of its own)
// when no port is given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "commands.h"
#include "embedded_plc.h"
#include "exit_codes.h"
#include "host_channel.h"
#include "trace_relay.h"

namespace morvane::tool {

class LineSession {
  public:
    explicit LineSession(const DriverLibrary& driver);
    ~LineSession();  // Close()
    LineSession(const LineSession&) = delete;
    LineSession& operator=(const LineSession&) = delete;

    // Starts the simulator if no port is given, then the channel (ColdStart,
    // and ChangeTevParams for a time-out). False with *error.
    bool Open(const SessionOptions& options, std::string* error);

    HostChannel& channel() { return *channel_; }
    // The line's rate and frame as the channel was started.
    const LineParameters& line() const { return line_; }
    // The port the session opened is no longer there (a pulled adapter).
    bool PortGone() const;

    // Closes the port, stops the simulator and saves its blocks (once);
    // false, with the reason on standard error, when they cannot be saved.
    bool Close();
    // After Open failed: the port could not be opened, or the tool failed.
    ExitCode open_failure() const { return open_failure_; }

  private:
    int32_t ColdStartWithProtocol(StartBlock* start);
    std::string OpenFailure(const LineParameters& line) const;

    const DriverLibrary& driver_;
    SessionOptions options_;
    LineParameters line_{};
    std::unique_ptr<HostChannel> channel_;
    std::unique_ptr<EmbeddedPlc> plc_;
    std::unique_ptr<TraceRelay> relay_;  // ended before the simulator stops
    ExitCode open_failure_ = kExitToolFailed;
};

}  // namespace morvane::tool
