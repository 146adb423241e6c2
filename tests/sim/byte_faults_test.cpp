// The byte faults of the fault relay: which blocks it follows, how it judges
// a block delivered altered (caught by the receiver, or passing its check),
// and that "one fault per block" never puts two faults inside a block.
#include "sim/byte_faults.h"

#include <gtest/gtest.h>

#include <map>

#include "support/hex_bytes.h"

namespace plcsim {
namespace {

using morvane::test::Hex;
using morvane::test::ToHex;
using Fault = std::pair<ByteFaultKind, uint8_t>;  // kind, flip mask

constexpr ByteFaultKind kFlip = ByteFaultKind::kFlip;
constexpr ByteFaultKind kDrop = ByteFaultKind::kDrop;
constexpr ByteFaultKind kDouble = ByteFaultKind::kDouble;
constexpr ByteFaultKind kLate = ByteFaultKind::kLate;

// FETCH telegram as framed on the line; 3964R appends its block check 10.
const char kFramed[] = "00 00 45 44 01 02 00 01 FF FF 10 03";

Side Other(Side side) {
    return side == kFromDriver ? kFromPartner : kFromDriver;
}

// A control character passed on and delivered without a fault.
void Control(ByteFaulter& faulter, Side from, uint8_t byte) {
    faulter.PassWith(from, byte, nullptr);
    faulter.Delivered(from, byte);
}

// STX from sender, DLE back, the block with faults at byte positions, DLE
// back. Returns what the receiver got of the block.
Bytes Exchange(ByteFaulter& faulter, Side sender, const Bytes& block,
               const std::map<size_t, Fault>& faults = {}) {
    Control(faulter, sender, 0x02);
    Control(faulter, Other(sender), 0x10);
    Bytes delivered;
    for (size_t i = 0; i < block.size(); ++i) {
        const auto fault = faults.find(i);
        const Delivery d =
            fault == faults.end()
                ? faulter.PassWith(sender, block[i], nullptr)
                : faulter.PassWith(sender, block[i], &fault->second.first, fault->second.second);
        delivered.insert(delivered.end(), d.bytes.begin(), d.bytes.begin() + d.count);
    }
    Control(faulter, Other(sender), 0x10);
    return delivered;
}

struct JudgeCase {
    const char* name;
    bool is_3964r;
    std::map<size_t, Fault> faults;
    bool altered;
    bool blind;
};

class BlockJudgement : public ::testing::TestWithParam<JudgeCase> {};

TEST_P(BlockJudgement, CountsTheBlockAsTheReceiverWouldTakeIt) {
    const JudgeCase& c = GetParam();
    ByteFaulter faulter({.is_3964r = c.is_3964r});
    const Bytes block = Hex(std::string(kFramed) + (c.is_3964r ? " 10" : ""));
    Exchange(faulter, kFromDriver, block, c.faults);
    const ByteFaultCounts& counts = faulter.counts(kFromDriver);
    EXPECT_EQ(counts.blocks, 1u);
    EXPECT_EQ(counts.altered_blocks, c.altered ? 1u : 0u);
    EXPECT_EQ(counts.blind_blocks, c.blind ? 1u : 0u);
    EXPECT_EQ(faulter.counts(kFromPartner).blocks, 0u) << "control bytes are no block";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BlockJudgement,
    ::testing::Values(
        JudgeCase{"clean", true, {}, false, false},
        JudgeCase{"late_byte_arrives_unchanged", true, {{5, {kLate, 0}}}, false, false},
        JudgeCase{"one_flip_caught_by_the_check", true, {{5, {kFlip, 0x04}}}, true, false},
        JudgeCase{
            "same_bit_twice_cancels", true, {{4, {kFlip, 0x04}}, {5, {kFlip, 0x04}}}, true, true},
        JudgeCase{
            "different_bits_caught", true, {{4, {kFlip, 0x04}}, {5, {kFlip, 0x08}}}, true, false},
        JudgeCase{"doubled_zero_leaves_the_xor", true, {{6, {kDouble, 0}}}, true, true},
        JudgeCase{"dropped_zero_leaves_the_xor", true, {{6, {kDrop, 0}}}, true, true},
        JudgeCase{"doubled_nonzero_caught", true, {{2, {kDouble, 0}}}, true, false},
        JudgeCase{"dropped_etx_never_ends", true, {{11, {kDrop, 0}}}, true, false},
        JudgeCase{"flipped_check_caught", true, {{12, {kFlip, 0x01}}}, true, false},
        JudgeCase{"no_check_takes_a_flip", false, {{5, {kFlip, 0x04}}}, true, true},
        JudgeCase{"no_check_dropped_etx", false, {{11, {kDrop, 0}}}, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BlockFollowing, OnlyBytesAfterTheOtherSidesDleFormABlock) {
    ByteFaulter faulter({.is_3964r = false});
    // A STX nobody answers, a NAK: no block.
    Control(faulter, kFromDriver, 0x02);
    Control(faulter, kFromPartner, 0x15);
    for (uint8_t byte : Hex("00 10 03"))
        faulter.PassWith(kFromDriver, byte, nullptr);
    EXPECT_EQ(faulter.counts(kFromDriver).blocks, 0u);
    // The reply: its DLE pair inside is no end, the DLE ETX is.
    Exchange(faulter, kFromPartner, Hex("00 00 00 00 10 10 03 10 03"));
    EXPECT_EQ(faulter.counts(kFromPartner).blocks, 1u);
    EXPECT_EQ(faulter.counts(kFromDriver).blocks, 0u);
}

// The block opens when the DLE reaches the sender, not when the relay took
// it: a DLE held back past the sender's time-out answers its second STX.
TEST(BlockFollowing, TheBlockOpensWhenTheDleIsDelivered) {
    ByteFaulter faulter({.is_3964r = true});
    Control(faulter, kFromDriver, 0x02);
    const ByteFaultKind late = kLate;
    EXPECT_TRUE(faulter.PassWith(kFromPartner, 0x10, &late).late);
    faulter.PassWith(kFromDriver, 0x02, nullptr);  // the sender asks again
    faulter.Delivered(kFromPartner, 0x10);
    // A doubled zero leaves the block check as it was: blind, unless a stray
    // STX were taken into the block.
    const ByteFaultKind doubled = kDouble;
    faulter.PassWith(kFromDriver, 0x00, &doubled);
    for (uint8_t byte : Hex("10 03 13"))
        faulter.PassWith(kFromDriver, byte, nullptr);
    EXPECT_EQ(faulter.counts(kFromDriver).blocks, 1u);
    EXPECT_EQ(faulter.counts(kFromDriver).blind_blocks, 1u);
}

TEST(FlipVerdict, TheUartSeesOddCountsAndTheStopBit) {
    const std::pair<uint16_t, UartFlag> cases[] = {
        {0x001, UartFlag::kParity},
        {0x080, UartFlag::kParity},
        {kParityBit, UartFlag::kParity},  // the data arrives whole, flagged all the same
        {0x003, UartFlag::kNone},
        {0x081 | kParityBit, UartFlag::kParity},
        {0x010 | kParityBit, UartFlag::kNone},  // one data bit wrong, parity agrees
        {kStopBit, UartFlag::kFraming},
        {0x011 | kStopBit, UartFlag::kFraming},
    };
    for (const auto& [mask, flag] : cases)
        EXPECT_EQ(FlipVerdict(mask), flag) << std::hex << mask;
}

// How the faulter counts a block with a flipped character and its answer.
struct FlagCase {
    const char* name;
    bool is_3964r;
    size_t at;
    uint16_t mask;
    uint8_t answer;
    bool flagged;
    bool blind;
};

class FlaggedBlocks : public ::testing::TestWithParam<FlagCase> {};

TEST_P(FlaggedBlocks, CountsFlaggedBlocksAndHowTheyWereAnswered) {
    const FlagCase& c = GetParam();
    ByteFaulter faulter({.is_3964r = c.is_3964r});
    const Bytes block = Hex(std::string(kFramed) + (c.is_3964r ? " 10" : ""));
    Control(faulter, kFromPartner, 0x02);
    Control(faulter, kFromDriver, 0x10);
    const ByteFaultKind flip = kFlip;
    for (size_t i = 0; i < block.size(); ++i) {
        const Delivery d =
            faulter.PassWith(kFromPartner, block[i], i == c.at ? &flip : nullptr, c.mask);
        EXPECT_EQ(d.flag != UartFlag::kNone, i == c.at && c.flagged) << i;
    }
    Control(faulter, kFromDriver, c.answer);
    const ByteFaultCounts& counts = faulter.counts(kFromPartner);
    EXPECT_EQ(counts.flagged_blocks, c.flagged ? 1u : 0u);
    EXPECT_EQ(counts.blind_blocks, c.blind ? 1u : 0u);
    EXPECT_EQ(counts.blind_flagged_blocks, c.blind && c.flagged ? 1u : 0u);
    EXPECT_EQ(counts.blind_unflagged[0], c.blind && !c.flagged ? 1u : 0u) << "as a flip";
    EXPECT_EQ(counts.flagged_refused, c.flagged && c.answer == 0x15 ? 1u : 0u);
    EXPECT_EQ(counts.flagged_taken, c.flagged && c.answer == 0x10 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Flips, FlaggedBlocks,
    ::testing::Values(FlagCase{"one_bit_3964_refused", false, 5, 0x04, 0x15, true, true},
                      FlagCase{"one_bit_3964_taken", false, 5, 0x04, 0x10, true, true},
                      FlagCase{"two_bits_3964_unseen", false, 5, 0x06, 0x10, false, true},
                      FlagCase{"parity_bit_alone_alters_nothing", false, 5, kParityBit, 0x15, true,
                               false},
                      FlagCase{"stop_bit_3964r", true, 2, kStopBit | 0x01, 0x15, true, false},
                      FlagCase{"data_and_parity_3964r_caught_by_bcc", true, 2, kParityBit | 0x01,
                               0x15, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A dropped character flags the next one delivered in its direction, at the
// overrun share: always at 1, never at 0, past a second drop.
TEST(Overrun, ADroppedCharacterFlagsTheNextOneDelivered) {
    const ByteFaultKind drop = kDrop;
    for (const double share : {0.0, 1.0}) {
        ByteFaulter faulter({.is_3964r = false, .overrun_share = share});
        EXPECT_EQ(faulter.PassWith(kFromDriver, 0x41, &drop).count, 0);
        EXPECT_EQ(faulter.PassWith(kFromPartner, 0x42, nullptr).flag, UartFlag::kNone)
            << "the other direction keeps its own UART";
        EXPECT_EQ(faulter.PassWith(kFromDriver, 0x43, &drop).count, 0);
        const UartFlag expected = share > 0 ? UartFlag::kOverrun : UartFlag::kNone;
        EXPECT_EQ(faulter.PassWith(kFromDriver, 0x44, nullptr).flag, expected) << share;
        EXPECT_EQ(faulter.PassWith(kFromDriver, 0x45, nullptr).flag, UartFlag::kNone);
        EXPECT_EQ(faulter.counts(kFromDriver).flagged[static_cast<size_t>(UartFlag::kOverrun)],
                  share > 0 ? 1u : 0u);
    }
}

// Drawn flips: mostly one bit, two at about the stated share, so the UART
// flags most of them and misses some.
TEST(FaultModes, DrawnFlipsAreOddAndEvenAtTheStatedShare) {
    ByteFaulter faulter({.mode = ByteFaultMode::kIndependent, .rate = 0.5, .seed = 7});
    uint64_t unflagged_altered = 0;
    for (int i = 0; i < 40000; ++i) {
        const Delivery d = faulter.Pass(kFromDriver, 0x41);
        if (d.count == 1 && d.bytes[0] != 0x41 && d.flag == UartFlag::kNone) ++unflagged_altered;
    }
    const ByteFaultCounts& counts = faulter.counts(kFromDriver);
    const double flips = static_cast<double>(counts.faults[0]);
    EXPECT_NEAR(static_cast<double>(counts.two_bit_flips) / flips, kTwoBitFlipShare, 0.02);
    EXPECT_GT(counts.flagged[static_cast<size_t>(UartFlag::kParity)], flips * 0.7);
    EXPECT_GT(counts.flagged[static_cast<size_t>(UartFlag::kFraming)], 0u);
    EXPECT_GT(unflagged_altered, 0u);
}

TEST(ReceiverAccepts, FindsTheClosingDleEtxPastDlePairs) {
    size_t end = 0;
    EXPECT_TRUE(ReceiverAccepts(Hex("01 10 10 03 10 03"), false, &end));
    EXPECT_EQ(end, 6u);
    EXPECT_FALSE(ReceiverAccepts(Hex("01 10 10 03"), false, &end));
    EXPECT_TRUE(ReceiverAccepts(Hex("01 10 03 12"), true, &end));
    EXPECT_FALSE(ReceiverAccepts(Hex("01 10 03 13"), true, &end));
    EXPECT_FALSE(ReceiverAccepts(Hex("01 10 03"), true, &end)) << "no check byte yet";
}

// Many exchanges at a high rate: in one-per-block mode no block carries two
// faults, in independent mode some do; control bytes are hit in both.
uint32_t MostFaultsInABlock(ByteFaultMode mode, uint64_t* control_faults) {
    ByteFaulter faulter({.is_3964r = true, .mode = mode, .rate = 0.3, .seed = 5});
    const Bytes block = Hex(std::string(kFramed) + " 10");
    uint32_t most = 0;
    *control_faults = 0;
    for (int round = 0; round < 300; ++round) {
        const Delivery d = faulter.Pass(kFromPartner, 0x15);  // a NAK between blocks
        if (d.late || d.count != 1 || d.bytes[0] != 0x15) ++*control_faults;
        Control(faulter, kFromDriver, 0x02);
        Control(faulter, kFromPartner, 0x10);
        uint32_t in_block = 0;
        for (uint8_t byte : block) {
            const Delivery d = faulter.Pass(kFromDriver, byte);
            if (d.late || d.count != 1 || d.bytes[0] != byte) ++in_block;
        }
        most = std::max(most, in_block);
        Control(faulter, kFromPartner, 0x10);
    }
    return most;
}

TEST(FaultModes, OnePerBlockNeverPutsTwoFaultsInABlock) {
    uint64_t control_faults = 0;
    EXPECT_EQ(MostFaultsInABlock(ByteFaultMode::kOnePerBlock, &control_faults), 1u);
    EXPECT_GT(control_faults, 0u);
    EXPECT_GT(MostFaultsInABlock(ByteFaultMode::kIndependent, &control_faults), 1u);
}

TEST(FaultModes, TheSeedDecidesTheFaults) {
    auto run = [](uint64_t seed) {
        ByteFaulter faulter({.mode = ByteFaultMode::kIndependent, .rate = 0.2, .seed = seed});
        Bytes out;
        for (int i = 0; i < 200; ++i) {
            const Delivery d = faulter.Pass(kFromDriver, static_cast<uint8_t>(i));
            out.insert(out.end(), d.bytes.begin(), d.bytes.begin() + d.count);
        }
        return ToHex(out);
    };
    EXPECT_EQ(run(9), run(9));
    EXPECT_NE(run(9), run(10));
}

}  // namespace
}  // namespace plcsim
