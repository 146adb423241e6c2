// The shapes of RK512 telegrams as the monitor tells them apart: a first
// telegram (FETCH 'E' or SEND 'A' with its header), a follow-on telegram,
// and the words a telegram or reply carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "monitor/events.h"

namespace morvane::monitor {

inline constexpr size_t kDataPerTelegram = 128;

inline bool IsCommand(uint8_t byte) {
    return byte == 'E' || byte == 'A';
}
inline bool IsFirstTelegram(const std::vector<uint8_t>& p) {
    return p.size() >= 10 && p[0] == 0 && p[1] == 0 && IsCommand(p[2]) && p[3] == 'D';
}
inline bool IsFollowOn(const std::vector<uint8_t>& p) {
    return p.size() >= 4 && p[0] == 0xFF && p[1] == 0 && IsCommand(p[2]) && p[3] == 'D';
}
inline TransferKind KindOf(const std::vector<uint8_t>& telegram) {
    return telegram[2] == 'E' ? TransferKind::kFetch : TransferKind::kSend;
}

// Kind, data block, start word and count of a first telegram.
inline void ReadRequest(const std::vector<uint8_t>& p, Transfer* t) {
    t->kind = KindOf(p);
    t->data_block = p[4];
    t->start_word = p[5];
    t->words = static_cast<uint16_t>(p[6] << 8 | p[7]);
}

// Appends the words of the bytes from `from` on.
inline void AddWords(const std::vector<uint8_t>& bytes, size_t from, std::vector<uint16_t>* words) {
    for (size_t i = from; i + 1 < bytes.size(); i += 2)
        words->push_back(static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]));
}

}  // namespace morvane::monitor
