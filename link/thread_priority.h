// Priority of the calling thread during an exchange, and the short waits of
// the link procedure. One implementation per platform.
#pragma once

#include <cstdint>

namespace morvane {

constexpr int kThreadPriorityTimeCritical = 15;

// The calling thread's current priority.
int ThreadPriorityGet();

// Sets the calling thread's priority; returns 1 on success, like the Windows call.
int ThreadPrioritySet(int priority);

// Blocks the calling thread for the given milliseconds.
void SleepMs(uint32_t milliseconds);

}  // namespace morvane
