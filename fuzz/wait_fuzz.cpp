// The waits and the thread priority of the fuzz build, in place of
// thread_priority_posix.cpp: a sleep moves the virtual line's clock, and the
// priority is a number the fuzzer checks is restored after every call.
#include "fuzz/virtual_line.h"
#include "link/thread_priority.h"

namespace morvane {
namespace {

int g_priority = 0;

}  // namespace

int fuzz::CurrentPriority() {
    return g_priority;
}

int ThreadPriorityGet() {
    return g_priority;
}

int ThreadPrioritySet(int priority) {
    g_priority = priority;
    return 1;
}

void SleepMs(uint32_t milliseconds) {
    fuzz::TheLine().Sleep(milliseconds);
}

}  // namespace morvane
