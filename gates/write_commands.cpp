// Placeholder until the write commands are built.
#include "entry/handlers.h"

namespace morvane {

int32_t SingleWrite(TevRequest*) {
    return MORVANE_LINE_FAILED;
}
int32_t BlockWrite(TevRequest*) {
    return MORVANE_LINE_FAILED;
}

}  // namespace morvane
