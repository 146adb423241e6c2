// Logging goes only through the host library's err(): one line per call, no
// line end, every message beginning "ZIDIV> ".
#pragma once

#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {

constexpr int kLogTrace = MORVANE_LOG_TRACE;        // single requests, traces, errors
constexpr int kLogOperator = MORVANE_LOG_OPERATOR;  // what the operator must see

}  // namespace morvane
