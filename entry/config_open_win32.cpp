// Reading the channel's file on Windows, through a file handle rather than
// stdio, which would allocate on the heap. A directory does not open without
// backup semantics, so it counts as no file and the next name is tried.
#include <windows.h>

#include "entry/config_file.h"

namespace morvane {

bool ReadConfigText(const char* name, char* text, size_t size, size_t* length) {
    *length = 0;
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD got = 0;
    if (ReadFile(file, text, static_cast<DWORD>(size), &got, nullptr)) *length = got;
    CloseHandle(file);
    return true;
}

}  // namespace morvane
