// The driver-wide choice of what time-critical means on Linux. Atomic: a
// ColdStart on one thread may set it while other channels run exchanges.
#include <atomic>

#include "link/thread_priority.h"

namespace morvane {
namespace {

std::atomic<TimeCriticalLevel> level_in_use{kDefaultTimeCriticalLevel};

}  // namespace

void SetTimeCriticalLevel(TimeCriticalLevel level) {
    level_in_use.store(level, std::memory_order_relaxed);
}

TimeCriticalLevel TimeCriticalLevelInUse() {
    return level_in_use.load(std::memory_order_relaxed);
}

}  // namespace morvane
