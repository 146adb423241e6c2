// The simulated line's timetable, with made-up clock readings: late
// wake-ups must not push back the characters after them, an idle line
// starts from when a character is ready, and the directions are apart.
#include "sim/line_timetable.h"

#include <gtest/gtest.h>

namespace plcsim {
namespace {

using Time = LineTimetable::Time;
using std::chrono::microseconds;
using std::chrono::nanoseconds;

const Time kStart = Time() + std::chrono::seconds(100);

Time At(int64_t us) {
    return kStart + microseconds(us);
}

// Readable in failure messages: nanoseconds since kStart.
int64_t Ns(Time t) {
    return std::chrono::duration_cast<nanoseconds>(t - kStart).count();
}

TEST(LineTimetable, CharacterTimeOfEightE1AtTheStandardRates) {
    const struct {
        uint32_t baud;
        int64_t ns;
    } cases[] = {{9600, 1145833}, {19200, 572917}, {38400, 286458},
                 {57600, 190972}, {115200, 95486}, {0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        EXPECT_EQ(LineTimetable::CharacterTime(c.baud, 11).count(), c.ns);
    }
}

TEST(LineTimetable, NextDueFollowsThePreviousCharacterOrAnIdleLine) {
    const struct {
        const char* name;
        int64_t previous_due_us, ready_us, due_us;
    } cases[] = {
        {"ready while the previous one crosses", 100, 40, 200},
        {"ready exactly when the previous one is due", 100, 100, 200},
        {"line idle when it becomes ready", 100, 130, 230},
        {"never anything before", -1000000, 0, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            Ns(LineTimetable::NextDue(At(c.previous_due_us), At(c.ready_us), microseconds(100))),
            Ns(At(c.due_us)));
    }
}

// The answer to a received character is ready when that character was due,
// not when the thread woke late from waiting for it.
TEST(LineTimetable, AnswerAfterALateWakeUpStartsFromTheDueTime) {
    LineTimetable timetable;
    const microseconds char_time(100);
    const Time rx_due = timetable.Schedule(LineTimetable::kReceive, At(0), char_time);
    timetable.Woke(rx_due, At(5), At(160));  // woke 60 µs late
    const Time answer_ready = timetable.Own(At(163));
    EXPECT_EQ(Ns(answer_ready), Ns(At(103)));
    EXPECT_EQ(Ns(timetable.Schedule(LineTimetable::kSend, answer_ready, char_time)), Ns(At(203)));
}

TEST(LineTimetable, OwnTimeAfterPacedWaits) {
    const struct {
        const char* name;
        int64_t late_before_us;  // from an earlier wake-up 60 µs late, or none
        int64_t due_us, before_us, now_us, own_at_now_us;
    } cases[] = {
        {"woke on time", 0, 100, 10, 100, 100},
        {"woke late", 0, 100, 10, 130, 100},
        {"due already past: no wait, lateness stays", 60, 100, 500, 502, 440},
        {"due after the own time of the look: waits from there", 60, 480, 500, 560, 480},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LineTimetable timetable;
        if (c.late_before_us != 0) timetable.Woke(At(0), At(0), At(c.late_before_us));
        timetable.Woke(At(c.due_us), At(c.before_us), At(c.now_us));
        EXPECT_EQ(Ns(timetable.Own(At(c.now_us))), Ns(At(c.own_at_now_us)));
    }
}

TEST(LineTimetable, WaitingForTheOtherSideResetsOwnTime) {
    LineTimetable timetable;
    timetable.Woke(At(100), At(0), At(180));
    ASSERT_EQ(Ns(timetable.Own(At(200))), Ns(At(120)));
    timetable.Waited();
    EXPECT_EQ(Ns(timetable.Own(At(5000))), Ns(At(5000)));
}

TEST(LineTimetable, DirectionsKeepTheirOwnSchedules) {
    LineTimetable timetable;
    const microseconds char_time(100);
    for (int i = 0; i < 10; ++i)
        timetable.Schedule(LineTimetable::kSend, At(0), char_time);
    EXPECT_EQ(Ns(timetable.Schedule(LineTimetable::kReceive, At(50), char_time)), Ns(At(150)));
    EXPECT_EQ(Ns(timetable.Schedule(LineTimetable::kSend, At(50), char_time)), Ns(At(1100)));
}

}  // namespace
}  // namespace plcsim
