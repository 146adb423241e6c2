// The channel's configuration file: it chooses between 3964 and 3964R.
#pragma once

#include <cstddef>
#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

enum class ProtocolWord { k3964R, k3964, kInvalid };

// Scans text (length bytes, not necessarily NUL-terminated, at most
// MORVANE_CHANNEL_FILE_READ_SIZE are looked at; the rest of the file is
// never read) with the pattern "PROTOCOL=%5s".
ProtocolWord ParseProtocolText(const char* text, size_t length);

// Reads at most size bytes of a file without waiting on it and without the
// heap; false when there is no file under the name (a directory is none).
// One implementation per platform.
bool ReadConfigText(const char* name, char* text, size_t size, size_t* length);

// Tries "ZIDIV%02d.INT", "ZIDIV%01d.INT", "ZIDIV.INT" in the current
// directory, logs what it found, and returns the 3964R flag (1 or 0).
uint8_t ReadProtocolFile(int32_t channel_number);

}  // namespace morvane
