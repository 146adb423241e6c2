// Why a serial port does not open, as far as the system can tell: the
// device is missing, in use (and by which process), not open to this user
// (and which group grants it), not a serial device, or refuses the line's
// settings. The driver only reports that the open failed; this looks again.
#pragma once

#include <string>

#include "morvane/morvane.h"

namespace morvane::tool {

// One sentence for device (a full path) with the system's error text; the
// device is opened and closed again, never left changed.
std::string DiagnosePort(const std::string& device, const LineParameters& line);

}  // namespace morvane::tool
