// Commands 3 and 4: check a gate address string and fill the host's GateAddress.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

// A single gate: the address must also fit the host's gate type code.
int32_t SingleAddressParser(TevRequest* request);
// A block: any address but a bit.
int32_t BlockAddressParser(TevRequest* request);

}  // namespace morvane
