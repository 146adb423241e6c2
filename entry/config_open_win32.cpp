// Opening the channel's file on Windows: as text, as the host's tools write it.
#include "entry/config_file.h"

namespace morvane {

FILE* OpenConfigText(const char* name) {
    return std::fopen(name, "r");
}

}  // namespace morvane
