#include "browse/tag_format_model.h"

#include <cstring>

namespace morvane {
namespace {

TagFormatState g_tag_format{};

// The texts read on OK: at most 7 characters each.
constexpr size_t kOkTextCapacity = 8;

// An edit field with its spin arrows: how an arrow click steps and bounds it.
struct SpinField {
    int arrows;
    int field;
    int digits;      // written back with leading zeros to this many digits
    int32_t low;     // the lower arrow never goes below, nor stays above `high`
    int32_t high;    // the upper arrow never goes above
    bool even_step;  // steps of two from an even value (string lengths)
};

constexpr SpinField kSpinFields[] = {
    {IDC_BLOCK_ARROWS, IDC_BLOCK_FIELD, 3, 0, 255, false},
    {IDC_LOCATION_ARROWS, IDC_LOCATION_FIELD, 3, 0, 255, false},
    {IDC_LENGTH_ARROWS, IDC_LENGTH_FIELD, 2, 2, 80, true},
    {IDC_BIT_ARROWS, IDC_BIT_FIELD, 2, 0, 15, false},
};

const SpinField* SpinFieldOf(int arrows) {
    for (const SpinField& spin : kSpinFields)
        if (spin.arrows == arrows) return &spin;
    return nullptr;
}

bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The arrows' validator: 1 to max_length characters, all hexadecimal digits.
bool PassesValidator(const char* text, size_t length, size_t max_length) {
    if (length == 0 || length > max_length) return false;
    for (size_t i = 0; i < length; ++i)
        if (!IsHexDigit(text[i])) return false;
    return true;
}

int32_t Step(const SpinField& spin, int32_t value, int scroll_code) {
    const int32_t step = spin.even_step && value % 2 == 0 ? 2 : 1;
    if (scroll_code == kArrowUp) {
        value += step;
        return value >= spin.high ? spin.high : value;
    }
    value -= step;
    return value <= spin.low || value > spin.high ? spin.low : value;
}

// Writes value with leading zeros to `digits` digits; value is within 0..999.
void FormatDigits(int32_t value, int digits, char (&text)[4]) {
    for (int i = digits - 1; i >= 0; --i) {
        text[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    text[digits] = '\0';
}

// Appends text to out (capacity bytes with its NUL), cutting what does not fit.
void Append(char* out, size_t capacity, const char* text) {
    size_t used = std::strlen(out);
    while (*text != '\0' && used + 1 < capacity)
        out[used++] = *text++;
    out[used] = '\0';
}

}  // namespace

TagFormatState& DriverTagFormatState() {
    return g_tag_format;
}

int32_t LeadingDecimal(const char* text) {
    // Texts hold at most 7 characters; the bound keeps the sum within range.
    int32_t value = 0;
    for (int i = 0; i < 9 && IsDecimalDigit(text[i]); ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

void TagFormatDialog::Init() {
    surface_.Enable(IDC_BIT_FIELD, false);
    surface_.WriteText(IDC_BLOCK_FIELD, "000");
    surface_.WriteText(IDC_LOCATION_FIELD, "000");
    surface_.WriteText(IDC_LENGTH_FIELD, "02");
    surface_.WriteText(IDC_BIT_FIELD, "00");
    surface_.Click(IDC_TYPE_16_BITS);
    surface_.LimitText(IDC_BLOCK_FIELD, 3);
    surface_.LimitText(IDC_LOCATION_FIELD, 3);
    surface_.LimitText(IDC_LENGTH_FIELD, 2);
    surface_.LimitText(IDC_BIT_FIELD, 2);
}

void TagFormatDialog::Command(int control) {
    switch (control) {
        case IDC_TYPE_16_BITS:
            SelectType(kType16Bits, false, false);
            break;
        case IDC_TYPE_32_BITS:
            SelectType(kType32Bits, false, false);
            break;
        case IDC_TYPE_FLOAT:
            SelectType(kTypeFloat, false, false);
            break;
        case IDC_TYPE_STRING:
            SelectType(kTypeString, true, false);
            break;
        case IDC_TYPE_DIGITAL:
            SelectType(kTypeDigital, false, true);
            break;
        case IDC_OK_BUTTON:
            Ok();
            break;
        case IDC_CANCEL_BUTTON:
            surface_.End(kDialogCancel);
            break;
        default:
            break;
    }
}

void TagFormatDialog::Scroll(int arrows, int scroll_code) {
    if (scroll_code != kArrowUp && scroll_code != kArrowDown) return;
    const SpinField* spin = SpinFieldOf(arrows);
    if (spin == nullptr) return;
    char text[4] = {};
    const size_t length = ReadShort(spin->field, text);
    const bool valid = PassesValidator(text, length, static_cast<size_t>(spin->digits));
    const int32_t value = Step(*spin, valid ? LeadingDecimal(text) : 0, scroll_code);
    FormatDigits(value, spin->digits, text);
    surface_.WriteText(spin->field, text);
}

void TagFormatDialog::SelectType(int32_t type_code, bool length_enabled, bool bit_enabled) {
    surface_.Enable(IDC_BIT_LABEL, bit_enabled);
    surface_.Enable(IDC_BIT_FIELD, bit_enabled);
    surface_.Enable(IDC_BIT_ARROWS, bit_enabled);
    surface_.Enable(IDC_LENGTH_LABEL, length_enabled);
    surface_.Enable(IDC_LENGTH_FIELD, length_enabled);
    surface_.Enable(IDC_LENGTH_ARROWS, length_enabled);
    state_.type_code = type_code;
}

void TagFormatDialog::Ok() {
    std::memset(state_.block_text, 0, sizeof state_.block_text);
    std::memset(state_.location_text, 0, sizeof state_.location_text);
    surface_.ReadText(IDC_BLOCK_FIELD, state_.block_text, kOkTextCapacity);
    surface_.ReadText(IDC_LOCATION_FIELD, state_.location_text, kOkTextCapacity);
    if (!CheckPresence() || !CheckTypeFields() || !CheckRanges()) return;
    ComposeAddress();
    surface_.End(kDialogOk);
}

bool TagFormatDialog::CheckPresence() {
    char text[4];
    if (state_.type_code == kTypeString && ReadShort(IDC_LENGTH_FIELD, text) == 0)
        return Refuse("Please Fill In The Length Of The String ");
    if (state_.type_code == kTypeDigital && ReadShort(IDC_BIT_FIELD, text) == 0)
        return Refuse("Please Fill In The Digital Bit Number!");
    if (ReadShort(IDC_BLOCK_FIELD, text) == 0) return Refuse("The Data Block Number Is Missing!");
    if (ReadShort(IDC_LOCATION_FIELD, text) == 0)
        return Refuse("The Memory Field  Number Is Missing!");
    return true;
}

// The digit-count checks ask for exactly two digits: a longer text (one set
// past the field's limit) would make the address longer than the host's buffer.
bool TagFormatDialog::CheckTypeFields() {
    char text[4];
    if (state_.type_code == kTypeString) {
        const size_t length = ReadShort(IDC_LENGTH_FIELD, text);
        const int32_t string_length = LeadingDecimal(text);
        if (string_length < 2 || string_length > 80)
            return Refuse("The length of The String Should Be Between 02-80");
        if (length != 2) return Refuse("The String Length Parameter Should Be 2 DIGITS!");
        if (string_length % 2 != 0)
            return Refuse("The String length Parameter Should Be An Even Number!");
    }
    if (state_.type_code == kTypeDigital) {
        const size_t length = ReadShort(IDC_BIT_FIELD, text);
        const int32_t bit = LeadingDecimal(text);
        if (bit < 0 || bit > 15)
            return Refuse("The Length of The Digital Bit Should Be Between 02-15");
        if (length != 2) return Refuse("The Length of Digital Bit Parameter Should Be 2 DIGITS!");
    }
    return true;
}

// As above, the three-digit checks refuse longer texts as well as shorter ones.
bool TagFormatDialog::CheckRanges() {
    const int32_t block = LeadingDecimal(state_.block_text);
    const int32_t location = LeadingDecimal(state_.location_text);
    if (block < 0 || block > 255) return Refuse("The Data Block Number should be between 000-255");
    if (location < 0 || location > 255)
        return Refuse("The Memory Location Within The Data Block Should Be Between 000-255");
    if (std::strlen(state_.location_text) != 3)
        return Refuse("The Memory Location Within The Data Block Should Be a 3 DIGITS NUMBER!");
    if (std::strlen(state_.block_text) != 3)
        return Refuse("The Data Block should be  A 3 DIGITS NUMBER! ");
    if (state_.type_code == kType32Bits && location % 2 != 0)
        return Refuse(
            "When Using 32 Bits Analog Type The Memory Location Within The Data Block Should Be "
            "An Even Number!");
    if (state_.type_code == kTypeString) {
        char text[4];
        ReadShort(IDC_LENGTH_FIELD, text);
        const int32_t words = LeadingDecimal(text) / 2;
        if (words < 1 || location % words != 0)
            return Refuse(
                "When Using A String Type The Memory Location Should Be A Multiple Of Lenght Of "
                "String In Bits/2 ");
    }
    if (state_.type_code == kTypeFloat && location % 2 != 0)
        return Refuse(
            "When Using Float Type The Memory Location Within The Data Block Should Be An Even "
            "Number!");
    return true;
}

void TagFormatDialog::ComposeAddress() {
    char* out = state_.composed_address;
    const size_t capacity = sizeof state_.composed_address;
    out[0] = '\0';
    Append(out, capacity, state_.block_text);
    Append(out, capacity, state_.location_text);
    char text[4];
    switch (state_.type_code) {
        case kType32Bits:
            Append(out, capacity, "L");
            break;
        case kTypeFloat:
            Append(out, capacity, "F");
            break;
        case kTypeString:
            ReadShort(IDC_LENGTH_FIELD, text);
            Append(out, capacity, "S");
            Append(out, capacity, text);
            break;
        case kTypeDigital:
            ReadShort(IDC_BIT_FIELD, text);
            Append(out, capacity, text);
            break;
        default:
            break;
    }
}

bool TagFormatDialog::Refuse(const char* message) {
    surface_.ShowError(message);
    return false;
}

size_t TagFormatDialog::ReadShort(int control, char (&text)[4]) {
    text[0] = '\0';
    const size_t length = surface_.ReadText(control, text, sizeof text);
    text[sizeof text - 1] = '\0';
    return length < sizeof text ? length : sizeof text - 1;
}

}  // namespace morvane
