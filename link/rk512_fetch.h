// DoRead: the RK512 FETCH exchange of one telegram of a transfer, up to four
// attempts at raised thread priority, its reply decoded into the host's
// buffer or the channel's staging area.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

// FETCH telegram index of the running transfer; 0, 1 or 2 (host codes).
int DoRead(TevRequest* request, uint32_t telegram_index);

}  // namespace morvane
