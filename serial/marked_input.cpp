#include "serial/marked_input.h"

namespace morvane {
namespace {

constexpr uint8_t kMark = 0xFF;

}  // namespace

uint32_t DecodeMarkedInput(MarkedInput* state, const uint8_t* raw, uint32_t count, uint8_t* out,
                           uint8_t* damaged, bool* any_damaged) {
    uint32_t written = 0;
    *any_damaged = false;
    auto emit = [&](uint8_t byte, bool marked) {
        if (damaged != nullptr) damaged[written] = marked ? 1 : 0;
        out[written++] = byte;
        if (marked) *any_damaged = true;
    };
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t byte = raw[i];
        switch (state->pending) {
            case 0:
                if (byte == kMark)
                    state->pending = 1;
                else
                    emit(byte, false);
                break;
            case 1:
                if (byte == kMark) {
                    state->pending = 0;
                    emit(kMark, false);
                } else if (byte == 0x00) {
                    state->pending = 2;
                } else {
                    // The kernel never sends a lone FF while marking; whatever
                    // made one, the character behind it cannot be trusted.
                    // One byte out for the two keeps the output behind the input.
                    state->pending = 0;
                    emit(byte, true);
                }
                break;
            default:
                state->pending = 0;
                emit(byte, true);
                break;
        }
    }
    return written;
}

}  // namespace morvane
