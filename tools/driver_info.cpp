// What the driver reports to a host before any channel starts: morvane info
// (GetTevInfo, its banner in code page 437 made UTF-8) and morvane
// --version (this program's version and build, then the driver's identity,
// labelled as the driver's: GetTevInfo and ColdStart's version line).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "driver_log.h"
#include "frame_option.h"
#include "gate_values.h"
#include "gates/log_texts.h"

namespace morvane::tool {
namespace {

// Unicode code points of code page 437's bytes 0x80 to 0xFF.
constexpr uint16_t kUpperHalf[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

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

void PrintInfoWords(const char* label, const InfoBlock& info) {
    std::printf("%s%u, %u, 0x%08X\n", label, static_cast<unsigned>(info.first_word),
                static_cast<unsigned>(info.fifth_word), static_cast<unsigned>(info.last_word));
}

}  // namespace

std::string Cp437ToUtf8(const char* text) {
    std::string out;
    for (const char* at = text; *at != '\0'; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        if (byte >= 0x80) {
            AppendUtf8(kUpperHalf[byte - 0x80], &out);
        } else if (byte >= 0x20 || byte == '\n') {
            out.push_back(static_cast<char>(byte));
        }
        // Other control bytes (the banner's leading backspace) are dropped.
    }
    return out;
}

int RunInfo(const DriverLibrary& driver) {
    InfoBlock info{};
    const int32_t code = QueryInfo(driver, &info);
    if (code != MORVANE_OK || info.description == nullptr || info.banner == nullptr)
        return Fail("GetTevInfo answered " + std::to_string(code), kExitToolFailed, "morvane info");
    const LineParameters& line = info.defaults;
    std::printf("%s\n", Cp437ToUtf8(info.banner).c_str());
    std::printf("driver:            %s\n", driver.path().c_str());
    std::printf("description:       %s\n", info.description);
    std::printf("channel area:      %u bytes\n", static_cast<unsigned>(info.channel_area_size));
    std::printf("default line:      %u baud, %u data bits, %s stop bit(s), %s parity\n",
                static_cast<unsigned>(line.baud_rate), static_cast<unsigned>(line.data_bits),
                line.stop_bits < 3 ? kStopBitNames[line.stop_bits] : "?",
                line.parity < 5 ? kParityNames[line.parity] : "?");
    PrintInfoWords("info words:        ", info);
    return kExitOk;
}

int RunVersion(const DriverLibrary& driver) {
    std::printf("morvane %s (%s build, %s)\n", MORVANE_VERSION, MORVANE_BUILD_TYPE,
                MORVANE_COMPILER);
    InfoBlock info{};
    if (QueryInfo(driver, &info) != MORVANE_OK || info.description == nullptr)
        return Fail("the driver " + driver.path() + " answers no GetTevInfo", kExitToolFailed);
    std::printf("driver library:          %s\n", driver.path().c_str());
    std::printf("driver's description:    %s\n", info.description);
    PrintInfoWords("driver's info words:     ", info);
    std::printf("driver's version line:   %s\n",
                DriverVersionLine(driver, info.channel_area_size).c_str());
    return kExitOk;
}

}  // namespace morvane::tool
