#include "monitor/text_format.h"

#include <cstdio>

namespace morvane::monitor {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Below this us / 1000.0 is within far less than a microsecond of the
// exact value, so only exact halves can round otherwise than in decimal.
constexpr uint64_t kMillisExactBelow = 1000000000000000;

}  // namespace

void AppendDecimal(std::string* text, uint64_t value) {
    AppendPadded(text, value, 1);
}

void AppendSigned(std::string* text, int64_t value) {
    if (value >= 0) return AppendDecimal(text, static_cast<uint64_t>(value));
    text->push_back('-');
    AppendDecimal(text, 0 - static_cast<uint64_t>(value));
}

void AppendPadded(std::string* text, uint64_t value, int digits) {
    char number[20];
    char* const end = number + sizeof number;
    char* at = end;
    do {
        *--at = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 || (end - at < digits && at != number));
    text->append(at, end);
}

void AppendHexByte(std::string* text, uint8_t byte) {
    const char pair[2] = {kHexDigits[byte >> 4], kHexDigits[byte & 15]};
    text->append(pair, 2);
}

void AppendHexBytes(std::string* text, const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) text->push_back(' ');
        AppendHexByte(text, bytes[i]);
    }
}

void AppendWord(std::string* text, uint16_t word) {
    text->append("0x", 2);
    AppendHexByte(text, static_cast<uint8_t>(word >> 8));
    AppendHexByte(text, static_cast<uint8_t>(word));
}

void AppendJsonText(std::string* text, const std::string& value) {
    text->push_back('"');
    for (char c : value) {
        if (c == '"' || c == '\\') text->push_back('\\');
        text->push_back(c);
    }
    text->push_back('"');
}

void AppendMillis(std::string* text, uint64_t us, int decimals) {
    const uint64_t unit = decimals == 1 ? 100 : 1;  // microseconds in the last decimal
    const uint64_t rest = us % unit;
    if (us >= kMillisExactBelow || rest * 2 == unit) {
        // Where the double's own rounding decides, the C library is asked.
        char number[40];
        std::snprintf(number, sizeof number, "%.*f", decimals, static_cast<double>(us) / 1000.0);
        text->append(number);
        return;
    }
    const uint64_t steps = us / unit + (rest * 2 > unit ? 1 : 0);
    const uint64_t per_ms = decimals == 1 ? 10 : 1000;
    AppendDecimal(text, steps / per_ms);
    text->push_back('.');
    AppendPadded(text, steps % per_ms, decimals);
}

}  // namespace morvane::monitor
