// DoWrite: the RK512 SEND exchange of one telegram of a transfer, up to four
// attempts at raised thread priority. A single bit is written as its whole
// word, read from the PLC first.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

// SEND telegram index of the running transfer; 0, 1, 2, or the code of the
// data packing (1) or of the bit write's FETCH.
int DoWrite(TevRequest* request, uint32_t telegram_index);

}  // namespace morvane
