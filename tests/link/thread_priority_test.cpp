// Raising and restoring the calling thread's priority, as the exchanges do.
// Each case runs on a thread of its own so that nothing leaks into others.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "link/thread_priority.h"

namespace morvane {
namespace {

struct Observed {
    int policy = -1;
    int nice_value = 0;
};

Observed Observe() {
    Observed seen;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &seen.policy, &param);
    seen.nice_value = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    return seen;
}

template <typename Body>
void OnOwnThread(Body body) {
    std::thread worker(body);
    worker.join();
}

// The driver-wide level for one test, the default put back after it.
struct LevelForTest {
    explicit LevelForTest(TimeCriticalLevel level) { SetTimeCriticalLevel(level); }
    ~LevelForTest() { SetTimeCriticalLevel(kDefaultTimeCriticalLevel); }
};

TEST(ThreadPriority, RaiseAndRestoreGiveBackTheExactState) {
    for (const TimeCriticalLevel level : {TimeCriticalLevel::kRealTime, TimeCriticalLevel::kNice}) {
        const LevelForTest chosen(level);
        OnOwnThread([level] {
            const Observed before = Observe();
            const int saved = ThreadPriorityGet();
            EXPECT_NE(saved, kThreadPriorityTimeCritical);

            // Success whether or not this host may raise: the thread then runs
            // at the best priority it is permitted.
            EXPECT_EQ(ThreadPrioritySet(kThreadPriorityTimeCritical), 1);
            const Observed raised = Observe();
            const bool real_time = raised.policy == SCHED_FIFO;
            EXPECT_TRUE(real_time || raised.nice_value <= before.nice_value);
            if (level == TimeCriticalLevel::kNice) {
                EXPECT_EQ(raised.policy, SCHED_OTHER);
            }

            EXPECT_EQ(ThreadPrioritySet(saved), 1);
            const Observed after = Observe();
            EXPECT_EQ(after.policy, before.policy);
            EXPECT_EQ(after.nice_value, before.nice_value);
            EXPECT_EQ(ThreadPriorityGet(), saved);
        });
    }
}

TEST(ThreadPriority, ResetOnForkThreadKeepsItsMarkAcrossRaiseAndRestore) {
    const LevelForTest real_time(TimeCriticalLevel::kRealTime);
    OnOwnThread([] {
        // Any thread may mark itself; only a privileged one may drop the mark.
        sched_param param{};
        ASSERT_EQ(pthread_setschedparam(pthread_self(), SCHED_OTHER | SCHED_RESET_ON_FORK, &param),
                  0);
        const Observed before = Observe();
        const int saved = ThreadPriorityGet();
        EXPECT_NE(saved, kThreadPriorityTimeCritical);
        EXPECT_EQ(ThreadPrioritySet(kThreadPriorityTimeCritical), 1);
        EXPECT_EQ(ThreadPrioritySet(saved), 1);
        const Observed after = Observe();
        EXPECT_EQ(after.policy, SCHED_OTHER | SCHED_RESET_ON_FORK);
        EXPECT_EQ(after.nice_value, before.nice_value);
        EXPECT_EQ(ThreadPriorityGet(), saved);
    });
}

// Set skips what already is as wanted; a real-time thread given an ordinary
// level must still get both the policy and the nice value.
TEST(ThreadPriority, FromRealTimeAnOrdinaryLevelSetsPolicyAndNiceValue) {
    const LevelForTest real_time(TimeCriticalLevel::kRealTime);
    OnOwnThread([] {
        sched_param param{};
        param.sched_priority = 1;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) != 0)
            GTEST_SKIP() << "no real-time privilege";
        EXPECT_EQ(ThreadPrioritySet(kThreadPriorityTimeCritical), 1);
        EXPECT_EQ(Observe().policy, SCHED_FIFO);
        EXPECT_EQ(ThreadPrioritySet(-3), 1);
        const Observed seen = Observe();
        EXPECT_EQ(seen.policy, SCHED_OTHER);
        EXPECT_EQ(seen.nice_value, 3);
        EXPECT_EQ(ThreadPriorityGet(), -3);
    });
}

// A host thread already real-time keeps its own policy and priority while
// the exchange runs, whatever level time-critical takes: the raise must never
// lower it.
TEST(ThreadPriority, RealTimeHostThreadIsNeverLoweredByTheRaise) {
    for (const TimeCriticalLevel level :
         {TimeCriticalLevel::kRealTime, TimeCriticalLevel::kNice, TimeCriticalLevel::kUnchanged}) {
        const LevelForTest chosen(level);
        for (const int policy : {SCHED_FIFO, SCHED_RR}) {
            OnOwnThread([policy] {
                sched_param param{};
                param.sched_priority = 50;
                if (pthread_setschedparam(pthread_self(), policy, &param) != 0)
                    GTEST_SKIP() << "no real-time privilege";
                const int saved = ThreadPriorityGet();
                EXPECT_EQ(ThreadPrioritySet(kThreadPriorityTimeCritical), 1);
                int seen_policy = -1;
                pthread_getschedparam(pthread_self(), &seen_policy, &param);
                EXPECT_EQ(seen_policy, policy);
                EXPECT_EQ(param.sched_priority, 50);
                EXPECT_EQ(ThreadPrioritySet(saved), 1);
                EXPECT_EQ(ThreadPriorityGet(), saved);
            });
        }
    }
}

TEST(ThreadPriority, LowerLevelsAreNiceValuesAndReadBack) {
    OnOwnThread([] {
        // Lowering is always permitted; each level reads back as itself.
        for (int level : {-1, -2, -15}) {
            EXPECT_EQ(ThreadPrioritySet(level), 1) << level;
            EXPECT_EQ(ThreadPriorityGet(), level);
            EXPECT_EQ(Observe().nice_value, -level);
        }
    });
}

TEST(ThreadPriority, ValuesThatNameNoStateAreRefused) {
    OnOwnThread([] {
        const int saved = ThreadPriorityGet();
        for (int value : {16, 99, 999, -20, -1000, 3000})
            EXPECT_EQ(ThreadPrioritySet(value), 0) << value;
        EXPECT_EQ(ThreadPriorityGet(), saved);
    });
}

}  // namespace
}  // namespace morvane
