// Commands 5 and 6: read values from a data block of the PLC.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

int32_t SingleRead(TevRequest* request);
int32_t BlockRead(TevRequest* request);

}  // namespace morvane
