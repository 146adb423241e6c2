// Port names as Windows users give them: COM1, COM12, \\.\COM12.
#include "session_options.h"

namespace morvane::tool {

bool ResolvePort(const std::string& given, std::string* device, std::string* port,
                 std::string* error) {
    *device = given;
    *port = given;
    if (!given.empty() && given.size() < MORVANE_PORT_NAME_SIZE) return true;
    *error = given.empty() ? "bad value for --port"
                           : "port name " + given + " too long: at most " +
                                 std::to_string(MORVANE_PORT_NAME_SIZE - 1) + " characters";
    return false;
}

}  // namespace morvane::tool
