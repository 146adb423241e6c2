// Output written by a thread of its own: a reader that lags or stops never
// holds up the writer, and the end says what did not get out. (Output that
// gets out whole and in order is what every live monitor test reads.)
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <string>

#include "monitor/detached_output.h"

namespace morvane::monitor {
namespace {

using std::chrono::milliseconds;

// A sink held up like a reader that stopped reading; one that fails like a
// full disk.
TEST(DetachedOutput, ALaggingOrFailingReaderCostsOutputNeverTheWriter) {
    struct Case {
        const char* name;
        bool block;  // the sink waits until released
        int fails;   // errno of a failing sink; 0: it writes
        const char* says;
    } cases[] = {
        {"stopped reading", true, 0, "its reader stopped reading"},
        {"full disk", false, ENOSPC, "No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        DetachedOutput out(
            [c, released](const std::string&) {
                if (c.block) released.wait();
                errno = c.fails;
                return c.fails == 0;
            },
            64);
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 1000; ++i)
            out.Write("0123456789");  // far more than the room of 64 bytes
        std::string error;
        EXPECT_FALSE(out.Finish(milliseconds(100), &error));
        EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1500));
        EXPECT_NE(error.find(" bytes not written: "), std::string::npos) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        release.set_value();
    }
}

}  // namespace
}  // namespace morvane::monitor
