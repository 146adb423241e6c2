// morvane: a minimal host for the driver. It loads the driver library with
// dlopen and drives it through TevMain exactly as a host would.
//
//   morvane COMMAND [ARGS...] [then STEP [ARGS...]]... [OPTIONS]
#include <cstdio>
#include <exception>
#include <string>

#include "commands.h"
#include "driver_log.h"
#include "host_platform.h"

namespace morvane::tool {

namespace {

int Run(const Invocation& invocation) {
    DriverLibrary driver;
    const std::string& path = invocation.driver_path;
    if (!driver.Load(path.empty() ? DefaultDriverPath() : path))
        return Fail(driver.error(), kExitToolFailed);
    if (invocation.action == Action::kVersion) return RunVersion(driver);
    if (invocation.action == Action::kInfo) return RunInfo(driver);
    if (invocation.action == Action::kParse) return RunParse(driver, invocation.addresses);
    return RunSteps(driver, invocation);
}

}  // namespace

int Main(int argc, char** argv) {
    KeepStandardStreams();
    const Arguments arguments(argv + 1, argv + argc);
    if (!arguments.empty() && arguments[0] == "monitor") return RunMonitor(arguments);
    Invocation invocation;
    std::string error;
    if (!ParseCommandLine(arguments, &invocation, &error))
        return Fail(error + " (see morvane -h)", kExitUsage);
    if (invocation.action == Action::kHelp) {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (!StartDriverLog(invocation.log, &error)) return Fail(error, kExitUsage);
    const int status = Run(invocation);
    if (EndDriverLog(&error)) return status;
    // The session's own failure comes first; a log that was lost is one too.
    Fail(error, kExitToolFailed);
    return status == kExitOk ? kExitToolFailed : status;
}

}  // namespace morvane::tool

int main(int argc, char** argv) {
    // What should never happen still unwinds: the session closes its port
    // and saves the simulator's blocks, and the status says it failed.
    try {
        return morvane::tool::Main(argc, argv);
    } catch (const std::exception& failure) {
        return morvane::tool::Fail(std::string("internal error: ") + failure.what(),
                                   morvane::tool::kExitToolFailed);
    }
}
