#include <windows.h>

#include "port_diagnosis.h"

namespace morvane::tool {
namespace {

std::string SystemText(DWORD error) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return " (" + (message.empty() ? "error " + std::to_string(error) : message) + ")";
}

}  // namespace

std::string DiagnosePort(const std::string& device, const LineParameters&) {
    const std::string path = device.rfind("\\\\.\\", 0) == 0 ? device : "\\\\.\\" + device;
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return "no such port" + SystemText(error);
        // A communications port opens for one program at a time.
        if (error == ERROR_ACCESS_DENIED) return "in use by another program" + SystemText(error);
        return "cannot open it" + SystemText(error);
    }
    CloseHandle(handle);
    return "it opens now; the driver's log tells why it did not (--log-level 8)";
}

}  // namespace morvane::tool
