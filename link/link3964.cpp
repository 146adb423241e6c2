// The 3964/3964R line operations: sending blocks and control characters,
// expecting an acknowledgement, the connection set-up as active sender and
// the reception of the partner's block. Every read takes one byte and waits
// at most the port's read time-out.
#include "link/link3964.h"

#include "gates/log_texts.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {
namespace {

// True when a byte arrived within the read time-out.
bool ReadByte(PortHandle port, uint8_t* byte) {
    uint32_t read = 0;
    return SerialRead(port, byte, 1, &read) == kSerialOk && read == 1;
}

void SendControl(PortHandle port, uint8_t character) {
    SendBlock(port, &character, 1);
}

// True when the device reported damage on a character read since the last
// look. A damaged character is never taken for the control character it
// looks like, and spoils the block it belongs to.
bool Damaged(PortHandle port) {
    return SerialTakeLineErrors(port) != 0;
}

// A block with a damaged character is answered as one whose block check
// failed, in either procedure: the exchange then repeats its request.
ReceiveResult RefuseDamagedBlock(PortHandle port) {
    err(MORVANE_LOG_TRACE, "%s", log_text::kReceiveDamaged);
    SendByte(port, kDle);
    return ReceiveResult::kBadBlock;
}

}  // namespace

SendResult SendBlock(PortHandle port, const uint8_t* bytes, uint16_t length) {
    uint32_t written = 0;
    const int code = SerialWrite(port, bytes, length, &written);
    return code == kSerialOk && written == length ? SendResult::kSent : SendResult::kWriteFailed;
}

SendResult SendByte(PortHandle port, uint8_t character) {
    return SendBlock(port, &character, 1);
}

AckResult ExpectByte(PortHandle port, uint8_t expected) {
    uint8_t byte = 0;
    const bool arrived = ReadByte(port, &byte);
    const bool control = arrived && (byte == expected || byte == kNak) && !Damaged(port);
    if (control && byte == expected) return AckResult::kAcknowledged;
    SendControl(port, kNak);
    return control && byte == kNak ? AckResult::kNak : AckResult::kOther;
}

// The partner's STX is not answered here: its telegram is taken afterwards
// by DrainPartner, which the exchanges run after a conflict.
ReadyResult CheckIfReady(PortHandle port) {
    bool conflict = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // A request that never reached the line gets no answer: none is
        // waited for (a port that takes no more characters fails at once).
        if (SendByte(port, kStx) != SendResult::kSent) continue;
        uint8_t byte = 0;
        if (!ReadByte(port, &byte)) continue;
        if ((byte == kDle || byte == kStx) && Damaged(port)) continue;
        if (byte == kDle) return conflict ? ReadyResult::kReadyAfterConflict : ReadyResult::kReady;
        if (byte == kStx) conflict = true;
    }
    SendControl(port, kNak);
    err(MORVANE_LOG_TRACE, "%s", log_text::kNotResponding);
    return ReadyResult::kNotResponding;
}

// Stores the block as it arrives (doubled DLEs and the closing DLE ETX
// included) into kLinkBufferSize bytes. The longest legal reply takes 266;
// a block that would need more is refused with NAK before anything is
// written past the buffer.
ReceiveResult Receive(PortHandle port, uint8_t variant, uint8_t* buffer, uint16_t* length) {
    *length = 0;
    uint16_t count = 0;
    uint8_t marker = 0;
    bool damaged = false;  // seen before the block's end (a damaged first NAK)
    for (;;) {
        uint8_t byte = 0;
        if (!ReadByte(port, &byte)) {
            err(MORVANE_LOG_TRACE, "%s", log_text::kReceiveTimeout);
            if (count >= 2) SendByte(port, kDle);
            return ReceiveResult::kTimedOut;
        }
        ++count;
        if (count == 1 && byte == kNak && !(damaged = Damaged(port))) {
            SendByte(port, kDle);
            SendByte(port, kNak);
            err(MORVANE_LOG_TRACE, "%s", log_text::kReceiveNak);
            return ReceiveResult::kNak;
        }
        if (*length >= kLinkBufferSize) {
            SendByte(port, kNak);
            err(MORVANE_LOG_TRACE, "%s", log_text::kReceiveTooLong);
            return ReceiveResult::kTooLong;
        }
        buffer[(*length)++] = byte;
        if (marker == kDle && byte == kEtx) break;
        // The second DLE of a pair can neither open a pair nor the closing DLE ETX.
        marker = marker == kDle && byte == kDle ? 0 : byte;
    }
    if (variant == 1) {
        uint8_t bcc = 0;
        if (!ReadByte(port, &bcc)) {
            err(MORVANE_LOG_TRACE, "%s", log_text::kReceiveNoBcc);
            return ReceiveResult::kTimedOut;
        }
        if (Damaged(port) || damaged) return RefuseDamagedBlock(port);
        if (ComputeBcc(buffer, *length) != bcc) {
            err(MORVANE_LOG_TRACE, "%s", log_text::kReceiveBadBcc);
            SendByte(port, kDle);
            return ReceiveResult::kBadBlock;
        }
    }
    if (variant != 1 && (Damaged(port) || damaged)) return RefuseDamagedBlock(port);
    *length -= 2;
    return ReceiveResult::kReceived;
}

}  // namespace morvane
