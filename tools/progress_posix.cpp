#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "progress.h"

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

}  // namespace

struct TransferProgress::Watch {
    Watch(std::string what, std::chrono::milliseconds expected)
        : what(std::move(what)), expected(expected), start(std::chrono::steady_clock::now()) {
        thread = std::thread([this] { Run(); });
    }
    ~Watch() {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        wake.notify_one();
        thread.join();
        std::lock_guard lock(g_stderr_mutex);
        Wipe();
        std::fflush(stderr);
    }

    void Run() {
        std::unique_lock lock(mutex);
        if (wake.wait_until(lock, start + kShowAfter, [this] { return stop; })) return;
        do {
            const std::string text =
                ProgressText(what, std::chrono::steady_clock::now() - start, expected);
            std::lock_guard out(g_stderr_mutex);
            std::fprintf(stderr, "\r%s\033[K", text.c_str());
            std::fflush(stderr);
            g_status_shown = true;
        } while (!wake.wait_for(lock, kRedraw, [this] { return stop; }));
    }

    const std::string what;
    const std::chrono::milliseconds expected;
    const std::chrono::steady_clock::time_point start;
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::thread thread;
};

void WriteErrorLine(const std::string& line) {
    std::lock_guard lock(g_stderr_mutex);
    Wipe();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

TransferProgress::TransferProgress(std::string what, std::chrono::milliseconds expected) {
    if (isatty(STDERR_FILENO) == 1) watch_ = std::make_unique<Watch>(std::move(what), expected);
}

TransferProgress::~TransferProgress() = default;

}  // namespace morvane::tool
