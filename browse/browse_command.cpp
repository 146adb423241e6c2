// Placeholder until the address dialog is built.
#include "entry/handlers.h"

namespace morvane {

int32_t BrowseAddress0(TevRequest*) {
    return MORVANE_NO_ADDRESS;
}

}  // namespace morvane
