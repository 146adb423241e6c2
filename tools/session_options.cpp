#include "session_options.h"

#include <cerrno>
#include <cstdlib>

#include "morvane/morvane.h"

namespace morvane::tool {

const char kSessionOptionsUsage[] =
    "  --port NAME        serial port (default: the PLC simulator, embedded)\n"
    "  --protocol P       3964 or 3964R (default: ZIDIV01.INT in the current directory)\n"
    "  --baud N           baud rate (default: the driver's 9600 8E1)\n"
    "  --timeout H        internal time-out in hundredths of a second per byte\n"
    "  --sim-blocks FILE  simulator data blocks: loaded if present, saved at the end\n"
    "  --sim-trace        the simulator's line trace on standard error\n"
    "  --pace             the simulator paces the line as 9600 baud 8E1 would\n";

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
    for (; at < arguments->size() && (*arguments)[at].rfind("--", 0) == 0; ++at) {
        const std::string option = (*arguments)[at];
        if (option == "--sim-trace") {
            options->sim_trace = true;
            continue;
        }
        if (option == "--pace") {
            options->pace = true;
            continue;
        }
        if (TakeDisplayOption(option, &options->display)) continue;
        if (option != "--port" && option != "--protocol" && option != "--baud" &&
            option != "--timeout" && option != "--sim-blocks") {
            *error = "unknown option " + option;
            return false;
        }
        if (at + 1 >= arguments->size()) {
            *error = option + " needs a value";
            return false;
        }
        const std::string value = (*arguments)[++at];
        long number = 0;
        if (option == "--port") {
            options->port = PortNameOf(value);
            if (options->port.empty()) {
                *error = "bad value " + value + " for --port";
                return false;
            }
            if (options->port.size() >= MORVANE_PORT_NAME_SIZE) {
                *error = "port name " + value + " too long: at most " +
                         std::to_string(MORVANE_PORT_NAME_SIZE - 1) + " characters after /dev/";
                return false;
            }
        } else if (option == "--protocol" && (value == "3964" || value == "3964R")) {
            options->protocol = value;
        } else if (option == "--baud" && TakeNumber(value, 1, UINT16_MAX, &number)) {
            options->baud = static_cast<uint16_t>(number);
        } else if (option == "--timeout" && TakeNumber(value, 1, 100000, &number)) {
            options->timeout = static_cast<int32_t>(number);
        } else if (option == "--sim-blocks") {
            options->sim_blocks = value;
        } else {
            *error = "bad value " + value + " for " + option;
            return false;
        }
    }
    arguments->erase(arguments->begin(), arguments->begin() + static_cast<long>(at));
    return true;
}

}  // namespace morvane::tool
