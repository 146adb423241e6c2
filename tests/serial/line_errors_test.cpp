// Damaged characters from the line, through the port's real read path with
// the UART's reports supplied at the system calls: a damaged block is
// answered as one whose block check failed, in both procedures, and a
// damaged control character is not taken for what it looks like. Also the
// low-latency request and its undoing at close.
#include <gtest/gtest.h>
#include <linux/serial.h>

#include "link/link3964.h"
#include "link/link_test_support.h"
#include "serial/uart_seam.h"
#include "support/log_capture.h"
#include "support/pty_pair.h"

namespace morvane {
namespace {

using test::Hex;
using test::ToHex;
using test::Wire;

constexpr uint8_t k3964 = 0;
constexpr uint8_t k3964R = 1;
const char kDamaged[] = "ZIDIV> Receive() damaged character!";

// A pseudo-terminal whose slave the seam follows from before the open on.
class SeamLine : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok());
        test::UartSeamAttach(pty_.name());
        test::UartSeamSetOverruns(0);
        test::UartSeamRefuseSerial();
        port_ = std::make_unique<test::DriverPort>(pty_.name());
        ASSERT_TRUE(port_->ok());
        log_.clear();
    }
    void TearDown() override {
        port_.reset();
        test::UartSeamDetach();
    }
    // The partner's bytes as the kernel marks them (FF 00 X: X damaged).
    void Arrive(const char* marked) {
        const Wire bytes = Hex(marked);
        ASSERT_TRUE(pty_.Send(bytes));
        ASSERT_TRUE(pty_.WaitQueued(static_cast<int>(bytes.size())));
    }
    PortHandle port() const { return port_->handle(); }

    test::PtyPair pty_;
    std::unique_ptr<test::DriverPort> port_;
    test::LogCapture log_;
};

struct DamagedBlock {
    const char* name;
    uint8_t variant;
    const char* arrives;
    bool overrun;  // the device counts a lost character meanwhile
    ReceiveResult result;
    const char* log;
};

const DamagedBlock kBlocks[] = {
    {"clean 3964 block with FF data", k3964, "41 FF FF 10 03", false, ReceiveResult::kReceived, ""},
    {"clean 3964R block with FF data", k3964R, "41 FF FF 10 03 AD", false, ReceiveResult::kReceived,
     ""},
    {"3964: parity error in the data", k3964, "41 FF 00 42 10 03", false, ReceiveResult::kBadBlock,
     kDamaged},
    {"3964R: parity error, BCC still right", k3964R, "41 FF 00 42 10 03 10", false,
     ReceiveResult::kBadBlock, kDamaged},
    {"3964: break inside the block", k3964, "41 FF 00 00 10 03", false, ReceiveResult::kBadBlock,
     kDamaged},
    {"3964: damaged DLE is no closing DLE", k3964, "41 FF 00 10 03 10 03", false,
     ReceiveResult::kBadBlock, kDamaged},
    {"3964R: damaged BCC", k3964R, "41 10 03 FF 00 52", false, ReceiveResult::kBadBlock, kDamaged},
    {"3964: damaged NAK first is no NAK", k3964, "FF 00 15 41 10 03", false,
     ReceiveResult::kBadBlock, kDamaged},
    {"3964: character lost before the block", k3964, "41 42 10 03", true, ReceiveResult::kBadBlock,
     kDamaged},
    {"3964R: character lost, BCC right", k3964R, "41 10 03 52", true, ReceiveResult::kBadBlock,
     kDamaged},
};

void PrintTo(const DamagedBlock& c, std::ostream* out) {
    *out << c.name;
}

class DamagedBlocks : public SeamLine, public ::testing::WithParamInterface<DamagedBlock> {};

