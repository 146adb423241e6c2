// The one primitive each serial backend supplies to the shared operations.
#pragma once

#include <cstdint>

#include "serial/serial_port.h"

namespace morvane {

// One read within the port's read time-out (the Windows ReadFile): waits
// until count bytes arrived or the time-out ran out since the call began.
// *got is the number read; false when the device failed.
bool PlatformRead(PortHandle handle, uint8_t* buffer, uint32_t count, uint32_t* got);

}  // namespace morvane
