#include "serial/uart_seam.h"

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "support/read_seam.h"

extern "C" {
int __real_ioctl(int fd, unsigned long request, ...);
int __wrap_ioctl(int fd, unsigned long request, ...);
}

namespace morvane::test {
namespace {

std::atomic<dev_t> g_device{0};
std::atomic<bool> g_counters{false};
std::atomic<uint32_t> g_overruns{0};
std::atomic<bool> g_serial{false};
std::atomic<int> g_serial_flags{0};

bool Followed(int fd) {
    struct stat status {};
    const dev_t device = g_device.load();
    return device != 0 && fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) &&
           status.st_rdev == device;
}

int Refuse() {
    errno = ENOTTY;
    return -1;
}

}  // namespace

void UartSeamAttach(const std::string& path) {
    struct stat status {};
    g_device = stat(path.c_str(), &status) == 0 ? status.st_rdev : 0;
    UnmarkPortReads();
    MarkPortReads(path);
}
void UartSeamDetach() {
    g_device = 0;
    UnmarkPortReads();
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
