// Placeholder until the POSIX priority layer is built.
#include <time.h>

#include "link/thread_priority.h"

namespace morvane {

int ThreadPriorityGet() {
    return 0;
}
int ThreadPrioritySet(int) {
    return 1;
}

void SleepMs(uint32_t milliseconds) {
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
}

}  // namespace morvane
