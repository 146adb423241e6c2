#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "monitor/line_watch.h"
#include "monitor/marks.h"

namespace morvane::monitor {
namespace {

// A port that takes no byte for this long while bytes wait has stopped
// (its reader gone, its flow held): forwarding ends rather than waiting on
// it for ever. A serial port wakes a writer well before its buffer drains,
// so a working port, even a slow one, never comes near it.
constexpr int kStuckMs = 5000;
constexpr int kSliceMs = 50;

// Writes all bytes, waiting for room. "" when done or when told to stop,
// else what failed.
std::string WriteAll(int fd, const uint8_t* bytes, size_t count, const WatchCalls& calls) {
    int idle_ms = 0;
    while (count != 0) {
        const ssize_t n = write(fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
            idle_ms = 0;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return std::strerror(errno);
        if (!calls.keep_going()) return "";
        if (idle_ms >= kStuckMs) return "took no byte for " + std::to_string(kStuckMs) + " ms";
        pollfd room{fd, POLLOUT, 0};
        const int ready = poll(&room, 1, kSliceMs);
        if (ready < 0 && errno != EINTR) return std::strerror(errno);
        if (room.revents & (POLLERR | POLLHUP | POLLNVAL)) return "hung up";
        if (ready == 0) idle_ms += kSliceMs;
    }
    return "";
}

}  // namespace

uint64_t MonotonicMicros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

std::string WatchLine(const std::vector<WatchEnd>& ends, uint64_t start_us,
                      const WatchCalls& calls) {
    std::vector<pollfd> watch;
    for (const WatchEnd& end : ends)
        watch.push_back(pollfd{end.fd, POLLIN, 0});
    std::vector<MarkReader> marks(ends.size());
    struct Read {
        uint64_t at_us = 0;
        std::vector<uint8_t> chars;
        std::vector<bool> damaged;
    };
    std::vector<Read> reads(ends.size());
    uint8_t buffer[4096];
    std::vector<uint8_t> passed;
    while (calls.keep_going()) {
        const int ready = poll(watch.data(), watch.size(), 50);
        if (ready < 0 && errno != EINTR) return std::string("poll: ") + std::strerror(errno);
        if (ready <= 0) {
            if (calls.on_tick) calls.on_tick(MonotonicMicros() - start_us);
            continue;
        }
        // Forwarding first: every port's bytes go on before any is decoded.
        for (size_t i = 0; i < ends.size(); ++i) {
            reads[i].chars.clear();
            reads[i].damaged.clear();
            if (watch[i].revents == 0) continue;
            const ssize_t n = read(ends[i].fd, buffer, sizeof buffer);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n <= 0)
                return ends[i].name + ": " + (n == 0 ? "end of input" : std::strerror(errno));
            reads[i].at_us = MonotonicMicros() - start_us;
            if (ends[i].marked) {
                marks[i].Feed(buffer, static_cast<size_t>(n), &reads[i].chars, &reads[i].damaged);
            } else {
                reads[i].chars.assign(buffer, buffer + n);
                reads[i].damaged.assign(static_cast<size_t>(n), false);
            }
            if (ends[i].forward_to < 0) continue;
            // A damaged character is not passed on: the far port cannot mark
            // it, and as a clean byte it could pass for data there. A block
            // short of a character fails the receiver's checks instead.
            passed.clear();
            for (size_t k = 0; k < reads[i].chars.size(); ++k)
                if (!reads[i].damaged[k]) passed.push_back(reads[i].chars[k]);
            const std::string failed =
                WriteAll(ends[i].forward_to, passed.data(), passed.size(), calls);
            if (!failed.empty()) return "writing on from " + ends[i].name + ": " + failed;
        }
        for (size_t i = 0; i < ends.size(); ++i) {
            if (calls.on_read && !reads[i].chars.empty())
                calls.on_read(reads[i].at_us, ends[i].from, reads[i].chars, reads[i].damaged);
            for (size_t k = 0; calls.on_char && k < reads[i].chars.size(); ++k)
                calls.on_char(
                    LineChar{reads[i].at_us, ends[i].from, reads[i].chars[k], reads[i].damaged[k]});
        }
    }
    return "";
}

}  // namespace morvane::monitor
