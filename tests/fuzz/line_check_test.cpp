// The fuzzer's judgement of what the driver writes: the driver's own
// telegrams pass, every kind of broken one is caught.
#include "fuzz/line_check.h"

#include <gtest/gtest.h>

#include <string>

#include "support/hex_bytes.h"

namespace morvane::fuzz {
namespace {

using test::Hex;
using test::Wire;

// Reading 100 words of DB 5 from word 0; the write of 2 words at DB 5, word 16.
constexpr TransferOnLine kRead{true, true, false, 5, 0, 100, 100};
constexpr TransferOnLine kWrite{true, false, true, 5, 16, 2, 2};
constexpr TransferOnLine kWritePlain{false, false, true, 5, 16, 2, 2};

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
        {"3964 SEND", kWritePlain, "00 00 41 44 05 10 10 00 02 FF FF 00 01 10 10 00 10 03", true},
        {"3964 SEND with a check", kWritePlain,
         "00 00 41 44 05 10 10 00 02 FF FF 00 01 10 10 00 10 03 10", false},
    };
    for (const BlockCase& c : cases) {
        const Wire bytes = Hex(c.bytes);
        const char* wrong = CheckWrittenBlock(bytes.data(), bytes.size(), c.transfer);
        EXPECT_EQ(wrong == nullptr, c.accepted)
            << c.name << ": " << (wrong != nullptr ? wrong : "accepted");
    }
}

}  // namespace
}  // namespace morvane::fuzz
