// Placeholder until the value encoding is built.
#include "gates/value_encoding.h"

namespace morvane {

uint32_t PlcFloatToIeee(uint32_t) {
    return 0;
}
uint32_t IeeeToPlcFloat(uint32_t) {
    return 0x80000000u;
}
bool PlcFloatCanEncode(uint32_t) {
    return false;
}
int UnpackReply(const TransferBlock*, const uint8_t*, uint32_t) {
    return 1;
}
int UnpackChunk(ChannelArea*, const uint8_t*, uint16_t, uint32_t, uint32_t) {
    return 1;
}

}  // namespace morvane
