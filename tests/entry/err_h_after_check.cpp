// A C++ host file that includes the public headers before the C library's
// <err.h>: the order must not matter.
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

#include <err.h>

[[noreturn]] void HostGivesUp(const char* port) {
    err(1, "cannot open %s", port);
}

uint8_t HostMakesAClient() {
    uint8_t client = 0;
    return OstMkClient("HOST", 1, 0, &client) == 0 ? client : 0;
}
