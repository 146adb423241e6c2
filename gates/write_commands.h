// Commands 7 and 10: write values to a data block of the PLC.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

int32_t SingleWrite(TevRequest* request);
int32_t BlockWrite(TevRequest* request);

}  // namespace morvane
