// The channel's configuration file: it chooses between 3964 and 3964R.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace morvane {

// Bytes of the file that are read; the rest is ignored.
constexpr size_t kConfigReadLength = 81;

enum class ProtocolWord { k3964R, k3964, kInvalid };

// Scans text (length bytes, not necessarily NUL-terminated, at most
// kConfigReadLength are looked at) with the pattern "PROTOCOL=%5s".
ProtocolWord ParseProtocolText(const char* text, size_t length);

// Opens a file for reading as text without waiting on it; nullptr when it
// does not open. One implementation per platform.
FILE* OpenConfigText(const char* name);

// Tries "ZIDIV%02d.INT", "ZIDIV%01d.INT", "ZIDIV.INT" in the current
// directory, logs what it found, and returns the 3964R flag (1 or 0).
uint8_t ReadProtocolFile(int32_t channel_number);

}  // namespace morvane