TEST_P(DamagedBlocks, AnsweredAsABadBlockCheck) {
    const DamagedBlock& c = GetParam();
    if (c.overrun) test::UartSeamSetOverruns(1);
    Arrive(c.arrives);
    uint8_t buffer[kLinkBufferSize];
    uint16_t length = 0;
    EXPECT_EQ(Receive(port(), c.variant, buffer, &length), c.result);
    // A refused block gets the same DLE as a bad block check; a good one none.
    EXPECT_EQ(ToHex(pty_.Receive(4, 30)), c.result == ReceiveResult::kReceived ? "" : "10");
    if (*c.log) {
        EXPECT_TRUE(log_.Has(8, c.log)) << log_.Dump();
    } else {
        EXPECT_EQ(ToHex(Wire(buffer, buffer + length)), "41 FF");
        EXPECT_TRUE(log_.lines().empty()) << log_.Dump();
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, DamagedBlocks, ::testing::ValuesIn(kBlocks), [](const auto& info) {
    std::string name = info.param.name;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

TEST_F(SeamLine, DamageBeforeAStatusQueryIsNotChargedToTheNextBlock) {
    Arrive("FF 00 41");
    uint8_t byte = 0;
    uint32_t read = 0;
    ASSERT_EQ(SerialRead(port(), &byte, 1, &read), kSerialOk);
    test::UartSeamSetOverruns(3);
    EXPECT_FALSE(SerialInputWaiting(port()));  // the purge's and the loops' query
    Arrive("41 10 03");
    uint8_t buffer[kLinkBufferSize];
    uint16_t length = 0;
    EXPECT_EQ(Receive(port(), k3964, buffer, &length), ReceiveResult::kReceived) << log_.Dump();
}

struct ControlCase {
    const char* name;
    const char* arrives;
    AckResult result;
};

TEST_F(SeamLine, DamagedAcknowledgementIsNoAcknowledgement) {
    const ControlCase cases[] = {
        {"good DLE", "10", AckResult::kAcknowledged},
        {"damaged DLE", "FF 00 10", AckResult::kOther},
        {"good NAK", "15", AckResult::kNak},
        {"damaged NAK", "FF 00 15", AckResult::kOther},
    };
    for (const ControlCase& c : cases) {
        SCOPED_TRACE(c.name);
        Arrive(c.arrives);
        EXPECT_EQ(ExpectByte(port(), kDle), c.result);
        EXPECT_EQ(ToHex(pty_.Receive(2, 30)), c.result == AckResult::kAcknowledged ? "" : "15");
    }
}

TEST_F(SeamLine, DamagedAnswerToTheConnectionRequestIsNone) {
    // The first STX is answered by a damaged DLE, the second by a good one.
    Arrive("FF 00 10 10");
    EXPECT_EQ(CheckIfReady(port()), ReadyResult::kReady);
    EXPECT_EQ(ToHex(pty_.Receive(4, 30)), "02 02");
    // A damaged STX is no conflict: the second good DLE means no telegram is pending.
    Arrive("FF 00 02 10");
    EXPECT_EQ(CheckIfReady(port()), ReadyResult::kReady);
    EXPECT_EQ(ToHex(pty_.Receive(4, 30)), "02 02");
}

struct LatencyCase {
    const char* name;
    bool takes_request;
    int flags_before;
    int flags_while_open;
    int flags_after;
};

TEST(LowLatency, RequestedAtOpenAndUndoneAtClose) {
    const LatencyCase cases[] = {
        {"adapter at its default", true, 0x10, 0x10 | ASYNC_LOW_LATENCY, 0x10},
        {"already low latency", true, ASYNC_LOW_LATENCY, ASYNC_LOW_LATENCY, ASYNC_LOW_LATENCY},
        {"device without the setting", false, 0x10, 0x10, 0x10},
    };
    for (const LatencyCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::PtyPair pty;
        ASSERT_TRUE(pty.ok());
        test::UartSeamAttach(pty.name());
        test::UartSeamSetSerialFlags(c.flags_before);
        if (!c.takes_request) test::UartSeamRefuseSerial();
        {
            test::DriverPort port(pty.name());
            ASSERT_TRUE(port.ok()) << "a refused request is no failed open";
            EXPECT_EQ(test::UartSeamSerialFlags(), c.flags_while_open);
        }
        EXPECT_EQ(test::UartSeamSerialFlags(), c.flags_after);
        test::UartSeamDetach();
    }
}

}  // namespace
}  // namespace morvane
