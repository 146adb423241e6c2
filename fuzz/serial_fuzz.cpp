// The serial functions of the fuzz build, in place of serial_posix.cpp: the
// port is the virtual line. serial_read.cpp (purge, whole reads) is the
// production code on top of PlatformRead, as on every platform.
#include "fuzz/fuzz_check.h"
#include "fuzz/virtual_line.h"
#include "serial/serial_platform.h"
#include "serial/serial_port.h"

namespace morvane {
namespace {

constexpr PortHandle kLineHandle = 7;

fuzz::VirtualLine& Line(PortHandle handle) {
    // A call on a handle the driver never got, or after closing it, is a
    // fault of the driver's own bookkeeping.
    FUZZ_CHECK(handle == kLineHandle && fuzz::TheLine().IsOpen());
    return fuzz::TheLine();
}

}  // namespace

int SerialOpen(const char* port_name, const LineParameters&, uint16_t, PortHandle* handle) {
    if (port_name == nullptr || handle == nullptr) return kSerialOpenFailed;
    if (!fuzz::TheLine().Open()) return kSerialOpenFailed;
    fuzz::TheLine().SetReadTimeoutMs(kSerialDefaultReadTimeoutMs);
    *handle = kLineHandle;
    return kSerialOk;
}

int SerialClose(PortHandle handle) {
    return Line(handle).Close() ? kSerialOk : kSerialIoFailed;
}

// The virtual line is never started twice on one area.
bool SerialHoldsPort(PortHandle, const char*) {
    return false;
}

uint32_t SerialSetReadTimeout(PortHandle handle, uint32_t ms) {
    return Line(handle).SetReadTimeoutMs(ms);
}

bool SerialBytesWaiting(PortHandle handle, uint32_t* waiting) {
    size_t count = 0;
    if (!Line(handle).BytesWaiting(&count)) return false;
    if (waiting != nullptr) *waiting = static_cast<uint32_t>(count);
    return true;
}

// The virtual line delivers characters as sent or not at all.
uint32_t SerialTakeLineErrors(PortHandle handle) {
    (void)Line(handle);
    return 0;
}

int SerialWrite(PortHandle handle, const uint8_t* bytes, uint32_t count, uint32_t* written) {
    if (bytes == nullptr && count != 0) return kSerialIoFailed;
    if (!Line(handle).Write(bytes, count)) return kSerialIoFailed;
    if (written != nullptr) *written = count;
    return kSerialOk;
}

bool PlatformRead(PortHandle handle, uint8_t* buffer, uint32_t count, uint32_t* got) {
    size_t arrived = 0;
    const bool ok = Line(handle).Read(buffer, count, &arrived);
    *got = static_cast<uint32_t>(arrived);
    return ok;
}

}  // namespace morvane
