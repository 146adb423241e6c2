// morvane parse ADDRESS...: what each address names, through the driver's
// own parse commands, or why the driver refuses it.
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "driver_library.h"
#include "driver_log.h"
#include "gate_values.h"

namespace morvane::tool {
namespace {

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
        const char form = address.size() > 6 ? address[6] : ' ';
        return form == 'F' || form == 'f' || form == 'L' || form == 'l'
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
        if (parsed) {
            std::printf("%-10s  %s\n", address.c_str(), Describe(single, as_block).c_str());
        } else {
            std::printf("%-10s  refused: %s\n", address.c_str(), Explain(address, why).c_str());
            code = kExitRefused;
        }
    }
    return code;
}

}  // namespace morvane::tool
