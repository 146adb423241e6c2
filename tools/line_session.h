// A channel started on a serial port, or on the PLC simulator embedded in
// this process when no port is given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "commands.h"
#include "driver_library.h"

namespace morvane::tool {

// The PLC simulator embedded in the host, on a pseudo-terminal served by a
// thread of its own, for sessions without --port. A Linux feature: elsewhere
// a session needs a port.
class EmbeddedPlc {
  public:
    virtual ~EmbeddedPlc() = default;
    virtual std::string PortName() const = 0;  // what the driver opens
    virtual void SetProcedure(bool is_3964r) = 0;
    // Stops serving the line and saves the blocks as the options asked;
    // false with *error when they could not be saved.
    virtual bool Stop(std::string* error) = 0;
};

// Null with *error.
std::unique_ptr<EmbeddedPlc> StartEmbeddedPlc(const SessionOptions& options,
                                              const LineParameters& line, std::string* error);

// A relay that shows the line: the driver opens the relay's own
// pseudo-terminal, and the relay passes every byte on to the far end (the
// real port, set to the line's settings, or the simulator's
// pseudo-terminal) and back as soon as it arrives, showing each in a line
// trace on standard error. The driver's byte loop stays as it is with and
// without a trace. Linux only: elsewhere starting one fails with the reason.
class TraceRelay {
  public:
    virtual ~TraceRelay() = default;  // stops relaying, ends the trace, closes both ends
    // Stops relaying and writes what the trace still holds; false with
    // *error when some of it could not be written.
    virtual bool End(std::string* error) = 0;
    virtual std::string DriverPortName() const = 0;    // what the driver opens instead
    virtual void SetBlockCheck(bool block_check) = 0;  // 3964R
    // A line starting with '#' where the trace goes (a capture takes it too).
    virtual void WriteComment(const std::string& line) = 0;
};

// To a real serial device (line: its settings, set as the driver would set
// them, the device held exclusively), or with line null to the slave of a
// pseudo-terminal another part serves. Null with *error (the system's reason).
// trace_file: the trace there instead of standard error, and as a capture
// when its name ends in the capture extension.
std::unique_ptr<TraceRelay> StartTraceRelay(const std::string& far_device,
                                            const LineParameters* line,
                                            const std::string& trace_file, std::string* error);

class LineSession {
  public:
    explicit LineSession(const DriverLibrary& driver) : driver_(driver) {}
    ~LineSession() { Close(); }

    // Starts the simulator if no port is given, then the channel (ColdStart,
    // and ChangeTevParams for a time-out). False with *error.
    bool Open(const SessionOptions& options, std::string* error);

    HostChannel& channel() { return *channel_; }
    const LineParameters& line() const { return line_; }  // as the channel was started
    bool PortGone() const;                                // a pulled adapter
    const std::string& device() const { return options_.device; }

    // After the port was lost (an adapter pulled): once the name given leads
    // to a device again, perhaps another node behind the same link, the
    // channel lets go of the dead handle and opens that one, its settings
    // kept. False while it is not back, and always for the embedded
    // simulator or a traced line, whose relay holds the far end itself.
    bool Reopen();

    // Closes the port, ends the trace, stops the simulator and saves its
    // blocks (once); false, with the reason on standard error, when the
    // blocks cannot be saved or the trace not written whole.
    bool Close();
    // After Open failed: the port could not be opened, or the tool failed.
    ExitCode open_failure() const { return open_failure_; }

  private:
    std::string ColdStartWithProtocol(StartBlock* start, int32_t* code);
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
