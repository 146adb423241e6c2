// The PLC's floating-point format and IEEE 754 single precision.
//
// A PLC word is an exponent byte E (two's complement) and a 24-bit two's
// complement mantissa M; its value is M * 2^(E-23). The PLC writes
// mantissas normalized: bit 22 of the magnitude is the leading one, so 22
// fraction bits survive. IEEE keeps 23, and the lowest one is cut off on the
// way to the PLC. Negative mantissas are the plain two's complement of the
// magnitude and are not renormalized (-1.0 is 0x01C00000, -0.5 * 2^1). A word
// without the leading one (written by other means) is read for just what it
// says, M * 2^(E-23), never as if the bit were there.
//
// Outside the range both formats share:
// - PLC values below 2^-126 lie below IEEE's normal range and become the
//   nearest subnormal (ties to even) or zero; no PLC value overflows an IEEE
//   single.
// - IEEE magnitudes of 2^127 and above, infinities included, saturate to the
//   PLC's largest magnitude of their sign; subnormals the PLC can hold (down to
//   2^-129) are carried exactly, smaller ones become PLC zero, and so does
//   negative zero. A NaN has no PLC form: PlcFloatCanEncode refuses it and
//   IeeeToPlcFloat answers PLC zero should it be asked anyway.
#include "gates/plc_float.h"

namespace morvane {
namespace {

constexpr uint32_t kMantissaMask = 0xFFFFFFu;
constexpr uint32_t kMantissaSign = 0x800000u;  // also the magnitude of -1.0
constexpr uint32_t kLeadingOne = 0x400000u;    // bit 22: 0.5 <= |M / 2^23| < 1
constexpr uint32_t kPlcFractionMask = 0x3FFFFFu;
constexpr uint32_t kIeeeFractionMask = 0x7FFFFFu;
constexpr uint32_t kIeeeSign = 0x80000000u;
constexpr int kIeeeBiasFromPlc = 126;  // IEEE biased exponent = E + 126
constexpr uint32_t kIeeeExponentAll = 0xFFu;
constexpr uint32_t kIeeeExponentTooLarge = 254;       // 2^127 and above: beyond the PLC
constexpr uint32_t kSmallestPlcSubnormal = 1u << 20;  // 2^-129 as an IEEE fraction

constexpr uint32_t kPlcZero = 0x80000000u;
constexpr uint32_t kPlcLargestPositive = 0x7F7FFFFFu;  // (1 - 2^-23) * 2^127
constexpr uint32_t kPlcLargestNegative = 0x7F800000u;  // -1.0 * 2^127

uint32_t ShiftRightToNearestEven(uint32_t value, int shift) {
    if (shift <= 0) return value;
    const uint32_t kept = value >> shift;
    const uint32_t rest = value & ((1u << shift) - 1);
    const uint32_t half = 1u << (shift - 1);
    return kept + ((rest > half || (rest == half && (kept & 1u) != 0)) ? 1u : 0u);
}

// 24-bit two's complement negation, both ways between a negative mantissa and
// its magnitude (0x800000 stays 0x800000).
uint32_t NegateMantissa(uint32_t value) {
    return ((value - 1) ^ kMantissaMask) & kMantissaMask;
}

}  // namespace

uint32_t PlcFloatToIeee(uint32_t plc_word) {
    const uint32_t mantissa = plc_word & kMantissaMask;
    if (mantissa == 0) return 0;
    int exponent = static_cast<int8_t>(plc_word >> 24);
    const bool negative = (mantissa & kMantissaSign) != 0;
    uint32_t magnitude = negative ? NegateMantissa(mantissa) : mantissa;
    if (magnitude == kMantissaSign) {
        // -1.0 * 2^E is 0.5 * 2^(E+1): the leading one moves down to bit 22.
        ++exponent;
        magnitude = kLeadingOne;
    }
    for (; (magnitude & kLeadingOne) == 0; magnitude <<= 1)
        --exponent;  // the same value, its leading one at bit 22
    const uint32_t sign = negative ? kIeeeSign : 0u;
    const int biased = exponent + kIeeeBiasFromPlc;
    if (biased >= 1)
        return sign | static_cast<uint32_t>(biased) << 23 | (magnitude & kPlcFractionMask) << 1;
    // Below IEEE's normal range the value magnitude * 2^(E-23) is the subnormal
    // fraction magnitude * 2^biased.
    return sign | ShiftRightToNearestEven(magnitude, -biased);
}

bool PlcFloatCanEncode(uint32_t ieee_bits) {
    const bool is_nan = ((ieee_bits >> 23) & kIeeeExponentAll) == kIeeeExponentAll &&
                        (ieee_bits & kIeeeFractionMask) != 0;
    return !is_nan;
}

uint32_t IeeeToPlcFloat(uint32_t ieee_bits) {
    if (!PlcFloatCanEncode(ieee_bits)) return kPlcZero;
    const bool negative = (ieee_bits & kIeeeSign) != 0;
    const uint32_t biased = (ieee_bits >> 23) & kIeeeExponentAll;
    const uint32_t fraction = ieee_bits & kIeeeFractionMask;
    if (biased >= kIeeeExponentTooLarge)
        return negative ? kPlcLargestNegative : kPlcLargestPositive;

    int exponent;
    uint32_t magnitude;
    if (biased != 0) {
        exponent = static_cast<int>(biased) - kIeeeBiasFromPlc;
        magnitude = (fraction >> 1) | kLeadingOne;
    } else {
        // Zeros and subnormals: the PLC's exponents -126 to -128 hold the
        // subnormal fraction exactly from 2^-129 up; below that is zero.
        if (fraction < kSmallestPlcSubnormal) return kPlcZero;
        exponent = -kIeeeBiasFromPlc;
        magnitude = fraction;
        while ((magnitude & kLeadingOne) == 0) {
            magnitude <<= 1;
            --exponent;
        }
    }
    const uint32_t mantissa = negative ? NegateMantissa(magnitude) : magnitude;
    return (static_cast<uint32_t>(exponent) & 0xFFu) << 24 | mantissa;
}

}  // namespace morvane
