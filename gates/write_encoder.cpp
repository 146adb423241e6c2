// Placeholder until the write data encoder is built.
#include "gates/write_encoder.h"

namespace morvane {

int PackData(TevRequest*, uint8_t*, uint32_t, uint32_t) {
    return 1;
}
int ReadModifyWrite(TevRequest*, uint8_t*) {
    return 1;
}

}  // namespace morvane
