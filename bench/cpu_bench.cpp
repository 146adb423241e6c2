// CPU time the driver spends per exchange, unpaced: a one-word SingleRead
// and a 2048-word BlockRead through TevMain against the PLC simulator on a
// pseudo-terminal. The simulator serves on its own thread, so the calling
// thread's user and system time (RUSAGE_THREAD) is the driver's own cost;
// the process counters add the simulator's. The thread's context switches
// per read tell how often it slept (waiting for the partner) and was
// preempted.
//
// The floor to hold them against: the same exchange's bytes and waits with
// no driver and no simulator, a thread writing and polling on a bare
// pseudo-terminal against an echoing partner (BM_BareExchangeCpu), once at
// the thread's own priority and once raised to real-time and restored around
// each exchange, as the driver does with MORVANE_PRIORITY=fifo.
//
//   cmake --preset bench && cmake --build --preset bench -j2 --target cpu_bench
//   build-bench/bench/cpu_bench [--quick]
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "benchmark_main.h"
#include "e2e/host.h"
#include "link/thread_priority.h"
#include "ostrel/ostrel_control.h"
#include "support/pty_pair.h"
#include "support/sim_fixture.h"

namespace morvane {
namespace {

constexpr int32_t kTimeoutHundredths = 50;
constexpr uint8_t kDataBlock = 2;
constexpr uint16_t kBlockWords = 2048;
constexpr uint16_t kWordValue = 0x1234;  // no DLE byte: nothing doubled on the line

// User and system seconds of who (RUSAGE_THREAD or RUSAGE_SELF).
// And the context switches: sleeps (voluntary) and preemptions.
struct CpuSeconds {
    double user = 0;
    double system = 0;
    double sleeps = 0;
    double preemptions = 0;
};

CpuSeconds CpuNow(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime), static_cast<double>(usage.ru_nvcsw),
            static_cast<double>(usage.ru_nivcsw)};
}

struct Channel {
    Channel() {
        OstrelSetMinimumLevel(33);  // the start-up lines would drown the results
        if (!sim.ok()) return;
        sim->DeclareBlock(kDataBlock, kBlockWords);
        for (uint16_t i = 0; i < kBlockWords; ++i)
            sim->SetWord(kDataBlock, i, kWordValue);
        const std::string device = sim.device();
        ok = host.Start(device.substr(device.rfind("/dev/", 0) == 0 ? 5 : 0), kTimeoutHundredths) ==
             MORVANE_OK;
    }
    ~Channel() { host.Stop(); }

    test::SimFixture sim;
    test::Host host;
    bool ok = false;
};

// Per-read counters from the CPU times around the benchmark's loop.
void ReportCpu(benchmark::State& state, const CpuSeconds& thread_before,
               const CpuSeconds& process_before) {
    const CpuSeconds thread_after = CpuNow(RUSAGE_THREAD);
    const CpuSeconds process_after = CpuNow(RUSAGE_SELF);
    const double reads = static_cast<double>(state.iterations());
    const auto per_read_us = [reads](double before, double after) {
        return (after - before) * 1e6 / reads;
    };
    state.counters["driver_user_us"] = per_read_us(thread_before.user, thread_after.user);
    state.counters["driver_sys_us"] = per_read_us(thread_before.system, thread_after.system);
    state.counters["driver_cpu_us"] = per_read_us(thread_before.user + thread_before.system,
                                                  thread_after.user + thread_after.system);
    state.counters["driver_sleeps"] = (thread_after.sleeps - thread_before.sleeps) / reads;
    state.counters["driver_preempted"] =
        (thread_after.preemptions - thread_before.preemptions) / reads;
    state.counters["process_cpu_us"] = per_read_us(process_before.user + process_before.system,
                                                   process_after.user + process_after.system);
}

void CpuPerRead(benchmark::State& state, uint32_t command, const char* address, int32_t words) {
    Channel channel;
    const GateAddress gate = channel.host.Parse(address, MORVANE_GATE_WORD, words > 1);
    if (!channel.ok || gate.parsed == 0) {
        state.SkipWithError("channel not started");
        return;
    }
    // Room for a block of words or a single value's 4-byte slot.
    std::vector<uint32_t> buffer(static_cast<size_t>(words), 0);
    const CpuSeconds thread_before = CpuNow(RUSAGE_THREAD);
    const CpuSeconds process_before = CpuNow(RUSAGE_SELF);
    for (auto _ : state) {
        if (channel.host.Transfer(command, gate, words, buffer.data()) != MORVANE_OK) {
            state.SkipWithError("read failed");
            return;
        }
    }
    ReportCpu(state, thread_before, process_before);
}

