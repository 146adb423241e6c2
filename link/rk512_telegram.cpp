#include "link/rk512_telegram.h"

#include <cstdio>

#include "gates/gate_address.h"

namespace morvane {

uint16_t TransferWords(const TransferBlock& block) {
    return static_cast<uint16_t>(WordsPerItem(block.gate) * static_cast<uint32_t>(block.count));
}

uint16_t BuildRequestHeader(uint8_t* out, uint8_t command, const TransferBlock& block,
                            uint32_t telegram_index) {
    if (telegram_index != 0) {
        out[0] = 0xFF;
        out[1] = 0x00;
        out[2] = command;
        out[3] = 'D';
        return kFollowOnHeaderBytes;
    }
    const uint16_t total_words = TransferWords(block);
    const uint32_t start_word = ItemIndexOf(block.gate) * WordsPerItem(block.gate);
    out[0] = 0x00;
    out[1] = 0x00;
    out[2] = command;
    out[3] = 'D';
    out[4] = DataBlockOf(block.gate);
    out[5] = static_cast<uint8_t>(start_word);
    out[6] = static_cast<uint8_t>(total_words >> 8);
    out[7] = static_cast<uint8_t>(total_words);
    out[8] = 0xFF;  // no coordination flag
    out[9] = 0xFF;
    return kFirstHeaderBytes;
}

void MakeLabel(char (&label)[kLabelSize], uint32_t telegram_index) {
    if (telegram_index == 0)
        std::snprintf(label, sizeof label, "fetch");
    else
        std::snprintf(label, sizeof label, "follow-on %u", telegram_index);
}

uint16_t FrameTelegram(const uint8_t* telegram, uint16_t length, uint8_t variant, uint8_t* framed) {
    uint16_t framed_length = FrameBlock(telegram, framed, length);
    if (variant == 1) {
        framed[framed_length] = ComputeBcc(framed, framed_length);
        ++framed_length;
    }
    return framed_length;
}

}  // namespace morvane
