// A watchdog for a call that must end at a bound of its own, such as a wait
// for a partner that never stops sending: with the bound broken the test
// would hang until the runner's time-out, or for ever outside it. A call
// stuck in a loop cannot be stopped, so when the deadline passes the test
// program ends at once, naming the test and the call.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace morvane::test {

class Deadline {
  public:
    // Guards the scope from here to the end of the object's life.
    Deadline(std::chrono::milliseconds limit, std::string call)
        : call_(std::move(call)), watchdog_([this, limit] { Watch(limit); }) {}
    ~Deadline() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
        }
        ended_signal_.notify_one();
        watchdog_.join();
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

  private:
    void Watch(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (ended_signal_.wait_for(lock, limit, [this] { return ended_; })) return;
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::fflush(stdout);
        std::fprintf(stderr, "\n[  FAILED  ] %s.%s: %s did not return within %lld ms\n",
                     test != nullptr ? test->test_suite_name() : "?",
                     test != nullptr ? test->name() : "?", call_.c_str(),
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::_Exit(1);
    }

    std::string call_;
    std::mutex mutex_;
    std::condition_variable ended_signal_;
    bool ended_ = false;
    std::thread watchdog_;  // last: starts once the members it reads exist
};

}  // namespace morvane::test
