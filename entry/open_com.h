// Shared steps of the lifecycle commands: the port name and opening the port.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"
#include "serial/serial_port.h"

namespace morvane {

// The line-control word every channel uses: DTR and RTS on, no handshake.
constexpr uint16_t kChannelLineControl = 0x0303;

// Copies a host's 12-byte name field as it is, up to its NUL; a field
// without one is kept whole and never opened (PortNameUsable is false).
void CopyPortName(char (&destination)[MORVANE_PORT_NAME_SIZE], const char* source);
bool PortNameUsable(const char (&name)[MORVANE_PORT_NAME_SIZE]);

// A stored name as a string for log lines, also when it has no NUL.
struct PrintablePortName {
    explicit PrintablePortName(const char (&name)[MORVANE_PORT_NAME_SIZE]);
    char text[MORVANE_PORT_NAME_SIZE + 1];
};

// Opens the port of the stored settings; the handle, or 0 when it cannot be opened.
PortHandle OpenCom(const PortSettings& settings);

}  // namespace morvane
