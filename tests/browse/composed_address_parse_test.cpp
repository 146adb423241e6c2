// Every address the dialog composes from digits is one the parser accepts,
// with the class the chosen data type stands for.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "browse/recording_surface.h"
#include "gates/address_parser.h"
#include "support/log_capture.h"

namespace morvane::test {
namespace {

struct Parsed {
    int result;
    GateAddress gate;
};

Parsed ParseAddress(const char* address) {
    ParseBlock block{};
    block.address = address;
    const int result = Parse(&block);
    return {result, block.gate};
}

// Until the parser accepts the plainest address there is nothing to hold the
// dialog's addresses against.
bool ParserPresent() {
    return ParseAddress("000000").result == 0;
}

struct TypeChoice {
    int button;
    uint32_t class_letter;
    const char* length;
    const char* bit;
};

TEST(ComposedAddress, EveryAcceptedEntryParses) {
    if (!ParserPresent()) GTEST_SKIP() << "the address parser is not built into this tree";
    std::vector<TypeChoice> choices = {
        {IDC_TYPE_16_BITS, MORVANE_CLASS_WORD, "02", "00"},
        {IDC_TYPE_32_BITS, MORVANE_CLASS_LONG, "02", "00"},
        {IDC_TYPE_FLOAT, MORVANE_CLASS_FLOAT, "02", "00"},
    };
    static char lengths[40][3];
    for (int n = 2; n <= 80; n += 2) {
        std::snprintf(lengths[n / 2 - 1], sizeof lengths[0], "%02d", n);
        choices.push_back({IDC_TYPE_STRING, MORVANE_CLASS_STRING, lengths[n / 2 - 1], "00"});
    }
    static char bits[16][3];
    for (int b = 0; b < 16; ++b) {
        std::snprintf(bits[b], sizeof bits[0], "%02d", b);
        choices.push_back({IDC_TYPE_DIGITAL, MORVANE_CLASS_WORD, "02", bits[b]});
    }
    int composed = 0;
    for (const char* block : {"000", "001", "128", "255"}) {
        for (int location = 0; location <= 255; ++location) {
            char location_text[4];
            std::snprintf(location_text, sizeof location_text, "%03d", location);
            for (const TypeChoice& choice : choices) {
                RecordingSurface dialog;
                dialog.PressOk(choice.button, block, location_text, choice.length, choice.bit);
                if (dialog.result != kDialogOk) continue;
                ++composed;
                const Parsed parsed = ParseAddress(dialog.state.composed_address);
                ASSERT_EQ(parsed.result, 0) << dialog.state.composed_address;
                EXPECT_EQ(parsed.gate.class_letter, choice.class_letter)
                    << dialog.state.composed_address;
                if (choice.button == IDC_TYPE_DIGITAL)
                    EXPECT_EQ(parsed.gate.bit_number, LeadingDecimal(choice.bit));
                else
                    EXPECT_EQ(parsed.gate.bit_number, -1) << dialog.state.composed_address;
            }
        }
    }
    EXPECT_GT(composed, 4 * 256 * 2);  // far from every entry was refused
}

TEST(ComposedAddress, LettersPassTheChecksButNotTheParser) {
    if (!ParserPresent()) GTEST_SKIP() << "the address parser is not built into this tree";
    RecordingSurface dialog;
    dialog.PressOk(IDC_TYPE_16_BITS, "12a", "004");
    ASSERT_EQ(dialog.result, kDialogOk);
    LogCapture log;
    EXPECT_EQ(ParseAddress(dialog.state.composed_address).result, 1);
    EXPECT_TRUE(log.Has(8, "ZIDIV> Parse() Illegal character a in '12a004  '")) << log.Dump();
}

}  // namespace
}  // namespace morvane::test
