// The command line of plcsim.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim/simulator.h"

namespace plcsim {

struct Options {
    bool help = false;
    std::string device;  // empty: a pseudo-terminal
    DeviceSettings device_settings;
    bool pace = false;
    LinkSettings link;
    Faults faults;
    std::vector<std::pair<uint8_t, uint16_t>> blocks;  // declared: number, words
    bool create_on_demand = true;
    std::string load_file;
    std::string save_file;
    bool trace = true;
    std::string trace_file;  // empty: standard output
};

// False with a message for an unknown option or a bad value.
bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error);

// Bits a character takes on the line: start, data, parity and stop bits.
uint32_t BitsPerCharacter(const DeviceSettings& settings);

extern const char kUsage[];

}  // namespace plcsim
