// The fault relay on real pseudo-terminals: the test plays the driver on the
// relay's device and the partner on a line of its own.
#include "sim/fault_relay.h"

#include <gtest/gtest.h>

#include "slave_end.h"

namespace plcsim {
namespace {

using test::Hex;
using test::SlaveEnd;

class Relayed : public ::testing::Test {
  protected:
    void Open(const RelaySettings& settings) {
        std::string error;
        partner_ = Line::OpenPty(&error);
        ASSERT_TRUE(partner_) << error;
        relay_ = FaultRelay::Open(partner_->path(), settings, &error);
        ASSERT_TRUE(relay_) << error;
        relay_->Start();
        driver_ = std::make_unique<SlaveEnd>(relay_->path());
        ASSERT_TRUE(driver_->ok());
    }
    std::string PartnerReads(size_t count) {
        Bytes bytes;
        uint8_t byte = 0;
        while (bytes.size() < count && partner_->ReadByte(&byte, 1000))
            bytes.push_back(byte);
        return test::ToHex(bytes);
    }

    std::unique_ptr<Line> partner_;
    std::unique_ptr<FaultRelay> relay_;
    std::unique_ptr<SlaveEnd> driver_;
};

TEST_F(Relayed, WithoutFaultsPassesEveryByteBothWaysAndFollowsTheBlocks) {
    Open({.faults = {.is_3964r = true, .rate = 0.0}});
    const std::string telegram = "00 00 45 44 01 02 00 01 FF FF 10 03 10";
    driver_->Send("02");
    EXPECT_EQ(PartnerReads(1), "02");
    partner_->Write(Hex("10").data(), 1);
    EXPECT_EQ(driver_->Read(1), "10");
    driver_->Send(telegram);
    EXPECT_EQ(PartnerReads(13), telegram);
    partner_->Write(Hex("10").data(), 1);
    EXPECT_EQ(driver_->Read(1), "10");

    const ByteFaultCounts counts = relay_->counts(kFromDriver);
    EXPECT_EQ(counts.bytes, 14u);
    EXPECT_EQ(counts.blocks, 1u);
    EXPECT_EQ(counts.altered_blocks, 0u);
    EXPECT_EQ(relay_->counts(kFromPartner).bytes, 2u);
    EXPECT_NE(relay_->RecentTrace().find("d>p 00 00 45 44"), std::string::npos)
        << relay_->RecentTrace();
    EXPECT_EQ(relay_->TakeDriverBlocks(), std::vector<Bytes>{Hex(telegram)});
    EXPECT_TRUE(relay_->TakeDriverBlocks().empty());
}

// The relay delivers what its faulter decides, in order: a reference faulter
// with the same settings and seed predicts every byte, and a late byte holds
// back everything behind it for the late delay.
TEST_F(Relayed, DeliversTheSeededFaultsInOrderWithLateBytesHeldBack) {
    const RelaySettings settings{
        .faults = {.is_3964r = false, .mode = ByteFaultMode::kIndependent, .rate = 0.5, .seed = 3},
        .late_to_driver_ms = 40,
        .late_to_partner_ms = 40};
    ByteFaulter reference(settings.faults);
    Bytes sent;
    for (int i = 0; i < 40; ++i)
        sent.push_back(static_cast<uint8_t>(0x40 + i));
    Bytes expected;
    bool any_late = false;
    for (uint8_t byte : sent) {
        const Delivery d = reference.Pass(kFromDriver, byte);
        expected.insert(expected.end(), d.bytes.begin(), d.bytes.begin() + d.count);
        any_late = any_late || d.late;
    }
    ASSERT_TRUE(any_late) << "the seed gives no late byte: pick another";
    Open(settings);
    const auto start = std::chrono::steady_clock::now();
    driver_->Send(sent);
    EXPECT_EQ(PartnerReads(expected.size()), test::ToHex(expected));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_EQ(relay_->counts(kFromDriver).bytes, sent.size());
}

// With marks on, a flagged character reaches the partner as FF 00 X and a
// data FF as FF FF, as a port with PARMRK hands them over.
TEST_F(Relayed, MarksFlaggedCharactersAndDoublesDataFf) {
    const RelaySettings settings{.faults = {.is_3964r = false,
                                            .mode = ByteFaultMode::kIndependent,
                                            .rate = 0.5,
                                            .seed = 4,
                                            .overrun_share = 1.0},
                                 .late_to_driver_ms = 5,
                                 .late_to_partner_ms = 5,
                                 .marks = true};
    ByteFaulter reference(settings.faults);
    Bytes sent;
    for (int i = 0; i < 40; ++i)
        sent.push_back(static_cast<uint8_t>(i % 4 == 0 ? 0xFF : 0x40 + i));
    Bytes expected;
    bool any_flagged = false;
    for (uint8_t byte : sent) {
        const Delivery d = reference.Pass(kFromDriver, byte);
        for (uint8_t k = 0; k < d.count; ++k) {
            const bool flagged = k == 0 && d.flag != UartFlag::kNone;
            if (flagged) expected.insert(expected.end(), {0xFF, 0x00});
            if (!flagged && d.bytes[k] == 0xFF) expected.push_back(0xFF);
            expected.push_back(d.bytes[k]);
        }
        any_flagged = any_flagged || d.flag != UartFlag::kNone;
    }
    ASSERT_TRUE(any_flagged) << "the seed flags no character: pick another";
    Open(settings);
    driver_->Send(sent);
    EXPECT_EQ(PartnerReads(expected.size()), test::ToHex(expected));
}

}  // namespace
}  // namespace plcsim
