// USB-serial adapters hold received characters back for up to 16 ms to fill
// a USB packet; an exchange waits for the PLC three or four times, so at
// 19200 baud that wait outweighs the line time. Low latency makes the
// adapter's driver pass every character on at once.
#include "serial/uart_features_posix.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace morvane {

bool ReadOverrunCount(int fd, uint32_t* overruns) {
    serial_icounter_struct counts{};
    if (ioctl(fd, TIOCGICOUNT, &counts) != 0) return false;
    *overruns = static_cast<uint32_t>(counts.overrun) + static_cast<uint32_t>(counts.buf_overrun);
    return true;
}

bool RequestLowLatency(int fd) {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return false;
    if ((serial.flags & ASYNC_LOW_LATENCY) != 0) return false;
    serial.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

void RestoreLatency(int fd) {
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &serial);
}

}  // namespace morvane
