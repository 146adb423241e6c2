// Reception of the partner's block, as wire vectors grouped by what can go
// wrong: the closing DLE ETX next to DLE pairs, NAK first and later, the
// block check, time-outs before and after the second byte, and the bound.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "link/link3964.h"
#include "link_test_support.h"
#include "support/log_capture.h"
#include "support/pty_pair.h"

namespace morvane {
namespace {

using test::Hex;
using test::ToHex;
using test::Wire;

constexpr uint8_t k3964 = 0;
constexpr uint8_t k3964R = 1;

struct ReceiveCase {
    const char* name;
    uint8_t variant;
    const char* arrives;
    ReceiveResult result;
    const char* stored;  // the counted bytes on success (doubled DLEs still in)
    const char* sent;    // what the driver put on the line
    const char* log;     // the one log line, or ""
    int left_waiting;    // bytes Receive must not have read
};

const char kTimeout[] = "ZIDIV> Receive() timeout receiving";

const ReceiveCase kCases[] = {
    // Framing next to DLE pairs.
    {"plain block", k3964, "41 42 10 03", ReceiveResult::kReceived, "41 42", "", "", 0},
    {"pair then closing", k3964, "41 10 10 10 03", ReceiveResult::kReceived, "41 10 10", "", "", 0},
    {"pair then 03 is data", k3964, "10 10 03 10 03", ReceiveResult::kReceived, "10 10 03", "", "",
     0},
    {"two pairs", k3964, "10 10 10 10 10 03", ReceiveResult::kReceived, "10 10 10 10", "", "", 0},
    {"empty block", k3964, "10 03", ReceiveResult::kReceived, "", "", "", 0},
    {"3964 reads no BCC", k3964, "41 10 03 52", ReceiveResult::kReceived, "41", "", "", 1},
    // NAK first and later.
    {"NAK first", k3964, "15 41 10 03", ReceiveResult::kNak, "", "10 15",
     "ZIDIV> Receive() NAK received", 3},
    {"NAK later is data", k3964, "41 15 10 03", ReceiveResult::kReceived, "41 15", "", "", 0},
    // Block check.
    {"good BCC", k3964R, "41 10 10 10 03 52", ReceiveResult::kReceived, "41 10 10", "", "", 0},
    {"BCC that is DLE", k3964R, "00 00 45 44 01 02 00 01 FF FF 10 03 10", ReceiveResult::kReceived,
     "00 00 45 44 01 02 00 01 FF FF", "", "", 0},
    {"bad BCC", k3964R, "41 10 03 00", ReceiveResult::kBadBlock, "", "10",
     "ZIDIV> Receive() BCC error!", 0},
    {"no BCC", k3964R, "41 10 03", ReceiveResult::kTimedOut, "", "",
     "ZIDIV> Receive() timeout receiving BCC", 0},
    // Time-outs before and after the second byte.
    {"silent line", k3964, "", ReceiveResult::kTimedOut, "", "", kTimeout, 0},
    {"one byte then silence", k3964, "41", ReceiveResult::kTimedOut, "", "", kTimeout, 0},
    {"two bytes then silence", k3964, "41 42", ReceiveResult::kTimedOut, "", "10", kTimeout, 0},
    {"stops after DLE", k3964, "41 42 10", ReceiveResult::kTimedOut, "", "10", kTimeout, 0},
};

class ReceiveBlock : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pty_.ok() && port_.ok()); }
    void Arrive(const Wire& bytes) {
        ASSERT_TRUE(pty_.Send(bytes));
        ASSERT_TRUE(pty_.WaitQueued(static_cast<int>(bytes.size())));
    }
    uint32_t Waiting() {
        uint32_t waiting = 0;
        EXPECT_TRUE(SerialBytesWaiting(port_.handle(), &waiting));
        return waiting;
    }

    test::PtyPair pty_;
    test::DriverPort port_{pty_.name()};
    test::LogCapture log_;
};

class ReceiveVector : public ReceiveBlock, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(ReceiveVector, ResultStoredBytesLineAndLog) {
    const ReceiveCase& c = GetParam();
    {
        Arrive(Hex(c.arrives));
        uint8_t buffer[kLinkBufferSize];
        uint16_t length = 0xFFFF;
        EXPECT_EQ(Receive(port_.handle(), c.variant, buffer, &length), c.result);
        if (c.result == ReceiveResult::kReceived) {
            EXPECT_EQ(ToHex(Wire(buffer, buffer + length)), c.stored);
        }
        EXPECT_EQ(ToHex(pty_.Receive(8, 30)), c.sent);
        if (*c.log) {
            EXPECT_TRUE(log_.Has(8, c.log)) << log_.Dump();
            EXPECT_EQ(log_.lines().size(), 1u) << log_.Dump();
        } else {
            EXPECT_TRUE(log_.lines().empty()) << log_.Dump();
        }
        EXPECT_EQ(Waiting(), static_cast<uint32_t>(c.left_waiting));
    }
}

INSTANTIATE_TEST_SUITE_P(Wire, ReceiveVector, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name;
    for (const char* p = info.param.name; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
});

TEST_F(ReceiveBlock, ClosingDleEtxStaysBehindTheCountedBytes) {
    Arrive(Hex("41 10 10 10 03"));
    uint8_t buffer[kLinkBufferSize];
    uint16_t length = 0;
    ASSERT_EQ(Receive(port_.handle(), k3964, buffer, &length), ReceiveResult::kReceived);
    ASSERT_EQ(length, 3);
    EXPECT_EQ(buffer[3], kDle);
    EXPECT_EQ(buffer[4], kEtx);
    uint8_t plain[kLinkBufferSize];
    EXPECT_EQ(ToHex(Wire(plain, plain + UndoubleDle(buffer, plain, length))), "41 10");
}

// A block that fills the buffer exactly is taken; one byte more is refused
// with NAK and nothing is written past the buffer.
TEST_F(ReceiveBlock, StoresAtMostTheBufferAndRefusesALongerBlock) {
    struct {
        size_t payload;
        ReceiveResult result;
        const char* sent;
    } const cases[] = {{kLinkBufferSize - 2, ReceiveResult::kReceived, ""},
                       {kLinkBufferSize - 1, ReceiveResult::kTooLong, "15"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        log_.clear();
        SerialPurgeInput(port_.handle());
        Wire block(c.payload, 0x41);
        block.push_back(kDle);
        block.push_back(kEtx);
        Arrive(block);
        uint8_t buffer[kLinkBufferSize + 16];
        std::memset(buffer, 0xA5, sizeof buffer);
        uint16_t length = 0;
        EXPECT_EQ(Receive(port_.handle(), k3964, buffer, &length), c.result);
        for (size_t i = kLinkBufferSize; i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], 0xA5) << "written past the buffer at " << i;
        EXPECT_EQ(ToHex(pty_.Receive(4, 30)), c.sent);
        if (c.result == ReceiveResult::kReceived) {
            EXPECT_EQ(length, c.payload);
        } else {
            EXPECT_TRUE(log_.Has(8, "ZIDIV> Receive() block too long, refused")) << log_.Dump();
        }
    }
}

}  // namespace
}  // namespace morvane
