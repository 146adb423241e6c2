// Command-line values to the host's buffer layouts and back.
#include "gate_values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace morvane::tool {
namespace {

GateAddress Gate(uint32_t class_letter, int32_t bit, uint32_t string_length = 0) {
    GateAddress gate{};
    gate.parsed = 1;
    gate.class_letter = class_letter;
    gate.packed_address = static_cast<int32_t>(string_length << 24);
    gate.bit_number = bit;
    gate.width = class_letter == 'F' || class_letter == 'L' ? 32 : 16;
    return gate;
}

TEST(GateValues, AddressFormsChooseTheHostGateType) {
    EXPECT_EQ(GateTypeForAddress("001002"), MORVANE_GATE_WORD);
    EXPECT_EQ(GateTypeForAddress("001002  "), MORVANE_GATE_WORD);
    EXPECT_EQ(GateTypeForAddress("001002f"), MORVANE_GATE_FLOAT);
    EXPECT_EQ(GateTypeForAddress("001002L"), MORVANE_GATE_LONG);
    EXPECT_EQ(GateTypeForAddress("00100212"), MORVANE_GATE_DIGITAL);
    EXPECT_EQ(GateTypeForAddress("001002 7"), MORVANE_GATE_DIGITAL);
    EXPECT_EQ(GateTypeForAddress("001010S20"), MORVANE_GATE_STRING);
}

struct RoundTrip {
    GateAddress gate;
    bool block;
    std::string text;
    std::string shown;
    std::vector<uint8_t> layout;  // the host's buffer after storing the value
};

TEST(GateValues, ValuesLandInTheHostLayoutAndReadBack) {
    const std::vector<RoundTrip> cases = {
        {Gate('I', -1), false, "0x1234", "4660 (0x1234)", {0, 0, 0x34, 0x12}},
        {Gate('I', -1), true, "-1", "65535 (0xFFFF)", {0xFF, 0xFF}},
        {Gate('I', 3), false, "1", "1", {0, 0, 1, 0}},
        {Gate('L', -1), false, "-2", "-2", {0xFE, 0xFF, 0xFF, 0xFF}},
        {Gate('F', -1), true, "1.5", "1.5", {0, 0, 0xC0, 0x3F}},
        {Gate('S', -1, 4), false, "AB", "\"AB\"", {'A', 'B', 0, 0, 0}},
        // Typed as UTF-8, stored as the PLC's Latin-1: four characters fit four.
        {Gate('S', -1, 4),
         false,
         "h\xC3\xA9\xC3\xBF\xC2\xA0",
         "\"h\xC3\xA9\xC3\xBF\xC2\xA0\"",
         {'h', 0xE9, 0xFF, 0xA0, 0}},
        // A C1 control (CSI) would steer a terminal: shown escaped.
        {Gate('S', -1, 4), false, "a\xC2\x9B", "\"a\\x9B\"", {'a', 0x9B, 0, 0, 0}},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<uint8_t> buffer = HostBuffer(c.gate, 1, c.block);
        std::string error;
        ASSERT_TRUE(StoreValue(c.gate, c.block, 0, c.text, &buffer, &error)) << error;
        EXPECT_EQ(buffer, c.layout);
        EXPECT_EQ(ValueText(ValueAt(c.gate, c.block, 0, buffer), false), c.shown);
    }
}

TEST(GateValues, TextsThatAreNoValueOfTheGateAreRefused) {
    const std::vector<std::pair<GateAddress, std::string>> cases = {
        {Gate('I', -1), "65536"},    {Gate('I', -1), "12x"}, {Gate('I', 4), "2"},
        {Gate('L', -1), "1.5"},      {Gate('F', -1), "one"}, {Gate('F', -1), ""},
        {Gate('S', -1, 4), "ABCDE"},
    };
    for (const auto& [gate, text] : cases) {
        SCOPED_TRACE(text);
        std::vector<uint8_t> buffer = HostBuffer(gate, 1, false);
        const std::vector<uint8_t> before = buffer;
        std::string error;
        EXPECT_FALSE(StoreValue(gate, false, 0, text, &buffer, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(buffer, before);
    }
}

TEST(GateValues, IntegersAreDecimalOrHexNeverOctal) {
    const GateAddress word = Gate('I', -1);
    const GateAddress bit = Gate('I', 0);
    const GateAddress long_word = Gate('L', -1);
    const struct {
        GateAddress gate;
        const char* text;
        long long stored;  // -1000000: refused
    } cases[] = {
        {word, "010", 10},
        {word, "08", 8},
        {word, "0x10", 16},
        {word, "0X1f", 31},
        {word, "0x00FF", 255},
        {word, "65535", 65535},
        {word, "-1", 0xFFFF},
        {word, "-32768", 0x8000},
        {word, "0", 0},
        {word, "-0", 0},
        {word, "65536", -1000000},
        {word, "-32769", -1000000},
        {word, "0x10000", -1000000},
        {word, "-0x1", -1000000},
        {word, "+1", -1000000},
        {word, " 1", -1000000},
        {word, "1 ", -1000000},
        {word, "0x", -1000000},
        {word, "-", -1000000},
        {word, "0b1", -1000000},
        {word, "1e3", -1000000},
        {word, "99999999999999999999999", -1000000},
        {bit, "01", 1},
        {bit, "0x1", 1},
        {bit, "-0", -1000000},
        {bit, "-1", -1000000},
        {long_word, "-2147483648", 0x80000000},
        {long_word, "4294967295", 0xFFFFFFFF},
        {long_word, "0xFFFFFFFF", 0xFFFFFFFF},
        {long_word, "017777777777", -1000000},  // more than 32 bits as decimal
        {long_word, "0100", 100},
        {long_word, "4294967296", -1000000},
        {long_word, "-2147483649", -1000000},
        {long_word, "0x100000000", -1000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<uint8_t> buffer = HostBuffer(c.gate, 1, false);
        std::string error;
        const bool stored = StoreValue(c.gate, false, 0, c.text, &buffer, &error);
        ASSERT_EQ(stored, c.stored != -1000000) << error;
        if (!stored) continue;
        uint32_t slot = 0;  // a word sits in the slot's upper half
        std::memcpy(&slot, buffer.data(), sizeof slot);
        EXPECT_EQ(c.gate.class_letter == 'L' ? slot : slot >> 16, static_cast<uint32_t>(c.stored));
    }
}

#define RANGE " (the PLC holds 0 and magnitudes from 1.2e-38 to 1.7e38)"

TEST(GateValues, RefusalsSayWhatIsWrongWithTheText) {
    const struct {
        GateAddress gate;
        const char* text;
        const char* error;
    } cases[] = {
        {Gate('F', -1), "one", "not a floating-point value: one"},
        {Gate('F', -1), "1e40", "floating-point value out of range: 1e40" RANGE},
        {Gate('F', -1), "1e-45", "floating-point value out of range: 1e-45" RANGE},
        // What the driver would saturate in silence, or refuse on the line.
        {Gate('F', -1), "inf", "floating-point value out of range: inf" RANGE},
        {Gate('F', -1), "-INFINITY", "floating-point value out of range: -INFINITY" RANGE},
        {Gate('F', -1), "1.7015e38", "floating-point value out of range: 1.7015e38" RANGE},
        {Gate('F', -1), "nan", "not a number: nan (the PLC's float has no NaN)"},
        {Gate('I', 4), "2", "not a bit (0 or 1): 2"},
        {Gate('I', -1), "0o17",
         "not a 16-bit word: 0o17 (expected decimal -32768 to 65535, or 0x0 to 0xFFFF)"},
        {Gate('L', -1), "1.5",
         "not a 32-bit integer: 1.5 (expected decimal -2147483648 to 4294967295, or 0x0 to "
         "0xFFFFFFFF)"},
        {Gate('S', -1, 4), "ABCDE", "string longer than 4"},
        {Gate('S', -1, 4), "A\xE2\x82\xAC",
         "string with \xE2\x82\xAC: the PLC's strings hold Latin-1 characters only"},
        {Gate('S', -1, 4), "A\xE9", "string not in UTF-8: byte 0xE9 at position 2"},
        {Gate('S', -1, 4), "\xC0\x80", "string not in UTF-8: byte 0xC0 at position 1"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> buffer = HostBuffer(c.gate, 1, false);
        std::string error;
        EXPECT_FALSE(StoreValue(c.gate, false, 0, c.text, &buffer, &error));
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace
}  // namespace morvane::tool
