#include "entry/priority_choice.h"

#include <cstdlib>
#include <cstring>

#include "link/thread_priority.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {

namespace {

const char* NameOf(TimeCriticalLevel level) {
    for (const NamedTimeCriticalLevel& named : kTimeCriticalLevels)
        if (named.level == level) return named.name;
    return "?";
}

// The value as the log shows it: at most 16 characters, anything that is
// not printable as '?'.
struct PrintableValue {
    explicit PrintableValue(const char* value) {
        size_t i = 0;
        for (; i < sizeof text - 1 && value[i] != '\0'; ++i)
            text[i] = value[i] >= 0x20 && value[i] < 0x7F ? value[i] : '?';
        text[i] = '\0';
    }
    char text[17];
};

}  // namespace

void ReadPriorityChoice() {
    TimeCriticalLevel chosen = kDefaultTimeCriticalLevel;
    const char* value = std::getenv(kPriorityVariable);
    if (value != nullptr && value[0] != '\0') {
        bool known = false;
        for (const NamedTimeCriticalLevel& named : kTimeCriticalLevels) {
            if (std::strcmp(value, named.name) == 0) {
                chosen = named.level;
                known = true;
            }
        }
        if (!known)
            err(MORVANE_LOG_OPERATOR, "ZIDIV> ColdStart() Warning, %s=%s unknown, using %s",
                kPriorityVariable, PrintableValue(value).text, NameOf(chosen));
    }
    SetTimeCriticalLevel(chosen);
}

}  // namespace morvane
