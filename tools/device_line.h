// A serial device set to a line's settings the way the driver sets its
// port, for the tool's own opens of the device (the trace relay's far end,
// the diagnosis of a port that did not open).
#pragma once

#include "morvane/morvane.h"

namespace morvane::tool {

// Sets fd's line as the driver would and reads it back; false when the
// device refuses or does not hold it. A pseudo-terminal carries 8-bit
// characters without parity whatever is asked, as the driver allows.
bool SetDeviceLine(int fd, const LineParameters& line);

}  // namespace morvane::tool
