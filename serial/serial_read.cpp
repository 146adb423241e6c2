// The reading operations, the same on every platform: they build on the
// backend's single time-limited read and on its time-out and queue calls.
#include "serial/serial_platform.h"
#include "serial/serial_port.h"

namespace morvane {
namespace {

constexpr uint32_t kPurgeChunk = 512;
// A real line cannot fill the 1200-byte driver queue more than a few times
// over during a purge; a partner that keeps it full for 32 KiB is broken, and
// the purge ends there instead of holding the host's thread.
static_assert(kPurgeChunk * kPurgeReadLimit == 32 * 1024);

}  // namespace

int SerialPurgeInput(PortHandle handle) {
    uint32_t waiting = 0;
    bool last_call_ok = SerialBytesWaiting(handle, &waiting);
    if (last_call_ok && waiting == 0) return kSerialOk;

    // Reads of 50 ms until one comes back less than full: what arrives
    // meanwhile goes too, and a partner that keeps the queue full cannot
    // hold the purge beyond the read limit.
    const uint32_t previous = SerialSetReadTimeout(handle, kPurgeReadTimeoutMs);
    uint8_t scratch[kPurgeChunk];
    uint32_t got = 0;
    uint32_t chunks = 0;
    do {
        last_call_ok = PlatformRead(handle, scratch, kPurgeChunk, &got);
    } while (last_call_ok && got == kPurgeChunk && ++chunks < kPurgeReadLimit);
    if (previous != 0) SerialSetReadTimeout(handle, previous);
    return last_call_ok ? kSerialOk : kSerialOpenFailed;
}

bool SerialInputWaiting(PortHandle handle) {
    uint32_t waiting = 0;
    return SerialBytesWaiting(handle, &waiting) && waiting > 0;
}

int SerialRead(PortHandle handle, uint8_t* buffer, uint32_t count, uint32_t* read) {
    if (read != nullptr) *read = 0;
    if (buffer == nullptr) return kSerialIoFailed;
    uint32_t total = 0;
    while (total < count) {
        uint32_t got = 0;
        if (!PlatformRead(handle, buffer + total, count - total, &got) || got == 0)
            return kSerialIoFailed;
        total += got;
        if (read != nullptr) *read = total;
    }
    return kSerialOk;
}

}  // namespace morvane
