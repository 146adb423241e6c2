// The fuzzer's judgement of what the driver writes: the driver's own
// telegrams pass, every kind of broken one is caught.
#include "fuzz/line_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/rk512_telegram.h"

#include "support/hex_bytes.h"

namespace morvane::fuzz {
namespace {

using test::Hex;
using test::Wire;

// Reading 100 words of DB 5 from word 0; the write of 2 words at DB 5, word 16.
const TransferOnLine kRead{true, true, false, 5, 0, 100, 100, {}};
const TransferOnLine kWrite{true, false, true, 5, 16, 2, 2, Hex("00 01 10 00")};
const TransferOnLine kWritePlain{false, false, true, 5, 16, 2, 2, Hex("00 01 10 00")};

struct BlockCase {
    const char* name;
    TransferOnLine transfer;
    const char* bytes;
    bool accepted;
};

TEST(LineCheck, TelegramsAndControlCharacters) {
    const BlockCase cases[] = {
        {"STX", kRead, "02", true},
        {"DLE", kRead, "10", true},
        {"NAK", kRead, "15", true},
        {"ETX alone", kRead, "03", false},
        {"empty write", kRead, "", false},
        {"first FETCH", kRead, "00 00 45 44 05 00 00 64 FF FF 10 03 73", true},
        {"follow-on FETCH", kRead, "FF 00 45 44 10 03 ED", true},
        {"wrong block check", kRead, "00 00 45 44 05 00 00 64 FF FF 10 03 74", false},
        {"no block check", kRead, "00 00 45 44 05 00 00 64 FF FF 10 03", false},
        {"no DLE ETX", kRead, "00 00 45 44 05 00 00 64 FF FF", false},
        {"wrong data block", kRead, "00 00 45 44 06 00 00 64 FF FF 10 03 70", false},
        {"wrong word count", kRead, "00 00 45 44 05 00 00 65 FF FF 10 03 72", false},
        {"SEND in a read", kRead, "00 00 41 44 05 00 00 64 FF FF 10 03 77", false},
        {"SEND, DLE doubled", kWrite, "00 00 41 44 05 10 10 00 02 FF FF 00 01 10 10 00 10 03 10",
         true},
        {"SEND, DLE single", kWrite, "00 00 41 44 05 10 00 02 FF FF 00 01 10 00 10 03 10", false},
        {"SEND, one word short", kWrite, "00 00 41 44 05 10 10 00 02 FF FF 00 01 10 03 10", false},
        {"follow-on of a two-word SEND", kWrite, "FF 00 41 44 00 01 00 02 10 03 EA", false},
        {"SEND of other values", kWrite, "00 00 41 44 05 10 10 00 02 FF FF 00 01 00 10 10 03 10",
         false},
        {"3964 SEND", kWritePlain, "00 00 41 44 05 10 10 00 02 FF FF 00 01 10 10 00 10 03", true},
        {"3964 SEND with a check", kWritePlain,
         "00 00 41 44 05 10 10 00 02 FF FF 00 01 10 10 00 10 03 10", false},
    };
    for (const BlockCase& c : cases) {
        const Wire bytes = Hex(c.bytes);
        const char* wrong = WrittenLineCheck(c.transfer).Next(bytes.data(), bytes.size());
        EXPECT_EQ(wrong == nullptr, c.accepted)
            << c.name << ": " << (wrong != nullptr ? wrong : "accepted");
    }
}

// A SEND of 130 words (three telegrams) of DB 5 from word 0; word i is i.
struct Sequence {
    const char* name;
    std::vector<int> telegrams;  // 0 first, k > 0 a follow-on carrying telegram k's data
    bool last_accepted;
};

Wire SendTelegram(int index, const Wire& values) {
    Wire telegram = index == 0 ? Hex("00 00 41 44 05 00 00 82 FF FF") : Hex("FF 00 41 44");
    const size_t from = MORVANE_TELEGRAM_DATA_SIZE * static_cast<size_t>(index);
    const size_t length = std::min<size_t>(MORVANE_TELEGRAM_DATA_SIZE, values.size() - from);
    telegram.insert(telegram.end(), values.begin() + from, values.begin() + from + length);
    Wire framed(kLinkBufferSize);
    framed.resize(
        FrameTelegram(telegram.data(), static_cast<uint16_t>(telegram.size()), 1, framed.data()));
    return framed;
}

TEST(LineCheck, AFollowOnGoesOnTheLineOnceAndCarriesItsOwnPlace) {
    Wire values;
    for (int word = 0; word < 130; ++word) {
        values.push_back(static_cast<uint8_t>(word >> 8));
        values.push_back(static_cast<uint8_t>(word));
    }
    const TransferOnLine send{true, false, true, 5, 0, 130, 130, values};
    const Sequence cases[] = {
        {"a whole pass", {0, 1, 2}, true},
        {"telegram 0 repeated, then on", {0, 0, 0, 1, 2}, true},
        {"a new pass after a follow-on", {0, 1, 0, 1, 2}, true},
        {"follow-on 1 sent again", {0, 1, 1}, false},
        {"a follow-on beyond the transfer", {0, 1, 2, 2}, false},
        {"follow-on 2's data first", {0, 2}, false},
    };
    for (const Sequence& c : cases) {
        WrittenLineCheck check(send);
        const char* wrong = nullptr;
        for (size_t i = 0; i < c.telegrams.size(); ++i) {
            const Wire block = SendTelegram(c.telegrams[i], values);
            wrong = check.Next(block.data(), block.size());
            if (i + 1 < c.telegrams.size()) {
                ASSERT_EQ(wrong, nullptr) << c.name << " at " << i;
            }
        }
        EXPECT_EQ(wrong == nullptr, c.last_accepted)
            << c.name << ": " << (wrong != nullptr ? wrong : "accepted");
    }
}

}  // namespace
}  // namespace morvane::fuzz
