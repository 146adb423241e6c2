// Port names as users give them, resolved the way the system finds the device.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "commands.h"

namespace morvane::tool {

bool ResolvePort(const std::string& given, std::string* device, std::string* port,
                 std::string* error) {
    if (given.empty() || given.back() == '/') {
        *error = "bad value " + given + " for --port: a serial device such as /dev/ttyUSB0";
        return false;
    }
    // The driver takes a name without a slash under /dev/, as it opens it.
    *device = given[0] == '/' || given == "NUL" ? given : "/dev/" + given;
    char resolved[PATH_MAX];
    const bool resolved_it = given != "NUL" && realpath(device->c_str(), resolved) != nullptr;
    const int resolve_error = resolved_it ? 0 : errno;
    if (resolved_it) *device = resolved;
    *port = given == "NUL" ? given : PortNameOf(*device);
    // A device that is not there, and a file that is no device, fail as a
    // port that does not open, with the reason, whatever their names' length.
    struct stat status {};
    const bool device_node = stat(device->c_str(), &status) == 0 && S_ISCHR(status.st_mode);
    if (port->size() < MORVANE_PORT_NAME_SIZE || (!resolved_it && resolve_error == ENOENT) ||
        (resolved_it && !device_node))
        return true;
    const std::string limit =
        "at most " + std::to_string(MORVANE_PORT_NAME_SIZE - 1) + " characters after /dev/";
    *error = *device == given || *device == "/dev/" + given
                 ? "port name " + given + " too long: " + limit
                 : "port " + given + " is " + *device + ", still too long: " + limit;
    return false;
}

}  // namespace morvane::tool
