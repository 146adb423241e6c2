// The host's choice of what time-critical means during an exchange on Linux.
#pragma once

namespace morvane {

// The environment variable a host sets before ColdStart: fifo, nice or none.
constexpr const char* kPriorityVariable = "MORVANE_PRIORITY";

// Reads the variable into the driver-wide level. Unset keeps the default; an
// unknown value is logged for the operator and the default used. Windows
// keeps its own time-critical level and reads nothing.
void ReadPriorityChoice();

}  // namespace morvane
