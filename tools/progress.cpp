#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace morvane::tool {
namespace {

constexpr uint32_t kBitsPerCharacter = 11;  // 8E1
constexpr uint32_t kWordsPerTelegram = 64;
constexpr std::chrono::milliseconds kRedraw{250};

std::mutex g_stderr_mutex;
bool g_status_shown = false;  // a progress line is on the terminal

void Wipe() {
    if (!g_status_shown) return;
    std::fputs("\r\033[K", stderr);
    g_status_shown = false;
}

}  // namespace

std::chrono::milliseconds ExpectedLineTime(uint32_t words, uint32_t baud) {
    const uint32_t telegrams = words == 0 ? 1 : (words + kWordsPerTelegram - 1) / kWordsPerTelegram;
    // Per telegram: STX, DLE, header, DLE ETX, DLE; STX, DLE, reply header,
    // DLE ETX, DLE. The data bytes ride in the telegram or in the reply.
    const uint32_t framing = telegrams * (1 + 1 + 2 + 1 + 1 + 1 + 4 + 2 + 1);
    const uint32_t headers = 10 + (telegrams - 1) * 4;
    const uint64_t characters = framing + headers + 2ull * words;
    const uint64_t bits = characters * kBitsPerCharacter;
    return std::chrono::milliseconds(baud == 0 ? 0 : bits * 1000 / baud);
}

void WriteErrorLine(const std::string& line) {
    std::lock_guard lock(g_stderr_mutex);
    Wipe();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

TransferProgress::TransferProgress(std::string what, std::chrono::milliseconds expected)
    : what_(std::move(what)), expected_(expected), start_(std::chrono::steady_clock::now()) {
    if (isatty(STDERR_FILENO) == 1) thread_ = std::thread([this] { Run(); });
}

TransferProgress::~TransferProgress() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
    std::lock_guard lock(g_stderr_mutex);
    Wipe();
    std::fflush(stderr);
}

void TransferProgress::Run() {
    std::unique_lock lock(mutex_);
    if (wake_.wait_until(lock, start_ + kShowAfter, [this] { return stop_; })) return;
    do {
        using Seconds = std::chrono::duration<double>;
        const double spent = Seconds(std::chrono::steady_clock::now() - start_).count();
        const double expected = Seconds(expected_).count();
        char text[160];
        if (spent < expected) {
            std::snprintf(text, sizeof text, "%s: %.1f s of about %.1f s (%d%%)", what_.c_str(),
                          spent, expected, static_cast<int>(100 * spent / expected));
        } else {
            std::snprintf(text, sizeof text, "%s: %.1f s (the line alone takes about %.1f s)",
                          what_.c_str(), spent, expected);
        }
        std::lock_guard out(g_stderr_mutex);
        std::fprintf(stderr, "\r%s\033[K", text);
        std::fflush(stderr);
        g_status_shown = true;
    } while (!wake_.wait_for(lock, kRedraw, [this] { return stop_; }));
}

}  // namespace morvane::tool
