// The serial layer on real pseudo-terminals: the test plays the far end.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "serial/serial_port.h"
#include "support/deadline.h"
#include "support/pty_pair.h"

namespace morvane {
namespace {

using test::PtyPair;

constexpr LineParameters kDefaultLine{9600, 8, 0, 2};  // the driver's defaults: even parity
constexpr uint16_t kDtrRtsOn = 0x0303;

class SerialPty : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pty_.ok()); }
    void TearDown() override {
        if (handle_ != 0) {
            EXPECT_EQ(SerialClose(handle_), kSerialOk);
        }
    }
    void Open(const LineParameters& line = kDefaultLine) {
        ASSERT_EQ(SerialOpen(pty_.name().c_str(), line, kDtrRtsOn, &handle_), kSerialOk);
        ASSERT_NE(handle_, 0u);
    }
    PtyPair pty_;
    PortHandle handle_ = 0;
};

TEST_F(SerialPty, OpensAsRawBinaryCloseOnExecLine) {
    Open();
    const int fd = static_cast<int>(handle_);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    termios settings{};
    ASSERT_EQ(tcgetattr(fd, &settings), 0);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP), 0u);
    EXPECT_NE(settings.c_iflag & INPCK, 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B9600));
}

TEST_F(SerialPty, EveryByteValuePassesUnchangedBothWays) {
    Open();
    std::vector<uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<uint8_t>(i);
    uint32_t written = 0;
    ASSERT_EQ(SerialWrite(handle_, all.data(), 256, &written), kSerialOk);
    EXPECT_EQ(written, 256u);
    EXPECT_EQ(pty_.Receive(256), all);

    ASSERT_TRUE(pty_.Send(all));
    std::vector<uint8_t> got(256, 0xEE);
    uint32_t read = 0;
    EXPECT_EQ(SerialRead(handle_, got.data(), 256, &read), kSerialOk);
    EXPECT_EQ(read, 256u);
    EXPECT_EQ(got, all);
}

TEST_F(SerialPty, BareNameIsTakenUnderDev) {
    ASSERT_EQ(pty_.name().rfind("/dev/", 0), 0u);
    const std::string bare = pty_.name().substr(5);  // "pts/N"
    ASSERT_EQ(SerialOpen(bare.c_str(), kDefaultLine, kDtrRtsOn, &handle_), kSerialOk);
    EXPECT_NE(handle_, 0u);
}

TEST_F(SerialPty, SecondOpenFailsFromThisAndAnotherProcess) {
    Open();
    PortHandle second = 0xABCD;
    EXPECT_EQ(SerialOpen(pty_.name().c_str(), kDefaultLine, kDtrRtsOn, &second), kSerialOpenFailed);
    EXPECT_EQ(second, 0xABCDu);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PortHandle other = 0;
        _exit(SerialOpen(pty_.name().c_str(), kDefaultLine, kDtrRtsOn, &other));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kSerialOpenFailed);

    // Once closed the device is free again, with even parity on a
    // pseudo-terminal that cannot hold it.
    ASSERT_EQ(SerialClose(handle_), kSerialOk);
    handle_ = 0;
    Open();
}

