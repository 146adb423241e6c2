// The PLC float format against IEEE singles, both ways.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "gates/plc_float.h"
#include "tests/gates/plc_float_oracle.h"

namespace morvane {
namespace {

using test::BitsOf;
using test::FloatOf;
using test::PlcValue;

struct Pair {
    uint32_t ieee;
    uint32_t plc;
};

TEST(PlcFloat, KnownValuesBothWays) {
    const Pair pairs[] = {
        {0x3F800000, 0x01400000},  // 1.0
        {0xBF800000, 0x01C00000},  // -1.0, not renormalized
        {0x3F000000, 0x00400000},  // 0.5
        {0xBF000000, 0x00C00000},  // -0.5
        {0x3F400000, 0x00600000},  // 0.75
        {0x40400000, 0x02600000},  // 3.0
        {0x42C80000, 0x07640000},  // 100.0
        {0xC2C80000, 0x079C0000},  // -100.0
        {0x00000000, 0x80000000},  // 0.0
    };
    for (const Pair& p : pairs) {
        EXPECT_EQ(IeeeToPlcFloat(p.ieee), p.plc) << std::hex << p.ieee;
        EXPECT_EQ(PlcFloatToIeee(p.plc), p.ieee) << std::hex << p.plc;
    }
}

TEST(PlcFloat, PlcWordsOutsideTheWriterForms) {
    const Pair pairs[] = {
        {0xBF800000, 0x00800000},  // mantissa -1.0
        {0xC0000000, 0x01800000},  // -1.0 * 2
        {0x00000000, 0x00000000},  // zero mantissa, whatever the exponent
        {0x00000000, 0x80000000},
        {0x00000000, 0x12000000},
        // Without the leading one: just what the word says, never 0.75 for 0.25.
        {0x3E800000, 0x00200000},  // 0.25
        {0xBE800000, 0x00E00000},  // -0.25
        {0x38000000, 0x00000100},  // 2^-15
        {0x73800000, 0x7F000001},  // 2^104
        {0x00000001, 0x82000001},  // 2^-149, the least subnormal
        {0x00000000, 0x80000001},  // 2^-151: rounds to zero
        {0x80000000, 0x80FFFFFF},  // -2^-151: rounds to negative zero
    };
    for (const Pair& p : pairs)
        EXPECT_EQ(PlcFloatToIeee(p.plc), p.ieee) << std::hex << p.plc;
}

TEST(PlcFloat, LowestFractionBitIsCutOff) {
    EXPECT_EQ(IeeeToPlcFloat(0x3F800001), 0x01400000u);  // 1.0000001
    EXPECT_EQ(PlcFloatToIeee(0x01400000), 0x3F800000u);
    EXPECT_EQ(IeeeToPlcFloat(0x3DCCCCCD), 0xFD666666u);  // 0.1
    EXPECT_EQ(PlcFloatToIeee(0xFD666666), 0x3DCCCCCCu);
}

uint32_t RandomBits(std::mt19937& random) {
    return static_cast<uint32_t>(random());
}

TEST(PlcFloat, InRangeRoundTripKeepsAllButTheLowestBit) {
    std::mt19937 random(20261208);
    for (int i = 0; i < 200000; ++i) {
        uint32_t bits = RandomBits(random);
        const uint32_t biased = 1 + (bits >> 23 & 0xFF) % 253;  // 2^-126 to below 2^127
        bits = (bits & 0x807FFFFFu) | biased << 23;
        const uint32_t plc = IeeeToPlcFloat(bits);
        ASSERT_TRUE(test::IsWellFormedPlcWord(plc)) << std::hex << bits << " " << plc;
        ASSERT_EQ(PlcValue(plc), FloatOf(bits & ~1u)) << std::hex << bits;
        ASSERT_EQ(PlcFloatToIeee(plc), bits & ~1u) << std::hex << bits;
    }
}

TEST(PlcFloat, NormalizedPlcWordsSurviveTheRoundTrip) {
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        const uint32_t bits = RandomBits(random);
        const int exponent = -126 + static_cast<int>((bits >> 24) % 254);  // -126 to 127
        uint32_t mantissa = (bits & 0x3FFFFF) | 0x400000;
        if (bits & 0x800000) mantissa = (0x1000000 - mantissa) & 0xFFFFFF;
        const uint32_t word = static_cast<uint32_t>(exponent & 0xFF) << 24 | mantissa;
        ASSERT_EQ(IeeeToPlcFloat(PlcFloatToIeee(word)), word) << std::hex << word;
    }
}

// Every PLC word, exponents -126 to -128 included, becomes the IEEE single
// nearest to its value: never an infinity or a NaN.
TEST(PlcFloat, EveryPlcWordBecomesTheNearestSingle) {
    std::vector<uint32_t> mantissas = {0x000001, 0x3FFFFF, 0x400000, 0x400001, 0x400002,
                                       0x400003, 0x400006, 0x7FFFFF, 0x800000, 0x800001,
                                       0xBFFFFF, 0xC00000, 0xFFFFFE, 0xFFFFFF};
    std::mt19937 random(11);
    for (int i = 0; i < 400; ++i)
        mantissas.push_back(RandomBits(random) & 0xFFFFFF);
    for (uint32_t exponent = 0; exponent < 256; ++exponent) {
        for (uint32_t mantissa : mantissas) {
            const uint32_t word = exponent << 24 | mantissa;
            const uint32_t ieee = PlcFloatToIeee(word);
            ASSERT_TRUE(std::isfinite(FloatOf(ieee))) << std::hex << word;
            ASSERT_EQ(ieee, BitsOf(static_cast<float>(PlcValue(word)))) << std::hex << word;
        }
    }
}

TEST(PlcFloat, BelowIeeeNormalRangeRoundsToNearestEven) {
    const Pair pairs[] = {
        {0x00400000, 0x82400000},  // 2^-127, exact
        {0x00200000, 0x81400000},  // 2^-128, exact
        {0x00100000, 0x80400000},  // 2^-129, exact
        {0x80400000, 0x81800000},  // -1.0 * 2^-127
        {0x00100000, 0x80400001},  // 0x400001 / 4: down
        {0x00100000, 0x80400002},  // tie: to even
        {0x00100002, 0x80400006},  // tie: to even
        {0x00100001, 0x80400005},  // below the tie: down
        {0x00100002, 0x80400007},  // above the tie: up
        {0x80100002, 0x80BFFFF9},  // negative: magnitude 0x400007
    };
    for (const Pair& p : pairs)
        EXPECT_EQ(PlcFloatToIeee(p.plc), p.ieee) << std::hex << p.plc;
}

TEST(PlcFloat, BeyondThePlcRangeSaturates) {
    const float infinity = std::numeric_limits<float>::infinity();
    const float largest = std::numeric_limits<float>::max();
    const Pair pairs[] = {
        {BitsOf(infinity), 0x7F7FFFFF}, {BitsOf(-infinity), 0x7F800000},
        {BitsOf(largest), 0x7F7FFFFF},  {BitsOf(-largest), 0x7F800000},
        {BitsOf(0x1p127f), 0x7F7FFFFF}, {BitsOf(-0x1p127f), 0x7F800000},
        {0x7EFFFFFF, 0x7F7FFFFF},  // just below 2^127: in range, last bit cut
    };
    for (const Pair& p : pairs)
        EXPECT_EQ(IeeeToPlcFloat(p.ieee), p.plc) << std::hex << p.ieee;
    EXPECT_EQ(PlcFloatToIeee(0x7F7FFFFF), 0x7EFFFFFEu);
    EXPECT_EQ(PlcFloatToIeee(0x7F800000), BitsOf(-0x1p127f));
}

TEST(PlcFloat, TinyValuesAndNegativeZero) {
    const Pair pairs[] = {
        {0x80000000, 0x80000000},  // negative zero
        {0x00000001, 0x80000000},  // smallest subnormal
        {0x800FFFFF, 0x80000000},  // just below 2^-129
        {0x00100000, 0x80400000},  // 2^-129, the PLC's smallest
        {0x00400000, 0x82400000},  // 2^-127
        {0x80400000, 0x82C00000},  // -2^-127
        {0x007FFFFF, 0x827FFFFF},  // largest subnormal, exact
    };
    for (const Pair& p : pairs)
        EXPECT_EQ(IeeeToPlcFloat(p.ieee), p.plc) << std::hex << p.ieee;
    std::mt19937 random(3);
    for (int i = 0; i < 10000; ++i) {
        const uint32_t subnormal = (RandomBits(random) & 0x806FFFFF) + 0x100000;
        ASSERT_EQ(PlcFloatToIeee(IeeeToPlcFloat(subnormal)), subnormal) << std::hex << subnormal;
    }
}

TEST(PlcFloat, NanCannotBeEncoded) {
    for (uint32_t nan : {0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(PlcFloatCanEncode(nan)) << std::hex << nan;
        EXPECT_EQ(IeeeToPlcFloat(nan), 0x80000000u) << std::hex << nan;
    }
    for (uint32_t number : {0x7F800000u, 0xFF800000u, 0u, 0x80000000u, 1u, 0x3F800000u})
        EXPECT_TRUE(PlcFloatCanEncode(number)) << std::hex << number;
}

TEST(PlcFloat, AnySingleArrivesAsItsExpectedPlcValue) {
    std::mt19937 random(5);
    for (int i = 0; i < 300000; ++i) {
        const uint32_t bits = RandomBits(random);
        if (!PlcFloatCanEncode(bits)) continue;
        const uint32_t plc = IeeeToPlcFloat(bits);
        ASSERT_TRUE(test::IsWellFormedPlcWord(plc)) << std::hex << bits << " " << plc;
        ASSERT_EQ(PlcValue(plc), test::ExpectedPlcValue(bits)) << std::hex << bits;
    }
}

}  // namespace
}  // namespace morvane
