#include "sim/marked_input.h"

namespace plcsim {

std::optional<ReceivedChar> MarkDecoder::Feed(uint8_t byte) {
    switch (state_) {
        case State::kPlain:
            if (byte != 0xFF) return ReceivedChar{byte, false};
            state_ = State::kAfterFf;
            return std::nullopt;
        case State::kAfterFf:
            if (byte == 0x00) {
                state_ = State::kAfterFf00;
                return std::nullopt;
            }
            state_ = State::kPlain;
            // FF FF is a data byte FF. The kernel writes FF followed by
            // anything else never: the stream is out of step, so the
            // character is not trusted.
            return ReceivedChar{byte, byte != 0xFF};
        case State::kAfterFf00:
            state_ = State::kPlain;
            return ReceivedChar{byte, true};
    }
    return std::nullopt;
}

}  // namespace plcsim
