#include "sim/line_timetable.h"

#include <algorithm>

namespace plcsim {

LineTimetable::Nanos LineTimetable::CharacterTime(uint32_t baud, uint32_t bits_per_char) {
    if (baud == 0) return Nanos::zero();
    return Nanos((uint64_t{1000000000} * bits_per_char + baud / 2) / baud);
}

LineTimetable::Time LineTimetable::NextDue(Time previous_due, Time ready, Nanos char_time) {
    return std::max(previous_due, ready) + char_time;
}

LineTimetable::Time LineTimetable::Schedule(Way way, Time ready, Nanos char_time) {
    due_[way] = NextDue(due_[way], ready, char_time);
    return due_[way];
}

void LineTimetable::Woke(Time due, Time before, Time now) {
    // Already past due, the thread did not wait: its own time runs on.
    const Time own = std::max(Own(before), due);
    late_ = std::max(std::chrono::duration_cast<Nanos>(now - own), Nanos::zero());
}

}  // namespace plcsim
