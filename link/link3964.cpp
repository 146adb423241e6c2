// Placeholder until the link procedure is built.
#include "link/link3964.h"

namespace morvane {

int SendBlock(PortHandle, const uint8_t*, uint16_t) {
    return kLinkTimeout;
}
int SendByte(PortHandle, uint8_t) {
    return kLinkRefused;
}
int ExpectByte(PortHandle, uint8_t) {
    return kLinkRefused;
}
int CheckIfReady(PortHandle) {
    return kLinkRefused;
}
int Receive(PortHandle, uint8_t, uint8_t*, uint16_t* length) {
    *length = 0;
    return kLinkTimeout;
}
uint16_t FrameBlock(const uint8_t*, uint8_t*, uint16_t) {
    return 0;
}
uint8_t ComputeBcc(const uint8_t*, uint16_t) {
    return 0;
}
uint16_t UndoubleDle(const uint8_t*, uint8_t*, uint16_t) {
    return 0;
}
void DrainPartner(const TevRequest*) {}

}  // namespace morvane
