#include <windows.h>

#include "link/thread_priority.h"

namespace morvane {

int ThreadPriorityGet() {
    return GetThreadPriority(GetCurrentThread());
}

int ThreadPrioritySet(int priority) {
    return SetThreadPriority(GetCurrentThread(), priority) ? 1 : 0;
}

void SleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

}  // namespace morvane
