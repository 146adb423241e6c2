// Line efficiency: host transfers through TevMain against the simulator
// paced as an 8E1 line, in 3964R, at the standard rates. The limit is the
// line time of the characters that crossed in both directions, counted from
// the simulator's trace (control characters, doubled DLEs and block checks
// included), plus the reaction time the simulator is configured to take.
// Each case runs in batches of back-to-back transfers lasting at least
// --batch-ms of line time, --repeats batches; a batch ends when the
// simulator took the driver's last character. Prints the limit and the
// measured time per transfer, best and median, and measured / limit; then
// the changes of direction per transfer and the median's excess over the
// limit per change, next to a bare pseudo-terminal's round trip.
//
//   cmake --preset bench && cmake --build --preset bench -j2 --target line_bench
//   build-bench/bench/line_bench [--repeats N] [--batch-ms MS] [--rates R,R...]
//   [--quick]
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "paced_channel.h"

namespace morvane::bench {
namespace {

constexpr uint32_t kRates[] = {9600, 19200, 38400, 57600, 115200};
constexpr int kQuietMs = 20;  // far longer than a character at 9600 baud

struct Batch {
    double ms = 0;        // per transfer
    double limit_ms = 0;  // per transfer
    double characters = 0;
    double turns = 0;
    bool ok = true;
};

// Median time of a one-byte round trip between two threads over a bare
// pseudo-terminal, back to back or each after idle_us of sleep: what a
// change of direction costs on this machine before any driver or simulator
// code runs. A line's turns come after idle waits, like the second.
double PtyRoundTripUs(int trips, int idle_us) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return 0;
    for (const int fd : {master, slave}) {
        termios settings{};
        tcgetattr(fd, &settings);
        cfmakeraw(&settings);
        tcsetattr(fd, TCSANOW, &settings);
    }
    std::thread echo([master] {
        uint8_t byte = 0;
        while (read(master, &byte, 1) == 1 && byte != 0xFF)
            (void)!write(master, &byte, 1);
    });
    std::vector<double> us;
    for (int i = 0; i < trips; ++i) {
        if (idle_us > 0) std::this_thread::sleep_for(std::chrono::microseconds(idle_us));
        uint8_t byte = 1;
        const Clock::time_point start = Clock::now();
        if (write(slave, &byte, 1) != 1 || read(slave, &byte, 1) != 1) break;
        us.push_back(Ms(Clock::now() - start) * 1000.0);
    }
    const uint8_t end = 0xFF;
    (void)!write(slave, &end, 1);
    echo.join();
    close(master);
    close(slave);
    if (us.empty()) return 0;
    std::sort(us.begin(), us.end());
    return us[us.size() / 2];
}

Batch RunBatch(PacedChannel& channel, Transfer& transfer, const Case& c, uint32_t baud,
               int transfers) {
    Batch batch;
    channel.LastCharacterAt(kQuietMs);  // nothing left on the line from before
    const uint64_t characters_before = channel.characters();
    const uint64_t turns_before = channel.turns();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < transfers && batch.ok; ++i)
        batch.ok = transfer.Run();
    const Clock::time_point end = std::max(channel.LastCharacterAt(kQuietMs), start);
    const double characters = static_cast<double>(channel.characters() - characters_before);
    batch.characters = characters / transfers;
    batch.turns = static_cast<double>(channel.turns() - turns_before) / transfers;
    batch.ms = Ms(end - start) / transfers;
    batch.limit_ms = batch.characters * kBitsPerCharacter * 1000.0 / baud +
                     channel.ConfiguredReactionMs() * c.exchanges;
    return batch;
}

void PrintHeader() {
    std::printf("%7s %-15s %6s %10s %10s %10s %7s %7s %6s %8s\n", "baud", "transfer", "chars",
                "limit ms", "best ms", "median ms", "best", "median", "turns", "us/turn");
}

void PrintRow(uint32_t baud, const Case& c, std::vector<Batch> batches) {
    std::sort(batches.begin(), batches.end(),
              [](const Batch& a, const Batch& b) { return a.ms / a.limit_ms < b.ms / b.limit_ms; });
    const Batch& best = batches.front();
    const Batch& median = batches[batches.size() / 2];
    const bool ok =
        std::all_of(batches.begin(), batches.end(), [](const Batch& b) { return b.ok; });
    // The median's time over the limit, spread over its changes of direction.
    const double us_per_turn = (median.ms - median.limit_ms) * 1000.0 / median.turns;
    std::printf("%7u %-15s %6.0f %10.2f %10.2f %10.2f %7.4f %7.4f %6.0f %8.1f%s\n", baud, c.name,
                median.characters, median.limit_ms, best.ms, median.ms, best.ms / best.limit_ms,
                median.ms / median.limit_ms, median.turns, us_per_turn,
                ok ? "" : "  TRANSFER FAILED");
    std::fflush(stdout);
}

int Main(int argc, char** argv) {
    int repeats = 5;
    double batch_ms = 300;
    std::vector<uint32_t> rates(std::begin(kRates), std::end(kRates));
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--quick") == 0) {
            repeats = 1;
            batch_ms = 0;
            rates = {115200};
        } else if (std::strcmp(argv[i], "--repeats") == 0 && has_value) {
            repeats = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--rates") == 0 && has_value) {
            rates.clear();
            for (char* rate = std::strtok(argv[++i], ","); rate; rate = std::strtok(nullptr, ","))
                rates.push_back(static_cast<uint32_t>(std::atoi(rate)));
        } else if (std::strcmp(argv[i], "--batch-ms") == 0 && has_value) {
            batch_ms = std::max(0.0, std::atof(argv[++i]));
        }
    }
    test::TempCurrentDirectory scratch;
    WriteProtocolFiles(1);
    std::printf(
        "3964R, %d batches each, each at least %.0f ms of line time; "
        "ratio = measured / limit\n",
        repeats, batch_ms);
    std::printf(
        "bare pseudo-terminal round trip, median: %.1f us back to back, %.1f us after "
        "1 ms idle\n",
        PtyRoundTripUs(repeats * 200, 0), PtyRoundTripUs(repeats * 50, 1000));
    PrintHeader();
    for (const uint32_t baud : rates) {
        PacedChannel channel(1, baud);
        if (!channel.ok()) {
            std::fprintf(stderr, "line_bench: channel not started %s\n", channel.error().c_str());
            return 1;
        }
        for (const Case& c : Cases()) {
            Transfer transfer(channel, c);
            if (!transfer.ok()) {
                std::fprintf(stderr, "line_bench: %s: address refused\n", c.name);
                return 1;
            }
            // One transfer first: its line time sizes the batches.
            const Batch first = RunBatch(channel, transfer, c, baud, 1);
            const int transfers =
                std::max(1, static_cast<int>(std::ceil(batch_ms / first.limit_ms)));
            std::vector<Batch> batches;
            for (int r = 0; r < repeats; ++r)
                batches.push_back(RunBatch(channel, transfer, c, baud, transfers));
            PrintRow(baud, c, batches);
        }
    }
    return 0;
}

}  // namespace
}  // namespace morvane::bench

int main(int argc, char** argv) {
    return morvane::bench::Main(argc, argv);
}
