// The line monitor: the latency --between adds per byte, next to a direct
// pseudo-terminal pair, and the decoder's throughput on a large capture
// against the character rate of a 115200 baud 8E1 line.
//   monitor_bench [--quick]
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "monitor/line_watch.h"
#include "monitor/monitor.h"
#include "support/pty_pair.h"

namespace {

using namespace morvane;

// One byte written at `in`, waited for and read at `out`: microseconds each.
std::vector<double> OneWay(int in, int out, int bytes) {
    std::vector<double> took;
    for (int i = 0; i < bytes; ++i) {
        const uint8_t byte = static_cast<uint8_t>(i);
        const uint64_t start = monitor::MonotonicMicros();
        if (write(in, &byte, 1) != 1) break;
        pollfd ready{out, POLLIN, 0};
        if (poll(&ready, 1, 1000) <= 0) break;
        uint8_t back = 0;
        if (read(out, &back, 1) != 1) break;
        took.push_back(static_cast<double>(monitor::MonotonicMicros() - start));
    }
    std::sort(took.begin(), took.end());
    return took;
}

void Show(const char* name, const std::vector<double>& took) {
    if (took.empty()) return (void)std::printf("%-28s no bytes came through\n", name);
    std::printf("%-28s median %6.1f us  p99 %6.1f us  (%zu bytes)\n", name, took[took.size() / 2],
                took[took.size() * 99 / 100], took.size());
}

int SlaveOf(const test::PtyPair& pair) {
    return open(pair.name().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

void Latency(int bytes) {
    test::PtyPair direct, host_side, plc_side;
    const int direct_slave = SlaveOf(direct);
    Show("direct pseudo-terminal", OneWay(direct.master(), direct_slave, bytes));
    close(direct_slave);

    const int host_slave = SlaveOf(host_side), plc_slave = SlaveOf(plc_side);
    std::atomic<bool> going{true};
    monitor::MonitorOptions options;
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    monitor::Monitor watcher(options, out);
    std::thread watch([&] {
        std::vector<monitor::WatchEnd> ends(2);
        ends[0] = {host_slave, monitor::Side::kHost, false, plc_slave, "host"};
        ends[1] = {plc_slave, monitor::Side::kPlc, false, host_slave, "PLC"};
        monitor::WatchCalls calls;
        calls.on_char = [&](const monitor::LineChar& c) { watcher.Feed(c); };
        calls.on_tick = [&](uint64_t now) { watcher.Tick(now); };
        calls.keep_going = [&] { return going.load(); };
        monitor::WatchLine(ends, monitor::MonotonicMicros(), calls);
    });
    Show("through monitor --between", OneWay(host_side.master(), plc_side.master(), bytes));
    going = false;
    watch.join();
    close(host_slave);
    close(plc_slave);
    std::fclose(out);
    std::free(text);
}

void Throughput(int exchanges) {
    // A 3964R FETCH of one word and its reply, the line's commonest exchange.
    const std::vector<std::pair<monitor::Side, std::vector<uint8_t>>> exchange = {
        {monitor::Side::kHost, {0x02}},
        {monitor::Side::kPlc, {0x10}},
        {monitor::Side::kHost, {0, 0, 0x45, 0x44, 1, 2, 0, 1, 0xFF, 0xFF, 0x10, 0x03, 0x10}},
        {monitor::Side::kPlc, {0x10, 0x02}},
        {monitor::Side::kHost, {0x10}},
        {monitor::Side::kPlc, {0, 0, 0, 0, 0x12, 0x34, 0x10, 0x03, 0x35}},
        {monitor::Side::kHost, {0x10}},
    };
    std::vector<monitor::LineChar> line;
    uint64_t t = 0;
    for (int i = 0; i < exchanges; ++i)
        for (const auto& [side, bytes] : exchange)
            for (uint8_t byte : bytes)
                line.push_back({t += 95, side, byte, false});
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    const auto start = std::chrono::steady_clock::now();
    {
        monitor::Monitor watcher(monitor::MonitorOptions{}, out);
        for (const monitor::LineChar& c : line)
            watcher.Feed(c);
        watcher.Flush();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fclose(out);
    std::free(text);
    const double rate = static_cast<double>(line.size()) / seconds;
    const double line_rate = 115200.0 / 11;  // 8E1: 11 bits a character
    std::printf("decode: %zu characters in %.3f s: %.0f chars/s, %.0f times a 115200 baud line\n",
                line.size(), seconds, rate, rate / line_rate);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    Latency(quick ? 200 : 5000);
    Throughput(quick ? 20000 : 500000);
    return 0;
}
