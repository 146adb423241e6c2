// The Windows serial backend's reading of the error flags, at its seam: the
// flags ClearCommError reports are supplied by this program, the bytes come
// through a pipe in place of a port. A block is refused as damaged exactly
// when the flags say a character was damaged or lost.
//
// Prints one line per check and "N passed, N failed"; exits 1 on a failure.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <optional>

#include "link/link3964.h"
#include "serial/comm_calls_win32.h"
#include "serial/serial_port.h"

namespace {

int g_passed = 0;
int g_failed = 0;
DWORD g_flags = 0;  // what the next ClearCommError reports, then cleared
DWORD g_queued = 0;

BOOL WINAPI FakeClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status) {
    if (errors != nullptr) *errors = g_flags;
    if (status != nullptr) status->cbInQue = g_queued;
    g_flags = 0;
    return TRUE;
}

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    (ok ? g_passed : g_failed)++;
}

struct FlagCase {
    const char* name;
    DWORD flags;
    uint32_t line_errors;
};

// A block 41 10 03 through a pipe, with the given flags standing when it ends.
// Receive on a block that ends under the flags; empty without a pipe.
std::optional<morvane::ReceiveResult> ReceiveWithFlags(DWORD flags) {
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 0)) return std::nullopt;
    const uint8_t block[] = {0x41, 0x10, 0x03};
    DWORD written = 0;
    WriteFile(write_end, block, sizeof block, &written, nullptr);
    g_flags = flags;
    uint8_t buffer[morvane::kLinkBufferSize];
    uint16_t length = 0;
    const auto port = static_cast<morvane::PortHandle>(reinterpret_cast<uintptr_t>(read_end));
    const morvane::ReceiveResult result = morvane::Receive(port, 0, buffer, &length);
    CloseHandle(read_end);
    CloseHandle(write_end);
    return result;
}

}  // namespace

int main() {
    morvane::TheCommCalls().clear_comm_error = FakeClearCommError;
    const FlagCase cases[] = {
        {"no flags", 0, 0},
        {"parity error", CE_RXPARITY, morvane::kLineCharacterDamaged},
        {"framing error", CE_FRAME, morvane::kLineCharacterDamaged},
        {"break", CE_BREAK, morvane::kLineCharacterDamaged},
        {"UART overrun", CE_OVERRUN, morvane::kLineOverrun},
        {"input queue overrun", CE_RXOVER, morvane::kLineOverrun},
        {"output queue full alone", CE_TXFULL, 0},
        {"parity error and overrun", CE_RXPARITY | CE_OVERRUN,
         morvane::kLineCharacterDamaged | morvane::kLineOverrun},
    };
    for (const FlagCase& c : cases) {
        g_flags = c.flags;
        const uint32_t taken = morvane::SerialTakeLineErrors(1);
        char what[96];
        std::snprintf(what, sizeof what, "%s: line errors 0x%X", c.name,
                      static_cast<unsigned>(taken));
        Check(taken == c.line_errors, what);
        std::snprintf(what, sizeof what, "%s: a block ending under it is %s", c.name,
                      c.line_errors ? "refused" : "taken");
        Check(ReceiveWithFlags(c.flags) == (c.line_errors ? morvane::ReceiveResult::kBadBlock
                                                          : morvane::ReceiveResult::kReceived),
              what);
    }
    g_flags = CE_RXPARITY;
    g_queued = 5;
    uint32_t waiting = 0;
    Check(morvane::SerialBytesWaiting(1, &waiting) && waiting == 5,
          "the status query reports the queue");
    Check(morvane::SerialTakeLineErrors(1) == 0, "and clears the flags, as a purge must");
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
