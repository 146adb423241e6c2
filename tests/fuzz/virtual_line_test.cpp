// The partner model of the line fuzzer: when its chunks arrive and what each
// wait costs on its clock.
#include "fuzz/virtual_line.h"

#include <gtest/gtest.h>

#include "support/hex_bytes.h"

namespace morvane::fuzz {
namespace {

using test::Hex;
using test::Wire;

constexpr uint32_t kTimeoutMs = 400;

struct Line {
    explicit Line(const Wire& script_bytes) : script(script_bytes) {
        line.Reset(script.data(), script.size());
        EXPECT_TRUE(line.Open());
        line.SetReadTimeoutMs(kTimeoutMs);
    }
    Wire ReadUpTo(size_t count, bool* ok = nullptr) {
        Wire bytes(count);
        size_t got = 0;
        const bool read = line.Read(bytes.data(), count, &got);
        if (ok != nullptr) *ok = read;
        bytes.resize(got);
        return bytes;
    }
    void WriteByte(uint8_t byte) { line.Write(&byte, 1); }

    Wire script;
    VirtualLine line;
};

TEST(VirtualLine, AChunkAnswersTheNextWriteAndASilentLineCostsTheTimeOut) {
    Line l(Hex("02 10 02"));  // the answer DLE STX, on write
    EXPECT_TRUE(l.ReadUpTo(2).empty());
    EXPECT_EQ(l.line.NowMs(), kTimeoutMs);
    l.WriteByte(0x02);
    size_t waiting = 0;
    ASSERT_TRUE(l.line.BytesWaiting(&waiting));
    EXPECT_EQ(waiting, 2u);
    EXPECT_EQ(l.ReadUpTo(2), Hex("10 02"));
    EXPECT_EQ(l.line.NowMs(), kTimeoutMs);  // bytes that are there cost nothing
    EXPECT_EQ(l.line.Written(), Hex("02"));
}

TEST(VirtualLine, ALateChunkArrivesWithinTheWaitingRead) {
    Line l(Hex("41 10  42 03 04"));  // two late chunks
    EXPECT_EQ(l.ReadUpTo(3), Hex("10 03 04"));
    EXPECT_GT(l.line.NowMs(), 0u);
    EXPECT_LT(l.line.NowMs(), kTimeoutMs);
}

TEST(VirtualLine, ALateChunkArrivesDuringASleepAndWaitsOutAWrite) {
    Line l(Hex("41 15  01 10"));
    l.WriteByte(0x02);  // the late chunk is not an answer
    size_t waiting = 0;
    ASSERT_TRUE(l.line.BytesWaiting(&waiting));
    EXPECT_EQ(waiting, 0u);
    l.line.Sleep(15);
    ASSERT_TRUE(l.line.BytesWaiting(&waiting));
    EXPECT_EQ(waiting, 1u);
    EXPECT_EQ(l.line.NowMs(), 15u);
    l.WriteByte(0x10);
    EXPECT_EQ(l.ReadUpTo(2), Hex("15 10"));
}

TEST(VirtualLine, AFailedWriteLeavesNothingOnTheLineAndItsBytesArrive) {
    Line l(Hex("81 55"));
    const uint8_t stx = 0x02;
    EXPECT_FALSE(l.line.Write(&stx, 1));
    EXPECT_TRUE(l.line.WrittenBlocks().empty());
    EXPECT_EQ(l.ReadUpTo(1), Hex("55"));
}

TEST(VirtualLine, ALostDeviceFailsEveryCallAfterTheNextWrite) {
    Line l(Hex("C0  01 10"));
    const uint8_t stx = 0x02;
    EXPECT_TRUE(l.line.Write(&stx, 1));
    bool ok = true;
    EXPECT_TRUE(l.ReadUpTo(1, &ok).empty());
    EXPECT_FALSE(ok);
    size_t waiting = 0;
    EXPECT_FALSE(l.line.BytesWaiting(&waiting));
    EXPECT_FALSE(l.line.Write(&stx, 1));
}

TEST(VirtualLine, ALongChunkTakesItsLengthFromTheNextByte) {
    Wire script = Hex("3F 02");
    for (int i = 0; i < 65; ++i)
        script.push_back(static_cast<uint8_t>(i));
    script.push_back(0xEE);  // the next chunk's head: not part of this one
    Line l(script);
    l.WriteByte(0x02);
    const Wire got = l.ReadUpTo(70);
    ASSERT_EQ(got.size(), 65u);
    EXPECT_EQ(got.back(), 64);
}

}  // namespace
}  // namespace morvane::fuzz
