// The RK512 FETCH and SEND exchanges: one telegram of a transfer per call,
// up to four attempts, at raised thread priority.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

// RK512 telegram unit: data bytes per telegram.
constexpr uint32_t kTelegramDataBytes = 128;

// FETCH telegram index of the running transfer; 0, 1 or 2 (host codes).
int DoRead(TevRequest* request, uint32_t telegram_index);

// SEND telegram index of the running transfer; 0, 1, 2, or PackData's code.
int DoWrite(TevRequest* request, uint32_t telegram_index);

}  // namespace morvane
