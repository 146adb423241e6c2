#include "gates/transfer_plan.h"

#include "gates/gate_address.h"
#include "gates/log_texts.h"
#include "link/rk512_fetch.h"
#include "link/rk512_send.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {
namespace {

constexpr uint8_t kShortestString = 2;
constexpr uint32_t kLargestStartWord = 255;

}  // namespace

TransferBlock* UsableTransfer(TevRequest* request) {
    if (request->channel_area == nullptr) return nullptr;
    TransferBlock* block = TransferOf(request);
    if (block == nullptr || (block->count > 0 && block->data == nullptr)) return nullptr;
    return block;
}

uint32_t ItemLineBytes(const GateAddress& gate) {
    if (gate.class_letter == MORVANE_CLASS_WORD) return 2;
    if (gate.class_letter == MORVANE_CLASS_STRING) return StringLengthOf(gate);
    return 4;
}

int64_t TransferBytes(const TransferBlock& block) {
    return int64_t{block.count} * ItemLineBytes(block.gate);
}

int RefuseCount(const char* command, int32_t count) {
    err(MORVANE_LOG_TRACE, log_text::kCountOutOfRange, command, count);
    return MORVANE_REQUEST_FAILED;
}

bool GateRecordAcceptable(const char* command, const GateAddress& gate) {
    const uint32_t letter = gate.class_letter;
    const bool word_or_string = letter == MORVANE_CLASS_WORD || letter == MORVANE_CLASS_STRING;
    const bool wide = letter == MORVANE_CLASS_FLOAT || letter == MORVANE_CLASS_LONG;
    const bool bit_fits = gate.bit_number == -1 || (letter == MORVANE_CLASS_WORD &&
                                                    gate.bit_number >= 0 && gate.bit_number <= 15);
    if (!(word_or_string && gate.width == 16) && !(wide && gate.width == 32)) {
        err(MORVANE_LOG_TRACE, "ZIDIV> %s() error, gate record class 0x%X width %d not valid",
            command, static_cast<unsigned>(letter), static_cast<int>(gate.width));
        return false;
    }
    if (!bit_fits) {
        err(MORVANE_LOG_TRACE, "ZIDIV> %s() error, bit %d out of range", command,
            static_cast<int>(gate.bit_number));
        return false;
    }
    if (letter == MORVANE_CLASS_STRING) {
        // A length the parser never gives would overrun the host's string slots.
        const uint8_t length = StringLengthOf(gate);
        if (length < kShortestString || length > MORVANE_STRING_MAX_LENGTH || length % 2 != 0) {
            err(MORVANE_LOG_TRACE, "ZIDIV> %s() error, string length %d out of range", command,
                static_cast<int>(length));
            return false;
        }
    }
    // The telegram header holds the start word in one byte: a larger one
    // would be cut to its low 8 bits and name another word.
    const uint32_t start_word = uint32_t{ItemIndexOf(gate)} * WordsPerItem(gate);
    if (start_word > kLargestStartWord) {
        err(MORVANE_LOG_TRACE, "ZIDIV> %s() error, start word %u out of range", command,
            static_cast<unsigned>(start_word));
        return false;
    }
    return true;
}

bool TransferAcceptable(const char* command, const TransferBlock& block, int32_t min_count,
                        int64_t max_bytes) {
    const int64_t bytes = TransferBytes(block);
    if (block.count < min_count || bytes < 0 || bytes > max_bytes) {
        RefuseCount(command, block.count);
        return false;
    }
    return true;
}

TelegramResult RunTransfer(TransferKind kind, ChannelArea& area, const TransferBlock& block,
                           ValueLayout layout, const char* repeat_text) {
    const auto exchange = kind == TransferKind::kFetch ? DoRead : DoWrite;
    const uint32_t telegrams = TelegramsFor(static_cast<uint32_t>(TransferBytes(block)));
    TelegramResult result = TelegramResult::kDone;
    for (int pass = 1; pass <= kMaxPasses; ++pass) {
        uint32_t index = 0;
        while (index < telegrams &&
               (result = exchange(area, block, index, layout)) == TelegramResult::kDone)
            ++index;
        if (result == TelegramResult::kDone) return result;
        const PassVerdict verdict = JudgePass(kind, result, index);
        if (verdict.logged) err(MORVANE_LOG_TRACE, repeat_text, pass);
        if (!verdict.again) return result;
    }
    return result;
}

}  // namespace morvane
