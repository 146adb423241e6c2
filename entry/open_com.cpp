// OpenCom: the one step through which every command opens the channel's port.
#include <cstring>

#include "entry/open_com.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {

void CopyPortName(char (&destination)[MORVANE_PORT_NAME_SIZE], const char* source) {
    const size_t length = strnlen(source, MORVANE_PORT_NAME_SIZE);
    std::memcpy(destination, source, length);
    std::memset(destination + length, 0, MORVANE_PORT_NAME_SIZE - length);
}

bool PortNameUsable(const char (&name)[MORVANE_PORT_NAME_SIZE]) {
    return strnlen(name, MORVANE_PORT_NAME_SIZE) < MORVANE_PORT_NAME_SIZE;
}

PrintablePortName::PrintablePortName(const char (&name)[MORVANE_PORT_NAME_SIZE]) {
    std::memcpy(text, name, MORVANE_PORT_NAME_SIZE);
    text[MORVANE_PORT_NAME_SIZE] = '\0';
}

PortHandle OpenCom(const PortSettings& settings) {
    PortHandle handle = 0;
    // A name that fills its field without a NUL is not cut to a shorter one:
    // that would open another device than the host named.
    if (!PortNameUsable(settings.port_name) ||
        SerialOpen(settings.port_name, settings.line, settings.line_control, &handle) !=
            kSerialOk ||
        handle == 0) {
        err(MORVANE_LOG_TRACE, "ZIDIV> OpenCom() exited with error");
        return 0;
    }
    err(MORVANE_LOG_TRACE, "ZIDIV> OpenCom() exited OK, file handle %u",
        static_cast<unsigned>(handle));
    return handle;
}

}  // namespace morvane
