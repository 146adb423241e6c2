// Arbitrary 32-bit words through both float conversions, each word taken once
// as a PLC float word and once as the bits of an IEEE single.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "gates/plc_float.h"
#include "tests/gates/plc_float_oracle.h"

namespace {

using morvane::test::FloatOf;

// From the PLC: always the finite IEEE single nearest to the PLC value.
void CheckFromPlc(uint32_t plc_word) {
    const uint32_t ieee = morvane::PlcFloatToIeee(plc_word);
    FUZZ_CHECK(std::isfinite(FloatOf(ieee)));
    FUZZ_CHECK(ieee ==
               morvane::test::BitsOf(static_cast<float>(morvane::test::PlcValue(plc_word))));
}

// To the PLC: a well-formed word with the value the range rules give; inside
// the common range the way back restores all but the lowest fraction bit.
void CheckToPlc(uint32_t ieee_bits) {
    const float value = FloatOf(ieee_bits);
    if (!morvane::PlcFloatCanEncode(ieee_bits)) {
        FUZZ_CHECK(std::isnan(value));
        FUZZ_CHECK(morvane::IeeeToPlcFloat(ieee_bits) == 0x80000000u);
        return;
    }
    FUZZ_CHECK(!std::isnan(value));
    const uint32_t plc = morvane::IeeeToPlcFloat(ieee_bits);
    FUZZ_CHECK(morvane::test::IsWellFormedPlcWord(plc));
    FUZZ_CHECK(morvane::test::PlcValue(plc) == morvane::test::ExpectedPlcValue(ieee_bits));
    if (std::fpclassify(value) == FP_NORMAL && std::fabs(value) < 0x1p127f)
        FUZZ_CHECK(morvane::PlcFloatToIeee(plc) == (ieee_bits & ~1u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (size_t i = 0; i + 4 <= size; i += 4) {
        const uint32_t word = static_cast<uint32_t>(data[i]) << 24 |
                              static_cast<uint32_t>(data[i + 1]) << 16 |
                              static_cast<uint32_t>(data[i + 2]) << 8 | data[i + 3];
        CheckFromPlc(word);
        CheckToPlc(word);
    }
    return 0;
}
