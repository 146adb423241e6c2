// The command line: session options anywhere, the steps of one invocation,
// checked before the channel opens.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "commands.h"
#include "support/pty_pair.h"
#include "support/temp_directory.h"

namespace morvane::tool {
namespace {

// The command line "read ARGUMENTS" parsed; false with *error.
bool TakeSessionOptions(Arguments* arguments, SessionOptions* options, std::string* error) {
    Arguments line = {"read"};
    line.insert(line.end(), arguments->begin(), arguments->end());
    Invocation invocation;
    if (!ParseCommandLine(line, &invocation, error)) return false;
    *options = invocation.session;
    *arguments = {invocation.steps[0].address};
    return true;
}

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
        {{"--baud", "fast", "001002"},
         "bad value fast for --baud: one of 50 75 110 134 150 200 300 600 1200 1800 2400 4800 "
         "9600 19200 38400 57600"},
        {{"--protocol", "3965", "001002"}, "bad value 3965 for --protocol: 3964 or 3964R"},
        {{"--timeout", "0", "001002"},
         "bad value 0 for --timeout: 1 to 100000 hundredths of a second"},
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

#define FRAME_VALUES "data bits 5 to 8, parity N O E M or S, stop bits 1, 1.5 or 2: 8E1, 7O2, 5N1.5"

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
        {{"--frame", "8X1"}, "bad value 8X1 for --frame: " FRAME_VALUES},
        {{"--frame", "9E1"}, "bad value 9E1 for --frame: " FRAME_VALUES},
        {{"--data-bits", "4"}, "bad value 4 for --data-bits: 5 to 8"},
        {{"--stop-bits", "1.5"}, "1.5 stop bits go with 5 data bits only"},
        {{"--frame", "5E2"}, "2 stop bits go with 6 to 8 data bits"},
        {{"--protocol", "3964RR"}, "bad value 3964RR for --protocol: 3964 or 3964R"},
        {{"--port", "/dev/null", "--sim-blocks", "b.txt"},
         "--sim-blocks acts on the embedded simulator only, not on --port null"},
        {{"--pace", "--port", "/dev/null"},
         "--pace acts on the embedded simulator only, not on --port null"},
        // The block file spoilt by a log or trace, two streams in one file.
        {{"--sim-blocks", "b.txt", "--log", "./b.txt"},
         "--log and --sim-blocks name the same file ./b.txt: give each its own"},
        {{"--trace-file", "t.txt", "--sim-blocks", "x/../t.txt"},
         "--trace-file and --sim-blocks name the same file t.txt: give each its own"},
        {{"--log", "l.txt", "--trace-file", "l.txt"},
         "--log and --trace-file name the same file l.txt: give each its own"},
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

// One file by two names (a hard link) is one file; a FIFO takes two
// streams, the session's port none.
TEST(SessionOptions, OneFileByAnotherNameIsStillOneFile) {
    const std::filesystem::path dir = test::ScratchFile("morvane_same_file");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream((dir / "blocks").string()) << "";
    std::filesystem::create_hard_link(dir / "blocks", dir / "other");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string blocks = (dir / "blocks").string(), other = (dir / "other").string();
    const std::string fifo = (dir / "fifo").string();
    Arguments arguments = {"--sim-blocks", blocks, "--log", other, "001002"};
    SessionOptions options;
    std::string error;
    EXPECT_FALSE(TakeSessionOptions(&arguments, &options, &error));
    EXPECT_EQ(error, "--log and --sim-blocks name the same file " + other + ": give each its own");
    arguments = {"--log", fifo, "--trace-file", fifo, "001002"};
    EXPECT_TRUE(TakeSessionOptions(&arguments, &options, &error)) << error;
    // A stream into the session's own port would go onto the line.
    test::PtyPair port;
    ASSERT_TRUE(port.ok());
    for (const char* option : {"--log", "--trace-file"}) {
        arguments = {"--port", port.name(), option, port.name(), "001002"};
        EXPECT_FALSE(TakeSessionOptions(&arguments, &options, &error));
        EXPECT_EQ(error, std::string(option) + " " + port.name() +
                             " is the session's port: it would go onto the line");
    }
    std::filesystem::remove_all(dir);
}

// Links resolve to the device before the driver's 11 characters apply; a
// file that is no device is left to the port's diagnosis, whatever its name.
TEST(SessionOptions, PortLinksResolveToTheirDevice) {
    const std::filesystem::path dir = test::ScratchFile("morvane_port_links");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink("/dev/null", dir / "usb-PLC-if00-port0");
    const std::filesystem::path long_file = dir / "a-file-with-a-long-name";
    std::ofstream(long_file.string()) << "";
    std::filesystem::create_symlink(long_file, dir / "short");
    std::string device, port, error;
    EXPECT_TRUE(ResolvePort((dir / "usb-PLC-if00-port0").string(), &device, &port, &error));
    EXPECT_EQ(port, "null");
    EXPECT_TRUE(ResolvePort((dir / "short").string(), &device, &port, &error)) << error;
    EXPECT_EQ(device, long_file.string());
    // A missing device fails as a port that does not open, with its reason.
    EXPECT_TRUE(ResolvePort("/dev/serial/by-id/usb-none", &device, &port, &error));
    // A device node of a long name (the null device's numbers) is too long.
    const std::filesystem::path node = dir / "a-device-with-a-long-name";
    if (mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
        std::filesystem::create_symlink(node, dir / "dev");
        EXPECT_FALSE(ResolvePort((dir / "dev").string(), &device, &port, &error));
        EXPECT_EQ(error, "port " + (dir / "dev").string() + " is " + node.string() +
                             ", still too long: at most 11 characters after /dev/");
    }
    std::filesystem::remove_all(dir);
}

// A name that starts "./" or "../" is the current directory's, not /dev/'s.
TEST(SessionOptions, PortRelativeToTheCurrentDirectory) {
    test::TempCurrentDirectory here;
    ASSERT_TRUE(here.ok());
    std::filesystem::create_symlink("/dev/null", "line");
    std::string device, port, error;
    const std::string parent_way =
        "../" + std::filesystem::current_path().filename().string() + "/line";
    for (const std::string& given : {std::string("./line"), parent_way}) {
        EXPECT_TRUE(ResolvePort(given, &device, &port, &error)) << given << ": " << error;
        EXPECT_EQ(port, "null") << given;
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
        {"read", {"001002", "then", "bogus"}, "unknown step bogus: read, write, poll or browse"},
        {"read", {"001002", "0"}, "bad COUNT 0 for 001002: a number of values from 1"},
        {"read",
         {"001002", "4097"},
         nullptr},  // against the address's kind, with the driver's parse
        {"read", {"001002", "--protocol", "3964R"}, nullptr},  // options anywhere
        {"read", {"001002", "--every", "10"}, "--every belongs to a poll step"},
        {"poll", {"001002", "--times", "x"}, "bad value x for --times: a count, 0 for ever"},
        {"poll", {"001002", "--every"}, "--every needs a value"},
        {"poll",
         {"001002", "--every", "-5"},
         "bad value -5 for --every: 1 to 86400000 milliseconds"},
        {"browse", {"001002"}, "usage: browse"},
        {"parse",
         {"--port", "x", "001002"},
         "--port is not an option of parse, which opens no port and reads no value"},
        {"read",
         {"--json", "001002", "--csv"},
         "--csv conflicts with the output form already "
         "chosen: one of --hex, --json, --csv"},
    };
    for (const auto& c : cases) {
        Arguments line = c.arguments;
        line.insert(line.begin(), c.first);
        Invocation invocation;
        std::string error;
        const bool planned = ParseCommandLine(line, &invocation, &error);
        EXPECT_EQ(planned, c.error == nullptr) << c.first << ": " << error;
        if (c.error != nullptr) {
            EXPECT_EQ(error, c.error);
        }
    }
}

// The usage text lays the table out in columns of 6 and 20 characters.
TEST(CommandTable, EntriesFitTheUsageColumnsAndFindThemselves) {
    for (const Command& command : Commands()) {
        SCOPED_TRACE(command.name);
        EXPECT_EQ(FindCommand(command.name), &command);
        EXPECT_LE(std::strlen(command.name), 6u);
        EXPECT_LE(std::strlen(command.arguments), 20u);
    }
}

// Options go anywhere; output options before the first step's address are
// every step's, a later step's are its own.
TEST(StepPlan, OptionsAnywhereAndOutputPerStep) {
    Invocation invocation;
    std::string error;
    ASSERT_TRUE(
        ParseCommandLine({"--json", "poll",   "--times",   "3",     "001002", "--every", "250",
                          "4",      "--port", "/dev/null", "then",  "read",   "--hex",   "--signed",
                          "001000", "8",      "then",      "write", "001002", "-5",      "-v"},
                         &invocation, &error))
        << error;
    ASSERT_EQ(invocation.steps.size(), 3u);
    const Step& poll = invocation.steps[0];
    EXPECT_EQ(poll.address, "001002");
    EXPECT_EQ(poll.count, 4);
    EXPECT_EQ(poll.every_ms, 250);
    EXPECT_EQ(poll.times, 3);
    EXPECT_EQ(poll.display.form, OutputForm::kJson);
    EXPECT_FALSE(poll.display.signed_words);
    EXPECT_EQ(invocation.steps[1].display.form, OutputForm::kHexDump);
    EXPECT_TRUE(invocation.steps[1].display.signed_words);
    EXPECT_EQ(invocation.steps[2].display.form, OutputForm::kJson);
    EXPECT_EQ(invocation.steps[2].values, Arguments{"-5"});
    EXPECT_EQ(invocation.session.port, "null");
    EXPECT_TRUE(invocation.log.show_start_up);
}

// --every and --times before the command are every poll step's; a step's
// own win, and with no poll step at all they are refused.
TEST(StepPlan, PollOptionsBeforeTheCommandAreEveryPollStepsOwn) {
    Invocation invocation;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"--times", "2", "--every", "50", "poll", "001002", "then", "read",
                                  "001000", "then", "poll", "001004", "--times", "5"},
                                 &invocation, &error))
        << error;
    ASSERT_EQ(invocation.steps.size(), 3u);
    EXPECT_EQ(invocation.steps[0].times, 2);
    EXPECT_EQ(invocation.steps[0].every_ms, 50);
    EXPECT_EQ(invocation.steps[2].times, 5);
    EXPECT_EQ(invocation.steps[2].every_ms, 50);
    Invocation read_only;
    EXPECT_FALSE(ParseCommandLine({"--times", "2", "read", "001002"}, &read_only, &error));
    EXPECT_EQ(error, "--times belongs to a poll step");
}

}  // namespace
}  // namespace morvane::tool
