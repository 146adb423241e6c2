// The line trace's lines from the bytes each side sent, in the order they
// crossed: telegram blocks whole on one line, control characters named.
#include "line_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/hex_bytes.h"

namespace morvane::tool {
namespace {

struct Burst {
    LineSide from;
    const char* bytes;
};
constexpr LineSide H = LineSide::kHost;
constexpr LineSide P = LineSide::kPlc;

struct TraceCase {
    const char* name;
    bool block_check;
    std::vector<Burst> bursts;
    std::vector<std::string> lines;  // without the time stamp
};

std::vector<std::string> TraceOf(const TraceCase& c) {
    std::vector<std::string> lines;
    const auto start = LineTrace::Clock::now();
    LineTrace trace(
        [&lines](const std::string& line) {
            const size_t at = line.find(" ms  ");
            lines.push_back(at == std::string::npos ? line : line.substr(at + 5));
        },
        start);
    trace.set_block_check(c.block_check);
    for (const Burst& burst : c.bursts) {
        const test::Wire bytes = test::Hex(burst.bytes);
        // One byte at a time: a real device hands bytes over in any chunks.
        for (const uint8_t byte : bytes)
            trace.Bytes(burst.from, &byte, 1, start);
    }
    trace.Flush();
    return lines;
}

TEST(LineTrace, OneLinePerControlCharacterOrBlock) {
    const TraceCase cases[] = {
        {"3964R write with a doubled DLE, its reply",
         true,
         {{H, "02"},
          {P, "10"},
          {H, "00 00 41 44 01 02 00 01 FF FF 10 10 00 10 03 14"},
          {P, "10 02"},
          {H, "10"},
          {P, "00 00 00 00 10 03 13"},
          {H, "10"}},
         {"host > PLC  STX", "PLC > host  DLE",
          "host > PLC  00 00 41 44 01 02 00 01 FF FF DLE DLE 00 DLE ETX BCC 14", "PLC > host  DLE",
          "PLC > host  STX", "host > PLC  DLE", "PLC > host  00 00 00 00 DLE ETX BCC 13",
          "host > PLC  DLE"}},
        {"a block whose check fails is marked",
         true,
         {{H, "02"}, {P, "10"}, {H, "00 00 45 10 03 44"}, {P, "15"}},
         {"host > PLC  STX", "PLC > host  DLE", "host > PLC  00 00 45 DLE ETX BCC 44!failed",
          "PLC > host  NAK"}},
        {"3964 blocks end at DLE ETX",
         false,
         {{H, "02"}, {P, "10"}, {H, "00 00 45 44 01 02 00 01 FF FF 10 03"}, {P, "10"}},
         {"host > PLC  STX", "PLC > host  DLE", "host > PLC  00 00 45 44 01 02 00 01 FF FF DLE ETX",
          "PLC > host  DLE"}},
        {"a block cut short by the receiver's NAK",
         true,
         {{H, "02"}, {P, "10"}, {H, "00 00 45"}, {P, "15"}},
         {"host > PLC  STX", "PLC > host  DLE", "host > PLC  00 00 45 (cut short)",
          "PLC > host  NAK"}},
        {"stray bytes gather; a DLE after a refused STX opens no block",
         true,
         {{P, "FF 00"}, {H, "02"}, {P, "15"}, {P, "10"}, {H, "10 02"}},
         {"PLC > host  FF 00", "host > PLC  STX", "PLC > host  NAK", "PLC > host  DLE",
          "host > PLC  DLE", "host > PLC  STX"}},
        {"a babbling partner's bytes come 32 to a line",
         false,
         {{P,
           "55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 "
           "55 55 55 55 55 55 55"}},
         {"PLC > host  55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 55 "
          "55 55 55 55 55 55 55",
          "PLC > host  55 55"}},
        {"a block still open at the end",
         false,
         {{P, "02"}, {H, "10"}, {P, "00 00 10"}},
         {"PLC > host  STX", "host > PLC  DLE", "PLC > host  00 00 DLE (cut short)"}},
    };
    for (const TraceCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TraceOf(c), c.lines);
    }
}

TEST(LineTrace, LinesCarryTheTimeOfTheirFirstByte) {
    std::vector<std::string> lines;
    const auto start = LineTrace::Clock::now();
    LineTrace trace([&lines](const std::string& line) { lines.push_back(line); }, start);
    const uint8_t stx = 0x02;
    const uint8_t dle = 0x10;
    const uint8_t block[] = {0x00, 0x10, 0x03};
    trace.Bytes(H, &stx, 1, start + std::chrono::microseconds(1500));
    trace.Bytes(P, &dle, 1, start + std::chrono::milliseconds(3));
    trace.Bytes(H, block, 1, start + std::chrono::milliseconds(4));
    trace.Bytes(H, block + 1, 2, start + std::chrono::milliseconds(9));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "     1.500 ms  host > PLC  STX");
    EXPECT_EQ(lines[2], "     4.000 ms  host > PLC  00 DLE ETX");
}

}  // namespace
}  // namespace morvane::tool
