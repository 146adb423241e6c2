// What the command-line host does differently on each platform, besides
// loading the driver and the embedded simulator.
#pragma once

#include <string>

namespace morvane::tool {

// Makes a new empty directory for scratch files; false when it cannot.
bool MakeScratchDirectory(std::string* path);

// While caught, Ctrl-C sets a flag instead of ending the process, so that a
// poll can stop and the session still closes its port (on Linux a second
// Ctrl-C ends the process at once).
void CatchInterrupt();
void ReleaseInterrupt();
bool Interrupted();

}  // namespace morvane::tool
