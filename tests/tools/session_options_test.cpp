// Session options and the steps of one invocation, checked before the
// channel opens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session_options.h"
#include "step_plan.h"

namespace morvane::tool {
namespace {

TEST(SessionOptions, PortsUnderDevGoWithoutThePrefix) {
    struct {
        const char* given;
        const char* port;  // null: refused
    } const cases[] = {
        {"/dev/ttyUSB0", "ttyUSB0"},  // 12 characters with the prefix
        {"/dev/pts/12", "pts/12"},
        {"ttyS0", "ttyS0"},
        {"/tmp/line", "/tmp/line"},
        {"/dev/serial/by-id/usb-PLC", nullptr},  // too long even without /dev/
        {"/dev/", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        Arguments arguments = {"--port", c.given, "001002"};
        SessionOptions options;
        std::string error;
        const bool taken = TakeSessionOptions(&arguments, &options, &error);
        EXPECT_EQ(taken, c.port != nullptr) << c.given << ": " << error;
        if (c.port == nullptr) continue;
        EXPECT_EQ(options.port, c.port);
        EXPECT_EQ(arguments, Arguments{"001002"});
    }
}

TEST(SessionOptions, UnknownOptionsAndBadValuesAreNamed) {
    struct {
        Arguments arguments;
        const char* error;
    } const cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"--bogus", "001002"}, "unknown option --bogus"},
        {{"--baud"}, "--baud needs a value"},
        {{"--baud", "fast", "001002"}, "bad value fast for --baud"},
        {{"--protocol", "3965", "001002"}, "bad value 3965 for --protocol"},
        {{"--timeout", "0", "001002"}, "bad value 0 for --timeout"},
    };
    for (const auto& c : cases) {
        Arguments arguments = c.arguments;
        SessionOptions options;
        std::string error;
        EXPECT_FALSE(TakeSessionOptions(&arguments, &options, &error));
        EXPECT_EQ(error, c.error);
    }
}

TEST(StepPlan, StepsAreCheckedBeforeAnyRuns) {
    struct {
        const char* first;
        Arguments arguments;
        const char* error;  // null: planned
    } const cases[] = {
        {"write",
         {"001002", "1", "then", "read", "001002", "then", "poll", "001002", "2", "--every", "10",
          "--times", "3"},
         nullptr},
        {"browse", {}, nullptr},
        {"write",
         {"001002", "1", "then", "write", "001002"},
         "usage: write ADDRESS VALUE [VALUE...]"},
        {"read", {"001002", "then"}, "no step after \"then\""},
        {"read", {"001002", "then", "bogus"}, "unknown step bogus"},
        {"read", {"001002", "0"}, "usage: read ADDRESS [COUNT]"},
        {"read", {"001002", "4097"}, "usage: read ADDRESS [COUNT]"},
        {"read",
         {"001002", "--protocol", "3964R"},
         "--protocol: session options go before the first address"},
        {"poll",
         {"001002", "--times", "x"},
         "usage: poll ADDRESS [COUNT] [--every MS] [--times N]"},
        {"poll", {"001002", "--every"}, "usage: poll ADDRESS [COUNT] [--every MS] [--times N]"},
        {"poll",
         {"001002", "--every", "-5"},
         "usage: poll ADDRESS [COUNT] [--every MS] [--times N]"},
        {"browse", {"001002"}, "usage: browse"},
    };
    for (const auto& c : cases) {
        std::vector<Step> steps;
        std::string error;
        const bool planned = PlanSteps(c.first, c.arguments, &steps, &error);
        EXPECT_EQ(planned, c.error == nullptr) << c.first << ": " << error;
        if (c.error != nullptr) {
            EXPECT_EQ(error, c.error);
        }
    }
}

TEST(StepPlan, PollTakesItsOptionsAnywhere) {
    PollArguments poll;
    ASSERT_TRUE(TakePollArguments({"--times", "3", "001002", "--every", "250", "4"}, &poll));
    EXPECT_EQ(poll.positional, (Arguments{"001002", "4"}));
    EXPECT_EQ(poll.every_ms, 250);
    EXPECT_EQ(poll.times, 3);
}

}  // namespace
}  // namespace morvane::tool
