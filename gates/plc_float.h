// The PLC's floating-point format and IEEE 754 single precision, both ways.
#pragma once

#include <cstdint>

namespace morvane {

// PLC float word (exponent byte, 24-bit two's complement mantissa) to IEEE bits.
uint32_t PlcFloatToIeee(uint32_t plc_word);

// IEEE bits to a PLC float word. NaN cannot be represented: check first with
// PlcFloatCanEncode (IeeeToPlcFloat answers PLC zero, 0x80000000, for a NaN).
// Magnitudes beyond the PLC's range saturate, those below it become zero.
uint32_t IeeeToPlcFloat(uint32_t ieee_bits);
bool PlcFloatCanEncode(uint32_t ieee_bits);

}  // namespace morvane
