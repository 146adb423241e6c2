#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "browse/recording_surface.h"

namespace morvane::test {
namespace {

constexpr int kLengthControls[] = {IDC_LENGTH_LABEL, IDC_LENGTH_FIELD, IDC_LENGTH_ARROWS};
constexpr int kBitControls[] = {IDC_BIT_LABEL, IDC_BIT_FIELD, IDC_BIT_ARROWS};
constexpr int kAlwaysEnabled[] = {IDC_BLOCK_FIELD,     IDC_LOCATION_FIELD, IDC_BLOCK_ARROWS,
                                  IDC_LOCATION_ARROWS, IDC_OK_BUTTON,      IDC_CANCEL_BUTTON};

void ExpectEnabled(const StoredControls& controls, const int (&ids)[3], bool enabled) {
    for (int id : ids)
        EXPECT_EQ(controls.Enabled(id), enabled) << "control " << id;
}

TEST(TagFormatModel, OpensWith16BitsAndDefaultTexts) {
    RecordingSurface dialog;
    EXPECT_STREQ(dialog.controls.Text(IDC_BLOCK_FIELD), "000");
    EXPECT_STREQ(dialog.controls.Text(IDC_LOCATION_FIELD), "000");
    EXPECT_STREQ(dialog.controls.Text(IDC_LENGTH_FIELD), "02");
    EXPECT_STREQ(dialog.controls.Text(IDC_BIT_FIELD), "00");
    EXPECT_EQ(dialog.controls.Checked(), IDC_TYPE_16_BITS);
    EXPECT_EQ(dialog.state.type_code, kType16Bits);
    ExpectEnabled(dialog.controls, kLengthControls, false);
    ExpectEnabled(dialog.controls, kBitControls, false);
    for (int id : kAlwaysEnabled)
        EXPECT_TRUE(dialog.controls.Enabled(id)) << "control " << id;
    EXPECT_EQ(dialog.result, 0);
    EXPECT_TRUE(dialog.messages.empty());
}

TEST(TagFormatModel, FieldsTakeNoMoreThanTheirLimit) {
    RecordingSurface dialog;
    struct {
        int field;
        const char* typed;
        const char* kept;
    } const cases[] = {
        {IDC_BLOCK_FIELD, "1234", "123"},
        {IDC_LOCATION_FIELD, "98765", "987"},
        {IDC_LENGTH_FIELD, "803", "80"},
        {IDC_BIT_FIELD, "150", "15"},
    };
    for (const auto& c : cases) {
        dialog.controls.EraseAll(c.field);
        for (const char* digit = c.typed; *digit != '\0'; ++digit)
            dialog.controls.Type(c.field, *digit);
        EXPECT_STREQ(dialog.controls.Text(c.field), c.kept) << "field " << c.field;
    }
    EXPECT_FALSE(dialog.controls.Type(IDC_BIT_FIELD, 'a'));
}

TEST(TagFormatModel, TypeButtonsSetCodeAndEnableTheirControls) {
    struct {
        int button;
        int32_t code;
        bool length_enabled;
        bool bit_enabled;
    } const cases[] = {
        {IDC_TYPE_STRING, kTypeString, true, false},
        {IDC_TYPE_16_BITS, kType16Bits, false, false},
        {IDC_TYPE_DIGITAL, kTypeDigital, false, true},
        {IDC_TYPE_32_BITS, kType32Bits, false, false},
        {IDC_TYPE_STRING, kTypeString, true, false},
        {IDC_TYPE_FLOAT, kTypeFloat, false, false},
        {IDC_TYPE_DIGITAL, kTypeDigital, false, true},
    };
    RecordingSurface dialog;  // one dialog: each button must undo the previous one
    for (const auto& c : cases) {
        dialog.Click(c.button);
        EXPECT_EQ(dialog.state.type_code, c.code) << "button " << c.button;
        ExpectEnabled(dialog.controls, kLengthControls, c.length_enabled);
        ExpectEnabled(dialog.controls, kBitControls, c.bit_enabled);
    }
    EXPECT_EQ(dialog.result, 0);
}

TEST(TagFormatModel, CancelEndsWith2AndComposesNothing) {
    RecordingSurface dialog;
    std::strcpy(dialog.state.composed_address, "keep");
    dialog.Logic().Command(IDC_CANCEL_BUTTON);
    EXPECT_EQ(dialog.result, kDialogCancel);
    EXPECT_STREQ(dialog.state.composed_address, "keep");
}

TEST(TagFormatModel, OtherCommandIdsDoNothing) {
    RecordingSurface dialog;
    for (int id : {0, 3, IDC_BLOCK_FIELD, IDC_BIT_LABEL, IDC_BLOCK_ARROWS, -1, 65535})
        dialog.Logic().Command(id);
    EXPECT_EQ(dialog.result, 0);
    EXPECT_EQ(dialog.state.type_code, kType16Bits);
    EXPECT_TRUE(dialog.messages.empty());
}

TEST(TagFormatModel, ArrowsStepClampAndWriteLeadingZeros) {
    struct {
        int arrows;
        int field;
        const char* before;
        int code;
        const char* after;
    } const cases[] = {
        // data block and memory location: steps of one within 000-255
        {IDC_BLOCK_ARROWS, IDC_BLOCK_FIELD, "255", kArrowUp, "255"},
        {IDC_BLOCK_ARROWS, IDC_BLOCK_FIELD, "254", kArrowUp, "255"},
        {IDC_BLOCK_ARROWS, IDC_BLOCK_FIELD, "000", kArrowDown, "000"},
        {IDC_BLOCK_ARROWS, IDC_BLOCK_FIELD, "002", kArrowDown, "001"},
        {IDC_BLOCK_ARROWS, IDC_BLOCK_FIELD, "999", kArrowDown, "000"},
        {IDC_BLOCK_ARROWS, IDC_BLOCK_FIELD, "999", kArrowUp, "255"},
        {IDC_BLOCK_ARROWS, IDC_BLOCK_FIELD, "7", kArrowUp, "008"},
        {IDC_BLOCK_ARROWS, IDC_BLOCK_FIELD, "", kArrowUp, "001"},
        {IDC_LOCATION_ARROWS, IDC_LOCATION_FIELD, "", kArrowUp, "001"},
        {IDC_LOCATION_ARROWS, IDC_LOCATION_FIELD, "010", kArrowUp, "011"},
        {IDC_LOCATION_ARROWS, IDC_LOCATION_FIELD, "256", kArrowDown, "255"},
        {IDC_LOCATION_ARROWS, IDC_LOCATION_FIELD, "257", kArrowDown, "000"},
        {IDC_LOCATION_ARROWS, IDC_LOCATION_FIELD, "100", kArrowDown, "099"},
        // hexadecimal letters pass the validator; the value is the leading digits
        {IDC_LOCATION_ARROWS, IDC_LOCATION_FIELD, "7a", kArrowUp, "008"},
        {IDC_LOCATION_ARROWS, IDC_LOCATION_FIELD, "ff", kArrowUp, "001"},
        {IDC_LOCATION_ARROWS, IDC_LOCATION_FIELD, "1g", kArrowUp, "001"},
        // string length: steps of two from an even value, within 02-80
        {IDC_LENGTH_ARROWS, IDC_LENGTH_FIELD, "02", kArrowUp, "04"},
        {IDC_LENGTH_ARROWS, IDC_LENGTH_FIELD, "79", kArrowUp, "80"},
        {IDC_LENGTH_ARROWS, IDC_LENGTH_FIELD, "80", kArrowUp, "80"},
        {IDC_LENGTH_ARROWS, IDC_LENGTH_FIELD, "5", kArrowUp, "06"},
        {IDC_LENGTH_ARROWS, IDC_LENGTH_FIELD, "02", kArrowDown, "02"},
        {IDC_LENGTH_ARROWS, IDC_LENGTH_FIELD, "05", kArrowDown, "04"},
        {IDC_LENGTH_ARROWS, IDC_LENGTH_FIELD, "10", kArrowDown, "08"},
        {IDC_LENGTH_ARROWS, IDC_LENGTH_FIELD, "99", kArrowDown, "02"},
        {IDC_LENGTH_ARROWS, IDC_LENGTH_FIELD, "", kArrowUp, "02"},
        {IDC_LENGTH_ARROWS, IDC_LENGTH_FIELD, "123", kArrowUp, "02"},  // three characters fail
        // bit number: steps of one within 00-15
        {IDC_BIT_ARROWS, IDC_BIT_FIELD, "14", kArrowUp, "15"},
        {IDC_BIT_ARROWS, IDC_BIT_FIELD, "15", kArrowUp, "15"},
        {IDC_BIT_ARROWS, IDC_BIT_FIELD, "40", kArrowUp, "15"},
        {IDC_BIT_ARROWS, IDC_BIT_FIELD, "00", kArrowDown, "00"},
        {IDC_BIT_ARROWS, IDC_BIT_FIELD, "40", kArrowDown, "00"},
        {IDC_BIT_ARROWS, IDC_BIT_FIELD, "09", kArrowUp, "10"},
        {IDC_BIT_ARROWS, IDC_BIT_FIELD, "", kArrowUp, "01"},
    };
    for (const auto& c : cases) {
        RecordingSurface dialog;
        dialog.controls.Write(c.field, c.before);
        dialog.Logic().Scroll(c.arrows, c.code);
        EXPECT_STREQ(dialog.controls.Text(c.field), c.after)
            << "arrows " << c.arrows << " from '" << c.before << "' code " << c.code;
    }
}

TEST(TagFormatModel, OtherScrollCodesAndSendersAreIgnored) {
    RecordingSurface dialog;
    dialog.controls.Write(IDC_BLOCK_FIELD, "100");
    for (int code : {2, 3, 4, 5, 8, -1})
        dialog.Logic().Scroll(IDC_BLOCK_ARROWS, code);
    dialog.Logic().Scroll(IDC_BLOCK_FIELD, kArrowUp);
    dialog.Logic().Scroll(0, kArrowUp);
    EXPECT_STREQ(dialog.controls.Text(IDC_BLOCK_FIELD), "100");
}

struct OkCase {
    int button;
    const char* block;
    const char* location;
    const char* length;
    const char* bit;
    const char* outcome;  // the message shown, or the composed address
};

// Each case fails on exactly one message; where several faults meet, the
// message is the first in the checks' order.
const OkCase kOkCases[] = {
    // composed addresses
    {IDC_TYPE_16_BITS, "000", "000", "02", "00", "000000"},
    {IDC_TYPE_16_BITS, "010", "004", "02", "00", "010004"},
    {IDC_TYPE_32_BITS, "010", "004", "02", "00", "010004L"},
    {IDC_TYPE_FLOAT, "255", "254", "02", "00", "255254F"},
    {IDC_TYPE_STRING, "010", "004", "08", "00", "010004S08"},
    {IDC_TYPE_STRING, "010", "010", "20", "00", "010010S20"},
    {IDC_TYPE_DIGITAL, "010", "004", "02", "12", "01000412"},
    {IDC_TYPE_DIGITAL, "001", "255", "02", "15", "00125515"},
    {IDC_TYPE_DIGITAL, "001", "001", "02", "05", "00100105"},
    {IDC_TYPE_16_BITS, "12a", "000", "02", "00", "12a000"},  // leading digits only
    // CheckPresence
    {IDC_TYPE_STRING, "", "", "", "", "Please Fill In The Length Of The String "},
    {IDC_TYPE_DIGITAL, "", "", "", "", "Please Fill In The Digital Bit Number!"},
    {IDC_TYPE_16_BITS, "", "", "", "", "The Data Block Number Is Missing!"},
    {IDC_TYPE_FLOAT, "010", "", "", "", "The Memory Field  Number Is Missing!"},
    // CheckTypeFields
    {IDC_TYPE_STRING, "010", "004", "90", "00", "The length of The String Should Be Between 02-80"},
    {IDC_TYPE_STRING, "010", "004", "0", "00", "The length of The String Should Be Between 02-80"},
    {IDC_TYPE_STRING, "010", "004", "7", "00", "The String Length Parameter Should Be 2 DIGITS!"},
    {IDC_TYPE_STRING, "010", "004", "07", "00",
     "The String length Parameter Should Be An Even Number!"},
    {IDC_TYPE_DIGITAL, "010", "004", "02", "16",
     "The Length of The Digital Bit Should Be Between 02-15"},
    {IDC_TYPE_DIGITAL, "010", "004", "02", "5",
     "The Length of Digital Bit Parameter Should Be 2 DIGITS!"},
    // the type fields are checked before the ranges
    {IDC_TYPE_DIGITAL, "999", "7", "02", "5",
     "The Length of Digital Bit Parameter Should Be 2 DIGITS!"},
    // CheckRanges
    {IDC_TYPE_16_BITS, "256", "4", "02", "00", "The Data Block Number should be between 000-255"},
    {IDC_TYPE_16_BITS, "12", "999", "02", "00",
     "The Memory Location Within The Data Block Should Be Between 000-255"},
    {IDC_TYPE_16_BITS, "12", "4", "02", "00",
     "The Memory Location Within The Data Block Should Be a 3 DIGITS NUMBER!"},
    {IDC_TYPE_16_BITS, "12", "004", "02", "00", "The Data Block should be  A 3 DIGITS NUMBER! "},
    {IDC_TYPE_32_BITS, "010", "005", "02", "00",
     "When Using 32 Bits Analog Type The Memory Location Within The Data Block Should Be An "
     "Even Number!"},
    {IDC_TYPE_STRING, "010", "004", "20", "00",
     "When Using A String Type The Memory Location Should Be A Multiple Of Lenght Of String In "
     "Bits/2 "},
    {IDC_TYPE_FLOAT, "255", "255", "02", "00",
     "When Using Float Type The Memory Location Within The Data Block Should Be An Even "
     "Number!"},
    // texts set past the fields' limits never make an address the host's
    // buffer cannot hold
    {IDC_TYPE_16_BITS, "0010", "004", "02", "00", "The Data Block should be  A 3 DIGITS NUMBER! "},
    {IDC_TYPE_16_BITS, "010", "0004", "02", "00",
     "The Memory Location Within The Data Block Should Be a 3 DIGITS NUMBER!"},
    {IDC_TYPE_STRING, "010", "004", "080", "00", "The String Length Parameter Should Be 2 DIGITS!"},
    {IDC_TYPE_DIGITAL, "010", "004", "02", "015",
     "The Length of Digital Bit Parameter Should Be 2 DIGITS!"},
};

bool IsAddress(const std::string& outcome) {
    return outcome.size() <= kComposedAddressLength && outcome.find(' ') == std::string::npos;
}

TEST(TagFormatModel, OkShowsTheFirstFailingMessageOrComposes) {
    for (const OkCase& c : kOkCases) {
        RecordingSurface dialog;
        dialog.PressOk(c.button, c.block, c.location, c.length, c.bit);
        const std::string expected = c.outcome;
        SCOPED_TRACE("block '" + std::string(c.block) + "' location '" + c.location + "' length '" +
                     c.length + "' bit '" + c.bit + "'");
        if (IsAddress(expected)) {
            EXPECT_TRUE(dialog.messages.empty()) << dialog.messages.front();
            EXPECT_EQ(dialog.result, kDialogOk);
            EXPECT_EQ(dialog.state.composed_address, expected);
        } else {
            ASSERT_EQ(dialog.messages.size(), 1u);
            EXPECT_EQ(dialog.messages[0], expected);
            EXPECT_EQ(dialog.result, 0) << "the dialog stays open";
            EXPECT_STREQ(dialog.controls.Text(IDC_LOCATION_FIELD), c.location);
        }
    }
}

TEST(TagFormatModel, OkKeepsTheTextsItReadAndARefusalComposesNothing) {
    RecordingSurface dialog;
    dialog.PressOk(IDC_TYPE_FLOAT, "010", "004");
    ASSERT_EQ(dialog.result, kDialogOk);
    EXPECT_STREQ(dialog.state.block_text, "010");
    EXPECT_STREQ(dialog.state.location_text, "004");

    RecordingSurface refused;
    std::strcpy(refused.state.composed_address, "earlier");
    refused.PressOk(IDC_TYPE_FLOAT, "010", "005");
    EXPECT_STREQ(refused.state.composed_address, "earlier");
    EXPECT_STREQ(refused.state.location_text, "005");
    // Fixing the entry in the same dialog then succeeds.
    refused.messages.clear();
    refused.controls.Write(IDC_LOCATION_FIELD, "006");
    refused.Logic().Command(IDC_OK_BUTTON);
    EXPECT_TRUE(refused.messages.empty());
    EXPECT_STREQ(refused.state.composed_address, "010006F");
}

TEST(TagFormatModel, LeadingDecimalReadsDigitsUpToTheFirstOther) {
    struct {
        const char* text;
        int32_t value;
    } const cases[] = {{"", 0}, {"a12", 0}, {"012", 12}, {"12a4", 12}, {"9999999", 9999999}};
    for (const auto& c : cases)
        EXPECT_EQ(LeadingDecimal(c.text), c.value) << c.text;
}

}  // namespace
}  // namespace morvane::test
