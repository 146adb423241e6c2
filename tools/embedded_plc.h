// The PLC simulator embedded in the host, on a pseudo-terminal served by a
// thread of its own, for sessions without --port. A Linux feature: elsewhere
// a session needs a port.
#pragma once

#include <memory>
#include <string>

#include "commands.h"

namespace morvane::tool {

class EmbeddedPlc {
  public:
    virtual ~EmbeddedPlc() = default;
    // The port name the driver opens to reach the simulator.
    virtual std::string PortName() const = 0;
    // The simulated PLC speaks the procedure the channel chose.
    virtual void SetProcedure(bool is_3964r) = 0;
    // Stops serving the line and saves the blocks as the options asked;
    // false with *error when they could not be saved.
    virtual bool Stop(std::string* error) = 0;
};

// Starts the simulator the options describe (--pace: at line's rate and
// frame); null with *error.
std::unique_ptr<EmbeddedPlc> StartEmbeddedPlc(const SessionOptions& options,
                                              const LineParameters& line, std::string* error);

}  // namespace morvane::tool
