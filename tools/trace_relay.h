// A relay that shows the line: the driver opens the relay's own
// pseudo-terminal, and the relay passes every byte on to the far end (the
// real port, set to the line's settings, or the simulator's
// pseudo-terminal) and back as soon as it arrives, showing each in a line
// trace on standard error. The driver's byte loop stays as it is with and
// without a trace. Linux only: elsewhere starting one fails with the reason.
#pragma once

#include <memory>
#include <string>

#include "morvane/morvane.h"

namespace morvane::tool {

class TraceRelay {
  public:
    virtual ~TraceRelay() = default;  // stops relaying, ends the trace, closes both ends
    // The port name the driver opens instead of the far end.
    virtual std::string DriverPortName() const = 0;
    // 3964R blocks end with a block check character.
    virtual void SetBlockCheck(bool block_check) = 0;
};

// To a real serial device (line: its settings, set as the driver would set
// them, the device held exclusively), or with line null to the slave of a
// pseudo-terminal another part serves. Null with *error (the system's reason).
std::unique_ptr<TraceRelay> StartTraceRelay(const std::string& far_device,
                                            const LineParameters* line, std::string* error);

}  // namespace morvane::tool
