#include "fuzz/protocol_oracle.h"

#include <cstring>

#include "morvane/morvane.h"

namespace morvane::fuzz {
namespace {

constexpr char kKey[] = "PROTOCOL=";
constexpr size_t kWordLength = 5;

bool IsBlank(uint8_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

FileProtocol ExpectedProtocol(const uint8_t* text, size_t length) {
    if (length > MORVANE_CHANNEL_FILE_READ_SIZE) length = MORVANE_CHANNEL_FILE_READ_SIZE;
    const void* nul = std::memchr(text, 0, length);
    if (nul != nullptr) length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - text);
    const size_t key_length = sizeof kKey - 1;
    if (length < key_length || std::memcmp(text, kKey, key_length) != 0)
        return FileProtocol::kMalformed;
    size_t at = key_length;
    while (at < length && IsBlank(text[at]))
        ++at;
    size_t word = 0;
    while (word < kWordLength && at + word < length && !IsBlank(text[at + word]))
        ++word;
    if (word >= 5 && std::memcmp(text + at, "3964R", 5) == 0) return FileProtocol::k3964R;
    if (word >= 4 && std::memcmp(text + at, "3964", 4) == 0) return FileProtocol::k3964;
    return FileProtocol::kMalformed;
}

}  // namespace morvane::fuzz
