// Small helpers of the simulator's POSIX line, shared with the command-line
// host's trace relay, which opens terminals the same way.
#pragma once

#include <string>

namespace plcsim {

// what, a colon and the text of errno: "/dev/ttyUSB0: No such file or directory".
std::string SystemError(const std::string& what);

// Puts a terminal into raw mode: no line editing, echo or translation.
bool MakeRaw(int fd);

}  // namespace plcsim
