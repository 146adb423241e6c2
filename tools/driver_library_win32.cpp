#include <windows.h>

#include "driver_library.h"

namespace morvane::tool {
namespace {

constexpr char kLibraryName[] = "MORVANE.DLL";

std::string ProgramDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return ".";
    const std::string program(path, length);
    const size_t separator = program.find_last_of("\\/");
    return separator == std::string::npos ? "." : program.substr(0, separator);
}

std::string SystemMessage(DWORD code) {
    char text[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

DriverLibrary::~DriverLibrary() {
    if (library_ != nullptr) FreeLibrary(static_cast<HMODULE>(library_));
}

bool DriverLibrary::Load(const std::string& path) {
    path_ = path;
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error_ = "cannot load " + path + ": " + SystemMessage(GetLastError());
        return false;
    }
    library_ = module;
    tev_main_ = reinterpret_cast<TevMainFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "TevMain")));
    if (tev_main_ == nullptr) {
        error_ = path + " exports no TevMain";
        return false;
    }
    return true;
}

std::string DefaultDriverPath() {
    const std::string candidate = ProgramDirectory() + "\\" + kLibraryName;
    if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
    return kLibraryName;  // the system's own search
}

}  // namespace morvane::tool
