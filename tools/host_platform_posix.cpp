#include <signal.h>

#include <csignal>
#include <cstdlib>

#include "host_platform.h"

namespace morvane::tool {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
struct sigaction g_previous {};

void NoteInterrupt(int) {
    if (g_interrupted != 0) {  // a second Ctrl-C: no more waiting for the transfer
        signal(SIGINT, SIG_DFL);
        raise(SIGINT);
        return;
    }
    g_interrupted = 1;
}

}  // namespace

bool MakeScratchDirectory(std::string* path) {
    char scratch[] = "/tmp/morvane-XXXXXX";
    if (mkdtemp(scratch) == nullptr) return false;
    *path = scratch;
    return true;
}

void CatchInterrupt() {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &g_previous);
}

void ReleaseInterrupt() {
    sigaction(SIGINT, &g_previous, nullptr);
}

bool Interrupted() {
    return g_interrupted != 0;
}

}  // namespace morvane::tool
