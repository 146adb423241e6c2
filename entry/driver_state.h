// Driver-wide state shared by all channels of the loaded driver.
#pragma once

namespace morvane {

// Set by EndTev: from then on TevMain answers every request with 0.
bool DriverEnded();
void SetDriverEnded(bool ended);

}  // namespace morvane
