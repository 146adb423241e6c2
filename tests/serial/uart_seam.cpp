#include "serial/uart_seam.h"

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>

extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t count);
int __real_ioctl(int fd, unsigned long request, ...);
ssize_t __wrap_read(int fd, void* buffer, size_t count);
int __wrap_ioctl(int fd, unsigned long request, ...);
}

namespace morvane::test {
namespace {

std::atomic<dev_t> g_device{0};
std::atomic<bool> g_counters{false};
std::atomic<uint32_t> g_overruns{0};
std::atomic<bool> g_serial{false};
std::atomic<int> g_serial_flags{0};
bool g_half_pair = false;  // the first FF of a doubled pair was read last time

bool Followed(int fd) {
    struct stat status {};
    const dev_t device = g_device.load();
    return device != 0 && fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) &&
           status.st_rdev == device;
}

// The kernel doubles every FF; undone in place, a pair split across reads too.
size_t Undouble(uint8_t* bytes, size_t count) {
    size_t out = 0;
    for (size_t i = 0; i < count; ++i) {
        if (bytes[i] == 0xFF) {
            g_half_pair = !g_half_pair;
            if (g_half_pair) continue;
        }
        bytes[out++] = bytes[i];
    }
    return out;
}

int Refuse() {
    errno = ENOTTY;
    return -1;
}

}  // namespace

void UartSeamAttach(const std::string& path) {
    struct stat status {};
    g_half_pair = false;
    g_device = stat(path.c_str(), &status) == 0 ? status.st_rdev : 0;
}
void UartSeamDetach() {
    g_device = 0;
}
void UartSeamSetOverruns(uint32_t overruns) {
    g_overruns = overruns;
    g_counters = true;
}
void UartSeamCountersOff() {
    g_counters = false;
}
void UartSeamSetSerialFlags(int flags) {
    g_serial_flags = flags;
    g_serial = true;
}
void UartSeamRefuseSerial() {
    g_serial = false;
}
int UartSeamSerialFlags() {
    return g_serial_flags;
}

}  // namespace morvane::test

using namespace morvane::test;

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    if (!Followed(fd)) return __real_read(fd, buffer, count);
    const ssize_t n = __real_read(fd, buffer, count);
    if (n <= 0) return n;
    const size_t kept = Undouble(static_cast<uint8_t*>(buffer), static_cast<size_t>(n));
    if (kept > 0) return static_cast<ssize_t>(kept);
    errno = EAGAIN;
    return -1;
}

int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (!Followed(fd)) return __real_ioctl(fd, request, argument);
    switch (request) {
        case TIOCGICOUNT: {
            if (!g_counters) return Refuse();
            serial_icounter_struct counts{};
            counts.overrun = static_cast<int>(g_overruns.load());
            std::memcpy(argument, &counts, sizeof counts);
            return 0;
        }
        case TIOCGSERIAL: {
            if (!g_serial) return Refuse();
            serial_struct serial{};
            serial.flags = g_serial_flags;
            std::memcpy(argument, &serial, sizeof serial);
            return 0;
        }
        case TIOCSSERIAL: {
            if (!g_serial) return Refuse();
            serial_struct serial{};
            std::memcpy(&serial, argument, sizeof serial);
            g_serial_flags = serial.flags;
            return 0;
        }
        default:
            return __real_ioctl(fd, request, argument);
    }
}
