// Thread priority on Linux, with the results of the Windows calls.
//
// Raising to time-critical takes the level the host chose (TimeCriticalLevel):
// - real-time: SCHED_FIFO at the lowest real-time priority, which puts the
//   thread above every ordinary thread (as Windows' time-critical is the top
//   of the normal range) while leaving the kernel's own real-time threads,
//   serial interrupt threads among them, above it. Without the privilege the
//   thread takes the best nice value, as below.
// - nice: the best nice value the thread may take (-20, or what
//   RLIMIT_NICE allows), and the thread stays as it is when it may not
//   lower its nice value at all.
// - unchanged (the default): the raise makes no system call. The line's
//   time-outs are hundreds of milliseconds; with every processor busy the
//   median exchange hardly moved with the level, and each sleep and
//   wake-up of a raised thread costs more CPU (bench/README.md).
// A thread the host already runs real-time is left as it is. In every case
// the call reports success (1) once the thread runs at the highest priority
// it is permitted: failing there would log a warning for every
// exchange of an unprivileged host and change nothing. Only a call that fails for another reason
// reports 0.
//
// Every exchange reads, raises and restores, so each step asks the kernel
// only what it must: glibc keeps the thread's policy (no system call to read
// it), the nice value is the calling thread's with who = 0 (no gettid), the
// lowest real-time priority is asked once, and a policy or priority that is
// already what is wanted is not set again. Four system calls per exchange
// where there were eight.
//
// The saved priority is an int in a ChannelArea field. An ordinary thread's
// value is the Windows-like level minus its nice value (nice 0 is 0, nice 2
// is -2); any other state (a real-time policy, batch or idle, or a nice value
// of -15 or below, which would read as 15) is encoded as
// kEncodedState + policy * 100 + level, where level is the real-time priority
// or the nice value + 20, so that restoring gives back exactly that state.
// A thread marked reset-on-fork (audio and other real-time helpers are) has
// the mark read back in its policy; it is kept as policy + 10, because an
// unprivileged thread may not drop it and a restore must not try to.
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "link/thread_priority.h"

namespace morvane {
namespace {

constexpr int kEncodedState = 1000;
constexpr int kLowestNice = -20;
constexpr int kHighestNice = 19;
constexpr int kResetOnForkPolicies = 10;  // encoded policy of a reset-on-fork thread

struct ThreadState {
    int policy;  // without the reset-on-fork mark
    int level;   // real-time priority, or the nice value for the other policies
    bool reset_on_fork;
};

bool IsRealTime(int policy) {
    return policy == SCHED_FIFO || policy == SCHED_RR;
}

// The policy and real-time priority as glibc keeps them for the thread.
bool ReadPolicy(ThreadState* state) {
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &state->policy, &param) != 0) return false;
    state->reset_on_fork = (state->policy & SCHED_RESET_ON_FORK) != 0;
    state->policy &= ~SCHED_RESET_ON_FORK;
    state->level = param.sched_priority;
    return true;
}

// With who = 0 the nice value is the calling thread's own.
bool ReadState(ThreadState* state) {
    if (!ReadPolicy(state)) return false;
    if (IsRealTime(state->policy)) return true;
    errno = 0;
    const int nice_value = getpriority(PRIO_PROCESS, 0);
    if (nice_value == -1 && errno != 0) return false;
    state->level = nice_value;
    return true;
}

int Encode(const ThreadState& state) {
    if (state.policy == SCHED_OTHER && !state.reset_on_fork && state.level > -15)
        return -state.level;
    const int level = IsRealTime(state.policy) ? state.level : state.level + 20;
    const int policy = state.policy + (state.reset_on_fork ? kResetOnForkPolicies : 0);
    return kEncodedState + policy * 100 + level;
}

bool Decode(int value, ThreadState* state) {
    if (value > -20 && value < 15) {
        *state = ThreadState{SCHED_OTHER, -value, false};
        return true;
    }
    if (value < kEncodedState) return false;
    const int encoded_policy = (value - kEncodedState) / 100;
    if (encoded_policy >= 2 * kResetOnForkPolicies) return false;
    const int policy = encoded_policy % kResetOnForkPolicies;
    const int level = (value - kEncodedState) % 100;
    *state = ThreadState{policy, IsRealTime(policy) ? level : level - 20,
                         encoded_policy >= kResetOnForkPolicies};
    return true;
}

bool SetNice(int nice_value) {
    return setpriority(PRIO_PROCESS, 0, nice_value) == 0;
}

bool SetPolicy(const ThreadState& state) {
    sched_param param{};
    param.sched_priority = IsRealTime(state.policy) ? state.level : 0;
    const int policy = state.policy | (state.reset_on_fork ? SCHED_RESET_ON_FORK : 0);
    return pthread_setschedparam(pthread_self(), policy, &param) == 0;
}

// The policy is set only when it differs from the thread's: a thread that
// stayed ordinary (an unprivileged raise) needs its nice value alone.
bool Apply(const ThreadState& state) {
    ThreadState current{};
    if (!ReadPolicy(&current)) return false;
    const bool same_policy =
        current.policy == state.policy && current.reset_on_fork == state.reset_on_fork;
    if (IsRealTime(state.policy))
        return (same_policy && current.level == state.level) || SetPolicy(state);
    return (same_policy || SetPolicy(state)) && SetNice(state.level);
}

int LowestFifoPriority() {
    static const int lowest = sched_get_priority_min(SCHED_FIFO);
    return lowest;
}

// The lowest nice value this thread may take without privilege.
int PermittedNice(int current) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NICE, &limit) != 0) return current;
    const rlim_t ceiling = limit.rlim_cur > 40 ? 40 : limit.rlim_cur;
    const int permitted = 20 - static_cast<int>(ceiling);
    return permitted < current ? permitted : current;
}

// Real-time first; without the privilege, the best nice value.
int RaiseToRealTime() {
    sched_param param{};
    param.sched_priority = LowestFifoPriority();
    const int result = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (result == 0) return 1;
    return result == EPERM ? 2 : 0;
}

int RaiseToTimeCritical() {
    const TimeCriticalLevel level = TimeCriticalLevelInUse();
    if (level == TimeCriticalLevel::kUnchanged) return 1;
    ThreadState current{};
    if (!ReadPolicy(&current)) return 0;
    // A thread the host already runs real-time is above every ordinary
    // thread: moving it to the lowest real-time priority would lower it.
    if (IsRealTime(current.policy)) return 1;
    if (level == TimeCriticalLevel::kRealTime) {
        const int real_time = RaiseToRealTime();
        if (real_time != 2) return real_time;
    }

    if (!ReadState(&current)) return 0;
    if (SetNice(kLowestNice)) return 1;
    if (errno != EACCES && errno != EPERM) return 0;
    const int permitted = PermittedNice(current.level);
    if (permitted < current.level && !SetNice(permitted)) return 0;
    return 1;
}

}  // namespace

int ThreadPriorityGet() {
    ThreadState state{};
    if (!ReadState(&state)) return 0;
    return Encode(state);
}

int ThreadPrioritySet(int priority) {
    if (priority == kThreadPriorityTimeCritical) return RaiseToTimeCritical();
    ThreadState state{};
    if (!Decode(priority, &state)) return 0;
    if (!IsRealTime(state.policy) && (state.level < kLowestNice || state.level > kHighestNice))
        return 0;
    return Apply(state) ? 1 : 0;
}

void SleepMs(uint32_t milliseconds) {
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
}

}  // namespace morvane
