// The link operations run as an exchange runs them, against the simulator:
// request in the active role, reply in the passive role, in 3964 and 3964R,
// with the simulator's faults and the initialization conflict both ways.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "link/link3964.h"
#include "link/quiet_line.h"
#include "link/rk512_fetch.h"
#include "link_test_support.h"
#include "support/deadline.h"
#include "support/log_capture.h"
#include "support/sim_fixture.h"

namespace morvane {
namespace {

using test::Hex;
using test::ToHex;
using test::Wire;

const Wire kFetchDb1Word2 = Hex("00 00 45 44 01 02 00 01 FF FF");

struct Outcome {
    // Empty where the exchange stopped before the step.
    std::optional<ReadyResult> setup;      // CheckIfReady
    std::optional<AckResult> ack;          // ExpectByte DLE for the telegram
    std::optional<AckResult> sync;         // ExpectByte STX of the reply
    std::optional<ReceiveResult> receive;  // Receive
    Wire reply;                            // un-doubled
};

// The driver's side of one request and reply, step by step; stops at the
// first failing step.
Outcome Exchange(PortHandle port, uint8_t variant, const Wire& telegram) {
    Outcome out;
    uint8_t framed[kLinkBufferSize];
    uint16_t length = FrameBlock(telegram.data(), framed, static_cast<uint16_t>(telegram.size()));
    if (variant == 1) {
        framed[length] = ComputeBcc(framed, length);
        ++length;
    }
    SerialPurgeInput(port);
    out.setup = CheckIfReady(port);
    if (out.setup == ReadyResult::kNotResponding) return out;
    if (SendBlock(port, framed, length) != SendResult::kSent) return out;
    if ((out.ack = ExpectByte(port, kDle)) != AckResult::kAcknowledged) return out;
    if ((out.sync = ExpectByte(port, kStx)) != AckResult::kAcknowledged) return out;
    SerialPurgeInput(port);
    SendByte(port, kDle);
    uint8_t raw[kLinkBufferSize];
    uint16_t raw_length = 0;
    if ((out.receive = Receive(port, variant, raw, &raw_length)) != ReceiveResult::kReceived)
        return out;
    SendByte(port, kDle);
    uint8_t plain[kLinkBufferSize];
    out.reply.assign(plain, plain + UndoubleDle(raw, plain, raw_length));
    return out;
}

class AgainstSim : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.ok()) << sim_.error();
        ASSERT_TRUE(port_.ok());
    }
    uint8_t variant() const { return GetParam() ? 1 : 0; }
    Outcome Run(const Wire& telegram = kFetchDb1Word2) {
        return Exchange(port_.handle(), variant(), telegram);
    }
    void Fault(void (*set)(plcsim::Faults&)) {
        plcsim::Faults faults;
        set(faults);
        sim_.SetFaults(faults);
    }

    test::SimFixture sim_{test::FastLink(GetParam())};
    test::DriverPort port_{sim_.device(), test::kSimReadTimeoutMs};
    test::LogCapture log_;
};

TEST_P(AgainstSim, FetchOfOneWordTakesTheWordAndTheSimSeesTheExactTelegram) {
    sim_->SetWord(1, 2, 0x1234);
    const Outcome out = Run();
    EXPECT_EQ(out.setup, ReadyResult::kReady);
    EXPECT_EQ(out.receive, ReceiveResult::kReceived) << sim_.TraceText();
    EXPECT_EQ(ToHex(out.reply), "00 00 00 00 12 34");
    ASSERT_EQ(sim_.Telegrams().size(), 1u);
    EXPECT_EQ(sim_.Telegrams()[0], kFetchDb1Word2);
    EXPECT_TRUE(log_.lines().empty()) << log_.Dump();
}

TEST_P(AgainstSim, ReplyDataWithDleComeBackUndoubled) {
    sim_->SetWord(1, 2, 0x1010);
    sim_->SetWord(1, 3, 0x0310);
    const Outcome out = Run(Hex("00 00 45 44 01 02 00 02 FF FF"));
    EXPECT_EQ(ToHex(out.reply), "00 00 00 00 10 10 03 10") << sim_.TraceText();
}

TEST_P(AgainstSim, SendWritesTheWordsIntoTheDataBlock) {
    const Outcome out = Run(Hex("00 00 41 44 07 0A 00 02 FF FF 10 10 BE EF"));
    EXPECT_EQ(ToHex(out.reply), "00 00 00 00") << sim_.TraceText();
    EXPECT_EQ(sim_->Word(7, 10), 0x1010);
    EXPECT_EQ(sim_->Word(7, 11), 0xBEEF);
}

TEST_P(AgainstSim, ConflictAtLowPriorityGivesTwoAndTheDrainTakesThePartnersTelegram) {
    plcsim::LinkSettings link = test::FastLink(GetParam());
    link.own_telegram = Hex("00 00 41 44 03 00 00 01 FF FF 12 34");
    sim_.SetLink(link);
    Fault([](plcsim::Faults& f) { f.conflict = 1; });
    const Outcome out = Run();
    EXPECT_EQ(out.setup, ReadyResult::kReadyAfterConflict);
    EXPECT_EQ(out.receive, ReceiveResult::kReceived) << sim_.TraceText();
    // The driver's telegram arrived intact although both sides sent STX.
    ASSERT_FALSE(sim_.Telegrams().empty());
    EXPECT_EQ(sim_.Telegrams()[0], kFetchDb1Word2);
    EXPECT_EQ(DrainPending(port_.handle(), variant()), DrainOutcome::kQuiet);
    EXPECT_TRUE(sim_.WaitForTrace("rx DLE", 4)) << sim_.TraceText();
    sim_.Stop();
    const std::string trace = sim_.TraceText();
    EXPECT_NE(trace.find("-- initialization conflict: withdrawn"), std::string::npos) << trace;
    EXPECT_NE(trace.find("tx 00 00 41 44 03 00 00 01 FF FF 12 34 DLE ETX"), std::string::npos)
        << trace;
    EXPECT_EQ(trace.find("-- block not delivered"), std::string::npos) << trace;
}

