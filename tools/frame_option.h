// The line's settings on the command line: the baud rate, the character
// frame (data bits, parity, stop bits) alone or as "8E1", and the protocol.
// What is not given stays the driver's default.
#pragma once

#include <cstdint>
#include <string>

#include "morvane/morvane.h"

namespace morvane::tool {

struct LineChoice {
    uint16_t baud = 0;     // 0: the driver's default
    int data_bits = 0;     // 0: the driver's default
    int parity = -1;       // the host record's code 0 to 4; -1: the driver's default
    int stop_bits = -1;    // the host record's code 0 (1), 1 (1.5), 2 (2); -1: default
    std::string protocol;  // "3964" or "3964R"; empty: the configuration file
};

// Names of the host record's parity and stop-bit codes.
inline constexpr const char* kParityNames[5] = {"none", "odd", "even", "mark", "space"};
inline constexpr const char* kStopBitNames[3] = {"1", "1.5", "2"};

// Takes one line option (--baud, --data-bits, --parity, --stop-bits,
// --frame, --protocol) and its value into *choice. Returns false when option
// is none of them; otherwise true, with *error set when the value is refused.
bool TakeLineOption(const std::string& option, const std::string& value, LineChoice* choice,
                    std::string* error);

// Empty, or why the chosen frame cannot be set: a serial device takes one
// and a half stop bits only with 5 data bits, and two only with 6 to 8.
std::string FrameConflict(const LineChoice& choice);

// The defaults with what was chosen put in.
LineParameters ChosenLine(const LineChoice& choice, const LineParameters& defaults);

// Start, data, parity and stop bits of one character (1.5 stop bits: 2).
uint32_t BitsPerCharacter(const LineParameters& line);

// "9600 8E1", "1200 7O1.5": the rate and frame as a line is usually named.
std::string DescribeLine(const LineParameters& line);

}  // namespace morvane::tool
