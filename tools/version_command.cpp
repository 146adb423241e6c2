// morvane --version: this program's version and build, then the driver's
// identity as the driver reports it to a host (GetTevInfo, and ColdStart's
// version line), labelled as the driver's.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "driver_log.h"
#include "exit_codes.h"
#include "gates/log_texts.h"
#include "host_channel.h"

namespace morvane::tool {
namespace {

// ColdStart logs the driver's version line first; a start without opening
// the port touches no line.
std::string DriverVersionLine(const DriverLibrary& driver, uint32_t area_size) {
    HostChannel channel(driver, area_size, 1);
    StartBlock start{};
    std::strncpy(start.port_name, "none", sizeof start.port_name - 1);
    start.external_timeout = 1000;
    BeginStartUp();
    const LogWindow window;
    channel.Call(MORVANE_CMD_COLD_START, &start);
    EndStartUp(false);
    for (const std::string& line : window.Lines())
        if (line == log_text::kVersion) return line;
    return "(no version line)";
}

}  // namespace

int RunVersion(const DriverLibrary& driver) {
    std::printf("morvane %s (%s build, %s)\n", MORVANE_VERSION, MORVANE_BUILD_TYPE,
                MORVANE_COMPILER);
    InfoBlock info{};
    if (QueryInfo(driver, &info) != MORVANE_OK || info.description == nullptr) {
        std::fprintf(stderr, "morvane: the driver %s answers no GetTevInfo\n",
                     driver.path().c_str());
        return kExitToolFailed;
    }
    std::printf("driver library:          %s\n", driver.path().c_str());
    std::printf("driver's description:    %s\n", info.description);
    std::printf("driver's info words:     %u, %u, 0x%08X\n", static_cast<unsigned>(info.first_word),
                static_cast<unsigned>(info.fifth_word), static_cast<unsigned>(info.last_word));
    std::printf("driver's version line:   %s\n",
                DriverVersionLine(driver, info.channel_area_size).c_str());
    return kExitOk;
}

}  // namespace morvane::tool
