// What the time-critical raise buys. Paced 3964R single reads and 64-word
// block reads through TevMain, on a quiet machine and with every processor
// kept busy by ordinary work in other processes (a child per core spinning
// at nice 0), with time-critical taken as real-time (fifo), as the best nice
// value (nice) and as no change (none). Each round runs a batch of every
// level in turn, quiet and then busy, the first level of a round taking turns, so the variants
// share whatever else the machine does. Prints the median and 99th percentile of the call's time,
// against the line time of its characters, and the calling thread's CPU per call.
//
//   cmake --preset bench && cmake --build --preset bench -j2 --target priority_bench
//   build-bench/bench/priority_bench [--rounds N] [--batch-ms MS] [--rates R,R...] [--quick]
#include <cstdio>
#include <thread>

#include "busy_cores.h"
#include "call_samples.h"
#include "side_by_side.h"

namespace morvane::bench {
namespace {

constexpr const char* kCaseNames[] = {"SingleRead 1", "BlockRead 64"};
constexpr int kLoads = 2;
constexpr const char* kLoadNames[kLoads] = {"quiet", "busy"};
constexpr int kLevelCount = sizeof kLevels / sizeof kLevels[0];

void PrintHeader() {
    std::printf("%7s %-13s %-6s %-5s %8s %8s %9s %9s %8s %8s %8s %8s\n", "baud", "transfer", "load",
                "level", "line ms", "calls", "median ms", "p99 ms", "median", "p99", "p99/best",
                "cpu us");
}

// One row per level of a load, the p99 against the best of the three.
void PrintLoad(uint32_t baud, const char* name, int load, double line_ms,
               const CallSamples (&samples)[kLevelCount]) {
    double best_p99 = samples[0].P99Ms();
    for (const CallSamples& s : samples)
        best_p99 = std::min(best_p99, s.P99Ms());
    for (int l = 0; l < kLevelCount; ++l) {
        const CallSamples& s = samples[l];
        std::printf("%7u %-13s %-6s %-5s %8.2f %8zu %9.2f %9.2f %8.4f %8.4f %8.3f %8.1f%s\n", baud,
                    name, kLoadNames[load], kLevels[l].name, line_ms, s.wall_ms.size(),
                    s.MedianMs(), s.P99Ms(), s.MedianMs() / line_ms, s.P99Ms() / line_ms,
                    s.P99Ms() / best_p99, s.CpuUs(), s.ok ? "" : "  TRANSFER FAILED");
    }
    std::fflush(stdout);
}

bool RunCase(PacedChannel& channel, uint32_t baud, const Case& c, const Options& options) {
    Transfer transfer(channel, c);
    if (!transfer.ok()) return false;
    const double line_ms =
        LineMs(CharactersOfOneCall(channel, [&transfer] { return transfer.Run(); }), baud);
    if (line_ms <= 0) return false;
    const int calls = CallsPerBatch(options.batch_ms, line_ms);

    CallSamples samples[kLoads][kLevelCount];
    for (int round = 0; round < options.rounds; ++round) {
        for (int load = 0; load < kLoads; ++load) {
            std::unique_ptr<BusyCores> busy;
            if (load == 1) {
                busy = std::make_unique<BusyCores>();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));  // they spin
            }
            // The first level after the load changed takes turns.
            for (int turn = 0; turn < kLevelCount; ++turn) {
                const int l = (turn + round) % kLevelCount;
                SetTimeCriticalLevel(kLevels[l].level);
                samples[load][l].RunBatch(calls, [&transfer] { return transfer.Run(); });
            }
        }
    }
    SetTimeCriticalLevel(kDefaultTimeCriticalLevel);
    bool ok = true;
    for (int load = 0; load < kLoads; ++load) {
        PrintLoad(baud, c.name, load, line_ms, samples[load]);
        for (const CallSamples& s : samples[load])
            ok = ok && s.ok;
    }
    return ok;
}

int Main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv, {12, 300, {19200, 115200}});
    test::TempCurrentDirectory scratch;
    WriteProtocolFiles(1);
    std::printf(
        "3964R paced; %d rounds, each a batch of every level, quiet then with %ld busy "
        "processes; a batch at least %.0f ms of line time; median and p99 over the calls, "
        "cpu the calling thread's per call (median of the batches)\n",
        options.rounds, sysconf(_SC_NPROCESSORS_ONLN), options.batch_ms);
    PrintHeader();
    for (const uint32_t baud : options.rates) {
        const char* simulator_runs = "";
        const std::unique_ptr<PacedChannel> channel = PlcChannel(1, baud, true, &simulator_runs);
        if (!channel->ok()) {
            std::fprintf(stderr, "priority_bench: channel not started %s\n",
                         channel->error().c_str());
            return 1;
        }
        if (baud == options.rates.front()) std::printf("(simulator thread: %s)\n", simulator_runs);
        for (const char* name : kCaseNames) {
            if (!RunCase(*channel, baud, CaseNamed(name), options)) {
                std::fprintf(stderr, "priority_bench: %s at %u failed\n", name, baud);
                return 1;
            }
        }
    }
    return 0;
}

}  // namespace
}  // namespace morvane::bench

int main(int argc, char** argv) {
    return morvane::bench::Main(argc, argv);
}
