// RK512 telegram layouts and the sizing that FETCH and SEND share: request
// headers, words of a transfer, data bytes per telegram, labels and framing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gates/gate_address.h"
#include "link/link3964.h"
#include "morvane/morvane.h"

namespace morvane {

constexpr uint8_t kRk512Fetch = 0x45;  // 'E'
constexpr uint8_t kRk512Send = 0x41;   // 'A'

constexpr uint16_t kFirstHeaderBytes = 10;
constexpr uint16_t kFollowOnHeaderBytes = 4;
constexpr uint16_t kReplyHeaderBytes = 4;
constexpr size_t kReplyErrorByte = 3;
// The first byte of a reply: which kind of telegram it answers.
constexpr uint8_t kReplyFirstTelegram = 0x00;
constexpr uint8_t kReplyFollowOnTelegram = 0xFF;
// The longest telegram before framing: a first SEND telegram with full data.
constexpr size_t kMaxTelegramBytes = kFirstHeaderBytes + MORVANE_TELEGRAM_DATA_SIZE;
// Framed, every byte may be a doubled DLE, then DLE ETX and the block check.
constexpr size_t FramedBytes(size_t plain) {
    return 2 * plain + 2 + 1;
}
static_assert(FramedBytes(kMaxTelegramBytes) <= kLinkBufferSize,
              "the link buffer holds the longest framed telegram");
static_assert(FramedBytes(kReplyHeaderBytes + MORVANE_TELEGRAM_DATA_SIZE) <= kLinkBufferSize,
              "the link buffer holds the longest framed reply");

constexpr size_t kLabelSize = 24;

// Words of the whole transfer: words per item times the item count, 16 bits
// as the header carries them.
uint16_t TransferWords(const TransferBlock& block);

// Writes the header of telegram index into out (kFirstHeaderBytes room):
// the first telegram names data block, start word and the total words; a
// follow-on telegram only repeats the command. Returns the header length.
uint16_t BuildRequestHeader(uint8_t* out, uint8_t command, const TransferBlock& block,
                            uint32_t telegram_index);

// Data bytes FETCH telegram index asks for, or SEND telegram index carries:
// its share of the transfer's words.
inline uint16_t TelegramDataBytes(const TransferBlock& block, uint32_t telegram_index) {
    return TelegramDataBytes(2u * TransferWords(block), telegram_index);
}

// "fetch" for the first telegram, "follow-on <index>" for the others.
void MakeLabel(char (&label)[kLabelSize], uint32_t telegram_index);

// Frames the telegram into framed (kLinkBufferSize bytes) and appends the
// block check character in 3964R. Returns the length to send.
uint16_t FrameTelegram(const uint8_t* telegram, uint16_t length, uint8_t variant, uint8_t* framed);

}  // namespace morvane
