// The soak's own judgement: which outcomes of a call break the invariant,
// and the host layouts its expectations are built on.
#include "soak/soak_check.h"

#include <gtest/gtest.h>

#include <cstring>

namespace morvane::soak {
namespace {

Words Block() {
    Words words(kSoakBlockWords);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<uint16_t>(0x1000 + i);
    return words;
}

// BlockWrite of three words at 100 with 0xA000, 0xA001, 0xA002.
Transfer WordWrite() {
    Transfer t;
    t.op = Op::kBlockWrite;
    t.kind = Kind::kWord;
    t.count = 3;
    t.first_word = 100;
    t.words = 3;
    t.host = {0x00, 0xA0, 0x01, 0xA0, 0x02, 0xA0};
    return t;
}

struct WriteCase {
    const char* name;
    int32_t result;
    std::vector<std::pair<size_t, uint16_t>> plc_now;  // words as the PLC holds them
    uint32_t foreign;
    uint32_t wrong;
};

class WriteVerdict : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteVerdict, HoldsOldOrNewInTheRangeAndNothingElse) {
    const WriteCase& c = GetParam();
    const Transfer t = WordWrite();
    const Words before = Block();
    Words after = before;
    for (const auto& [word, value] : c.plc_now)
        after[word] = value;
    const Verdict v = Judge(t, c.result, before, after, t.host);
    EXPECT_EQ(v.foreign_words, c.foreign) << v.detail;
    EXPECT_EQ(v.wrong_values, c.wrong) << v.detail;
    EXPECT_FALSE(v.buffer_touched);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, WriteVerdict,
    ::testing::Values(
        WriteCase{"good_and_all_new", 0, {{100, 0xA000}, {101, 0xA001}, {102, 0xA002}}, 0, 0},
        WriteCase{"failed_half_way", 2, {{100, 0xA000}}, 0, 0},
        WriteCase{"good_but_one_kept_old", 0, {{100, 0xA000}, {102, 0xA002}}, 0, 1},
        WriteCase{"good_but_nothing_written", 0, {}, 0, 3},
        WriteCase{"next_word_written", 1, {{103, 0xA000}}, 1, 0},
        WriteCase{"word_before_written", 2, {{99, 0xA002}}, 1, 0},
        WriteCase{"range_word_neither", 2, {{101, 0xA000}}, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadVerdict, AGoodReadHandsOverThePlcsValuesAndChangesNoWord) {
    Transfer t;
    t.op = Op::kBlockRead;
    t.kind = Kind::kLong;
    t.count = 2;
    t.first_word = 10;
    t.words = 4;
    t.host.assign(8, kUntouched);
    const Words plc = Block();
    HostBytes good = ExpectedReadBuffer(t, plc);
    uint32_t first;
    std::memcpy(&first, good.data(), 4);
    EXPECT_EQ(first, 0x100A100Bu) << "high word first on the PLC";

    EXPECT_EQ(Judge(t, 0, plc, plc, good).wrong_values, 0u);
    HostBytes shifted = good;
    std::memmove(shifted.data(), shifted.data() + 4, 4);
    // 0x100C100D in the first place: two of its bytes differ from 0x100A100B.
    EXPECT_EQ(Judge(t, 0, plc, plc, shifted).wrong_values, 2u);
    EXPECT_TRUE(Judge(t, 2, plc, plc, good).buffer_touched) << "a failed read filled the buffer";
    EXPECT_FALSE(Judge(t, 2, plc, plc, t.host).buffer_touched);
    Words changed = plc;
    changed[500] ^= 1;
    EXPECT_EQ(Judge(t, 0, plc, changed, good).foreign_words, 1u);
}

TEST(Expectations, ABitWriteChangesOnlyItsBit) {
    Transfer t;
    t.op = Op::kSingleWrite;
    t.kind = Kind::kBit;
    t.bit = 3;
    t.first_word = 7;
    t.words = 1;
    t.host = {0, 0, 0x00, 0x01};  // the value 0x0100 in the slot's second half: set
    Words before = Block();
    before[7] = 0xF0F0;
    EXPECT_EQ(ExpectedWrittenWords(t, before), Words{0xF0F8});
    t.host = {0xFF, 0xFF, 0, 0};  // only the second half counts: clear
    before[7] = 0xFFFF;
    EXPECT_EQ(ExpectedWrittenWords(t, before), Words{0xFFF7});
}

TEST(Expectations, StringsEndAtTheirFirstNul) {
    Transfer t;
    t.op = Op::kSingleRead;
    t.kind = Kind::kString;
    t.string_length = 4;
    t.first_word = 2;
    t.words = 2;
    t.host.assign(5, kUntouched);
    Words plc = Block();
    plc[2] = 0x4100;  // "A", NUL
    plc[3] = 0x4243;  // "BC" behind the NUL is not the host's
    EXPECT_EQ(ExpectedReadBuffer(t, plc), (HostBytes{'A', 0, 0, 0, 0}));

    t.op = Op::kSingleWrite;
    t.host = {'x', 'y', 'z', 0, 0};
    EXPECT_EQ(ExpectedWrittenWords(t, plc), (Words{0x7879, 0x7A00}));
}

TEST(RandomTransfers, StayInsideTheBlockOnAnItemBoundary) {
    std::mt19937_64 random(4);
    for (int i = 0; i < 2000; ++i) {
        const Transfer t = RandomTransfer(random);
        ASSERT_LE(t.first_word, 255) << Describe(t);
        ASSERT_LE(t.first_word + t.words, kSoakBlockWords) << Describe(t);
        ASSERT_GE(t.count, 1) << Describe(t);
        const uint32_t per_item = t.kind == Kind::kString ? t.string_length / 2u
                                  : t.kind == Kind::kLong || t.kind == Kind::kFloat ? 2u
                                                                                    : 1u;
        ASSERT_EQ(t.first_word % per_item, 0u) << Describe(t);
        ASSERT_EQ(t.words, t.op == Op::kSingleRead ? per_item : per_item * t.count) << Describe(t);
    }
}

}  // namespace
}  // namespace morvane::soak
