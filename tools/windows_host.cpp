// The command-line host on Windows: the driver from LoadLibrary, Ctrl-C from
// the console, ports by their COM names. The embedded simulator, the line
// trace and the progress line run on pseudo-terminals and threads of Linux
// only: here a session needs --port and goes without them.
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "commands.h"
#include "driver_library.h"
#include "host_platform.h"
#include "line_session.h"

namespace morvane::tool {
namespace {

constexpr char kLibraryName[] = "MORVANE.DLL";

std::atomic<int> g_signal{0};

std::string SystemMessage(DWORD code) {
    char text[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    message.erase(message.find_last_not_of("\r\n") + 1);
    return message.empty() ? "error " + std::to_string(code) : message;
}

// Runs on a thread the console starts for the event.
BOOL WINAPI NoteStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    g_signal = 2;  // SIGINT's number, as the exit status reports it
    return TRUE;
}

}  // namespace

bool DriverLibrary::Load(const std::string& path) {
    path_ = path;
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error_ = "cannot load " + path + ": " + SystemMessage(GetLastError());
        return false;
    }
    library_ = {module, [](void* library) { FreeLibrary(static_cast<HMODULE>(library)); }};
    tev_main_ = reinterpret_cast<TevMainFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "TevMain")));
    if (tev_main_ == nullptr) {
        error_ = path + " exports no TevMain";
        return false;
    }
    return true;
}

std::string DefaultDriverPath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string program(path, length < sizeof path ? length : 0);
    const size_t separator = program.find_last_of("\\/");
    const std::string directory =
        separator == std::string::npos ? "." : program.substr(0, separator);
    const std::string candidate = directory + "\\" + kLibraryName;
    if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) return candidate;
    return kLibraryName;  // the system's own search
}

void WatchStopSignals(bool watch) {
    g_signal = watch ? 0 : g_signal.load();
    SetConsoleCtrlHandler(NoteStop, watch ? TRUE : FALSE);
}
void MarkTransfer(bool) {}
void MarkDialog(bool) {}

int InterruptSignal() {
    return g_signal;
}
std::string InterruptName() {
    return "interrupted";
}
std::FILE* OpenStreamFile(const std::string& path, bool append, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), append ? "a" : "w");
    if (file == nullptr) *error = "cannot write " + path;
    return file;
}

void KeepStandardStreams() {}

std::string DialogImpossible() {
    return "";  // a dialog box of its own
}
bool SameDevice(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}
bool DeviceGone(const std::string&) {
    return false;
}

bool ResolvePort(const std::string& given, std::string* device, std::string* port,
                 std::string* error, const std::string& option) {
    *device = given;
    *port = given;
    if (!given.empty() && given.size() < MORVANE_PORT_NAME_SIZE) return true;
    *error = given.empty() ? "bad value for " + option + ": a port such as COM1"
                           : "port name " + given + " too long: at most " +
                                 std::to_string(MORVANE_PORT_NAME_SIZE - 1) + " characters";
    return false;
}

std::string DiagnosePort(const std::string& device, const LineParameters&) {
    const std::string path = device.rfind("\\\\.\\", 0) == 0 ? device : "\\\\.\\" + device;
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const std::string text = " (" + SystemMessage(error) + ")";
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return "no such port" + text;
        // A communications port opens for one program at a time.
        if (error == ERROR_ACCESS_DENIED) return "in use by another program" + text;
        return "cannot open it" + text;
    }
    CloseHandle(handle);
    return "it opens now; the driver's log tells why it did not (--log-level 8)";
}

struct TransferProgress::Watch {};

void WriteErrorLine(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

TransferProgress::TransferProgress(std::string, std::chrono::milliseconds) {}
TransferProgress::~TransferProgress() = default;

std::unique_ptr<EmbeddedPlc> StartEmbeddedPlc(const SessionOptions&, const LineParameters&,
                                              std::string* error) {
    *error =
        "give the PLC's port with --port (COM1, COM2, ...): the embedded simulator runs on "
        "Linux only";
    return nullptr;
}

std::unique_ptr<TraceRelay> StartTraceRelay(const std::string&, const LineParameters*,
                                            const std::string&, std::string* error) {
    *error = "--trace relays the line through a pseudo-terminal: Linux only";
    return nullptr;
}

int RunMonitor(const Arguments&) {
    WriteErrorLine("morvane: monitor watches ports as Linux opens them: Linux only");
    return kExitUsage;
}

}  // namespace morvane::tool
