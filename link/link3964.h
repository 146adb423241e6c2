// The 3964/3964R link procedure: framing, block check, connection set-up,
// acknowledgements and receiving the partner's block (the draining of its
// pending telegrams is in link/quiet_line.h). Stateless; works on the
// channel's port handle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "morvane/morvane.h"
#include "serial/serial_port.h"

namespace morvane {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kNak = 0x15;

// Every block buffer of the link layer and the exchanges.
constexpr size_t kLinkBufferSize = 300;

// What each line operation came to.
enum class SendResult {
    kSent,
    kWriteFailed,  // the device took fewer bytes than asked, or the write failed
};

enum class AckResult {
    kAcknowledged,
    kNak,    // the partner answered NAK
    kOther,  // another byte, a damaged one, or nothing within the read time-out
};

enum class ReadyResult {
    kReady,
    kReadyAfterConflict,  // the partner asked for the line too: its telegram is pending
    kNotResponding,
};

enum class ReceiveResult {
    kReceived,
    kTimedOut,  // a byte or the block check character did not arrive
    kNak,       // the partner sent NAK instead of a block
    kBadBlock,  // the block check failed or a character arrived damaged
    kTooLong,   // the block would not fit the buffer
};

SendResult SendBlock(PortHandle port, const uint8_t* bytes, uint16_t length);
SendResult SendByte(PortHandle port, uint8_t character);
// Answers anything but the expected character with NAK.
AckResult ExpectByte(PortHandle port, uint8_t expected);
ReadyResult CheckIfReady(PortHandle port);

// Receives one block into buffer (kLinkBufferSize bytes); *length is the
// count without the closing DLE ETX. A block that would not fit is refused.
ReceiveResult Receive(PortHandle port, uint8_t variant, uint8_t* buffer, uint16_t* length);

// Frames payload into destination (room for 2 * length + 2): DLE doubled,
// DLE ETX appended. Returns the framed length, BCC not included.
uint16_t FrameBlock(const uint8_t* source, uint8_t* destination, uint16_t length);
uint8_t ComputeBcc(const uint8_t* bytes, uint16_t length);
// May read source[length] (the DLE of the closing DLE ETX in a received block).
uint16_t UndoubleDle(const uint8_t* source, uint8_t* destination, uint16_t length);

}  // namespace morvane
