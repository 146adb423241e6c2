// The invariant the soak holds after every call: after any write, whatever
// its result, each word of the range holds its old or its new value and no
// word outside the range changed; a good write leaves every new value; a
// read changes no word, a good read hands the host the PLC's values in their
// places, and a failed call leaves the host's buffer as it was.
#pragma once

#include <cstdint>
#include <string>

#include "soak/soak_transfer.h"

namespace morvane::soak {

struct Verdict {
    uint32_t foreign_words = 0;   // outside the range changed, or neither old nor new
    uint32_t wrong_values = 0;    // a good call: range words not new, buffer bytes not the PLC's
    bool buffer_touched = false;  // a failed call changed the host's buffer, or a write did
    std::string detail;           // the first differences, for the report
};

// before: the block as the model holds it; after: the block as the PLC holds
// it now; host_after: the buffer after the call.
Verdict Judge(const Transfer& transfer, int32_t result, const Words& before, const Words& after,
              const HostBytes& host_after);

}  // namespace morvane::soak