// A host with a standard stream closed would print onto the line if the
// port took its descriptor.
TEST_F(SerialPty, APortNeverTakesAClosedStandardStream) {
    for (const int closed : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        SCOPED_TRACE(closed);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(closed);
            PortHandle handle = 0;
            const int code = SerialOpen(pty_.name().c_str(), kDefaultLine, kDtrRtsOn, &handle);
            _exit(code == kSerialOk && handle > 2 && fcntl(closed, F_GETFD) < 0 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

TEST_F(SerialPty, ReadTimeoutGetAndSet) {
    Open();
    EXPECT_EQ(SerialSetReadTimeout(handle_, 500), 1000u);  // from the open
    EXPECT_EQ(SerialSetReadTimeout(handle_, 500), 500u);
    EXPECT_EQ(SerialSetReadTimeout(handle_, 0), 500u);
    EXPECT_EQ(SerialSetReadTimeout(handle_, 70), 0u);  // no time-out before reads as 0
    EXPECT_EQ(SerialSetReadTimeout(handle_, 3000), 70u);
}

TEST_F(SerialPty, SilentLineTimesOutWithNothingWritten) {
    Open();
    SerialSetReadTimeout(handle_, 50);
    uint8_t byte = 0x5A;
    uint32_t read = 99;
    const int64_t start = PtyPair::NowMs();
    EXPECT_EQ(SerialRead(handle_, &byte, 1, &read), kSerialIoFailed);
    const int64_t elapsed = PtyPair::NowMs() - start;
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(byte, 0x5A);
    EXPECT_GE(elapsed, 49);
    EXPECT_LT(elapsed, 400);
}

TEST_F(SerialPty, PartialReadReportsWhatArrived) {
    Open();
    SerialSetReadTimeout(handle_, 50);
    ASSERT_TRUE(pty_.Send({0x10, 0x02}));
    ASSERT_TRUE(pty_.WaitQueued(2));  // both bytes must be there before the short time-out
    uint8_t buffer[3] = {0xAA, 0xAA, 0xAA};
    uint32_t read = 0;
    EXPECT_EQ(SerialRead(handle_, buffer, 3, &read), kSerialIoFailed);
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(buffer[0], 0x10);
    EXPECT_EQ(buffer[1], 0x02);
    EXPECT_EQ(buffer[2], 0xAA);
}

TEST_F(SerialPty, ReadCollectsBytesArrivingWithinTheTimeout) {
    Open();
    SerialSetReadTimeout(handle_, 500);
    ASSERT_TRUE(pty_.Send({1, 2}));
    std::thread late([this] {
        const timespec pause{0, 20 * 1000000};
        nanosleep(&pause, nullptr);
        pty_.Send({3, 4, 5});
    });
    uint8_t buffer[5] = {};
    uint32_t read = 0;
    EXPECT_EQ(SerialRead(handle_, buffer, 5, &read), kSerialOk);
    late.join();
    EXPECT_EQ(read, 5u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

// A write returns once the device has the bytes; at 1200 baud 8E1 sixty of
// them take 550 ms more on the line, and the partner answers after the last.
// The read's time-out counts from then, as where a write returns only once
// the bytes are out.
TEST_F(SerialPty, AReadTimesOutOnlyAfterWhatWasWrittenHasLeftTheLine) {
    Open({1200, 8, 0, 2});
    SerialSetReadTimeout(handle_, 100);
    const std::vector<uint8_t> block(60, 0x41);
    uint32_t written = 0;
    ASSERT_EQ(SerialWrite(handle_, block.data(), 60, &written), kSerialOk);
    std::thread partner([this] {
        const timespec pause{0, 300 * 1000000};  // past the 100 ms, well before 550 + 100
        nanosleep(&pause, nullptr);
        pty_.Send({0x10});
    });
    uint8_t byte = 0;
    uint32_t read = 0;
    EXPECT_EQ(SerialRead(handle_, &byte, 1, &read), kSerialOk);
    partner.join();
    EXPECT_EQ(byte, 0x10);
}

TEST_F(SerialPty, PurgeDiscardsAThousandWaitingBytesAndRestoresTheTimeout) {
    Open();
    SerialSetReadTimeout(handle_, 300);
    ASSERT_TRUE(pty_.Send(std::vector<uint8_t>(1000, 0x55)));
    ASSERT_TRUE(pty_.WaitQueued(1000));
    uint32_t waiting = 0;
    ASSERT_TRUE(SerialBytesWaiting(handle_, &waiting));
    EXPECT_EQ(waiting, 1000u);
    EXPECT_TRUE(SerialInputWaiting(handle_));

    EXPECT_EQ(SerialPurgeInput(handle_), 0);
    ASSERT_TRUE(SerialBytesWaiting(handle_, &waiting));
    EXPECT_EQ(waiting, 0u);
    EXPECT_FALSE(SerialInputWaiting(handle_));
    EXPECT_EQ(SerialSetReadTimeout(handle_, 300), 300u);

    // Purging an empty queue leaves everything as it was.
    EXPECT_EQ(SerialPurgeInput(handle_), 0);
    EXPECT_EQ(SerialSetReadTimeout(handle_, 300), 300u);
}

TEST_F(SerialPty, PurgeEndsWhileAPartnerKeepsFloodingTheLine) {
    Open();
    std::atomic<bool> flooding{true};
    std::thread partner([&] {
        const std::vector<uint8_t> burst(4096, 0x55);
        while (flooding.load()) {
            if (write(pty_.master(), burst.data(), burst.size()) < 0) {
                pollfd writable{pty_.master(), POLLOUT, 0};
                poll(&writable, 1, 10);
            }
        }
    });
    // No ASSERT before the join: leaving with the partner still running would abort.
    const bool flooded = pty_.WaitQueued(512);
    const auto started = std::chrono::steady_clock::now();
    {
        const test::Deadline deadline(std::chrono::seconds(5),
                                      "SerialPurgeInput on a flooded line");
        SerialPurgeInput(handle_);
    }
    const auto took = std::chrono::steady_clock::now() - started;
    flooding.store(false);
    partner.join();
    ASSERT_TRUE(flooded);
    // 64 reads of 512 bytes at most; unbounded, the purge would never return.
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(SerialSetReadTimeout(handle_, 1000), 1000u);
}

TEST_F(SerialPty, NulDeviceOpensUnconfigured) {
    PortHandle handle = 0;
    ASSERT_EQ(SerialOpen("NUL", kDefaultLine, kDtrRtsOn, &handle), kSerialOk);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(SerialSetReadTimeout(handle, 500), 0u);  // it has no time-outs
    // Not exclusive, like the Windows null device.
    PortHandle second = 0;
    EXPECT_EQ(SerialOpen("NUL", kDefaultLine, kDtrRtsOn, &second), kSerialOk);
    EXPECT_EQ(SerialClose(second), kSerialOk);
    EXPECT_EQ(SerialClose(handle), kSerialOk);
}

TEST(SerialOpenFailures, MissingDeviceAndNonTerminal) {
    PortHandle handle = 0x1234;
    EXPECT_EQ(SerialOpen("/dev/no-such-port", kDefaultLine, kDtrRtsOn, &handle), kSerialOpenFailed);
    EXPECT_EQ(SerialOpen("no-such-tty", kDefaultLine, kDtrRtsOn, &handle), kSerialOpenFailed);
    EXPECT_EQ(SerialOpen("", kDefaultLine, kDtrRtsOn, &handle), kSerialOpenFailed);
    EXPECT_EQ(SerialOpen("nul", kDefaultLine, kDtrRtsOn, &handle), kSerialOpenFailed);
    // A device that is no terminal has no settings to read.
    EXPECT_EQ(SerialOpen("/dev/zero", kDefaultLine, kDtrRtsOn, &handle), kSerialStateUnreadable);
    EXPECT_EQ(handle, 0x1234u);
}

TEST(SerialOpenFailures, SettingsAUartRefusesAreRefusedAndLeaveThePortFree) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const LineParameters refused[] = {
        {12345, 8, 0, 2},  // no such baud rate
        {0, 8, 0, 2},      // 0 is no rate
        {9600, 9, 0, 2},   // nine data bits
        {9600, 4, 0, 0},   // four data bits
        {9600, 8, 3, 0},   // stop-bits code 3
        {9600, 8, 1, 0},   // one and a half stop bits need 5 data bits
        {9600, 5, 2, 0},   // two stop bits cannot go with 5 data bits
        {9600, 8, 0, 5},   // parity code 5
    };
    for (const LineParameters& line : refused) {
        PortHandle handle = 0;
        EXPECT_EQ(SerialOpen(pty.name().c_str(), line, kDtrRtsOn, &handle), kSerialSettingsRefused)
            << line.baud_rate << " " << line.data_bits << " " << line.stop_bits << " "
            << line.parity;
        EXPECT_EQ(handle, 0u);
    }
    const LineParameters accepted[] = {
        {57600, 7, 2, 1},           // odd
        {1200, 8, 0, 3},            // mark
        {300, 5, 1, 4},             // space, one and a half stop bits
        {9600, 0x0108, 0, 0x0200},  // only the low bytes count
    };
    for (const LineParameters& line : accepted) {
        PortHandle handle = 0;
        EXPECT_EQ(SerialOpen(pty.name().c_str(), line, kDtrRtsOn, &handle), kSerialOk)
            << line.baud_rate;
        if (handle != 0) {
            EXPECT_EQ(SerialClose(handle), kSerialOk);
        }
    }
}

}  // namespace
}  // namespace morvane
