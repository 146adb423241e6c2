// Serial port channel on the Windows communications API. The port name goes
// to CreateFileA unchanged, a COM name in the device namespace (\\.\COM12);
// the handle value is what the ChannelArea keeps.
#include <windows.h>

#include <cstring>

#include "serial/comm_calls_win32.h"
#include "serial/serial_platform.h"
#include "serial/serial_port.h"

namespace morvane {

CommCalls& TheCommCalls() {
    static CommCalls calls{ClearCommError};
    return calls;
}

namespace {

constexpr DWORD kQueueBytes = 1200;
constexpr char kReplacementCharacter = static_cast<char>(0xFC);

// The host's record keeps the handle in 32 bits. On 64-bit Windows kernel
// handles fit in 32 bits and widen by sign extension, as the system's own
// handle-to-long conversions do.
HANDLE ToHandle(PortHandle handle) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(handle)));
}

PortHandle FromHandle(HANDLE handle) {
    return static_cast<PortHandle>(reinterpret_cast<uintptr_t>(handle));
}

DWORD DtrControlFor(uint16_t line_control) {
    if ((line_control & 0x0101) != 0) return DTR_CONTROL_ENABLE;
    if ((line_control & 0x8000) != 0) return DTR_CONTROL_HANDSHAKE;
    return DTR_CONTROL_DISABLE;
}

DWORD RtsControlFor(uint16_t line_control) {
    if ((line_control & 0x0202) != 0) return RTS_CONTROL_ENABLE;
    if ((line_control & 0x1000) != 0) return RTS_CONTROL_HANDSHAKE;
    if ((line_control & 0x2000) != 0) return RTS_CONTROL_TOGGLE;
    return RTS_CONTROL_DISABLE;
}

void ApplySettings(const LineParameters& line, uint16_t line_control, DCB* dcb) {
    dcb->BaudRate = line.baud_rate;
    dcb->ByteSize = static_cast<BYTE>(line.data_bits & 0xFF);
    dcb->Parity = static_cast<BYTE>(line.parity & 0xFF);
    dcb->StopBits = static_cast<BYTE>(line.stop_bits & 0xFF);
    dcb->fBinary = TRUE;
    dcb->fParity = TRUE;
    dcb->fOutxCtsFlow = FALSE;
    dcb->fOutxDsrFlow = FALSE;
    dcb->fDtrControl = DtrControlFor(line_control);
    dcb->fDsrSensitivity = FALSE;
    dcb->fOutX = FALSE;
    dcb->fInX = FALSE;
    dcb->fErrorChar = FALSE;
    dcb->ErrorChar = kReplacementCharacter;
    dcb->fNull = FALSE;
    dcb->fRtsControl = RtsControlFor(line_control);
    dcb->fAbortOnError = FALSE;
}

// "COM" and digits, any case.
bool IsComName(const char* name) {
    if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm' ||
        name[3] == '\0')
        return false;
    for (const char* at = name + 3; *at != '\0'; ++at)
        if (*at < '0' || *at > '9') return false;
    return true;
}

}  // namespace

int SerialOpen(const char* port_name, const LineParameters& line, uint16_t line_control,
               PortHandle* handle) {
    if (port_name == nullptr || handle == nullptr) return kSerialOpenFailed;
    // From COM10 on, a bare name is a file in the current directory, not the
    // port: every COM name is opened in the device namespace.
    char device[MORVANE_PORT_NAME_SIZE + 4] = "\\\\.\\";
    const bool com =
        strnlen(port_name, MORVANE_PORT_NAME_SIZE) < MORVANE_PORT_NAME_SIZE && IsComName(port_name);
    if (com) std::strcat(device, port_name);
    HANDLE port = CreateFileA(com ? device : port_name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE || port == nullptr) return kSerialOpenFailed;
    if (std::strcmp(port_name, "NUL") == 0) {
        *handle = FromHandle(port);
        return kSerialOk;
    }

    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        CloseHandle(port);
        return kSerialStateUnreadable;
    }
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = kSerialDefaultReadTimeoutMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(port, &timeouts)) {
        CloseHandle(port);
        return kSerialOpenFailed;
    }
    ApplySettings(line, line_control, &dcb);
    if (!SetCommState(port, &dcb)) {
        CloseHandle(port);
        return kSerialSettingsRefused;
    }
    (void)SetupComm(port, kQueueBytes, kQueueBytes);
    *handle = FromHandle(port);
    return kSerialOk;
}

int SerialClose(PortHandle handle) {
    return CloseHandle(ToHandle(handle)) ? kSerialOk : kSerialIoFailed;
}

// A handle says nothing reliable about its device's name here, and a
// fresh channel area may hold any value: closing on a guess could close a
// handle of the host's own.
bool SerialHoldsPort(PortHandle, const char*) {
    return false;
}

uint32_t SerialSetReadTimeout(PortHandle handle, uint32_t ms) {
    COMMTIMEOUTS timeouts;
    if (!GetCommTimeouts(ToHandle(handle), &timeouts)) return 0;
    const DWORD previous = timeouts.ReadTotalTimeoutConstant;
    // Kept below MAXDWORD, which the time-out fields give special meanings.
    const DWORD wanted = ms > 0xFFFFFFFEul ? 0xFFFFFFFEul : static_cast<DWORD>(ms);
    if (previous != wanted) {
        timeouts.ReadTotalTimeoutConstant = wanted;
        if (!SetCommTimeouts(ToHandle(handle), &timeouts)) return 0;
    }
    return previous;
}

bool SerialBytesWaiting(PortHandle handle, uint32_t* waiting) {
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof status);
    if (!TheCommCalls().clear_comm_error(ToHandle(handle), &errors, &status)) return false;
    if (waiting != nullptr) *waiting = status.cbInQue;
    return true;
}

// The driver reports no damaged character in place of the received one
// (no error replacement, no abort on error): the flags are the only report.
uint32_t SerialTakeLineErrors(PortHandle handle) {
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0, sizeof status);
    if (!TheCommCalls().clear_comm_error(ToHandle(handle), &errors, &status)) return 0;
    uint32_t line_errors = 0;
    if ((errors & (CE_RXPARITY | CE_FRAME | CE_BREAK)) != 0) line_errors |= kLineCharacterDamaged;
    if ((errors & (CE_OVERRUN | CE_RXOVER)) != 0) line_errors |= kLineOverrun;
    return line_errors;
}

int SerialWrite(PortHandle handle, const uint8_t* bytes, uint32_t count, uint32_t* written) {
    DWORD taken = 0;
    if (!WriteFile(ToHandle(handle), bytes, count, &taken, nullptr)) return kSerialIoFailed;
    if (written != nullptr) *written = taken;
    return taken == count ? kSerialOk : kSerialShortWrite;
}

bool PlatformRead(PortHandle handle, uint8_t* buffer, uint32_t count, uint32_t* got) {
    DWORD taken = 0;
    const bool ok = ReadFile(ToHandle(handle), buffer, count, &taken, nullptr) != 0;
    *got = ok ? taken : 0;
    return ok;
}

}  // namespace morvane
