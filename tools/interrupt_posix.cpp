#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "interrupt.h"

namespace morvane::tool {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
struct sigaction g_previous {};

void NoteInterrupt(int) {
    if (g_interrupted != 0) {  // the second Ctrl-C: no more waiting
        signal(SIGINT, SIG_DFL);
        raise(SIGINT);
        return;
    }
    g_interrupted = 1;
    constexpr char kNote[] = "\nmorvane: interrupted; finishing the running transfer\n";
    const ssize_t ignored = write(STDERR_FILENO, kNote, sizeof kNote - 1);
    (void)ignored;
}

}  // namespace

InterruptStopsSteps::InterruptStopsSteps() {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &g_previous);
}

InterruptStopsSteps::~InterruptStopsSteps() {
    sigaction(SIGINT, &g_previous, nullptr);
}

bool Interrupted() {
    return g_interrupted != 0;
}

bool WaitUnlessInterrupted(long ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (g_interrupted == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms < 20 ? ms : 20));
    return g_interrupted == 0;
}

}  // namespace morvane::tool
