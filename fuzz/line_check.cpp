#include "fuzz/line_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "morvane/morvane.h"

namespace morvane::fuzz {
namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kFetch = 'E';
constexpr uint8_t kSend = 'A';
constexpr size_t kFirstHeader = 10;
constexpr size_t kFollowOnHeader = 4;

// The telegram inside the frame, or the reason the frame is broken.
const char* Unframe(const uint8_t* bytes, size_t length, bool is_3964r,
                    std::vector<uint8_t>* telegram) {
    size_t i = 0;
    for (;; ++i) {
        if (i >= length) return "frame without DLE ETX";
        if (bytes[i] != kDle) {
            telegram->push_back(bytes[i]);
            continue;
        }
        if (i + 1 >= length) return "frame ends in a single DLE";
        if (bytes[i + 1] == kEtx) break;
        if (bytes[i + 1] != kDle) return "DLE not doubled";
        telegram->push_back(kDle);
        ++i;
    }
    const size_t framed = i + 2;
    if (!is_3964r) return framed == length ? nullptr : "bytes after DLE ETX";
    if (framed + 1 != length) return "no single block check after DLE ETX";
    uint8_t bcc = 0;
    for (size_t k = 0; k < framed; ++k)
        bcc ^= bytes[k];
    return bcc == bytes[framed] ? nullptr : "wrong block check";
}

}  // namespace

const char* WrittenLineCheck::Next(const uint8_t* bytes, size_t length) {
    if (length == 0) return "empty write";
    if (length == 1) {
        const uint8_t c = bytes[0];
        return c == kStx || c == kDle || c == kNak ? nullptr : "stray control character";
    }
    std::vector<uint8_t> telegram;
    if (const char* broken = Unframe(bytes, length, transfer_.is_3964r, &telegram)) return broken;
    return CheckTelegram(telegram);
}

const char* WrittenLineCheck::CheckTelegram(const std::vector<uint8_t>& t) {
    if (t.size() < kFollowOnHeader) return "telegram shorter than a header";
    const bool first = t[0] == 0x00;
    if ((t[0] != 0x00 && t[0] != 0xFF) || t[1] != 0x00) return "wrong telegram head";
    if (t[3] != 'D') return "not a data block telegram";
    const bool fetch = t[2] == kFetch;
    if (fetch ? !transfer_.fetch_allowed : t[2] != kSend || !transfer_.send_allowed)
        return "command foreign to the transfer";
    const uint16_t words = fetch ? transfer_.fetch_words : transfer_.total_words;
    const size_t header = first ? kFirstHeader : kFollowOnHeader;
    if (t.size() < header) return "first telegram shorter than its header";
    telegram_index_ = first ? 0 : telegram_index_ + 1;
    const size_t telegrams =
        words == 0 ? 1 : (2 * size_t{words} - 1) / MORVANE_TELEGRAM_DATA_SIZE + 1;
    if (telegram_index_ >= telegrams) return "follow-on sent again or beyond the transfer";
    if (first) {
        if (t[4] != transfer_.data_block) return "wrong data block";
        if (t[5] != transfer_.start_word) return "wrong start word";
        if ((t[6] << 8 | t[7]) != words) return "wrong word count";
        if (t[8] != 0xFF || t[9] != 0xFF) return "coordination flag set";
    }
    const size_t data = t.size() - header;
    if (fetch) return data == 0 ? nullptr : "FETCH with data";
    return CheckSendData(t.data() + header, data, telegram_index_);
}

const char* WrittenLineCheck::CheckSendData(const uint8_t* data, size_t length,
                                            size_t index) const {
    const size_t all = 2 * size_t{transfer_.total_words};
    const size_t from = index * MORVANE_TELEGRAM_DATA_SIZE;
    const size_t expected = std::min<size_t>(all - from, MORVANE_TELEGRAM_DATA_SIZE);
    if (length != expected) return "SEND data not the telegram's length";
    const std::vector<uint8_t>& values = transfer_.send_data;
    if (values.empty()) return nullptr;
    if (values.size() != all || std::memcmp(data, values.data() + from, length) != 0)
        return "SEND data not the host's values of its place";
    return nullptr;
}

}  // namespace morvane::fuzz
