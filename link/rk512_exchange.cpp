// Placeholder until the RK512 exchanges are built.
#include "link/rk512_exchange.h"

namespace morvane {

int DoRead(TevRequest*, uint32_t) {
    return MORVANE_LINE_FAILED;
}
int DoWrite(TevRequest*, uint32_t) {
    return MORVANE_LINE_FAILED;
}

}  // namespace morvane
