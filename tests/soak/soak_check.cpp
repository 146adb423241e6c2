#include "soak/soak_check.h"

#include <cstdio>

namespace morvane::soak {
namespace {

constexpr int kDetailLines = 6;

void Note(Verdict& verdict, int* lines, const char* format, unsigned a, unsigned b, unsigned c) {
    if ((*lines)++ >= kDetailLines) return;
    char text[96];
    std::snprintf(text, sizeof text, format, a, b, c);
    verdict.detail += text;
}

void JudgeWords(const Transfer& t, int32_t result, const Words& before, const Words& after,
                Verdict& verdict, int* lines) {
    const bool write = IsWrite(t.op);
    const Words wanted = write ? ExpectedWrittenWords(t, before) : Words{};
    for (size_t i = 0; i < after.size(); ++i) {
        const bool in_range = write && i >= t.first_word && i < t.first_word + t.words;
        if (!in_range) {
            if (after[i] == before[i]) continue;
            ++verdict.foreign_words;
            Note(verdict, lines, "  word %u changed %04X -> %04X outside the range\n",
                 static_cast<unsigned>(i), before[i], after[i]);
            continue;
        }
        const uint16_t fresh = wanted[i - t.first_word];
        if (after[i] != before[i] && after[i] != fresh) {
            ++verdict.foreign_words;
            Note(verdict, lines, "  word %u holds %04X, neither old nor new (new %04X)\n",
                 static_cast<unsigned>(i), after[i], fresh);
        } else if (result == 0 && after[i] != fresh) {
            ++verdict.wrong_values;
            Note(verdict, lines, "  word %u kept %04X after a good write of %04X\n",
                 static_cast<unsigned>(i), after[i], fresh);
        }
    }
}

void JudgeBuffer(const Transfer& t, int32_t result, const Words& before,
                 const HostBytes& host_after, Verdict& verdict, int* lines) {
    const bool good_read = !IsWrite(t.op) && result == 0;
    const HostBytes wanted = good_read ? ExpectedReadBuffer(t, before) : t.host;
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (host_after[i] == wanted[i]) continue;
        if (good_read) {
            ++verdict.wrong_values;
        } else {
            verdict.buffer_touched = true;
        }
        Note(verdict, lines, "  buffer byte %u is %02X, not %02X\n", static_cast<unsigned>(i),
             host_after[i], wanted[i]);
    }
}

}  // namespace

Verdict Judge(const Transfer& transfer, int32_t result, const Words& before, const Words& after,
              const HostBytes& host_after) {
    Verdict verdict;
    int lines = 0;
    JudgeWords(transfer, result, before, after, verdict, &lines);
    JudgeBuffer(transfer, result, before, host_after, verdict, &lines);
    return verdict;
}

}  // namespace morvane::soak
