// What the driver answers before any channel starts: morvane info
// (GetTevInfo, its banner in code page 437 made UTF-8), morvane --version
// (this program's version and build, then the driver's identity, labelled
// as the driver's: GetTevInfo and ColdStart's version line) and morvane
// parse ADDRESS... (what each address names, through the driver's own parse
// commands, or why the driver refuses it).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "driver_log.h"
#include "frame_option.h"
#include "gate_values.h"
#include "gates/log_texts.h"
#include "sim/printable.h"

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

// The driver's refusals in the user's words.
struct Refusal {
    const char* driver_says;
    const char* meaning;
};
constexpr Refusal kRefusals[] = {
    {"Illegal character", "a character not allowed where it stands"},
    {"Illegal Databaustein number", "data block above 255"},
    {"Illegal word number", "word above 255"},
    {"string too long", "a string address has exactly 9 characters, DDDWWWSnn"},
    {"error length string", "a string's length is even, 2 to 80"},
    {"error offset string", "a string starts at a multiple of half its length"},
    {"should be even", "a float or long starts at an even word"},
    {"Illegal bitnumber", "bit number above 15"},
    {"not allowed as block", "a bit cannot be read or written as a block"},
};

// The driver's last line in a window, without its prefixes: its reason.
std::string LastReason(const LogWindow& window) {
    const std::vector<std::string> lines = window.Lines();
    std::string text = lines.empty() ? "" : lines.back();
    for (const char* prefix : {"ZIDIV> ", "Parse() ", "SingleParse() ", "BlockParse() "})
        if (text.rfind(prefix, 0) == 0) text.erase(0, std::string(prefix).size());
    return text;
}

std::string Explain(const std::string& address, const std::string& driver_line) {
    if (driver_line.empty()) {
        const uint32_t type = GateTypeForAddress(address);
        return type == MORVANE_GATE_FLOAT || type == MORVANE_GATE_LONG
                   ? "a float or long takes no bit number"
                   : "refused";
    }
    for (const Refusal& refusal : kRefusals)
        if (driver_line.find(refusal.driver_says) != std::string::npos)
            return std::string(refusal.meaning) + " (driver: " + driver_line + ")";
    return driver_line;
}

std::string Describe(const GateAddress& gate, bool as_block) {
    const std::string kind =
        gate.class_letter == MORVANE_CLASS_FLOAT  ? "float, 32 bits"
        : gate.class_letter == MORVANE_CLASS_LONG ? "integer, 32 bits"
        : gate.class_letter == MORVANE_CLASS_STRING
            ? "string of " + std::to_string(StringLengthOf(gate)) + " characters"
        : gate.bit_number >= 0 ? "bit " + std::to_string(gate.bit_number) + " of the word"
                               : "16-bit word";
    const unsigned words = WordsPerItem(gate);
    const unsigned first = ItemIndexOf(gate) * words;
    std::string description = "data block " + std::to_string(DataBlockOf(gate)) + ", " +
                              (words == 1 ? "word " + std::to_string(first) + " (1 word)"
                                          : "words " + std::to_string(first) + " to " +
                                                std::to_string(first + words - 1) + " (" +
                                                std::to_string(words) + " words)") +
                              ": " + kind;
    if (!as_block) description += "; single only, not as a block";
    if (gate.class_letter == MORVANE_CLASS_STRING) description += "; as a block: read only";
    return description;
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

const char kAddressGrammar[] =
    "addresses: DDD data block 000-255, WWW word 000-255, then the form:\n"
    "  DDDWWW       16-bit word                                  001002\n"
    "  DDDWWWbb     bit bb of the word, 00-15 (or \" 7\")          00100203\n"
    "  DDDWWWF      float in words WWW and WWW+1, WWW even       001010F\n"
    "  DDDWWWL      32-bit integer, two words, WWW even          001010L\n"
    "  DDDWWWSnn    string of nn characters, nn even 2-80, in    001020S08\n"
    "               nn/2 words; WWW a multiple of nn/2\n"
    "  a COUNT makes a block of words, floats, integers or strings (not of\n"
    "  bits; strings are not written as a block); morvane parse ADDRESS... tells\n"
    "  what an address names, or why it is refused\n";

int RunParse(const DriverLibrary& driver, const Arguments& arguments) {
    InfoBlock info{};
    QueryInfo(driver, &info);
    HostChannel channel(driver, info.channel_area_size, 1);  // parsing opens no port
    int code = 0;
    for (const std::string& address : arguments) {
        const LogWindow window;
        GateAddress single{};
        GateAddress block{};
        const bool parsed = ParseAddress(channel, address, false, &single);
        const std::string why = LastReason(window);
        const bool as_block = ParseAddress(channel, address, true, &block);
        // The address, and the driver's reason quoting it, may hold any
        // bytes: a terminal is shown them escaped.
        const std::string shown = plcsim::Printable(address);
        if (parsed) {
            std::string described = Describe(single, as_block);
            if (const std::string tail = IgnoredTail(address); !tail.empty())
                described += "; \"" + plcsim::Printable(tail) + "\" at its end is not read";
            std::printf("%-10s  %s\n", shown.c_str(), described.c_str());
        } else {
            std::printf("%-10s  refused: %s\n", shown.c_str(),
                        plcsim::Printable(Explain(address, why)).c_str());
            code = kExitRefused;
        }
    }
    return code;
}

}  // namespace morvane::tool
