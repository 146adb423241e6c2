// The address dialog command and the host query that decides its owner.
#pragma once

#include "morvane/morvane.h"

namespace morvane {

// The host version from which the dialog may be owned by the host's window.
constexpr unsigned kOwnedDialogVersion = 820;

// The host's version number through a short-lived host client; 0 when the
// host refuses the client.
unsigned HostVersion();

// The window that owns the dialog: the block's owner window, or none for a
// host older than kOwnedDialogVersion.
void* DialogOwner(const BrowseBlock& block);

}  // namespace morvane
