// When each character has crossed the simulated line. Every direction keeps
// an absolute schedule: a character is due one character time after the one
// before it was due, or after it was ready if the line had fallen idle by
// then. A wake-up that comes late delays only the character it was for, not
// the ones after it. Pure arithmetic on time points: the line supplies the
// clock readings and does the waiting.
#pragma once

#include <chrono>
#include <cstdint>

namespace plcsim {

class LineTimetable {
  public:
    using Time = std::chrono::steady_clock::time_point;
    using Nanos = std::chrono::nanoseconds;
    enum Way { kReceive, kSend };

    // 0 for baud 0 (no pacing); nanoseconds keep 115200 baud within a millionth.
    static Nanos CharacterTime(uint32_t baud, uint32_t bits_per_char);
    static Time NextDue(Time previous_due, Time ready, Nanos char_time);

    // The next character's due time in that direction, recorded as its last.
    Time Schedule(Way way, Time ready, Nanos char_time);

    // The serving thread's own time: real time less how late it woke from its
    // last paced wait. What it sends after a late wake-up was, on a true
    // line, ready when it woke as it should have.
    Time Own(Time now) const { return now - late_; }
    // After a paced wait for due that began at before (real time) and ended at now.
    void Woke(Time due, Time before, Time now);
    // After waiting for the other side: own time is real time again.
    void Waited() { late_ = Nanos::zero(); }

  private:
    Time due_[2]{};
    Nanos late_{0};
};

}  // namespace plcsim
