// The host's choice of what time-critical means (MORVANE_PRIORITY, read at
// ColdStart), seen from the simulator while the driver's thread waits in the
// exchange for the telegram's acknowledgement: the thread's policy and nice
// value at that moment, and after the call. Holds with and without the
// privilege to run real-time: where the process lacks it, fifo and nice
// both take the best nice value the thread may take.
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "e2e/e2e_fixture.h"
#include "entry/priority_choice.h"
#include "link/thread_priority.h"

namespace morvane::test {
namespace {

struct Scheduling {
    int policy = -1;
    int nice_value = 99;
};

Scheduling SchedulingOf(pid_t thread) {
    return {sched_getscheduler(thread), getpriority(PRIO_PROCESS, static_cast<id_t>(thread))};
}

// What this process may take, tried on a thread of its own.
struct Permitted {
    bool real_time = false;
    int best_nice = 0;
};

Permitted Probe() {
    Permitted permitted;
    std::thread([&permitted] {
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO);
        permitted.real_time = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
        param.sched_priority = 0;
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
        permitted.best_nice = getpriority(PRIO_PROCESS, 0);
        for (int nice_value = -20; nice_value < permitted.best_nice; ++nice_value) {
            if (setpriority(PRIO_PROCESS, 0, nice_value) == 0) {
                permitted.best_nice = nice_value;
                break;
            }
        }
    }).join();
    return permitted;
}

enum class Expect { kRealTime, kBestNice, kUnchanged };

struct Choice {
    const char* label;  // the case's name in the test's
    const char* value;  // nullptr: not set
    Expect expect;
    bool logged;
};

// The default (unset, empty or unknown) is no change.
constexpr Choice kChoices[] = {
    {"fifo", "fifo", Expect::kRealTime, false},
    {"nice", "nice", Expect::kBestNice, false},
    {"none", "none", Expect::kUnchanged, false},
    {"unset", nullptr, Expect::kUnchanged, false},
    {"empty", "", Expect::kUnchanged, false},
    {"upper_case", "FIFO", Expect::kUnchanged, true},
    {"other_name", "realtime", Expect::kUnchanged, true},
    {"trailing_blank", "nice ", Expect::kUnchanged, true},
};

// Puts the variable and the driver's level back after each case.
class PriorityVariable : public DriverAgainstSim {
  protected:
    void TearDown() override {
        DriverAgainstSim::TearDown();
        unsetenv(kPriorityVariable);
        SetTimeCriticalLevel(kDefaultTimeCriticalLevel);
    }
};

class PriorityChoice : public PriorityVariable, public ::testing::WithParamInterface<Choice> {};

TEST_P(PriorityChoice, TheExchangeRunsAtTheChosenLevelAndAnUnknownOneIsLogged) {
    const Choice& choice = GetParam();
    if (choice.value != nullptr)
        setenv(kPriorityVariable, choice.value, 1);
    else
        unsetenv(kPriorityVariable);
    StartChannel(false, true);
    plc().SetWord(1, 2, 0x1234);

    const pid_t driver_thread = gettid();
    const Scheduling before = SchedulingOf(driver_thread);
    std::atomic<int> during_policy{-1};
    std::atomic<int> during_nice{99};
    plc().SetTelegramHook(
        [driver_thread, &during_policy, &during_nice](const Bytes&, plcsim::Faults*) {
            const Scheduling seen = SchedulingOf(driver_thread);
            during_policy = seen.policy;
            during_nice = seen.nice_value;
        });
    HostBytes slot(4, kUntouched);
    ASSERT_EQ(Run(MORVANE_CMD_SINGLE_READ, Gate("001002", MORVANE_GATE_WORD), 1, slot.data()),
              MORVANE_OK);

    const Scheduling during{during_policy, during_nice};
    const Permitted permitted = Probe();
    switch (choice.expect) {
        case Expect::kRealTime:
            if (permitted.real_time) {
                EXPECT_EQ(during.policy, SCHED_FIFO);
                break;
            }
            [[fallthrough]];  // without the privilege, the best nice value
        case Expect::kBestNice:
            EXPECT_EQ(during.policy, SCHED_OTHER);
            EXPECT_EQ(during.nice_value, permitted.best_nice);
            break;
        case Expect::kUnchanged:
            EXPECT_EQ(during.policy, before.policy);
            EXPECT_EQ(during.nice_value, before.nice_value);
            break;
    }
    const Scheduling after = SchedulingOf(driver_thread);
    EXPECT_EQ(after.policy, before.policy);
    EXPECT_EQ(after.nice_value, before.nice_value);

    const std::string warning = std::string("ZIDIV> ColdStart() Warning, MORVANE_PRIORITY=") +
                                (choice.value ? choice.value : "") + " unknown, using none";
    EXPECT_EQ(log_.Has(MORVANE_LOG_OPERATOR, warning), choice.logged) << log_.Dump();
    EXPECT_EQ(log_.Count(warning), choice.logged ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Values, PriorityChoice, ::testing::ValuesIn(kChoices),
                         [](const ::testing::TestParamInfo<Choice>& info) {
                             return std::string(info.param.label);
                         });

// A value the log could not show as it is: at most 16 characters, anything
// unprintable as '?'.
TEST_F(PriorityVariable, AnUnknownValueIsLoggedPrintably) {
    setenv(kPriorityVariable, "fi\x01o-and-a-long-tail", 1);
    StartChannel(false, true);
    EXPECT_TRUE(log_.Has(MORVANE_LOG_OPERATOR,
                         "ZIDIV> ColdStart() Warning, MORVANE_PRIORITY=fi?o-and-a-long- unknown, "
                         "using none"))
        << log_.Dump();
}

}  // namespace
}  // namespace morvane::test
