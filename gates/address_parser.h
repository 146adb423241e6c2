// Gate address strings: the syntax check shared by both parse commands.
#pragma once

#include "morvane/morvane.h"

namespace morvane {

// Checks the address string of the block and fills its GateAddress: 0 or 1.
int Parse(ParseBlock* block);

}  // namespace morvane
