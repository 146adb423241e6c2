// Command-line options of the fault soak.
#pragma once

#include <cstdint>
#include <string>

#include "sim/byte_faults.h"

namespace morvane::soak {

struct Options {
    uint64_t seed = 1;
    double rate = 0.002;     // byte faults per byte, each direction
    double plc_rate = 0.02;  // PLC faults per telegram
    plcsim::ByteFaultMode mode = plcsim::ByteFaultMode::kOnePerBlock;
    bool is_3964r = true;
    uint64_t transfers = 1000;
    int channels = 2;
    int32_t timeout_hundredths = 6;  // the driver's read time-out, 10 ms each
    uint32_t char_delay_ms = 60;     // the simulator's character delay
    int reports = 3;                 // invariant breaks reported in full
    bool report_all = false;         // in full also what the mode allows
    // The receivers honour the modelled UART's flags (parity, framing,
    // overrun), as ports with PARMRK do; else the flags go unseen.
    bool uart_check = true;
    double overrun_share = 0.5;  // of dropped characters flagged as an overrun
};

// Parses argv into options; false with a message in *error.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);
std::string Usage();

}  // namespace morvane::soak
