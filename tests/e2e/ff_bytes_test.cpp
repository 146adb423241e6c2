// Data full of FF bytes through the kernel's marking of damaged characters:
// with parity marking on, every FF the PLC sends reaches the driver doubled
// and must come out once, in words, across telegram boundaries, and in the
// block check of 3964R.
#include <gtest/gtest.h>
#include <termios.h>

#include <string>

#include "e2e/e2e_fixture.h"

namespace morvane::test {
namespace {

constexpr uint8_t kBlock = 3;
constexpr size_t kWords = 200;  // four telegrams of up to 64 words

// FF and DLE next to each other in every order, and runs of FF words that
// reach over the telegram boundaries at words 64, 128 and 192.
uint16_t FfHeavy(size_t i) {
    static constexpr uint16_t kKinds[] = {0xFFFF, 0xFF10, 0x10FF, 0xFF00, 0x00FF, 0x1010, 0xFF03};
    const size_t from_boundary = i % 64;
    if (from_boundary < 3 || from_boundary > 60) return 0xFFFF;
    return kKinds[i % std::size(kKinds)];
}

class FfBytes : public DriverAgainstSim, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        StartChannel(GetParam());
        plc().DeclareBlock(kBlock, 256);
        termios settings{};
        ASSERT_EQ(tcgetattr(static_cast<int>(host_.area()->port_handle), &settings), 0);
        ASSERT_NE(settings.c_iflag & PARMRK, 0u) << "the kernel must mark, or nothing is proven";
    }
};

TEST_P(FfBytes, BlockWrittenAndReadBackWordForWord) {
    Words written(kWords);
    for (size_t i = 0; i < kWords; ++i)
        written[i] = FfHeavy(i);
    ASSERT_EQ(Run(MORVANE_CMD_BLOCK_WRITE, Gate("003000", MORVANE_GATE_WORD, true),
                  static_cast<int32_t>(kWords), written.data()),
              MORVANE_OK)
        << log_.Dump();
    for (size_t i = 0; i < kWords; ++i)
        ASSERT_EQ(plc().Word(kBlock, static_cast<uint16_t>(i)), written[i]) << "word " << i;

    Words read(kWords + 1, 0xEEEE);
    ASSERT_EQ(Run(MORVANE_CMD_BLOCK_READ, Gate("003000", MORVANE_GATE_WORD, true),
                  static_cast<int32_t>(kWords), read.data()),
              MORVANE_OK)
        << log_.Dump();
    EXPECT_EQ(Words(read.begin(), read.end() - 1), written);
    EXPECT_EQ(read.back(), 0xEEEE);
    for (const LogLine& line : log_.lines())
        EXPECT_EQ(line.text.find("retry"), std::string::npos) << "clean data needs no retry";
}

TEST_P(FfBytes, SingleWordsAndLongsOfFfBytes) {
    // A single word travels in the second half of a 4-byte slot.
    for (const uint32_t value : {0xFFFFu, 0xFF10u, 0x10FFu}) {
        uint32_t out = value << 16;
        ASSERT_EQ(Run(MORVANE_CMD_SINGLE_WRITE, Gate("003255", MORVANE_GATE_WORD), 1, &out),
                  MORVANE_OK);
        EXPECT_EQ(plc().Word(kBlock, 255), value);
        uint32_t in = 0;
        ASSERT_EQ(Run(MORVANE_CMD_SINGLE_READ, Gate("003255", MORVANE_GATE_WORD), 1, &in),
                  MORVANE_OK);
        EXPECT_EQ(in >> 16, value);
    }
    plc().SetWord(kBlock, 10, 0xFFFF);
    plc().SetWord(kBlock, 11, 0xFFFF);
    int32_t long_value = 0;
    ASSERT_EQ(Run(MORVANE_CMD_SINGLE_READ, Gate("003010L", MORVANE_GATE_LONG), 1, &long_value),
              MORVANE_OK);
    EXPECT_EQ(long_value, -1);
}

INSTANTIATE_TEST_SUITE_P(Procedures, FfBytes, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "3964R" : "3964"; });

}  // namespace
}  // namespace morvane::test
