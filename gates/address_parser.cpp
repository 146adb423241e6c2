// Gate address strings: data block in positions 0-2, word in 3-5, and the
// form (bit number, 'F', 'L', or 'S' with a string length) from position 6 on.
#include "gates/address_parser.h"

#include <cstddef>
#include <cstring>

#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {
namespace {

// The outcome depends only on positions 0 to 8 and on whether the string is
// exactly 9 characters long, so the copy takes at most 10 characters and
// never reads the host's string any further.
constexpr size_t kDecidingChars = 10;
constexpr size_t kPaddedLength = 8;
constexpr size_t kStringFormLength = 9;
constexpr size_t kFormPosition = 6;
constexpr int kLargestNumber = 255;  // data block and word number
constexpr int kBitsPerWord = 16;

constexpr const char* kAllowedAt[kPaddedLength] = {
    "012",        "0123456789", "0123456789", "0123456789",
    "0123456789", "0123456789", "01FLS ",     "0123456789 ",
};

struct WorkingCopy {
    char text[kDecidingChars + 1];
    size_t length;
};

// A copy of the address, blank-padded to 8 characters when shorter; it holds
// no NUL before its end.
WorkingCopy CopyAddress(const char* address) {
    WorkingCopy copy{};
    if (address != nullptr) {
        while (copy.length < kDecidingChars && address[copy.length] != '\0') {
            copy.text[copy.length] = address[copy.length];
            ++copy.length;
        }
    }
    while (copy.length < kPaddedLength)
        copy.text[copy.length++] = ' ';
    copy.text[copy.length] = '\0';
    return copy;
}

char FoldForm(char c) {
    if (c == 'f' || c == 'l' || c == 's') return static_cast<char>(c - 'a' + 'A');
    return c;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int ThreeDigits(const char* text) {
    return (text[0] - '0') * 100 + (text[1] - '0') * 10 + (text[2] - '0');
}

// An unsigned decimal of at most two digits starting at text[from], leading
// blanks skipped, never looking at text[end] or beyond; -1 when there is none.
int SmallNumber(const char* text, size_t from, size_t end) {
    size_t i = from;
    while (i < end && text[i] == ' ')
        ++i;
    int value = -1;
    for (int digits = 0; digits < 2 && i < end && IsDigit(text[i]); ++digits, ++i)
        value = (value < 0 ? 0 : value * 10) + (text[i] - '0');
    return value;
}

int ParseStringForm(const WorkingCopy& copy, int data_block, int word, GateAddress& gate) {
    gate.class_letter = MORVANE_CLASS_STRING;
    if (copy.length != kStringFormLength) {
        err(MORVANE_LOG_TRACE, "ZIDIV> Parse() gate address string too long");
        return 1;
    }
    const int length = SmallNumber(copy.text, kFormPosition + 1, copy.length);
    if (length < 1 || length > static_cast<int>(MORVANE_STRING_MAX_LENGTH) || length % 2 != 0) {
        err(MORVANE_LOG_TRACE, "ZIDIV> Parse() error length string gate '%s'", copy.text);
        return 1;
    }
    if (word * 2 % length != 0) {
        err(MORVANE_LOG_TRACE, "ZIDIV> Parse() error offset string gate '%s'", copy.text);
        return 1;
    }
    gate.packed_address = (length << 24) + (data_block << 16) + word / (length / 2);
    return 0;
}

int ParseLongForm(char letter, int data_block, int word, GateAddress& gate) {
    gate.width = 32;
    gate.class_letter = static_cast<uint32_t>(letter);
    if (word % 2 != 0) {
        err(MORVANE_LOG_TRACE, "ZIDIV> Parse() Address of 32 bit gate should be even");
        return 1;
    }
    gate.packed_address = (data_block << 16) + word / 2;
    return 0;
}

// Position 6 holds '0' or '1', or a blank followed by a digit. The number
// is at most two digits after that blank: "010004 15" is bit 15, never bit 1
// with its second digit dropped. Nothing behind those digits plays a part.
int ParseBitForm(const WorkingCopy& copy, GateAddress& gate) {
    const int bit = SmallNumber(copy.text, kFormPosition, copy.length);
    if (bit < 0 || bit >= kBitsPerWord) {
        err(MORVANE_LOG_TRACE, "ZIDIV> Parse() Illegal bitnumber");
        return 1;
    }
    gate.bit_number = bit;
    return 0;
}

}  // namespace

int Parse(ParseBlock* block) {
    GateAddress& gate = block->gate;
    WorkingCopy copy = CopyAddress(block->address);
    char* text = copy.text;
    text[kFormPosition] = FoldForm(text[kFormPosition]);

    for (size_t i = 0; i < kPaddedLength; ++i) {
        if (std::strchr(kAllowedAt[i], text[i]) == nullptr) {
            err(MORVANE_LOG_TRACE, "ZIDIV> Parse() Illegal character %c in '%s'", text[i], text);
            return 1;
        }
    }
    const int data_block = ThreeDigits(text);
    if (data_block > kLargestNumber) {
        err(MORVANE_LOG_TRACE, "ZIDIV> Parse() Illegal Databaustein number");
        return 1;
    }
    gate.packed_address = data_block << 16;
    const int word = ThreeDigits(text + 3);
    if (word > kLargestNumber) {
        err(MORVANE_LOG_TRACE, "ZIDIV> Parse() Illegal word number");
        return 1;
    }
    gate.packed_address += word;
    gate.parsed = 1;
    gate.class_letter = MORVANE_CLASS_WORD;
    gate.bit_number = -1;
    gate.width = 16;

    const char form = text[kFormPosition];
    const char next = text[kFormPosition + 1];
    if (form == 'S') return ParseStringForm(copy, data_block, word, gate);
    if (form == ' ' && next == ' ') return 0;
    if (form == 'F' || form == 'L') {
        // A digit behind the letter is refused without a word to the log.
        if (next != ' ') return 1;
        return ParseLongForm(form, data_block, word, gate);
    }
    return ParseBitForm(copy, gate);
}

}  // namespace morvane
