// Session options and the steps of one invocation, checked before the
// channel opens.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
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
        {"/dev/serial/by-id/usb-PLC", "serial/by-id/usb-PLC"},  // not there: fails on open
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

TEST(SessionOptions, LineSettingsAsAUserWritesThem) {
    struct {
        Arguments arguments;
        const char* line;  // what the driver gets, on its default of 9600 8E1
        const char* protocol;
    } const cases[] = {
        {{"--frame", "7o2"}, "9600 7O2", ""},
        {{"--frame", "5N1.5", "--baud", "1200"}, "1200 5N1.5", ""},
        {{"--parity", "Mark", "--data-bits", "7", "--baud", "57600"}, "57600 7M1", ""},
        {{"--frame", "8N1", "--parity", "space"}, "9600 8S1", ""},
        {{"--stop-bits", "2", "--protocol", "3964r"}, "9600 8E2", "3964R"},
        {{"--protocol", "3964"}, "9600 8E1", "3964"},
    };
    const LineParameters defaults{9600, 8, 0, 2};
    for (const auto& c : cases) {
        Arguments arguments = c.arguments;
        arguments.push_back("001002");
        SessionOptions options;
        std::string error;
        ASSERT_TRUE(TakeSessionOptions(&arguments, &options, &error)) << error;
        EXPECT_EQ(DescribeLine(ChosenLine(options.line, defaults)), c.line);
        EXPECT_EQ(options.line.protocol, c.protocol);
    }
}

TEST(SessionOptions, SettingsNoLineCanHoldAreRefusedWithTheReason) {
    struct {
        Arguments arguments;
        const char* error;
    } const cases[] = {
        {{"--baud", "115200"},
         "baud rate 115200 does not fit the host record's 16-bit field: 57600 is the highest "
         "standard rate it holds"},
        {{"--baud", "14400"},
         "baud rate 14400 is not a standard rate: 50 75 110 134 150 200 300 600 1200 1800 2400 "
         "4800 9600 19200 38400 57600"},
        {{"--frame", "8X1"}, "bad value 8X1 for --frame"},
        {{"--frame", "9E1"}, "bad value 9E1 for --frame"},
        {{"--data-bits", "4"}, "bad value 4 for --data-bits"},
        {{"--stop-bits", "1.5"}, "1.5 stop bits go with 5 data bits only"},
        {{"--frame", "5E2"}, "2 stop bits go with 6 to 8 data bits"},
        {{"--protocol", "3964RR"}, "bad value 3964RR for --protocol"},
        {{"--port", "/dev/null", "--sim-blocks", "b.txt"},
         "--sim-blocks acts on the embedded simulator only, not on --port null"},
        {{"--pace", "--port", "/dev/null"},
         "--pace acts on the embedded simulator only, not on --port null"},
    };
    for (const auto& c : cases) {
        Arguments arguments = c.arguments;
        arguments.push_back("001002");
        SessionOptions options;
        std::string error;
        EXPECT_FALSE(TakeSessionOptions(&arguments, &options, &error));
        EXPECT_EQ(error, c.error);
    }
}

// Links resolve to the device before the driver's 11 characters apply.
TEST(SessionOptions, PortLinksResolveToTheirDevice) {
    const std::filesystem::path dir =
        std::filesystem::path(::testing::TempDir()) / "morvane_port_links";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink("/dev/null", dir / "usb-PLC-if00-port0");
    const std::filesystem::path long_file = dir / "a-file-with-a-long-name";
    std::ofstream(long_file.string()) << "";
    std::filesystem::create_symlink(long_file, dir / "short");
    std::string device, port, error;
    EXPECT_TRUE(ResolvePort((dir / "usb-PLC-if00-port0").string(), &device, &port, &error));
    EXPECT_EQ(port, "null");
    EXPECT_FALSE(ResolvePort((dir / "short").string(), &device, &port, &error));
    EXPECT_EQ(error, "port " + (dir / "short").string() + " is " + long_file.string() +
                         ", still too long: at most 11 characters after /dev/");
    // A missing device fails as a port that does not open, with its reason.
    EXPECT_TRUE(ResolvePort("/dev/serial/by-id/usb-none", &device, &port, &error));
    std::filesystem::remove_all(dir);
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

// The usage text lays the table out in columns of 6 and 20 characters; a
// command runs alone or as a step, never both.
TEST(CommandTable, EntriesFitTheUsageColumnsAndStepsNameThemselves) {
    for (const Command& command : Commands()) {
        SCOPED_TRACE(command.name);
        EXPECT_EQ(FindCommand(command.name), &command);
        EXPECT_LE(std::strlen(command.name), 6u);
        EXPECT_LE(std::strlen(command.arguments), 20u);
        EXPECT_NE(command.run == nullptr, command.step.run == nullptr);
        if (command.step.run == nullptr) continue;
        EXPECT_EQ(std::string(command.step.usage).rfind(command.name, 0), 0u);
        EXPECT_LE(command.step.fewest, command.step.most);
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
