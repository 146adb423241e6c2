// The simulator's line pacing alone: a block through a paced Line to a plain
// reader on the pseudo-terminal's other end (send), and from a plain writer
// there through Line::ReadByte (receive), at the standard rates with 8E1
// characters. Prints the measured time next to the pure line time of the
// characters and their ratio, best and median over the repeats, and the
// serving thread's CPU time as a share of the measured time.
//
//   cmake --preset bench && cmake --build --preset bench -j2 --target pacing_bench
//   build-bench/bench/pacing_bench [--repeats N] [--bytes N]
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/line.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kBitsPerCharacter = 11;  // start, 8 data, even parity, stop
constexpr uint32_t kRates[] = {9600, 19200, 38400, 57600, 115200};
constexpr int kByteTimeoutMs = 1000;

struct Run {
    double ms = 0;
    double cpu_ms = 0;  // of the thread serving the simulator's end
    bool ok = false;
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

std::vector<uint8_t> Block(size_t bytes) {
    std::vector<uint8_t> block(bytes);
    for (size_t i = 0; i < bytes; ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    return block;
}

std::unique_ptr<plcsim::Line> PacedLine(uint32_t baud, int* other_end) {
    std::string error;
    auto line = plcsim::Line::OpenPty(&error);
    if (!line) {
        std::fprintf(stderr, "pacing_bench: %s\n", error.c_str());
        return nullptr;
    }
    *other_end = open(line->path().c_str(), O_RDWR | O_NOCTTY);
    if (*other_end < 0) return nullptr;
    line->SetPacing(baud, kBitsPerCharacter);
    return line;
}

// From the hand-over of the block until the reader has its last byte.
Run Send(uint32_t baud, const std::vector<uint8_t>& block) {
    Run run;
    int reader_fd = -1;
    auto line = PacedLine(baud, &reader_fd);
    if (!line) return run;
    std::vector<uint8_t> got(block.size());
    Clock::time_point last{};
    std::thread reader([&] {
        size_t have = 0;
        while (have < got.size()) {
            const ssize_t n = read(reader_fd, got.data() + have, got.size() - have);
            if (n <= 0) break;
            have += static_cast<size_t>(n);
        }
        last = Clock::now();
    });
    const double cpu_before = ThreadCpuMs();
    const auto start = Clock::now();
    line->Write(block.data(), block.size());
    run.cpu_ms = ThreadCpuMs() - cpu_before;
    reader.join();
    run.ms = Ms(last - start);
    run.ok = got == block;
    close(reader_fd);
    return run;
}

// From the writer's write() of the whole block until the simulator's end
// has read its last byte.
Run Receive(uint32_t baud, const std::vector<uint8_t>& block) {
    Run run;
    int writer_fd = -1;
    auto line = PacedLine(baud, &writer_fd);
    if (!line) return run;
    Clock::time_point start{};
    std::thread writer([&] {
        start = Clock::now();
        size_t done = 0;
        while (done < block.size()) {
            const ssize_t n = write(writer_fd, block.data() + done, block.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
    });
    std::vector<uint8_t> got;
    got.reserve(block.size());
    const double cpu_before = ThreadCpuMs();
    uint8_t byte = 0;
    while (got.size() < block.size() && line->ReadByte(&byte, kByteTimeoutMs))
        got.push_back(byte);
    const auto end = Clock::now();
    run.cpu_ms = ThreadCpuMs() - cpu_before;
    writer.join();
    run.ms = Ms(end - start);
    run.ok = got == block;
    close(writer_fd);
    return run;
}

void PrintRow(const char* direction, uint32_t baud, size_t bytes, std::vector<Run> runs) {
    const double line_ms = static_cast<double>(bytes) * kBitsPerCharacter * 1000.0 / baud;
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.ms < b.ms; });
    const Run& best = runs.front();
    const Run& median = runs[runs.size() / 2];
    const bool ok = std::all_of(runs.begin(), runs.end(), [](const Run& r) { return r.ok; });
    std::printf("%-8s %7u %6zu %10.2f %10.2f %10.2f %7.4f %7.4f %6.1f%%%s\n", direction, baud,
                bytes, line_ms, best.ms, median.ms, best.ms / line_ms, median.ms / line_ms,
                100.0 * median.cpu_ms / median.ms, ok ? "" : "  BYTES WRONG");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    int repeats = 5;
    size_t bytes = 4096;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--repeats") == 0) repeats = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--bytes") == 0)
            bytes = static_cast<size_t>(std::max(1, std::atoi(argv[i + 1])));
    }
    const std::vector<uint8_t> block = Block(bytes);
    std::printf("%d runs each; ratio = measured / line time (%u bits a character)\n", repeats,
                kBitsPerCharacter);
    std::printf("%-8s %7s %6s %10s %10s %10s %7s %7s %7s\n", "way", "baud", "chars", "line ms",
                "best ms", "median ms", "best", "median", "cpu");
    for (const auto& [name, measure] : {std::pair{"send", &Send}, std::pair{"receive", &Receive}}) {
        for (const uint32_t baud : kRates) {
            std::vector<Run> runs;
            for (int r = 0; r < repeats; ++r)
                runs.push_back(measure(baud, block));
            PrintRow(name, baud, bytes, runs);
        }
    }
    return 0;
}
