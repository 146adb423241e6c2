// The command line parsed once into what it asks for: the action, the
// driver's and the log's options, the session's options and its steps
// ("write ... then read ..."), each typed and with its own output form.
// Options go anywhere; every step is checked before the channel opens.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "driver_library.h"
#include "driver_log.h"
#include "frame_option.h"

namespace morvane::tool {

using Arguments = std::vector<std::string>;

// The exit statuses. Each failure message names its kind in the words of
// this table, so that message and status agree.
enum ExitCode : int {
    kExitOk = 0,
    kExitToolFailed = 1,       // driver library, simulator or its block file
    kExitUsage = 2,            // the command line is wrong
    kExitRefused = 3,          // address or value refused (by this tool or the driver)
    kExitPlcRefused = 4,       // the PLC answered with an error number
    kExitLineFailed = 5,       // no valid exchange: no answer, NAK, malformed reply
    kExitPortUnavailable = 6,  // the port cannot be opened
    kExitInterrupted = 130,    // Ctrl-C; 128 + the signal's number, as shells report it
};

// The table for -h (and so the man page) and docs/command-line.md.
inline constexpr char kExitCodesUsage[] =
    "exit status:\n"
    "    0  done\n"
    "    1  tool failure: driver library, simulator or its block file, output\n"
    "    2  usage error\n"
    "    3  address or value refused\n"
    "    4  PLC refused (its error number is named)\n"
    "    5  line failure: no valid exchange (no answer, NAK, malformed reply)\n"
    "    6  port cannot be opened\n"
    "  130  interrupted (Ctrl-C); 143 SIGTERM, 129 SIGHUP, 141 output's reader gone\n";

enum class OutputForm { kText, kHexDump, kJson, kCsv };

struct DisplayOptions {
    OutputForm form = OutputForm::kText;
    bool signed_words = false;
};

// The options of a session on one channel.
struct SessionOptions {
    std::string port;        // the driver's port name; empty: the embedded simulator
    std::string given_port;  // --port as given: a link is followed again after a re-plug
    std::string device;      // the device's path, links resolved (empty: the simulator)
    LineChoice line;         // baud rate, frame, protocol
    int32_t timeout = 0;     // internal time-out in hundredths; 0: ColdStart's
    std::string sim_blocks;  // simulator data blocks: loaded if present, saved at the end
    bool sim_trace = false;  // the simulator's line trace on standard error
    bool pace = false;       // the simulator paces the line at the chosen rate and frame
    bool trace = false;      // every byte on the line, on standard error
    std::string trace_file;  // the trace there instead; a capture when named *.mcap
};

enum class StepKind { kRead, kWrite, kPoll, kBrowse };

struct Step {
    StepKind kind = StepKind::kRead;
    std::string address;
    int32_t count = 0;  // a block of count values; 0: one value
    Arguments values;   // write: one value, or several as a block
    long every_ms = 1000;
    long times = 0;  // poll: 0 for ever
    DisplayOptions display;
};

enum class Action { kHelp, kVersion, kInfo, kParse, kSteps };

struct Invocation {
    Action action = Action::kSteps;
    std::string driver_path;
    LogOptions log;
    SessionOptions session;
    Arguments addresses;  // parse
    std::vector<Step> steps;
};

// A command of the usage text; steps run on a channel, the others alone.
struct Command {
    const char* name;
    const char* arguments;
    const char* summary;
    Action action;
    StepKind step = StepKind::kRead;
};
std::span<const Command> Commands();
const Command* FindCommand(const std::string& name);

// Parses arguments (without the program's name); false with *error, one
// line with the reason and what is valid.
bool ParseCommandLine(const Arguments& arguments, Invocation* invocation, std::string* error);

void PrintUsage(FILE* out);

// "morvane: text" (or who's) on standard error; returns code.
int Fail(const std::string& text, int code, const char* who = "morvane");

// A whole decimal number within low..high.
bool TakeNumber(const std::string& text, long low, long high, long* value);

// The port name the driver takes for a device: devices under /dev/ go
// without the prefix, which the driver puts back, since a port name holds
// at most 11 characters.
std::string PortNameOf(const std::string& device);

// A port as the user names it (a path, a link such as /dev/serial/by-id/...,
// or a name under /dev/) resolved to its device and the driver's port name;
// false with *error for a name still too long for the driver or a file that
// is no serial device (a missing one fails when the port opens). option:
// the option that gave the port, which a refusal names.
bool ResolvePort(const std::string& given, std::string* device, std::string* port,
                 std::string* error, const std::string& option = "--port");

int RunInfo(const DriverLibrary& driver);
int RunVersion(const DriverLibrary& driver);
// Code page 437 text (the driver's banner) in UTF-8; control bytes other
// than the line feed are left out.
std::string Cp437ToUtf8(const char* text);
int RunParse(const DriverLibrary& driver, const Arguments& addresses);
extern const char kAddressGrammar[];

// Watches a line; needs no driver.
int RunMonitor(const Arguments& arguments);

// The steps on one channel.
int RunSteps(const DriverLibrary& driver, const Invocation& invocation);

}  // namespace morvane::tool
