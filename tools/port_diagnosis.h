// Why a serial port does not open, as far as the system can tell: the
// device is missing, in use (and by which process), not open to this user
// (and which group grants it), not a serial device, or refuses the line's
// settings. The driver only reports that the open failed; this looks again.
// Also the device set the way the driver sets its port, for the tool's own
// opens of it (the trace relay's far end, the diagnosis).
#pragma once

#include <string>

#include "morvane/morvane.h"

namespace morvane::tool {

// One sentence for device (a full path) with the system's error text; the
// device is opened and closed again, never left changed.
std::string DiagnosePort(const std::string& device, const LineParameters& line);

// Sets fd's line as the driver would and reads it back; false when the
// device refuses or does not hold it. A pseudo-terminal carries 8-bit
// characters without parity whatever is asked, as the driver allows.
bool SetDeviceLine(int fd, const LineParameters& line);

}  // namespace morvane::tool
