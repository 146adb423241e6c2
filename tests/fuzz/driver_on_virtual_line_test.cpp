// The driver through TevMain on the virtual line: a scripted partner is
// served as the fuzzer serves it, the waits land on the clock, and the
// bound the fuzzer holds each call to covers a silent partner's call.
#include <gtest/gtest.h>

#include <cstring>

#include "fuzz/call_bound.h"
#include "fuzz/line_check.h"
#include "fuzz/virtual_line.h"
#include "morvane/morvane.h"
#include "support/hex_bytes.h"
#include "support/temp_directory.h"

namespace morvane::fuzz {
namespace {

using test::Hex;
using test::TempCurrentDirectory;
using test::Wire;

constexpr int32_t kChannel = 4;
constexpr uint32_t kReadTimeoutMs = 500;  // the smallest internal time-out

class DriverOnVirtualLine : public ::testing::Test {
  protected:
    void Start(const Wire& script, bool is_3964r) {
        ASSERT_TRUE(directory_.ok());
        if (is_3964r) TempCurrentDirectory::Write("ZIDIV04.INT", "PROTOCOL=3964R\n");
        script_ = script;
        TheLine().Reset(script_.data(), script_.size());
        StartBlock start{};
        std::memcpy(start.port_name, "ttyV0", 6);
        start.open_now = 1;
        start.external_timeout = 1000;
        start.line = LineParameters{9600, 8, 0, 2};
        TevRequest request{&area_, MORVANE_CMD_COLD_START, kChannel, 0, &start};
        ASSERT_EQ(TevMain(&request), 0);
        ASSERT_EQ(TheLine().ReadTimeoutMs(), kReadTimeoutMs);
    }
    int32_t SingleReadWord(uint8_t data_block, uint16_t word, int32_t* value) {
        TransferBlock block{};
        block.gate = GateAddress{1, MORVANE_CLASS_WORD, data_block << 16 | word, -1, 16};
        block.count = 1;
        block.data = value;
        TevRequest request{&area_, MORVANE_CMD_SINGLE_READ, kChannel, 0, &block};
        return TevMain(&request);
    }
    void TearDown() override {
        TevRequest request{&area_, MORVANE_CMD_CLOSE_COM, kChannel, 0, nullptr};
        EXPECT_EQ(TevMain(&request), 0);
        EXPECT_FALSE(TheLine().IsOpen());
    }

    TempCurrentDirectory directory_;
    ChannelArea area_{};
    Wire script_;
};

TEST_F(DriverOnVirtualLine, AScriptedFetchIn3964RReadsTheValueWithoutWaiting) {
    // DLE to our STX; DLE STX to the telegram; the reply to our DLE; nothing more.
    Start(Hex("01 10  02 10 02  09 00 00 00 00 12 34 10 03 35  00"), true);
    int32_t value = -1;
    EXPECT_EQ(SingleReadWord(3, 7, &value), 0);
    uint8_t bytes[4];
    std::memcpy(bytes, &value, sizeof bytes);
    EXPECT_EQ(Hex("12 34"), (Wire{bytes[3], bytes[2]}));  // the word in the slot's upper half
    EXPECT_EQ(TheLine().NowMs(), 0u);

    const TransferOnLine rules{true, true, false, 3, 7, 1, 1, {}};
    WrittenLineCheck check(rules);
    ASSERT_EQ(TheLine().WrittenBlocks().size(), 4u);  // STX, telegram, DLE, DLE
    for (const WrittenBlock& block : TheLine().WrittenBlocks())
        EXPECT_EQ(check.Next(TheLine().Written().data() + block.offset, block.length), nullptr);
}

TEST_F(DriverOnVirtualLine, ASilentPartnerCostsFourAttemptsOfTwoTimeOutsWithinTheBound) {
    Start(Wire{}, false);
    int32_t value = 0x5A5A5A5A;
    EXPECT_EQ(SingleReadWord(1, 2, &value), 2);
    EXPECT_EQ(value, 0x5A5A5A5A);
    // Each attempt: STX, STX, NAK, both connection requests timed out.
    EXPECT_EQ(test::ToHex(TheLine().Written()), "02 02 15 02 02 15 02 02 15 02 02 15");
    EXPECT_EQ(TheLine().NowMs(), 4u * 2 * kReadTimeoutMs);
    const GateAddress gate{1, MORVANE_CLASS_WORD, 1 << 16 | 2, -1, 16};
    EXPECT_LE(TheLine().NowMs(), CallBoundMs(MORVANE_CMD_SINGLE_READ, gate, 1, kReadTimeoutMs));
}

// A port that takes no character (a device gone whose reads still wait, as
// some systems leave it) costs no read time-outs: no request reached the line.
TEST_F(DriverOnVirtualLine, APortThatTakesNoCharacterIsGivenUpWithoutWaiting) {
    Start(Wire(12, 0x80), false);  // every write fails: 4 x (STX, STX, NAK)
    int32_t value = 0x5A5A5A5A;
    EXPECT_EQ(SingleReadWord(1, 2, &value), 2);
    EXPECT_EQ(value, 0x5A5A5A5A);
    EXPECT_TRUE(TheLine().Written().empty());
    EXPECT_EQ(TheLine().NowMs(), 0u);
}

TEST_F(DriverOnVirtualLine, APartnerThatNeverFallsSilentIsLeftWithinTheBound) {
    // A good reply, then a noise byte answering every write: the quiet-line
    // loop and the attempts give up at their limits, not at the end of the script.
    Wire script = Hex("01 10  02 10 02  08 00 00 00 00 00 01 10 03");
    for (int i = 0; i < 400; ++i) {
        script.push_back(0x01);
        script.push_back(0x55);
    }
    Start(script, false);
    int32_t value = 0;
    const int32_t result = SingleReadWord(1, 2, &value);
    EXPECT_EQ(result, 2);
    const GateAddress gate{1, MORVANE_CLASS_WORD, 1 << 16 | 2, -1, 16};
    EXPECT_GT(TheLine().NowMs(), 0u);
    EXPECT_LE(TheLine().NowMs(), CallBoundMs(MORVANE_CMD_SINGLE_READ, gate, 1, kReadTimeoutMs));
}

}  // namespace
}  // namespace morvane::fuzz
