// Micro-benchmarks of the driver's byte and value work, to catch
// regressions: framing a telegram (DLE doubling, DLE ETX, block check), the
// block check alone, the un-doubling of a received block, the gate address
// parser and the float conversions between the PLC's format and IEEE.
// Throughput is in bytes or items per second.
//
//   cmake --preset bench && cmake --build --preset bench -j2 --target micro_bench
//   build-bench/bench/micro_bench
#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "gates/address_parser.h"
#include "gates/plc_float.h"
#include "link/link3964.h"
#include "link/rk512_telegram.h"
#include "ostrel/ostrel_control.h"

namespace morvane {
namespace {

// Payload bytes with every sixteenth a DLE: a telegram of words as they
// come, some doubled on the line.
std::vector<uint8_t> Payload(size_t bytes) {
    std::vector<uint8_t> payload(bytes);
    for (size_t i = 0; i < bytes; ++i)
        payload[i] = i % 16 == 5 ? kDle : static_cast<uint8_t>(i * 7 + 1);
    return payload;
}

void SetBytesProcessed(benchmark::State& state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// A SEND telegram's header and data as framed for 3964R, block check included.
void BM_FrameTelegram(benchmark::State& state) {
    const std::vector<uint8_t> payload = Payload(static_cast<size_t>(state.range(0)));
    uint8_t framed[kLinkBufferSize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            FrameTelegram(payload.data(), static_cast<uint16_t>(payload.size()), 1, framed));
        benchmark::ClobberMemory();
    }
    SetBytesProcessed(state, payload.size());
}
BENCHMARK(BM_FrameTelegram)->Arg(10)->Arg(138);

void BM_ComputeBcc(benchmark::State& state) {
    const std::vector<uint8_t> block = Payload(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ComputeBcc(block.data(), static_cast<uint16_t>(block.size())));
    SetBytesProcessed(state, block.size());
}
BENCHMARK(BM_ComputeBcc)->Arg(12)->Arg(266);

// A reply as Receive stores it: doubled DLEs, the closing DLE ETX after the counted bytes.
void BM_UndoubleDle(benchmark::State& state) {
    const std::vector<uint8_t> payload = Payload(static_cast<size_t>(state.range(0)));
    uint8_t received[kLinkBufferSize];
    const uint16_t length =
        FrameBlock(payload.data(), received, static_cast<uint16_t>(payload.size()));
    const uint16_t counted = static_cast<uint16_t>(length - 2);
    uint8_t plain[kLinkBufferSize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(UndoubleDle(received, plain, counted));
        benchmark::ClobberMemory();
    }
    SetBytesProcessed(state, counted);
}
BENCHMARK(BM_UndoubleDle)->Arg(6)->Arg(132);

// The address parser on each kind of gate in turn.
void BM_ParseAddress(benchmark::State& state) {
    OstrelSetMinimumLevel(33);
    struct Address {
        const char* text;
        uint32_t gate_type;
    };
    static const Address addresses[] = {
        {"010004", 0}, {"01000412", 6}, {"001010F", 3}, {"001000L", 4}, {"002000S80", 7},
    };
    size_t next = 0;
    for (auto _ : state) {
        ParseBlock block{};
        block.address = addresses[next].text;
        block.gate_type = addresses[next].gate_type;
        benchmark::DoNotOptimize(Parse(&block));
        benchmark::DoNotOptimize(block.gate);
        next = next + 1 == std::size(addresses) ? 0 : next + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ParseAddress);

// Values across the PLC's range, small and large, positive and negative.
std::vector<float> Floats() {
    std::vector<float> values(1024);
    float value = 1.5e-30f;
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = i % 2 ? -value : value;
        value *= 1.13f;
    }
    return values;
}

void BM_IeeeToPlcFloat(benchmark::State& state) {
    std::vector<uint32_t> bits;
    for (const float value : Floats())
        bits.push_back(std::bit_cast<uint32_t>(value));
    for (auto _ : state)
        for (const uint32_t b : bits)
            benchmark::DoNotOptimize(IeeeToPlcFloat(b));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * bits.size()));
}
BENCHMARK(BM_IeeeToPlcFloat);

void BM_PlcFloatToIeee(benchmark::State& state) {
    std::vector<uint32_t> words;
    for (const float value : Floats())
        words.push_back(IeeeToPlcFloat(std::bit_cast<uint32_t>(value)));
    for (auto _ : state)
        for (const uint32_t w : words)
            benchmark::DoNotOptimize(PlcFloatToIeee(w));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * words.size()));
}
BENCHMARK(BM_PlcFloatToIeee);

}  // namespace
}  // namespace morvane

BENCHMARK_MAIN();
