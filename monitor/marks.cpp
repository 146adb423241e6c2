#include "monitor/marks.h"

namespace morvane::monitor {

void MarkReader::Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>* chars,
                      std::vector<bool>* damaged) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        if (state_ == 2) {
            chars->push_back(byte);
            damaged->push_back(true);
            state_ = 0;
        } else if (state_ == 1) {
            if (byte == 0x00) {
                state_ = 2;
                continue;
            }
            // FF FF is a data FF; FF before anything else cannot come from
            // the kernel, and is kept as the two characters it shows.
            chars->push_back(0xFF);
            damaged->push_back(false);
            if (byte != 0xFF) {
                chars->push_back(byte);
                damaged->push_back(false);
            }
            state_ = 0;
        } else if (byte == 0xFF) {
            state_ = 1;
        } else {
            chars->push_back(byte);
            damaged->push_back(false);
        }
    }
}

}  // namespace morvane::monitor
