// What a channel file's text selects, worked out independently of the
// driver's scanner: the text up to its first NUL and at most 81 bytes must
// begin with "PROTOCOL="; after blanks, the first word (at most five
// characters) beginning "3964R" selects 3964R, one beginning "3964" 3964;
// anything else is a malformed file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane::fuzz {

enum class FileProtocol { k3964R, k3964, kMalformed };

FileProtocol ExpectedProtocol(const uint8_t* text, size_t length);

}  // namespace morvane::fuzz
