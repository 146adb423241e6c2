// Placeholder until the read commands are built.
#include "entry/handlers.h"

namespace morvane {

int32_t SingleRead(TevRequest*) {
    return MORVANE_LINE_FAILED;
}
int32_t BlockRead(TevRequest*) {
    return MORVANE_LINE_FAILED;
}

}  // namespace morvane
