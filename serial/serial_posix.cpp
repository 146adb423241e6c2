// Placeholder until the serial backend is built: no port can be opened.
#include "serial/serial_port.h"

namespace morvane {

int SerialOpen(const char*, const LineParameters&, uint16_t, PortHandle*) {
    return kSerialOpenFailed;
}
int SerialClose(PortHandle) {
    return kSerialIoFailed;
}
uint32_t SerialSetReadTimeout(PortHandle, uint32_t) {
    return 0;
}
int SerialPurgeInput(PortHandle) {
    return kSerialOpenFailed;
}
int SerialWrite(PortHandle, const uint8_t*, uint32_t, uint32_t*) {
    return kSerialIoFailed;
}
int SerialRead(PortHandle, uint8_t*, uint32_t, uint32_t*) {
    return kSerialIoFailed;
}
bool SerialBytesWaiting(PortHandle, uint32_t*) {
    return false;
}

}  // namespace morvane
