// The communications calls whose answers a test cannot get from a real
// device on demand (the error flags of damaged characters): the backend
// makes them through this table, which a test program may fill with its own.
#pragma once

#include <windows.h>

namespace morvane {

struct CommCalls {
    BOOL(WINAPI* clear_comm_error)(HANDLE, LPDWORD, LPCOMSTAT);
};

// The table the serial backend uses; the system's own calls unless replaced.
CommCalls& TheCommCalls();

}  // namespace morvane
