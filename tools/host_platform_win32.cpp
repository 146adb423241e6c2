#include <windows.h>

#include <atomic>

#include "host_platform.h"

namespace morvane::tool {
namespace {

std::atomic<bool> g_interrupted{false};

// Runs on a thread the console starts for the event.
BOOL WINAPI NoteInterrupt(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    g_interrupted = true;
    return TRUE;
}

}  // namespace

bool MakeScratchDirectory(std::string* path) {
    char base[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length >= sizeof base) return false;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = std::string(base) + "morvane-" +
                                      std::to_string(GetCurrentProcessId()) + "-" +
                                      std::to_string(GetTickCount() + attempt);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            *path = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

void CatchInterrupt() {
    g_interrupted = false;
    SetConsoleCtrlHandler(NoteInterrupt, TRUE);
}

void ReleaseInterrupt() {
    SetConsoleCtrlHandler(NoteInterrupt, FALSE);
}

bool Interrupted() {
    return g_interrupted;
}

}  // namespace morvane::tool
