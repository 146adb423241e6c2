// Why a serial device does not open, for the programs that open one: the
// command-line host's sessions and monitor, and plcsim on --device.
#pragma once

#include <functional>
#include <string>

namespace plcsim {

// One sentence with the system's text: missing (and which serial devices
// there are), in use or held exclusively (and by which process), not open to this user (and
// which group grants it), not a serial device, or refusing the settings
// (takes_settings applies them to an open descriptor; settings names them,
// "9600 8E1"). The device is opened and closed again, never left changed.
// Empty when it opens now and takes the settings.
std::string DiagnoseDevice(const std::string& device,
                           const std::function<bool(int fd)>& takes_settings,
                           const std::string& settings);

}  // namespace plcsim
