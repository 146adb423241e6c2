// Many channels at once: 1, 4 and 16 channels, each its own host thread,
// pseudo-terminal and simulator, paced at 19200 and 115200 baud (8E1,
// 3964R), every thread reading one word after the other for --seconds.
// Prints the aggregate exchanges per second, what one channel's line
// allows, and the aggregate over N times the one-channel rate measured
// first: 1.0 means the channels do not slow each other down. The CPU time
// of the whole process (drivers, simulators) per exchange shows what the 2
// cores have to carry, and the machine's busy share (all processors, the
// kernel's pseudo-terminal work and other programs included, from
// /proc/stat) whether they could carry more.
//
//   cmake --preset bench && cmake --build --preset bench -j2 --target channels_bench
//   build-bench/bench/channels_bench [--seconds S] [--quick]
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "paced_channel.h"

namespace morvane::bench {
namespace {

struct Result {
    double exchanges_per_s = 0;
    double cpu_us_per_exchange = 0;  // the whole process: drivers and simulators
    double machine_busy = 0;         // share of all processors' time not idle
    bool ok = true;
};

struct CpuTicks {
    unsigned long long busy = 0;
    unsigned long long total = 0;
};

// The first line of /proc/stat: user nice system idle iowait irq softirq steal ...
CpuTicks MachineTicks() {
    CpuTicks ticks;
    FILE* stat = std::fopen("/proc/stat", "r");
    if (stat == nullptr) return ticks;
    unsigned long long field[8] = {};
    if (std::fscanf(stat, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &field[0], &field[1],
                    &field[2], &field[3], &field[4], &field[5], &field[6], &field[7]) == 8) {
        for (const unsigned long long value : field)
            ticks.total += value;
        ticks.busy = ticks.total - field[3] - field[4];
    }
    std::fclose(stat);
    return ticks;
}

double ProcessCpuUs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Every channel reads as fast as its line lets it for the same stretch of time.
Result RunChannels(int count, uint32_t baud, double seconds) {
    std::vector<std::unique_ptr<PacedChannel>> channels;
    std::vector<std::unique_ptr<Transfer>> transfers;
    const Case& single_read = Cases().front();
    for (int i = 0; i < count; ++i) {
        channels.push_back(std::make_unique<PacedChannel>(i + 1, baud));
        if (!channels.back()->ok()) return {0, false};
        transfers.push_back(std::make_unique<Transfer>(*channels.back(), single_read));
        if (!transfers.back()->ok()) return {0, false};
    }
    std::atomic<bool> go{false};
    std::atomic<bool> failed{false};
    std::vector<double> rates(static_cast<size_t>(count), 0);
    std::atomic<uint64_t> total_exchanges{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            Transfer& transfer = *transfers[static_cast<size_t>(i)];
            while (!go.load())
                std::this_thread::yield();
            const Clock::time_point start = Clock::now();
            const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(seconds));
            uint64_t exchanges = 0;
            while (Clock::now() < end) {
                if (!transfer.Run()) failed = true;
                ++exchanges;
            }
            total_exchanges += exchanges;
            rates[static_cast<size_t>(i)] =
                static_cast<double>(exchanges) / (Ms(Clock::now() - start) / 1000.0);
        });
    }
    const double cpu_before = ProcessCpuUs();
    const CpuTicks machine_before = MachineTicks();
    go = true;
    for (std::thread& thread : threads)
        thread.join();
    const CpuTicks machine_after = MachineTicks();
    Result result;
    result.ok = !failed.load();
    if (machine_after.total > machine_before.total)
        result.machine_busy = static_cast<double>(machine_after.busy - machine_before.busy) /
                              static_cast<double>(machine_after.total - machine_before.total);
    result.cpu_us_per_exchange =
        (ProcessCpuUs() - cpu_before) / static_cast<double>(std::max<uint64_t>(total_exchanges, 1));
    for (const double rate : rates)
        result.exchanges_per_s += rate;
    return result;
}

int Main(int argc, char** argv) {
    double seconds = 3;
    std::vector<uint32_t> rates = {19200, 115200};
    std::vector<int> counts = {1, 4, 16};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            seconds = 0.3;
            rates = {115200};
            counts = {1, 4};
        } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::max(0.1, std::atof(argv[++i]));
        }
    }
    test::TempCurrentDirectory scratch;
    WriteProtocolFiles(counts.back());
    std::printf("3964R SingleRead of one word in a loop on every channel, %.1f s each\n", seconds);
    std::printf("%7s %8s %12s %12s %8s %12s %8s\n", "baud", "channels", "exchanges/s",
                "line limit/s", "ratio", "cpu us/exch", "busy");
    for (const uint32_t baud : rates) {
        double one_channel = 0;
        for (const int count : counts) {
            const Result result = RunChannels(count, baud, seconds);
            if (count == 1) one_channel = result.exchanges_per_s;
            // One single-word read is 28 characters in 3964R.
            const double line_limit = count * baud / (28.0 * kBitsPerCharacter);
            std::printf("%7u %8d %12.1f %12.1f %8.4f %12.1f %7.0f%%%s\n", baud, count,
                        result.exchanges_per_s, line_limit,
                        result.exchanges_per_s / (count * one_channel), result.cpu_us_per_exchange,
                        100 * result.machine_busy, result.ok ? "" : "  TRANSFER FAILED");
            std::fflush(stdout);
        }
    }
    return 0;
}

}  // namespace
}  // namespace morvane::bench

int main(int argc, char** argv) {
    return morvane::bench::Main(argc, argv);
}
