// Placeholder until the address parser is built.
#include "entry/handlers.h"

namespace morvane {

int32_t SingleAddressParser(TevRequest*) {
    return MORVANE_LINE_FAILED;
}
int32_t BlockAddressParser(TevRequest*) {
    return MORVANE_LINE_FAILED;
}

}  // namespace morvane
