// The commands of the command-line host in one table: the usage text, the
// check of the steps before the line opens and the dispatch all read it.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "driver_library.h"

namespace morvane::tool {

using Arguments = std::vector<std::string>;

// COUNT of read and poll, and the values of one write: at most this many.
constexpr long kMaxCount = 4096;

// A command that runs on its own with the loaded driver and its arguments;
// returns the process exit code.
using CommandFunction = int (*)(const DriverLibrary& driver, const Arguments& arguments);

// A step of a session ("write ... then read ..."): runs on the session's
// open channel with arguments of the shape its table entry allows.
struct StepContext;
using StepFunction = int (*)(StepContext& context, const Arguments& arguments);

// What a step's positional arguments are.
enum class Operands {
    kNone,           // browse asks at run time
    kAddressCount,   // ADDRESS [COUNT]
    kAddressValues,  // ADDRESS VALUE...
    kPolled,         // ADDRESS [COUNT], and --every MS and --times N anywhere
};

struct StepForm {
    StepFunction run = nullptr;  // null: not a step
    const char* usage = "";      // the whole step, for the refusal of a bad one
    Operands operands = Operands::kNone;
    size_t fewest = 0;  // positional arguments
    size_t most = 0;
};

struct Command {
    const char* name;
    const char* arguments;  // the usage text's column
    const char* summary;
    CommandFunction run = nullptr;  // a command alone: info, parse
    StepForm step{};                // a step of a session: read, write, poll, browse
};

// Every command, in the order the usage text lists them.
std::span<const Command> Commands();
// The command of that name, or null.
const Command* FindCommand(const std::string& name);

// info_command.cpp
int RunInfo(const DriverLibrary& driver, const Arguments& arguments);

// parse_command.cpp: what addresses name; their grammar for the usage text
int RunParse(const DriverLibrary& driver, const Arguments& arguments);
extern const char kAddressGrammar[];

// version_command.cpp: --version
int RunVersion(const DriverLibrary& driver);

// transfer_commands.cpp: gates on a port or the embedded simulator. The
// steps from first on, joined by "then", run on one channel.
int RunSteps(const DriverLibrary& driver, const std::string& first, const Arguments& arguments);
int StepRead(StepContext& context, const Arguments& arguments);
int StepWrite(StepContext& context, const Arguments& arguments);
int StepPoll(StepContext& context, const Arguments& arguments);
int StepBrowse(StepContext& context, const Arguments& arguments);

}  // namespace morvane::tool
