// What a serial device offers beyond termios, where it offers it: the error
// counters of its UART and a low-latency mode that passes received
// characters on at once. A device without them (a pseudo-terminal) refuses
// the requests, which is not an error.
#pragma once

#include <cstdint>

namespace morvane {

// Characters the device has lost (UART and buffer overruns) since it was
// set up; false when it keeps no such counters.
bool ReadOverrunCount(int fd, uint32_t* overruns);

// Asks the device for low latency. True when this call turned it on, so that
// RestoreLatency must turn it off again at close; false when it was on
// already or the device takes no such request.
bool RequestLowLatency(int fd);
void RestoreLatency(int fd);

}  // namespace morvane
