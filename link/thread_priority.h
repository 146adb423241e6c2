// Priority of the calling thread during an exchange, and the short waits of
// the link procedure. One implementation per platform.
#pragma once

#include <cstdint>

namespace morvane {

constexpr int kThreadPriorityTimeCritical = 15;

// What a raise to time-critical takes on Linux: SCHED_FIFO, the best nice
// value the thread may take, or no change at all. One value for the whole
// driver, chosen by the host at ColdStart; Windows always takes its own
// time-critical level.
enum class TimeCriticalLevel : int { kRealTime, kNice, kUnchanged };

// The names a host gives the levels.
struct NamedTimeCriticalLevel {
    const char* name;
    TimeCriticalLevel level;
};
constexpr NamedTimeCriticalLevel kTimeCriticalLevels[] = {
    {"fifo", TimeCriticalLevel::kRealTime},
    {"nice", TimeCriticalLevel::kNice},
    {"none", TimeCriticalLevel::kUnchanged},
};

// No change: with every processor kept busy by ordinary work the median
// exchange hardly moved with the level, real-time shortened the slowest
// ones in three runs of four, and every raise costs CPU on every exchange
// (bench/README.md, "What the raise buys").
constexpr TimeCriticalLevel kDefaultTimeCriticalLevel = TimeCriticalLevel::kUnchanged;

void SetTimeCriticalLevel(TimeCriticalLevel level);
TimeCriticalLevel TimeCriticalLevelInUse();

// The calling thread's current priority.
int ThreadPriorityGet();

// Sets the calling thread's priority; returns 1 on success, like the Windows call.
int ThreadPrioritySet(int priority);

// Blocks the calling thread for the given milliseconds.
void SleepMs(uint32_t milliseconds);

}  // namespace morvane
