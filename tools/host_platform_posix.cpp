#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "host_platform.h"

namespace morvane::tool {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_signal = 0;
volatile std::sig_atomic_t g_in_transfer = 0;
bool g_terminal = false;  // standard error is a terminal: its line can be wiped
struct sigaction g_previous[3]{};

void Say(const char* text) {
    (void)!write(STDERR_FILENO, text, std::strlen(text));
}

// Only what is safe in a signal handler: a flag, write(2), raise(3).
void NoteStop(int number) {
    if (g_signal != 0) {  // again: no more waiting for the transfer
        Say(g_terminal ? "\r\033[K" : "\n");
        signal(number, SIG_DFL);
        raise(number);
        return;
    }
    g_signal = number;
    if (number == SIGINT && g_in_transfer != 0)
        Say(g_terminal ? "\r\033[Kmorvane: stopping after this transfer (Ctrl-C again: at once)\n"
                       : "morvane: stopping after this transfer (Ctrl-C again: at once)\n");
}

}  // namespace

bool MakeScratchDirectory(std::string* path) {
    char scratch[] = "/tmp/morvane-XXXXXX";
    if (mkdtemp(scratch) == nullptr) return false;
    *path = scratch;
    return true;
}

StopSignals::StopSignals() {
    g_signal = 0;
    g_terminal = isatty(STDERR_FILENO) == 1;
    struct sigaction action {};
    action.sa_handler = NoteStop;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i)
        sigaction(kStopSignals[i], &action, &g_previous[i]);
}

StopSignals::~StopSignals() {
    for (int i = 0; i < 3; ++i)
        sigaction(kStopSignals[i], &g_previous[i], nullptr);
}

InTransfer::InTransfer() {
    g_in_transfer = 1;
}
InTransfer::~InTransfer() {
    g_in_transfer = 0;
}

bool Interrupted() {
    return g_signal != 0;
}

int InterruptSignal() {
    return g_signal;
}

std::string InterruptName() {
    if (g_signal == SIGINT) return "interrupted";
    return std::string("stopped by SIG") + (g_signal == SIGTERM ? "TERM" : "HUP");
}

bool DialogPossible() {
    return isatty(STDIN_FILENO) == 1;
}

bool DeviceGone(const std::string& device) {
    struct stat status {};
    return !device.empty() && stat(device.c_str(), &status) != 0 && errno == ENOENT;
}

}  // namespace morvane::tool
