#include "session_options.h"

#include <cerrno>
#include <cstdlib>

#include "morvane/morvane.h"

namespace morvane::tool {
namespace {

// Options that only the embedded simulator acts on: with a real port they
// would do nothing, so they are refused there.
bool SimulatorOnly(const std::string& option) {
    return option == "--sim-blocks" || option == "--sim-trace" || option == "--pace";
}

bool TakesValue(const std::string& option) {
    for (const char* known : {"--port", "--timeout", "--sim-blocks", "--baud", "--data-bits",
                              "--parity", "--stop-bits", "--frame", "--protocol"})
        if (option == known) return true;
    return false;
}

}  // namespace

const char kSessionOptionsUsage[] =
    "  --port PATH        serial port: /dev/ttyUSB0, ttyS0, /dev/serial/by-id/...\n"
    "                     (default: the PLC simulator, embedded)\n"
    "  --baud N           baud rate (default 9600); the host record holds 16 bits,\n"
    "                     so 57600 is the highest standard rate\n"
    "  --data-bits N      5 to 8 (default 8)\n"
    "  --parity P         none, odd, even, mark or space, or N O E M S (default even)\n"
    "  --stop-bits S      1, 1.5 or 2 (default 1)\n"
    "  --frame F          the three at once: 8E1, 7O2, 8N1, ...\n"
    "  --protocol P       3964 or 3964R, any case (default: ZIDIV01.INT in the\n"
    "                     current directory, else 3964)\n"
    "  --timeout H        internal time-out in hundredths of a second per byte\n"
    "  --trace            every byte on the line, both ways, on standard error\n"
    "simulator only (refused with --port):\n"
    "  --sim-blocks FILE  simulator data blocks: loaded if present, saved at the end\n"
    "  --sim-trace        the simulator's own view of the line on standard error\n"
    "  --pace             the simulator paces the line at the chosen rate and frame\n";

std::string PortNameOf(const std::string& device) {
    const std::string prefix = "/dev/";
    return device.rfind(prefix, 0) == 0 ? device.substr(prefix.size()) : device;
}

bool TakeNumber(const std::string& text, long low, long high, long* value) {
    errno = 0;
    char* end = nullptr;
    *value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && errno == 0 && *end == '\0' && *value >= low && *value <= high;
}

bool TakeSessionOptions(Arguments* arguments, SessionOptions* options, std::string* error) {
    size_t at = 0;
    std::string simulator_option;
    for (; at < arguments->size() && (*arguments)[at].rfind("--", 0) == 0; ++at) {
        const std::string option = (*arguments)[at];
        if (SimulatorOnly(option)) simulator_option = option;
        if (option == "--sim-trace" || option == "--pace" || option == "--trace") {
            bool& flag = option == "--trace"  ? options->trace
                         : option == "--pace" ? options->pace
                                              : options->sim_trace;
            flag = true;
            continue;
        }
        if (TakeDisplayOption(option, &options->display)) continue;
        if (!TakesValue(option)) {
            *error = "unknown option " + option;
            return false;
        }
        if (at + 1 >= arguments->size()) {
            *error = option + " needs a value";
            return false;
        }
        const std::string value = (*arguments)[++at];
        if (TakeLineOption(option, value, &options->line, error)) {
            if (!error->empty()) return false;
            continue;
        }
        long number = 0;
        if (option == "--port") {
            if (!ResolvePort(value, &options->device, &options->port, error)) return false;
        } else if (option == "--timeout" && TakeNumber(value, 1, 100000, &number)) {
            options->timeout = static_cast<int32_t>(number);
        } else if (option == "--sim-blocks") {
            options->sim_blocks = value;
        } else {
            *error = "bad value " + value + " for " + option;
            return false;
        }
    }
    *error = FrameConflict(options->line);
    if (!error->empty()) return false;
    if (!options->port.empty() && !simulator_option.empty()) {
        *error = simulator_option + " acts on the embedded simulator only, not on --port " +
                 options->port;
        return false;
    }
    arguments->erase(arguments->begin(), arguments->begin() + static_cast<long>(at));
    return true;
}

}  // namespace morvane::tool
