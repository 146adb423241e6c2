#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "monitor/line_watch.h"
#include "monitor/marks.h"

namespace morvane::monitor {
namespace {

// Writes all bytes, waiting for room; false when the port fails.
bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    while (count != 0) {
        const ssize_t n = write(fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd room{fd, POLLOUT, 0};
        if (poll(&room, 1, 1000) < 0 && errno != EINTR) return false;
        if (room.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
    return true;
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
    while (calls.keep_going()) {
        const int ready = poll(watch.data(), watch.size(), 50);
        if (ready < 0 && errno != EINTR) return std::string("poll: ") + std::strerror(errno);
        if (ready <= 0) {
            calls.on_tick(MonotonicMicros() - start_us);
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
            if (ends[i].forward_to >= 0 &&
                !WriteAll(ends[i].forward_to, reads[i].chars.data(), reads[i].chars.size()))
                return "writing on from " + ends[i].name + ": " + std::strerror(errno);
        }
        for (size_t i = 0; i < ends.size(); ++i)
            for (size_t k = 0; k < reads[i].chars.size(); ++k)
                calls.on_char(
                    LineChar{reads[i].at_us, ends[i].from, reads[i].chars[k], reads[i].damaged[k]});
    }
    return "";
}

}  // namespace morvane::monitor
