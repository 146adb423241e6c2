#include "frame_option.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace morvane::tool {
namespace {

// The standard rates a serial device sets that fit the host record's 16-bit
// field; 57600 is the last of them.
constexpr uint32_t kStandardRates[] = {50,   75,   110,  134,  150,  200,   300,   600,
                                       1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600};
constexpr char kParityLetters[] = "NOEMS";  // in the order of the record's codes

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string RateList() {
    std::string list;
    for (const uint32_t rate : kStandardRates)
        list += (list.empty() ? "" : " ") + std::to_string(rate);
    return list;
}

bool TakeBaud(const std::string& value, LineChoice* choice, std::string* error) {
    char* end = nullptr;
    const unsigned long rate = std::strtoul(value.c_str(), &end, 10);
    if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) || *end != '\0') {
        *error = "bad value " + value + " for --baud: one of " + RateList();
        return true;
    }
    if (rate > UINT16_MAX) {
        *error = "baud rate " + value +
                 " does not fit the host record's 16-bit field: 57600 is the highest "
                 "standard rate it holds";
        return true;
    }
    if (std::ranges::find(kStandardRates, rate) == std::end(kStandardRates))
        *error = "baud rate " + value + " is not a standard rate: " + RateList();
    else
        choice->baud = static_cast<uint16_t>(rate);
    return true;
}

int ParityCode(const std::string& value) {
    const std::string word = Lower(value);
    for (int code = 0; code < 5; ++code) {
        if (word == kParityNames[code] ||
            (word.size() == 1 && std::toupper(word[0]) == kParityLetters[code]))
            return code;
    }
    return -1;
}

int StopBitsCode(const std::string& value) {
    for (int code = 0; code < 3; ++code)
        if (value == kStopBitNames[code]) return code;
    return -1;
}

int DataBits(const std::string& value) {
    return value.size() == 1 && value[0] >= '5' && value[0] <= '8' ? value[0] - '0' : 0;
}

// "8E1", "7o2", "5N1.5": data bits, parity letter, stop bits.
bool TakeFrame(const std::string& value, LineChoice* choice) {
    if (value.size() < 3) return false;
    const int data_bits = DataBits(value.substr(0, 1));
    const int parity = ParityCode(value.substr(1, 1));
    const int stop_bits = StopBitsCode(value.substr(2));
    if (data_bits == 0 || parity < 0 || stop_bits < 0) return false;
    choice->data_bits = data_bits;
    choice->parity = parity;
    choice->stop_bits = stop_bits;
    return true;
}

const char* ValidValues(const std::string& option) {
    if (option == "--data-bits") return "5 to 8";
    if (option == "--parity") return "none, odd, even, mark or space (N O E M S)";
    if (option == "--stop-bits") return "1, 1.5 or 2";
    if (option == "--protocol") return "3964 or 3964R";
    return "data bits 5 to 8, parity N O E M or S, stop bits 1, 1.5 or 2: 8E1, 7O2, 5N1.5";
}

}  // namespace

bool TakeLineOption(const std::string& option, const std::string& value, LineChoice* choice,
                    std::string* error) {
    bool good = true;
    if (option == "--baud") return TakeBaud(value, choice, error);
    if (option == "--data-bits") {
        choice->data_bits = DataBits(value);
        good = choice->data_bits != 0;
    } else if (option == "--parity") {
        choice->parity = ParityCode(value);
        good = choice->parity >= 0;
    } else if (option == "--stop-bits") {
        choice->stop_bits = StopBitsCode(value);
        good = choice->stop_bits >= 0;
    } else if (option == "--frame") {
        good = TakeFrame(value, choice);
    } else if (option == "--protocol") {
        const std::string upper = Lower(value) == "3964r" ? "3964R" : value;
        good = upper == "3964" || upper == "3964R";
        if (good) choice->protocol = upper;
    } else {
        return false;
    }
    if (!good) *error = "bad value " + value + " for " + option + ": " + ValidValues(option);
    return true;
}

std::string FrameConflict(const LineChoice& choice) {
    const int data_bits = choice.data_bits != 0 ? choice.data_bits : 8;
    if (choice.stop_bits == 1 && data_bits != 5) return "1.5 stop bits go with 5 data bits only";
    if (choice.stop_bits == 2 && data_bits == 5) return "2 stop bits go with 6 to 8 data bits";
    return "";
}

LineParameters ChosenLine(const LineChoice& choice, const LineParameters& defaults) {
    LineParameters line = defaults;
    if (choice.baud != 0) line.baud_rate = choice.baud;
    if (choice.data_bits != 0) line.data_bits = static_cast<uint16_t>(choice.data_bits);
    if (choice.parity >= 0) line.parity = static_cast<uint16_t>(choice.parity);
    if (choice.stop_bits >= 0) line.stop_bits = static_cast<uint16_t>(choice.stop_bits);
    return line;
}

uint32_t BitsPerCharacter(const LineParameters& line) {
    return 1u + line.data_bits + (line.parity != 0 ? 1u : 0u) + (line.stop_bits == 0 ? 1u : 2u);
}

std::string DescribeLine(const LineParameters& line) {
    std::string text = std::to_string(line.baud_rate) + " " + std::to_string(line.data_bits);
    text += line.parity < 5 ? kParityLetters[line.parity] : '?';
    text += line.stop_bits < 3 ? kStopBitNames[line.stop_bits] : "?";
    return text;
}

}  // namespace morvane::tool
