// The command-line host on Windows: the driver from LoadLibrary, Ctrl-C from
// the console, ports by their COM names. The embedded simulator, the line
// trace and the progress line run on pseudo-terminals and threads of Linux
// only: here a session needs --port and goes without them.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands.h"
#include "driver_library.h"
#include "host_platform.h"
#include "line_session.h"

namespace morvane::tool {
namespace {

constexpr char kLibraryName[] = "MORVANE.DLL";

std::atomic<int> g_signal{0};
std::atomic<bool> g_in_transfer{false};
UINT g_console_code_page = 0;  // the console's output code page before ours

std::string SystemMessage(DWORD code) {
    char text[256] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    message.erase(message.find_last_not_of("\r\n") + 1);
    return message.empty() ? "error " + std::to_string(code) : message;
}

void Say(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written,
              nullptr);
}

// Runs on a thread the console starts for the event, while the transfer
// goes on: the first Ctrl-C lets it finish, a second one ends at once.
BOOL WINAPI NoteStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    constexpr int kSigint = 2;  // as the exit status reports it
    if (g_signal.exchange(kSigint) != 0) {
        Say("\n");
        if (g_console_code_page != 0) SetConsoleOutputCP(g_console_code_page);
        ExitProcess(128 + kSigint);
    }
    if (g_in_transfer) Say("morvane: stopping after this transfer (Ctrl-C again: at once)\n");
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
void MarkTransfer(bool running) {
    g_in_transfer = running;
}
void MarkDialog(bool) {}

int InterruptSignal() {
    return g_signal;
}
std::string InterruptName() {
    return "interrupted";
}
// A device name (COM6, \\.\COM5, COM5:, AUX) opens no file: a log there would
// go onto a serial line, or nowhere. Files and pipes are written.
std::FILE* OpenStreamFile(const std::string& path, bool append, std::string* error) {
    const HANDLE handle = CreateFileA(
        path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = "cannot write " + path + ": " + SystemMessage(GetLastError());
        return nullptr;
    }
    if (GetFileType(handle) == FILE_TYPE_CHAR) {
        CloseHandle(handle);
        *error = path + " is a device, not a file: it could be a serial line";
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), append ? _O_APPEND : 0);
    std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, append ? "a" : "w");
    if (file == nullptr) {
        fd < 0 ? (void)CloseHandle(handle) : (void)_close(fd);
        *error = "cannot write " + path;
    }
    return file;
}

void KeepStandardStreams() {
    const UINT previous = GetConsoleOutputCP();
    if (previous == 0 || previous == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
    g_console_code_page = previous;
    std::atexit([] { SetConsoleOutputCP(g_console_code_page); });
}

const char kPlatformUsage[] =
    "On Windows: give the PLC's port with --port COM1 (COM10 and above as they\n"
    "are); the driver is MORVANE.DLL beside this program. The embedded simulator,\n"
    "--sim-*, --trace, --trace-file, the progress line and monitor are Linux only,\n"
    "and output whose reader has gone ends with status 1.\n\n";

std::string ArgumentInUtf8(const std::string& argument) {
    const UINT code_page = GetACP();
    const int size = static_cast<int>(argument.size());
    const int wide_size = MultiByteToWideChar(code_page, 0, argument.data(), size, nullptr, 0);
    if (code_page == CP_UTF8 || wide_size <= 0) return argument;
    std::wstring wide(static_cast<size_t>(wide_size), L'\0');
    MultiByteToWideChar(code_page, 0, argument.data(), size, wide.data(), wide_size);
    const int utf8_size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(utf8_size > 0 ? utf8_size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, utf8.data(), utf8_size, nullptr,
                        nullptr);
    return utf8;
}

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
