#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stop_token>
#include <thread>

#include "host_platform.h"

namespace morvane::tool {
namespace {

constexpr std::chrono::milliseconds kRedraw{250};

std::mutex g_stderr_mutex;
bool g_status_shown = false;  // a progress line is on the terminal

void Wipe() {
    if (!g_status_shown) return;
    std::fputs("\r\033[K", stderr);
    g_status_shown = false;
}

std::string ProgressText(const std::string& what, std::chrono::duration<double> spent,
                         std::chrono::duration<double> expected) {
    char text[200];
    if (spent < expected) {
        std::snprintf(text, sizeof text, "%s: %.1f s of about %.1f s (%d%%)", what.c_str(),
                      spent.count(), expected.count(),
                      static_cast<int>(100 * spent.count() / expected.count()));
    } else {
        std::snprintf(text, sizeof text, "%s: %.1f s (the line alone takes about %.1f s)",
                      what.c_str(), spent.count(), expected.count());
    }
    return text;
}

void ShowUntilStopped(std::stop_token stop, const std::string& what,
                      std::chrono::milliseconds expected,
                      std::chrono::steady_clock::time_point start) {
    std::mutex mutex;
    std::condition_variable_any wake;  // only the stop wakes it early
    std::unique_lock lock(mutex);
    const auto stopped = [&stop] { return stop.stop_requested(); };
    if (wake.wait_until(lock, stop, start + TransferProgress::kShowAfter, stopped)) return;
    do {
        const std::string text =
            ProgressText(what, std::chrono::steady_clock::now() - start, expected);
        std::lock_guard out(g_stderr_mutex);
        std::fprintf(stderr, "\r%s\033[K", text.c_str());
        std::fflush(stderr);
        g_status_shown = true;
    } while (!wake.wait_for(lock, stop, kRedraw, stopped));
}

}  // namespace

struct TransferProgress::Watch {
    std::jthread thread;  // asked to stop and joined when destroyed
};

void WriteErrorLine(const std::string& line) {
    std::lock_guard lock(g_stderr_mutex);
    Wipe();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

TransferProgress::TransferProgress(std::string what, std::chrono::milliseconds expected) {
    if (isatty(STDERR_FILENO) == 1)
        watch_.reset(new Watch{std::jthread(ShowUntilStopped, std::move(what), expected,
                                            std::chrono::steady_clock::now())});
}

TransferProgress::~TransferProgress() {
    if (!watch_) return;
    watch_.reset();  // the thread has stopped drawing before the line is wiped
    std::lock_guard lock(g_stderr_mutex);
    Wipe();
    std::fflush(stderr);
}

}  // namespace morvane::tool
