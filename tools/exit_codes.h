// The exit statuses of the morvane program. Each failure message names its
// kind in the words of this table, so that message and status agree.
#pragma once

namespace morvane::tool {

enum ExitCode : int {
    kExitOk = 0,
    kExitToolFailed = 1,       // driver library, simulator or its block file
    kExitUsage = 2,            // the command line is wrong
    kExitRefused = 3,          // address or value refused (by this tool or the driver)
    kExitPlcRefused = 4,       // the PLC answered with an error number
    kExitLineFailed = 5,       // no valid exchange: no answer, NAK, malformed reply
    kExitPortUnavailable = 6,  // the port cannot be opened
    kExitInterrupted = 130,    // Ctrl-C (128 + SIGINT, as shells report it)
};

// The table for -h (and so the man page) and docs/command-line.md.
inline constexpr char kExitCodesUsage[] =
    "exit status:\n"
    "    0  done\n"
    "    1  tool failure: driver library, simulator or its block file\n"
    "    2  usage error\n"
    "    3  address or value refused\n"
    "    4  PLC refused (its error number is named)\n"
    "    5  line failure: no valid exchange (no answer, NAK, malformed reply)\n"
    "    6  port cannot be opened\n"
    "  130  interrupted (Ctrl-C)\n";

}  // namespace morvane::tool
