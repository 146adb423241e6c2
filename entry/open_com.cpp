// OpenCom: the one step through which every command opens the channel's port.
#include <cstring>

#include "entry/lifecycle.h"
#include "entry/log.h"

namespace morvane {

int32_t InternalTimeoutFor(int32_t external_timeout) {
    const int32_t quotient = external_timeout / 20;
    return quotient > 50 ? quotient : 50;
}

void CopyPortName(char (&destination)[MORVANE_PORT_NAME_SIZE], const char* source) {
    const size_t length = strnlen(source, MORVANE_PORT_NAME_SIZE - 1);
    std::memcpy(destination, source, length);
    std::memset(destination + length, 0, MORVANE_PORT_NAME_SIZE - length);
}

PortHandle OpenCom(const PortSettings& settings) {
    char name[MORVANE_PORT_NAME_SIZE];
    CopyPortName(name, settings.port_name);
    PortHandle handle = 0;
    if (SerialOpen(name, settings.line, settings.line_control, &handle) != kSerialOk ||
        handle == 0) {
        err(kLogTrace, "ZIDIV> OpenCom() exited with error");
        return 0;
    }
    err(kLogTrace, "ZIDIV> OpenCom() exited OK, file handle %u", static_cast<unsigned>(handle));
    return handle;
}

}  // namespace morvane
