// The subcommands of the command-line host, one group per file.
#pragma once

#include <string>
#include <vector>

#include "driver_library.h"

namespace morvane::tool {

using Arguments = std::vector<std::string>;

// A subcommand: runs with the loaded driver and its own arguments; returns
// the process exit code.
using CommandFunction = int (*)(const DriverLibrary& driver, const Arguments& arguments);

struct Command {
    const char* name;
    const char* arguments;  // for the usage text
    const char* summary;
    CommandFunction run;
};

// info_command.cpp
int RunInfo(const DriverLibrary& driver, const Arguments& arguments);

// parse_command.cpp: what addresses name; their grammar for the usage text
int RunParse(const DriverLibrary& driver, const Arguments& arguments);
extern const char kAddressGrammar[];

// version_command.cpp: --version
int RunVersion(const DriverLibrary& driver);

// transfer_commands.cpp: gates on a port or the embedded simulator
int RunRead(const DriverLibrary& driver, const Arguments& arguments);
int RunWrite(const DriverLibrary& driver, const Arguments& arguments);
int RunPoll(const DriverLibrary& driver, const Arguments& arguments);
int RunBrowse(const DriverLibrary& driver, const Arguments& arguments);

}  // namespace morvane::tool
