// Byte order between the line and the host's memory. The line carries words
// most significant byte first; host buffers hold values in the machine's own
// order and carry no alignment promise, so values are copied bytewise.
#pragma once

#include <cstdint>
#include <cstring>

namespace morvane {

inline uint16_t ReadLineWord(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

inline uint32_t ReadLineLong(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

inline void PutLineWord(uint8_t* out, uint16_t word) {
    out[0] = static_cast<uint8_t>(word >> 8);
    out[1] = static_cast<uint8_t>(word);
}

template <typename T>
T LoadNative(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T>
void StoreNative(uint8_t* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

}  // namespace morvane
