// morvane: a minimal host for the driver. It loads the driver library with
// dlopen and drives it through TevMain exactly as a host would.
//
//   morvane [--driver PATH] [--log FILE] [--log-level N] [-v] COMMAND [ARGS...]
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "driver_log.h"
#include "exit_codes.h"
#include "output_format.h"
#include "session_options.h"

namespace morvane::tool {
namespace {

void PrintUsage(FILE* out) {
    std::fprintf(
        out,
        "usage: morvane [--driver PATH] [--log FILE] [--log-level N] [-v] COMMAND [ARGS...]\n"
        "\n"
        "  --driver PATH   driver library to load (default: libmorvane.so built\n"
        "                  beside this program; MORVANE_DRIVER overrides it too)\n"
        "  --log FILE      append the driver's log lines to FILE (default: stderr)\n"
        "  --log-level N   show log lines of level N and above (8 trace, 32 operator;\n"
        "                  default: operator lines, the normal start-up ones left out)\n"
        "  -v, --verbose   every log line, the start-up ones too (--log-level 8)\n"
        "  --version       this program's version and the driver's build\n"
        "  -h, --help      this text\n"
        "\ncommands:\n");
    for (const Command& command : Commands())
        std::fprintf(out, "  %-6s %-20s %s\n", command.name, command.arguments, command.summary);
    std::fprintf(out,
                 "\nSteps join with \"then\" and run on one channel:\n"
                 "  morvane write 001010F 3.25 then read 001010F\n"
                 "\nsession options of read, write, poll and browse (before the address):\n%s%s"
                 "\npoll prints a wall-clock time stamp per sample, goes on through failures\n"
                 "(each with its reason and attempts) and ends, at --times or Ctrl-C, with\n"
                 "a statistics line.\n\n%s\n%s",
                 kSessionOptionsUsage, kDisplayOptionsUsage, kAddressGrammar, kExitCodesUsage);
}

}  // namespace

int Main(int argc, char** argv) {
    const char* from_environment = std::getenv("MORVANE_DRIVER");
    std::string driver_path = from_environment != nullptr ? from_environment : "";
    LogOptions log;
    bool level_given = false;
    bool version = false;
    int at = 1;
    for (; at < argc && argv[at][0] == '-'; ++at) {
        const std::string option = argv[at];
        if (option == "--help" || option == "-h") {
            PrintUsage(stdout);
            return kExitOk;
        }
        if (option == "--verbose" || option == "-v") {
            log.minimum_level = level_given ? log.minimum_level : 0;
            log.show_start_up = true;
            continue;
        }
        if (option == "--version") {
            version = true;
            continue;
        }
        if (option != "--driver" && option != "--log" && option != "--log-level") {
            std::fprintf(stderr, "morvane: unknown option %s (see morvane --help)\n",
                         option.c_str());
            return kExitUsage;
        }
        if (at + 1 >= argc) {
            std::fprintf(stderr, "morvane: %s needs a value\n", option.c_str());
            return kExitUsage;
        }
        const char* value = argv[++at];
        long level = 0;
        if (option == "--driver") {
            driver_path = value;
        } else if (option == "--log") {
            log.file = value;  // a file takes every line unless a level is given
            log.minimum_level = level_given ? log.minimum_level : 0;
            log.show_start_up = true;
        } else if (TakeNumber(value, 0, INT_MAX, &level)) {
            log.minimum_level = static_cast<int>(level);
            log.show_start_up = true;
            level_given = true;
        } else {
            std::fprintf(stderr, "morvane: bad value %s for --log-level\n", value);
            return kExitUsage;
        }
    }
    const Command* command = at < argc ? FindCommand(argv[at]) : nullptr;
    if (!version && command == nullptr) {
        if (at < argc) std::fprintf(stderr, "morvane: unknown command %s\n", argv[at]);
        PrintUsage(stderr);
        return kExitUsage;
    }
    std::string error;
    if (!StartDriverLog(log, &error)) {
        std::fprintf(stderr, "morvane: %s\n", error.c_str());
        return kExitUsage;
    }

    DriverLibrary driver;
    if (!driver.Load(driver_path.empty() ? DefaultDriverPath() : driver_path)) {
        std::fprintf(stderr, "morvane: %s\n", driver.error().c_str());
        return kExitToolFailed;
    }
    if (version) return RunVersion(driver);
    const Arguments arguments(argv + at + 1, argv + argc);
    if (command->step.run != nullptr) return RunSteps(driver, command->name, arguments);
    return command->run(driver, arguments);
}

}  // namespace morvane::tool

int main(int argc, char** argv) {
    return morvane::tool::Main(argc, argv);
}
