// Framing of blocks for the line: DLE doubling, the closing DLE ETX, the
// block check character and the removal of doubling from received blocks.
#include "link/link3964.h"

namespace morvane {

// The destination must hold 2 * length + 2 bytes; the exchanges frame at
// most 138 payload bytes into their 300-byte buffers.
uint16_t FrameBlock(const uint8_t* source, uint8_t* destination, uint16_t length) {
    uint16_t out = 0;
    for (uint16_t i = 0; i < length; ++i) {
        destination[out++] = source[i];
        if (source[i] == kDle) destination[out++] = kDle;
    }
    destination[out++] = kDle;
    destination[out++] = kEtx;
    return out;
}

uint8_t ComputeBcc(const uint8_t* bytes, uint16_t length) {
    uint8_t bcc = 0;
    for (uint16_t i = 0; i < length; ++i)
        bcc ^= bytes[i];
    return bcc;
}

// Looks one byte past the counted ones when the last counted byte is a DLE:
// in a buffer filled by Receive that is the DLE of the closing DLE ETX.
uint16_t UndoubleDle(const uint8_t* source, uint8_t* destination, uint16_t length) {
    uint16_t read = 0;
    uint16_t written = 0;
    while (read < length) {
        if (source[read] == kDle && source[read + 1] == kDle) ++read;
        destination[written++] = source[read++];
    }
    return written;
}

}  // namespace morvane
