// Numbers and bytes appended to a line of output, in the forms the monitor
// prints them. The monitor writes a line per event into one string it
// reuses: formatting with the C library and joining strings piece by piece
// would cost more than decoding the line did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane::monitor {

void AppendDecimal(std::string* text, uint64_t value);                      // "%llu"
void AppendSigned(std::string* text, int64_t value);                        // "%lld"
void AppendPadded(std::string* text, uint64_t value, int digits);           // "%0*llu"
void AppendHexByte(std::string* text, uint8_t byte);                        // "%02X"
void AppendHexBytes(std::string* text, const std::vector<uint8_t>& bytes);  // "00 00 45 44"
void AppendWord(std::string* text, uint16_t word);                          // "0x%04X"
void AppendJsonText(std::string* text, const std::string& value);  // quoted, " and \ escaped
// Microseconds as milliseconds, to 1 or 3 decimals: what "%.1f" and "%.3f"
// print of us / 1000.0, the double's rounding included.
void AppendMillis(std::string* text, uint64_t us, int decimals);

}  // namespace morvane::monitor
