// Ordinary work on every processor: one child process per core spinning at
// SCHED_OTHER, nice 0, for as long as a BusyCores lives. The children die
// with it on every way out: the destructor, exit(), SIGINT, SIGTERM or
// SIGHUP to the benchmark (a handler kills them and lets the signal go on),
// and the parent's death by any other means (PR_SET_PDEATHSIG).
//
// Create it on the main thread while that thread runs ordinary: the death
// signal is tied to the thread that forked, and a child begins with its
// scheduling.
#pragma once

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace morvane::bench {

namespace busy_detail {

constexpr int kMaxChildren = 64;
inline std::atomic<pid_t> children[kMaxChildren];

// Async-signal-safe: kill() and atomic loads only.
inline void KillAll() {
    for (auto& child : children) {
        const pid_t pid = child.exchange(0);
        if (pid > 0) kill(pid, SIGKILL);
    }
}

inline void OnSignal(int signal_number) {
    KillAll();
    ::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// Once per program: the handlers and the exit hook.
inline void InstallCleanup() {
    static const bool installed = [] {
        for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
            ::signal(signal_number, OnSignal);
        std::atexit(KillAll);
        return true;
    }();
    (void)installed;
}

[[noreturn]] inline void Spin(pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(0);  // the parent died before the line above
    sched_param param{};
    sched_setscheduler(0, SCHED_OTHER, &param);
    setpriority(PRIO_PROCESS, 0, 0);
    volatile unsigned long turns = 0;
    for (;;)
        turns = turns + 1;
}

}  // namespace busy_detail

class BusyCores {
  public:
    // One spinning child per online processor; count() says how many started.
    BusyCores() {
        busy_detail::InstallCleanup();
        const long cores = sysconf(_SC_NPROCESSORS_ONLN);
        const pid_t parent = getpid();
        for (long i = 0; i < cores && count_ < busy_detail::kMaxChildren; ++i) {
            const pid_t pid = fork();
            if (pid == 0) busy_detail::Spin(parent);
            if (pid < 0) break;
            pids_[count_++] = pid;
            for (auto& slot : busy_detail::children) {
                pid_t empty = 0;
                if (slot.compare_exchange_strong(empty, pid)) break;
            }
        }
    }
    ~BusyCores() {
        for (int i = 0; i < count_; ++i) {
            for (auto& slot : busy_detail::children) {
                pid_t mine = pids_[i];
                slot.compare_exchange_strong(mine, 0);
            }
            kill(pids_[i], SIGKILL);
            waitpid(pids_[i], nullptr, 0);
        }
    }
    BusyCores(const BusyCores&) = delete;
    BusyCores& operator=(const BusyCores&) = delete;

    int count() const { return count_; }

  private:
    pid_t pids_[busy_detail::kMaxChildren] = {};
    int count_ = 0;
};

}  // namespace morvane::bench
