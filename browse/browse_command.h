// The address dialog command and the host query that decides its owner.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

// Command 16: shows the address dialog once per loaded driver and hands the
// composed address to the host (53 when there is none).
int32_t BrowseAddress0(TevRequest* request);

// The host version from which the dialog may be owned by the host's window.
constexpr unsigned kOwnedDialogVersion = 820;

// The host's version number through a short-lived host client; 0 when the
// host refuses the client.
unsigned HostVersion();

// The window that owns the dialog: the block's owner window, or none for a
// host older than kOwnedDialogVersion.
void* DialogOwner(const BrowseBlock& block);

}  // namespace morvane
