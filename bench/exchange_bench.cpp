// Block reads and writes through TevMain against the PLC simulator on a
// pseudo-terminal. Paced runs emulate a 9600 baud 8E1 line; the counter
// line_limit_ms is the time the bytes of the transfer alone take on such a
// line, and line_share how much of the measured time that is.
//
//   cmake --preset bench && cmake --build --preset bench -j2 --target exchange_bench
//   build-bench/bench/exchange_bench [--quick]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "benchmark_main.h"
#include "e2e/host.h"
#include "ostrel/ostrel_control.h"
#include "support/sim_fixture.h"

namespace morvane {
namespace {

constexpr uint32_t kBaud = 9600;
constexpr uint32_t kBitsPerCharacter = 11;  // start, 8 data, even parity, stop
constexpr int32_t kTimeoutHundredths = 50;  // 500 ms per byte, ColdStart's floor
constexpr uint8_t kDataBlock = 2;
constexpr uint16_t kWordValue = 0x1234;  // no DLE byte: nothing doubled on the line

// Characters one exchange puts on the line in 3964 for a telegram with a
// header of header_bytes and data_bytes of data in the telegram or its
// reply: STX, DLE, the telegram with DLE ETX, DLE, STX, DLE, the reply
// (4-byte header, data, DLE ETX), DLE.
double ExchangeCharacters(uint32_t header_bytes, uint32_t data_bytes) {
    return 1 + 1 + (header_bytes + 2) + 1 + 1 + 1 + (4 + data_bytes + 2) + 1;
}

// The transfer's last character, the driver's closing DLE, crosses the line
// after the call has returned: it is not part of the time measured.
double TransferLineMs(uint32_t words) {
    double characters = -1;
    const uint32_t bytes = 2 * words;
    for (uint32_t first = 0; first == 0 || first < bytes; first += MORVANE_TELEGRAM_DATA_SIZE) {
        const uint32_t data = bytes - first < 128 ? bytes - first : 128;
        characters += ExchangeCharacters(first == 0 ? 10 : 4, data);
    }
    return characters * kBitsPerCharacter * 1000.0 / kBaud;
}

struct Channel {
    explicit Channel(bool paced) {
        OstrelSetMinimumLevel(33);  // the start-up lines would drown the results
        if (!sim.ok()) return;
        if (paced) sim->SetPacing(kBaud, kBitsPerCharacter);
        sim->DeclareBlock(kDataBlock, 2048);
        for (uint16_t i = 0; i < 2048; ++i)
            sim->SetWord(kDataBlock, i, kWordValue);
        const std::string device = sim.device();
        ok = host.Start(device.substr(device.rfind("/dev/", 0) == 0 ? 5 : 0), kTimeoutHundredths) ==
             MORVANE_OK;
        ParseBlock parse{};
        parse.address = "002000";
        ok = ok && host.Call(MORVANE_CMD_BLOCK_ADDRESS_PARSER, &parse) == MORVANE_OK;
        gate = parse.gate;
    }
    ~Channel() { host.Stop(); }

    test::SimFixture sim;
    test::Host host;
    GateAddress gate{};
    bool ok = false;
};

void Transfer(benchmark::State& state, uint32_t command, bool paced) {
    const auto words = static_cast<int32_t>(state.range(0));
    Channel channel(paced);
    if (!channel.ok) {
        state.SkipWithError("channel not started");
        return;
    }
    std::vector<uint16_t> buffer(static_cast<size_t>(words), kWordValue);
    for (auto _ : state) {
        if (channel.host.Transfer(command, channel.gate, words, buffer.data()) != MORVANE_OK) {
            state.SkipWithError("transfer failed");
            return;
        }
    }
    if (paced) {
        const double limit_ms = TransferLineMs(static_cast<uint32_t>(words));
        state.counters["line_limit_ms"] = limit_ms;
        // Line time of all iterations over the measured time: 1.0 is the line's limit.
        state.counters["line_share"] =
            benchmark::Counter(limit_ms / 1000.0 * static_cast<double>(state.iterations()),
                               benchmark::Counter::kIsRate);
    }
    state.counters["words_per_s"] =
        benchmark::Counter(static_cast<double>(words) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void BM_BlockReadPaced(benchmark::State& state) {
    Transfer(state, MORVANE_CMD_BLOCK_READ, true);
}
void BM_BlockWritePaced(benchmark::State& state) {
    Transfer(state, MORVANE_CMD_BLOCK_WRITE, true);
}
void BM_BlockReadUnpaced(benchmark::State& state) {
    Transfer(state, MORVANE_CMD_BLOCK_READ, false);
}
void BM_BlockWriteUnpaced(benchmark::State& state) {
    Transfer(state, MORVANE_CMD_BLOCK_WRITE, false);
}

// --quick: one paced transfer of 64 words each way and a moment unpaced.
void Register(bool quick) {
    const std::vector<int64_t> paced_words =
        quick ? std::vector<int64_t>{64} : std::vector<int64_t>{64, 512};
    const std::vector<int64_t> unpaced_words =
        quick ? std::vector<int64_t>{64} : std::vector<int64_t>{64, 2048};
    for (auto* paced : {benchmark::RegisterBenchmark("BM_BlockReadPaced", BM_BlockReadPaced),
                        benchmark::RegisterBenchmark("BM_BlockWritePaced", BM_BlockWritePaced)}) {
        for (const int64_t words : paced_words)
            paced->Arg(words);
        paced->Iterations(quick ? 1 : 3)->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    for (auto* unpaced :
         {benchmark::RegisterBenchmark("BM_BlockReadUnpaced", BM_BlockReadUnpaced),
          benchmark::RegisterBenchmark("BM_BlockWriteUnpaced", BM_BlockWriteUnpaced)}) {
        for (const int64_t words : unpaced_words)
            unpaced->Arg(words);
        unpaced->Unit(benchmark::kMillisecond)->UseRealTime();
        if (quick) unpaced->MinTime(0.01);
    }
}

}  // namespace
}  // namespace morvane

int main(int argc, char** argv) {
    return morvane::bench::RunBenchmarks(argc, argv, morvane::Register);
}
