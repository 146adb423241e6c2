// What each platform's front supplies to BrowseAddress0.
#pragma once

namespace morvane {

// The calling thread's number, as the host client's name carries it.
unsigned long CurrentThreadNumber();

// Shows the "Tag Format" dialog modally, owned by owner_window (none when
// null), and waits for it. Returns 1 when the user confirmed a valid address
// (the driver's TagFormatState then holds it), 2 on Cancel, and any other
// value when the dialog could not be shown.
int ShowTagFormatDialog(void* owner_window);

}  // namespace morvane
