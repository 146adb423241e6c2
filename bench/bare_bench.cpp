// The driver against a bare client: paced 3964R single reads and 64-word
// block reads through TevMain, with time-critical taken at each level, and
// the same telegram bytes from a client of plain writes, polls and reads
// (bare_client.h), each on a simulator of its own paced alike. Each round
// runs a batch of every variant in turn, the first taking turns. Prints the
// median call time and the calling thread's CPU per call, and both over the
// bare client's: the driver's cost beyond the line and the system calls any
// client needs.
//
//   cmake --preset bench && cmake --build --preset bench -j2 --target bare_bench
//   build-bench/bench/bare_bench [--rounds N] [--batch-ms MS] [--rates R,R...] [--quick]
#include <cstdio>

#include "bare_client.h"
#include "call_samples.h"
#include "side_by_side.h"

namespace morvane::bench {
namespace {

struct BareCase {
    const char* name;  // of the driver's case (paced_channel.h)
    uint8_t db;
    uint8_t start;
    uint16_t words;
};
constexpr BareCase kCases[] = {{"SingleRead 1", 2, 10, 1}, {"BlockRead 64", 2, 0, 64}};
constexpr int kLevelCount = sizeof kLevels / sizeof kLevels[0];
constexpr int kVariants = kLevelCount + 1;  // the last one is the bare client

const char* VariantName(int variant) {
    if (variant == kLevelCount) return "bare";
    return kLevels[variant].level == kDefaultTimeCriticalLevel ? "default" : "";
}

void PrintRows(uint32_t baud, const char* name, double characters,
               const CallSamples (&samples)[kVariants]) {
    const CallSamples& bare = samples[kLevelCount];
    for (int v = 0; v < kVariants; ++v) {
        const CallSamples& s = samples[v];
        std::printf("%7u %-13s %-7s %-7s %6.0f %8.2f %9.3f %8.1f %8.4f %8.3f%s\n", baud, name,
                    v == kLevelCount ? "-" : kLevels[v].name, VariantName(v), characters,
                    LineMs(characters, baud), s.MedianMs(), s.CpuUs(),
                    s.MedianMs() / bare.MedianMs(), s.CpuUs() / bare.CpuUs(),
                    s.ok ? "" : "  TRANSFER FAILED");
    }
    std::fflush(stdout);
}

bool RunCase(PacedChannel& driver_channel, PacedChannel& bare_channel, BareClient& bare,
             uint32_t baud, const BareCase& c, const Options& options) {
    Transfer transfer(driver_channel, CaseNamed(c.name));
    if (!transfer.ok()) return false;
    const auto driver_call = [&transfer] { return transfer.Run(); };
    const auto bare_call = [&bare, &c] { return bare.Fetch(c.db, c.start, c.words); };
    const double characters = CharactersOfOneCall(driver_channel, driver_call);
    const double bare_characters = CharactersOfOneCall(bare_channel, bare_call);
    if (characters <= 0 || characters != bare_characters) {
        std::fprintf(stderr, "bare_bench: %s: %.0f characters through the driver, %.0f bare\n",
                     c.name, characters, bare_characters);
        return false;
    }
    const int calls = CallsPerBatch(options.batch_ms, LineMs(characters, baud));

    CallSamples samples[kVariants];
    for (int round = 0; round < options.rounds; ++round) {
        for (int turn = 0; turn < kVariants; ++turn) {
            const int v = (turn + round) % kVariants;
            if (v == kLevelCount) {
                samples[v].RunBatch(calls, bare_call);
            } else {
                SetTimeCriticalLevel(kLevels[v].level);
                samples[v].RunBatch(calls, driver_call);
            }
        }
    }
    SetTimeCriticalLevel(kDefaultTimeCriticalLevel);
    PrintRows(baud, c.name, characters, samples);
    for (const CallSamples& s : samples)
        if (!s.ok) return false;
    return true;
}

int Main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv, {10, 300, {19200, 115200}});
    test::TempCurrentDirectory scratch;
    WriteProtocolFiles(1);
    std::printf(
        "3964R paced; %d rounds, each a batch of every variant; a batch at least %.0f ms of "
        "line time; wall = median call time, cpu = the calling thread's per call (median of the "
        "batches); ratios over the bare client\n",
        options.rounds, options.batch_ms);
    std::printf("%7s %-13s %-7s %-7s %6s %8s %9s %8s %8s %8s\n", "baud", "transfer", "level", "",
                "chars", "line ms", "wall ms", "cpu us", "wall/b", "cpu/b");
    for (const uint32_t baud : options.rates) {
        const char* simulator_runs = "";
        const auto driver_channel = PlcChannel(1, baud, true, &simulator_runs);
        const auto bare_channel = PlcChannel(2, baud, false, &simulator_runs);
        if (!driver_channel->ok() || !bare_channel->ok()) {
            std::fprintf(stderr, "bare_bench: channel not started\n");
            return 1;
        }
        BareClient bare(bare_channel->sim().path());
        if (!bare.ok()) {
            std::fprintf(stderr, "bare_bench: the bare client cannot open its line\n");
            return 1;
        }
        if (baud == options.rates.front()) std::printf("(simulator threads: %s)\n", simulator_runs);
        for (const BareCase& c : kCases) {
            if (!RunCase(*driver_channel, *bare_channel, bare, baud, c, options)) {
                std::fprintf(stderr, "bare_bench: %s at %u failed\n", c.name, baud);
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