// A single-word read's steps on the line as (bytes written, bytes awaited):
// STX for DLE, the 12-byte telegram for DLE and the reply's STX, DLE for
// the 8-byte reply block, and the closing DLE.
struct Step {
    size_t written;
    size_t awaited;
};
constexpr Step kReadSteps[] = {{1, 1}, {12, 2}, {1, 8}, {1, 0}};

// Waits in poll() and reads until count bytes came, and none of the next
// step's; false on a silent line.
bool ReadBytes(int fd, size_t count) {
    uint8_t bytes[64];
    for (size_t got = 0; got < count;) {
        pollfd watch{fd, POLLIN, 0};
        if (poll(&watch, 1, 1000) <= 0) return false;
        const ssize_t n = read(fd, bytes, std::min(sizeof bytes, count - got));
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

void BareExchangeCpu(benchmark::State& state, bool raise) {
    test::PtyPair pty;
    if (!pty.ok()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    // Raw and non-blocking, as the driver keeps its end.
    const int near = open(pty.name().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    tcgetattr(near, &raw);
    cfmakeraw(&raw);
    tcsetattr(near, TCSANOW, &raw);
    // The partner answers each step as the simulator would, until the near
    // end closes its side of the loop by writing a step of zero bytes.
    std::thread partner([&pty] {
        const std::vector<uint8_t> answer(8, 0x11);
        for (bool serving = true; serving;) {
            for (const Step& step : kReadSteps) {
                if (!ReadBytes(pty.master(), step.written)) {
                    serving = false;
                    break;
                }
                if (step.awaited > 0)
                    pty.Send(std::vector<uint8_t>(answer.begin(), answer.begin() + step.awaited));
            }
        }
    });
    const std::vector<uint8_t> telegram(12, 0x22);
    if (raise) SetTimeCriticalLevel(TimeCriticalLevel::kRealTime);
    const CpuSeconds thread_before = CpuNow(RUSAGE_THREAD);
    const CpuSeconds process_before = CpuNow(RUSAGE_SELF);
    for (auto _ : state) {
        const int saved = raise ? ThreadPriorityGet() : 0;
        if (raise) ThreadPrioritySet(kThreadPriorityTimeCritical);
        for (const Step& step : kReadSteps) {
            if (write(near, telegram.data(), step.written) != static_cast<ssize_t>(step.written) ||
                !ReadBytes(near, step.awaited)) {
                state.SkipWithError("bare exchange failed");
                break;
            }
        }
        if (raise) ThreadPrioritySet(saved);
    }
    ReportCpu(state, thread_before, process_before);
    SetTimeCriticalLevel(kDefaultTimeCriticalLevel);
    close(near);  // the partner's next poll times out
    partner.join();
}

void BM_BareExchangeCpu(benchmark::State& state) {
    BareExchangeCpu(state, false);
}
void BM_BareExchangeRaisedCpu(benchmark::State& state) {
    BareExchangeCpu(state, true);
}

void BM_SingleReadCpu(benchmark::State& state) {
    CpuPerRead(state, MORVANE_CMD_SINGLE_READ, "002010", 1);
}
void BM_BlockReadCpu(benchmark::State& state) {
    CpuPerRead(state, MORVANE_CMD_BLOCK_READ, "002000", kBlockWords);
}

// Other work on the machine moves single runs by tens of percent: the
// medians of five runs are the figures to compare. --quick runs each once
// for a moment.
void Register(bool quick) {
    for (auto* benchmark :
         {benchmark::RegisterBenchmark("BM_BareExchangeCpu", BM_BareExchangeCpu)
              ->Unit(benchmark::kMicrosecond),
          benchmark::RegisterBenchmark("BM_BareExchangeRaisedCpu", BM_BareExchangeRaisedCpu)
              ->Unit(benchmark::kMicrosecond),
          benchmark::RegisterBenchmark("BM_SingleReadCpu", BM_SingleReadCpu)
              ->Unit(benchmark::kMicrosecond),
          benchmark::RegisterBenchmark("BM_BlockReadCpu", BM_BlockReadCpu)
              ->Unit(benchmark::kMillisecond)}) {
        benchmark->UseRealTime();
        if (quick)
            benchmark->MinTime(0.01);
        else
            benchmark->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);
    }
}

}  // namespace
}  // namespace morvane

int main(int argc, char** argv) {
    return morvane::bench::RunBenchmarks(argc, argv, morvane::Register);
}
