// morvane: a minimal host for the driver. It loads the driver library with
// dlopen and drives it through TevMain exactly as a host would.
//
//   morvane [--driver PATH] [--log FILE] [--log-level N] COMMAND [ARGS...]
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "line_session.h"
#include "ostrel/ostrel_control.h"
#include "session_options.h"

namespace morvane::tool {
namespace {

constexpr Command kCommands[] = {
    {"info", "", "print what the driver reports to its host (GetTevInfo)", RunInfo},
    {"read", "ADDRESS [COUNT]", "read a gate (a block of COUNT values)", RunRead},
    {"write", "ADDRESS VALUE...", "write a gate (several values: a block)", RunWrite},
    {"poll", "ADDRESS [COUNT]", "read again and again (--every MS, --times N)", RunPoll},
    {"browse", "", "compose an address in the Tag Format dialog and read it", RunBrowse},
    {"parse", "ADDRESS...", "what each address names, or why it is refused", RunParse},
};

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: morvane [--driver PATH] [--log FILE] [--log-level N] COMMAND [ARGS...]\n"
                 "\n"
                 "  --driver PATH   driver library to load (default: libmorvane.so built\n"
                 "                  beside this program; MORVANE_DRIVER overrides it too)\n"
                 "  --log FILE      append the driver's log lines to FILE (default: stderr)\n"
                 "  --log-level N   drop log lines below level N (8 traces, 32 operator)\n"
                 "  -h, --help      this text\n"
                 "\ncommands:\n");
    for (const Command& command : kCommands)
        std::fprintf(out, "  %-6s %-20s %s\n", command.name, command.arguments, command.summary);
    std::fprintf(out,
                 "\nSteps join with \"then\" and run on one channel:\n"
                 "  morvane write 001010F 3.25 then read 001010F\n"
                 "\nsession options of read, write, poll and browse (before the address):\n%s"
                 "\n%s",
                 kSessionOptionsUsage, kAddressGrammar);
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

}  // namespace

int Main(int argc, char** argv) {
    const char* from_environment = std::getenv("MORVANE_DRIVER");
    std::string driver_path = from_environment != nullptr ? from_environment : "";
    int at = 1;
    for (; at < argc && argv[at][0] == '-'; ++at) {
        const std::string option = argv[at];
        if (option == "--help" || option == "-h") {
            PrintUsage(stdout);
            return 0;
        }
        if (option != "--driver" && option != "--log" && option != "--log-level") {
            std::fprintf(stderr, "morvane: unknown option %s (see morvane --help)\n",
                         option.c_str());
            return 2;
        }
        if (at + 1 >= argc) {
            std::fprintf(stderr, "morvane: %s needs a value\n", option.c_str());
            return 2;
        }
        const char* value = argv[++at];
        long level = 0;
        if (option == "--driver") {
            driver_path = value;
        } else if (option == "--log") {
            if (OstrelSetLogFile(value) != 0) {
                std::fprintf(stderr, "morvane: cannot open log file %s\n", value);
                return 2;
            }
        } else if (TakeNumber(value, 0, INT_MAX, &level)) {
            OstrelSetMinimumLevel(static_cast<int>(level));
        } else {
            std::fprintf(stderr, "morvane: bad value %s for --log-level\n", value);
            return 2;
        }
    }
    if (at >= argc) {
        PrintUsage(stderr);
        return 2;
    }
    const Command* command = FindCommand(argv[at]);
    if (command == nullptr) {
        std::fprintf(stderr, "morvane: unknown command %s\n", argv[at]);
        PrintUsage(stderr);
        return 2;
    }

    DriverLibrary driver;
    if (!driver.Load(driver_path.empty() ? DefaultDriverPath() : driver_path)) {
        std::fprintf(stderr, "morvane: %s\n", driver.error().c_str());
        return 1;
    }
    const Arguments arguments(argv + at + 1, argv + argc);
    return command->run(driver, arguments);
}

}  // namespace morvane::tool

int main(int argc, char** argv) {
    return morvane::tool::Main(argc, argv);
}
