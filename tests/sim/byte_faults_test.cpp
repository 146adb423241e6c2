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
