// morvane info: what the driver reports to a host before any channel starts.
#include <cstdio>

#include "commands.h"
#include "cp437.h"
#include "exit_codes.h"
#include "host_channel.h"

namespace morvane::tool {

int RunInfo(const DriverLibrary& driver) {
    InfoBlock info{};
    const int32_t code = QueryInfo(driver, &info);
    if (code != MORVANE_OK || info.description == nullptr || info.banner == nullptr) {
        std::fprintf(stderr, "morvane info: GetTevInfo answered %d\n", static_cast<int>(code));
        return kExitToolFailed;
    }
    static const char* const kStopBits[] = {"1", "1.5", "2"};
    static const char* const kParity[] = {"none", "odd", "even", "mark", "space"};
    const LineParameters& line = info.defaults;
    std::printf("%s\n", Cp437ToUtf8(info.banner).c_str());
    std::printf("driver:            %s\n", driver.path().c_str());
    std::printf("description:       %s\n", info.description);
    std::printf("channel area:      %u bytes\n", static_cast<unsigned>(info.channel_area_size));
    std::printf("default line:      %u baud, %u data bits, %s stop bit(s), %s parity\n",
                static_cast<unsigned>(line.baud_rate), static_cast<unsigned>(line.data_bits),
                line.stop_bits < 3 ? kStopBits[line.stop_bits] : "?",
                line.parity < 5 ? kParity[line.parity] : "?");
    std::printf("info words:        %u, %u, 0x%08X\n", static_cast<unsigned>(info.first_word),
                static_cast<unsigned>(info.fifth_word), static_cast<unsigned>(info.last_word));
    return kExitOk;
}

}  // namespace morvane::tool
