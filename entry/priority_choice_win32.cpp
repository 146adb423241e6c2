#include "entry/priority_choice.h"

namespace morvane {

// Windows keeps THREAD_PRIORITY_TIME_CRITICAL: nothing to read.
void ReadPriorityChoice() {}

}  // namespace morvane
