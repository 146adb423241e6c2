// The longest a transfer command may keep the host's thread, from the
// driver's own limits: the read time-out, the attempts of an exchange, the
// passes of a sequence, and the bounds of the purge, the quiet-line loop and
// the drain. Each read is counted at its full time-out, so the bound holds
// whatever the partner sends and when.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane::fuzz {

// One exchange (one telegram, all its attempts) with this read time-out.
uint64_t ExchangeBoundMs(uint64_t read_timeout_ms);

// A transfer command on this record and count; 0 for other commands.
uint64_t CallBoundMs(uint32_t command_code, const GateAddress& gate, int32_t count,
                     uint64_t read_timeout_ms);

}  // namespace morvane::fuzz
