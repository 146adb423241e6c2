// A relay that shows the line: the driver opens the relay's own
// pseudo-terminal, and the relay passes every byte on to the far end (the
// real port, set to the line's settings, or the simulator's
// pseudo-terminal) and back as soon as it arrives, showing each in a
// LineTrace. The driver's byte loop stays as it is with and without a trace.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "line_trace.h"
#include "morvane/morvane.h"

namespace morvane::tool {

class TraceRelay {
  public:
    // To a real serial device: opened exclusively as the driver would, with
    // the line's settings. Null with *error (the system's reason) on failure.
    static std::unique_ptr<TraceRelay> ToDevice(const std::string& device,
                                                const LineParameters& line, LineTrace* trace,
                                                std::string* error);
    // To the slave of a pseudo-terminal whose master another part serves.
    static std::unique_ptr<TraceRelay> ToPseudoTerminal(const std::string& path, LineTrace* trace,
                                                        std::string* error);
    ~TraceRelay();  // stops relaying and closes both ends
    TraceRelay(const TraceRelay&) = delete;
    TraceRelay& operator=(const TraceRelay&) = delete;

    // The device the driver opens.
    const std::string& driver_path() const { return driver_path_; }

  private:
    TraceRelay(int far_fd, LineTrace* trace) : far_fd_(far_fd), trace_(trace) {}
    bool OpenDriverSide(std::string* error);
    void Run();
    // Bytes from one end to the other; false when the end is gone.
    bool Pass(int from_fd, int to_fd, LineSide from);

    int far_fd_;
    bool exclusive_ = false;  // the far end is a device held in exclusive mode
    int master_fd_ = -1;
    int held_slave_fd_ = -1;  // keeps the master from a hang-up while the driver reopens
    std::string driver_path_;
    LineTrace* trace_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace morvane::tool
