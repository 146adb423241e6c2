// Single-byte operations and the connection set-up against a scripted peer
// on the pseudo-terminal master: what the driver returns, logs and puts on
// the line.
#include <gtest/gtest.h>

#include "link/link3964.h"
#include "link_test_support.h"
#include "support/log_capture.h"
#include "support/pty_pair.h"

namespace morvane {
namespace {

using test::Hex;
using test::ToHex;
using test::Wire;

constexpr int kSilenceMs = 30;  // how long the peer listens for bytes that must not come

class LineOps : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pty_.ok() && port_.ok()); }
    // Bytes the peer has queued for the driver before the operation runs.
    void Answer(const std::string& hex) {
        const Wire bytes = Hex(hex);
        ASSERT_TRUE(pty_.Send(bytes));
        ASSERT_TRUE(pty_.WaitQueued(static_cast<int>(bytes.size())));
    }
    // Everything the driver sent, as hex.
    std::string Sent(size_t at_most = 16) { return ToHex(pty_.Receive(at_most, kSilenceMs)); }

    test::PtyPair pty_;
    test::DriverPort port_{pty_.name()};
    test::LogCapture log_;
};

TEST_F(LineOps, SendBlockAndSendByteWriteExactlyTheirBytes) {
    const Wire block = Hex("00 00 45 44 01 02 00 01 FF FF 10 03 10");
    EXPECT_EQ(SendBlock(port_.handle(), block.data(), 13), SendResult::kSent);
    EXPECT_EQ(SendByte(port_.handle(), kDle), SendResult::kSent);
    EXPECT_EQ(Sent(), "00 00 45 44 01 02 00 01 FF FF 10 03 10 10");
}

TEST_F(LineOps, WritesOnAPortThatIsGoneFail) {
    const PortHandle gone = 4000;  // no such descriptor
    const uint8_t byte = kStx;
    EXPECT_EQ(SendBlock(gone, &byte, 1), SendResult::kWriteFailed);
    EXPECT_EQ(SendByte(gone, kStx), SendResult::kWriteFailed);
}

struct ExpectCase {
    const char* name;
    const char* arrives;  // queued before the read; "" = silent line
    uint8_t expected;
    AckResult result;
    const char* sent;
};

const ExpectCase kExpectCases[] = {
    {"DLE as expected", "10", kDle, AckResult::kAcknowledged, ""},
    {"STX as expected", "02", kStx, AckResult::kAcknowledged, ""},
    {"NAK instead of DLE", "15", kDle, AckResult::kNak, "15"},
    {"other byte", "41", kDle, AckResult::kOther, "15"},
    {"STX instead of DLE", "02", kDle, AckResult::kOther, "15"},
    {"nothing", "", kStx, AckResult::kOther, "15"},
};

TEST_F(LineOps, ExpectByteAnswersAnythingButTheExpectedWithNak) {
    for (const ExpectCase& c : kExpectCases) {
        SCOPED_TRACE(c.name);
        Answer(c.arrives);
        EXPECT_EQ(ExpectByte(port_.handle(), c.expected), c.result);
        EXPECT_EQ(Sent(), c.sent);
    }
    EXPECT_TRUE(log_.lines().empty()) << log_.Dump();
}

struct SetupCase {
    const char* name;
    const char* answers;  // the peer's bytes, queued before the set-up
    ReadyResult result;
    const char* sent;
};

const SetupCase kSetupCases[] = {
    {"DLE at once", "10", ReadyResult::kReady, "02"},
    {"conflict, then DLE", "02 10", ReadyResult::kReadyAfterConflict, "02 02"},
    {"junk, then DLE", "41 10", ReadyResult::kReady, "02 02"},
    {"STX twice", "02 02", ReadyResult::kNotResponding, "02 02 15"},
    {"NAK twice", "15 15", ReadyResult::kNotResponding, "02 02 15"},
    {"no answer", "", ReadyResult::kNotResponding, "02 02 15"},
};

TEST_F(LineOps, CheckIfReadyTriesTwiceAndReportsAConflict) {
    const std::string kNotResponding = "ZIDIV> CheckIfReady() PLC is not responding, aborting!";
    for (const SetupCase& c : kSetupCases) {
        SCOPED_TRACE(c.name);
        log_.clear();
        Answer(c.answers);
        EXPECT_EQ(CheckIfReady(port_.handle()), c.result);
        EXPECT_EQ(Sent(), c.sent);
        EXPECT_EQ(log_.Has(8, kNotResponding), c.result == ReadyResult::kNotResponding)
            << log_.Dump();
        EXPECT_EQ(log_.lines().size(), c.result == ReadyResult::kNotResponding ? 1u : 0u);
    }
}

}  // namespace
}  // namespace morvane