TEST_P(AgainstSim, ConflictAtHighPriorityFailsTheSetUp) {
    plcsim::LinkSettings link = test::FastLink(GetParam());
    link.priority = plcsim::Priority::kHigh;
    sim_.SetLink(link);
    Fault([](plcsim::Faults& f) { f.conflict = 1; });
    const Outcome out = Run();
    EXPECT_EQ(out.setup, ReadyResult::kNotResponding);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> CheckIfReady() PLC is not responding, aborting!"));
    EXPECT_TRUE(sim_.Telegrams().empty());
}

TEST_P(AgainstSim, SilentPartnerFailsTheSetUp) {
    Fault([](plcsim::Faults& f) { f.ignore_requests = plcsim::kAlways; });
    EXPECT_EQ(Run().setup, ReadyResult::kNotResponding);
}

TEST_P(AgainstSim, RefusedTelegramIsAnsweredNak) {
    Fault([](plcsim::Faults& f) { f.nak_telegrams = 1; });
    const Outcome out = Run();
    EXPECT_EQ(out.ack, AckResult::kNak);
    ASSERT_EQ(sim_->received().size(), 1u);
    EXPECT_FALSE(sim_->received()[0].accepted);
}

TEST_P(AgainstSim, LateReplyTimesOutWaitingForItsStx) {
    Fault([](plcsim::Faults& f) { f.reply_delay_ms = 400; });
    EXPECT_EQ(Run().sync, AckResult::kOther);
}

TEST_P(AgainstSim, SpoiledReplyIsRefusedOrTimesOut) {
    // A dropped byte inside the reply: the block never ends in 3964 when
    // the closing DLE goes (index 6 of "00 00 00 00 00 00 10 03").
    Fault([](plcsim::Faults& f) {
        f.drop_byte = 1;
        f.byte_index = 6;
    });
    EXPECT_EQ(Run().receive, ReceiveResult::kTimedOut);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> Receive() timeout receiving"));
}

TEST_P(AgainstSim, PartnerThatDoesNotFallSilentHitsTheQuietLineBound) {
    Fault([](plcsim::Faults& f) { f.babble = true; });
    ASSERT_EQ(Run().receive, ReceiveResult::kReceived);
    ASSERT_TRUE(test::WaitForInput(port_.handle()));
    test::RoundCounter counter{port_.handle()};
    const test::Deadline deadline(std::chrono::seconds(5), "WaitQuietLine on a babbling partner");
    EXPECT_FALSE(WaitQuietLine(port_.handle(), test::RoundCounter::OnRound, &counter, 3));
    EXPECT_EQ(counter.rounds, 3);
}

INSTANTIATE_TEST_SUITE_P(Variants, AgainstSim, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "3964R" : "3964"; });

TEST(AgainstSim3964R, CorruptBlockCheckIsAnsweredWithDle) {
    test::SimFixture sim(test::FastLink(true));
    ASSERT_TRUE(sim.ok());
    test::DriverPort port(sim.device(), test::kSimReadTimeoutMs);
    test::LogCapture log;
    plcsim::Faults faults;
    faults.corrupt_bcc = 1;
    sim.SetFaults(faults);
    EXPECT_EQ(Exchange(port.handle(), 1, kFetchDb1Word2).receive, ReceiveResult::kBadBlock);
    EXPECT_TRUE(log.Has(8, "ZIDIV> Receive() BCC error!"));
    // The simulator takes the driver's DLE as the acknowledgement of its block.
    EXPECT_TRUE(sim.WaitForTrace("rx DLE", 2)) << sim.TraceText();
    sim.Stop();
    EXPECT_EQ(sim.TraceText().find("-- block not delivered"), std::string::npos);
}

// A reply the decoder cannot take fails the telegram: a 32-bit word class
// has no value the one word of its reply could fill.
TEST(AgainstSimDoRead, ReplyTheDecoderRefusesFailsTheTelegram) {
    test::SimFixture sim(test::FastLink(false));
    ASSERT_TRUE(sim.ok());
    test::DriverPort port(sim.device(), test::kSimReadTimeoutMs);
    test::LogCapture log;
    ChannelArea area{};
    area.port_handle = port.handle();
    uint8_t values[8];
    std::memset(values, 0xA5, sizeof values);
    TransferBlock block{};
    block.gate = {1, MORVANE_CLASS_WORD, (1 << 16) | 2, -1, 32};
    block.count = 1;
    block.data = values;
    EXPECT_EQ(DoRead(area, block, 0, ValueLayout::kValueSlot), TelegramResult::kRefused);
    EXPECT_TRUE(log.Has(8, "ZIDIV> DoRead() fetch reply not decodable")) << log.Dump();
    for (uint8_t byte : values)
        EXPECT_EQ(byte, 0xA5);
}

}  // namespace
}  // namespace morvane
