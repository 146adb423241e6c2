// A Windows host asking for an address: loads MORVANE.DLL, calls
// BrowseAddress0 (which shows the "Tag Format" dialog on this thread) and
// prints what came back, for scripts/dialog-check.sh, which types into the
// dialog on a virtual display.
//
//   dialog_host_check [GATE_TYPE]
//
// While the dialog is up, a watcher thread prints where its controls are on
// the screen ("control NAME X Y", the centre, once) and the text of every
// "Error" message box that appears ("error TEXT"). Then the program prints
// "result N" and either "address TEXT" or whether the host's buffer is as it
// was ("buffer untouched" / "buffer changed"). With a GATE_TYPE, an address is
// parsed for a gate of that type: "parse N class C packed 0xP bit B width W".
// Exits 0 once it has printed all of that, 1 when the driver cannot be loaded.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "browse/tag_format_resource.h"
#include "morvane/morvane.h"

namespace {

using TevMainFunction = int32_t(MORVANE_CALL*)(TevRequest*);

// The message box's text control, in Windows and in Wine alike.
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr char kBufferFill = 'U';

struct NamedControl {
    const char* name;
    int id;
};

constexpr NamedControl kControls[] = {
    {"block", IDC_BLOCK_FIELD}, {"location", IDC_LOCATION_FIELD}, {"length", IDC_LENGTH_FIELD},
    {"bit", IDC_BIT_FIELD},     {"16bits", IDC_TYPE_16_BITS},     {"32bits", IDC_TYPE_32_BITS},
    {"float", IDC_TYPE_FLOAT},  {"string", IDC_TYPE_STRING},      {"digital", IDC_TYPE_DIGITAL},
    {"ok", IDC_OK_BUTTON},      {"cancel", IDC_CANCEL_BUTTON},
};

void PrintLine(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

void PrintControls(HWND dialog) {
    for (const NamedControl& control : kControls) {
        RECT rect{};
        if (!GetWindowRect(GetDlgItem(dialog, control.id), &rect)) continue;
        PrintLine("control %s %ld %ld\n", control.name, (rect.left + rect.right) / 2,
                  (rect.top + rect.bottom) / 2);
    }
    PrintLine("controls done\n");
}

std::atomic<bool> g_stop{false};

// Looks for the dialog and its error boxes every 20 ms until told to stop.
DWORD WINAPI Watch(void*) {
    bool dialog_seen = false;
    HWND last_error = nullptr;
    while (!g_stop.load()) {
        if (!dialog_seen) {
            HWND dialog = FindWindowA(nullptr, "Tag Format");
            if (dialog != nullptr && IsWindowVisible(dialog)) {
                PrintControls(dialog);
                dialog_seen = true;
            }
        }
        HWND error = FindWindowA(nullptr, "Error");
        if (error != nullptr && error != last_error && IsWindowVisible(error)) {
            char text[256] = "";
            GetDlgItemTextA(error, kMessageBoxTextId, text, sizeof text);
            PrintLine("error %s\n", text);
            last_error = error;
        }
        Sleep(20);
    }
    return 0;
}

void PrintParse(TevMainFunction tev_main, const char* address, uint32_t gate_type) {
    ParseBlock parse{};
    parse.address = address;
    parse.gate_type = gate_type;
    std::vector<uint8_t> area(MORVANE_CHANNEL_AREA_SIZE, 0);
    TevRequest request{reinterpret_cast<ChannelArea*>(area.data()),
                       MORVANE_CMD_SINGLE_ADDRESS_PARSER, 1, 0, &parse};
    const int32_t result = tev_main(&request);
    PrintLine("parse %d class %c packed 0x%08X bit %d width %d\n", static_cast<int>(result),
              parse.gate.class_letter != 0 ? static_cast<char>(parse.gate.class_letter) : '-',
              static_cast<unsigned>(parse.gate.packed_address),
              static_cast<int>(parse.gate.bit_number), static_cast<int>(parse.gate.width));
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // lines end in \n for the script reading them
    HMODULE driver = LoadLibraryA("MORVANE.DLL");
    auto tev_main = driver == nullptr ? nullptr
                                      : reinterpret_cast<TevMainFunction>(reinterpret_cast<void*>(
                                            GetProcAddress(driver, "TevMain")));
    if (tev_main == nullptr) {
        PrintLine("cannot load MORVANE.DLL and its TevMain\n");
        return 1;
    }

    // The host's buffer: ten bytes for the address, more to see an overrun.
    char buffer[24];
    std::memset(buffer, kBufferFill, sizeof buffer);
    BrowseBlock browse{buffer, nullptr};
    TevRequest request{nullptr, MORVANE_CMD_BROWSE_ADDRESS, 1, 0, &browse};

    HANDLE watcher = CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr);
    const int32_t result = tev_main(&request);
    g_stop = true;
    if (watcher != nullptr) {
        WaitForSingleObject(watcher, 5000);
        CloseHandle(watcher);
    }

    PrintLine("result %d\n", static_cast<int>(result));
    if (result == MORVANE_OK) {
        bool tail_kept = std::memchr(buffer, '\0', 10) != nullptr;
        for (size_t i = 10; i < sizeof buffer; ++i)
            tail_kept = tail_kept && buffer[i] == kBufferFill;
        PrintLine("address %s%s\n", buffer, tail_kept ? "" : " (past the host's ten bytes)");
        if (argc > 1) PrintParse(tev_main, buffer, static_cast<uint32_t>(std::atoi(argv[1])));
    } else {
        bool untouched = true;
        for (char c : buffer)
            untouched = untouched && c == kBufferFill;
        PrintLine("buffer %s\n", untouched ? "untouched" : "changed");
    }
    FreeLibrary(driver);
    return 0;
}
