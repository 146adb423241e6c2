// Byte vectors written as hex text in tests: "10 02 ff" <-> {0x10, 0x02, 0xFF}.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace morvane::test {

using Wire = std::vector<uint8_t>;

inline Wire Hex(const std::string& text) {
    Wire bytes;
    std::istringstream in(text);
    unsigned value = 0;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

// Upper-case pairs separated by one blank: "10 02 FF".
inline std::string ToHex(const Wire& bytes) {
    std::string text;
    char part[4];
    for (uint8_t byte : bytes) {
        std::snprintf(part, sizeof part, text.empty() ? "%02X" : " %02X", byte);
        text += part;
    }
    return text;
}

}  // namespace morvane::test
