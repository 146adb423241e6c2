// Values of PLC float words and IEEE singles worked out independently of the
// conversions, for the tests and the fuzz targets. Every PLC value has at most
// 24 significant bits and an exponent within -151 to 127, so a double holds it
// exactly.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace morvane::test {

inline uint32_t BitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float FloatOf(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// M * 2^(E-23), whether the mantissa is normalized or not.
inline double PlcValue(uint32_t word) {
    const int32_t mantissa = static_cast<int32_t>(word << 8) >> 8;
    const int exponent = static_cast<int8_t>(word >> 24);
    return std::ldexp(static_cast<double>(mantissa), exponent - 23);
}

constexpr double kPlcLargest = 0x7FFFFF * 0x1p104;  // (1 - 2^-23) * 2^127
constexpr double kPlcLargestNegative = -0x1p127;
constexpr double kPlcSmallest = 0x1p-129;

// The PLC value an IEEE single (not a NaN) should arrive as: the lowest
// fraction bit of a normal number cut off, subnormals kept down to the PLC's
// smallest, zero below, and saturation from 2^127 on.
inline double ExpectedPlcValue(uint32_t ieee_bits) {
    const float value = FloatOf(ieee_bits);
    if (std::fabs(value) >= 0x1p127f) return value < 0 ? kPlcLargestNegative : kPlcLargest;
    if (std::fabs(value) < kPlcSmallest) return 0.0;
    if (std::fpclassify(value) == FP_NORMAL) return FloatOf(ieee_bits & ~1u);
    return value;
}

// A PLC word as the conversion writes it: zero as 0x80000000, otherwise a
// normalized mantissa, negative ones 0x800001 to 0xC00000 (the most negative
// PLC value, -2^127, is the one word with mantissa 0x800000).
inline bool IsWellFormedPlcWord(uint32_t word) {
    const uint32_t mantissa = word & 0xFFFFFFu;
    if (mantissa == 0) return word == 0x80000000u;
    if (word == 0x7F800000u) return true;
    if (mantissa & 0x800000u) return mantissa >= 0x800001u && mantissa <= 0xC00000u;
    return mantissa >= 0x400000u;
}

}  // namespace morvane::test
