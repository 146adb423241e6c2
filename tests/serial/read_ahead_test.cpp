// The serial layer's read-ahead on real pseudo-terminals: bytes a short read
// took from the device early stay input the caller sees, counts, purges and
// waits for exactly as if they were still queued in the kernel.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "serial/serial_port.h"
#include "support/pty_pair.h"

namespace morvane {
namespace {

using test::PtyPair;

constexpr LineParameters kDefaultLine{9600, 8, 0, 2};
constexpr uint16_t kDtrRtsOn = 0x0303;

std::vector<uint8_t> Sequence(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

class ReadAhead : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok());
        Open();
    }
    void TearDown() override {
        if (handle_ != 0) {
            EXPECT_EQ(SerialClose(handle_), kSerialOk);
        }
    }
    void Open() {
        ASSERT_EQ(SerialOpen(pty_.name().c_str(), kDefaultLine, kDtrRtsOn, &handle_), kSerialOk);
        SerialSetReadTimeout(handle_, 50);
    }
    // Sends bytes, waits until all are queued, and reads the first one.
    void SendAndTakeFirst(const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(pty_.Send(bytes));
        ASSERT_TRUE(pty_.WaitQueued(static_cast<int>(bytes.size())));
        uint8_t first = 0;
        ASSERT_EQ(SerialRead(handle_, &first, 1, nullptr), kSerialOk);
        ASSERT_EQ(first, bytes[0]);
    }
    uint32_t Waiting() {
        uint32_t waiting = 12345;
        EXPECT_TRUE(SerialBytesWaiting(handle_, &waiting));
        return waiting;
    }
    // A one-byte read that finds nothing and times out.
    void ExpectSilence() {
        uint8_t byte = 0;
        uint32_t read = 9;
        EXPECT_EQ(SerialRead(handle_, &byte, 1, &read), kSerialIoFailed);
        EXPECT_EQ(read, 0u);
    }
    PtyPair pty_;
    PortHandle handle_ = 0;
};

TEST_F(ReadAhead, BytesWaitingCountsWhatWasReadAhead) {
    SendAndTakeFirst(Sequence(40));
    EXPECT_EQ(Waiting(), 39u);
    uint8_t byte = 0;
    ASSERT_EQ(SerialRead(handle_, &byte, 1, nullptr), kSerialOk);
    EXPECT_EQ(byte, Sequence(40)[1]);
    EXPECT_EQ(Waiting(), 38u);
}

// Reads of every size in turn, across the read-ahead's edges, deliver the
// sent bytes in order, each exactly once.
TEST_F(ReadAhead, MixedReadSizesDeliverEveryByteOnceInOrder) {
    const std::vector<std::vector<uint32_t>> patterns = {
        {1, 1, 1, 597},        // short reads, then one beyond the read-ahead
        {1, 255, 1, 343},      // up to the read-ahead's end exactly
        {3, 256, 257, 84},     // reads of the read-ahead's size and more
        {1, 2, 300, 1, 296},   // a long read from a partly used read-ahead
        {100, 100, 100, 300},  // short reads only, refilled in the middle
    };
    const std::vector<uint8_t> sent = Sequence(600);
    for (const auto& sizes : patterns) {
        ASSERT_TRUE(pty_.Send(sent));
        ASSERT_TRUE(pty_.WaitQueued(600));
        std::vector<uint8_t> got;
        for (uint32_t size : sizes) {
            std::vector<uint8_t> part(size, 0xEE);
            uint32_t read = 0;
            ASSERT_EQ(SerialRead(handle_, part.data(), size, &read), kSerialOk) << size;
            ASSERT_EQ(read, size);
            got.insert(got.end(), part.begin(), part.end());
        }
        EXPECT_EQ(got, sent) << "pattern starting " << sizes[0] << ", " << sizes[1];
        EXPECT_EQ(Waiting(), 0u);
    }
}

TEST_F(ReadAhead, PurgeDropsWhatWasReadAhead) {
    SendAndTakeFirst(Sequence(40));
    ASSERT_GT(Waiting(), 0u);
    EXPECT_EQ(SerialPurgeInput(handle_), kSerialOk);
    EXPECT_EQ(Waiting(), 0u);
    ExpectSilence();

    // What arrives after the purge is read, not anything from before it.
    ASSERT_TRUE(pty_.Send({0x10, 0x02}));
    uint8_t pair[2] = {};
    ASSERT_EQ(SerialRead(handle_, pair, 2, nullptr), kSerialOk);
    EXPECT_EQ(pair[0], 0x10);
    EXPECT_EQ(pair[1], 0x02);
}

TEST_F(ReadAhead, ReadBeyondAPartlyFilledReadAheadWaitsOutTheTimeout) {
    SendAndTakeFirst({0x41, 0x42, 0x43});
    uint8_t buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    uint32_t read = 0;
    const int64_t start = PtyPair::NowMs();
    EXPECT_EQ(SerialRead(handle_, buffer, 4, &read), kSerialIoFailed);
    const int64_t elapsed = PtyPair::NowMs() - start;
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4),
              (std::vector<uint8_t>{0x42, 0x43, 0xAA, 0xAA}));
    EXPECT_GE(elapsed, 49);  // the 50 ms time-out, not cut short by the buffered bytes
    EXPECT_LT(elapsed, 400);
    EXPECT_EQ(Waiting(), 0u);
}

TEST_F(ReadAhead, ReopeningThePortStartsWithoutReadAhead) {
    SendAndTakeFirst(Sequence(40));
    const PortHandle before = handle_;
    ASSERT_EQ(SerialClose(handle_), kSerialOk);
    handle_ = 0;
    Open();
    ASSERT_EQ(handle_, before) << "the reopened port should reuse the descriptor and its row";
    EXPECT_EQ(Waiting(), 0u);
    ExpectSilence();
}

}  // namespace
}  // namespace morvane
