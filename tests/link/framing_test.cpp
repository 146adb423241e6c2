// Framing, block check and removal of doubling: wire vectors.
#include <gtest/gtest.h>

#include "link/link3964.h"
#include "link_test_support.h"

namespace morvane {
namespace {

using test::Hex;
using test::ToHex;
using test::Wire;

struct FrameVector {
    const char* payload;
    const char* framed;  // closing DLE ETX included
    uint8_t bcc;         // over the framed bytes
};

const FrameVector kFrameVectors[] = {
    {"", "10 03", 0x13},
    {"00 10 03", "00 10 10 03 10 03", 0x10},
    // The first FETCH telegram for data block 1, word 2, one word: its BCC is DLE.
    {"00 00 45 44 01 02 00 01 FF FF", "00 00 45 44 01 02 00 01 FF FF 10 03", 0x10},
    // Data block 10, word 16, two words: the start word doubles.
    {"00 00 45 44 0A 10 00 02 FF FF", "00 00 45 44 0A 10 10 00 02 FF FF 10 03", 0x1A},
    {"10 10", "10 10 10 10 10 03", 0x13},
    {"10", "10 10 10 03", 0x13},
};

TEST(Framing, PayloadsFrameToWireVectorsWithTheirBlockCheck) {
    for (const FrameVector& v : kFrameVectors) {
        const Wire payload = Hex(v.payload);
        uint8_t framed[kLinkBufferSize];
        const uint16_t length =
            FrameBlock(payload.data(), framed, static_cast<uint16_t>(payload.size()));
        EXPECT_EQ(ToHex(Wire(framed, framed + length)), v.framed) << v.payload;
        EXPECT_EQ(ComputeBcc(framed, length), v.bcc) << v.payload;
    }
}

TEST(Framing, LongestSendTelegramAllDleFitsTheBuffer) {
    // 138 bytes doubled throughout, DLE ETX, BCC: 279 bytes of 300.
    const Wire payload(138, kDle);
    uint8_t framed[kLinkBufferSize + 1];
    framed[279] = 0xA5;
    const uint16_t length = FrameBlock(payload.data(), framed, 138);
    EXPECT_EQ(length, 278);
    EXPECT_EQ(framed[276], kDle);
    EXPECT_EQ(framed[277], kEtx);
    EXPECT_EQ(framed[279], 0xA5);
}

struct UndoubleVector {
    const char* raw;  // the counted bytes followed by the closing DLE ETX
    uint16_t counted;
    const char* plain;
};

const UndoubleVector kUndoubleVectors[] = {
    {"41 42 10 03", 2, "41 42"},
    {"41 10 10 10 03", 3, "41 10"},
    {"10 10 03 10 03", 3, "10 03"},
    {"10 10 10 10 10 03", 4, "10 10"},
    // A reply header with error byte DLE and data DLE DLE: 00 00 00 10 | 10 10.
    {"00 00 00 10 10 10 10 10 10 10 03", 9, "00 00 00 10 10 10"},
    {"10 03", 0, ""},
};

TEST(Framing, UndoubleRemovesOneDleOfEveryPair) {
    for (const UndoubleVector& v : kUndoubleVectors) {
        const Wire raw = Hex(v.raw);
        uint8_t plain[kLinkBufferSize];
        const uint16_t length = UndoubleDle(raw.data(), plain, v.counted);
        EXPECT_EQ(ToHex(Wire(plain, plain + length)), v.plain) << v.raw;
    }
}

TEST(Framing, FrameThenUndoubleGivesThePayloadBack) {
    Wire payload;
    for (int i = 0; i < 138; ++i)
        payload.push_back(static_cast<uint8_t>(i * 7 % 5 == 0 ? kDle : i));
    uint8_t framed[kLinkBufferSize];
    const uint16_t length = FrameBlock(payload.data(), framed, 138);
    uint8_t plain[kLinkBufferSize];
    const uint16_t plain_length = UndoubleDle(framed, plain, length - 2);
    EXPECT_EQ(Wire(plain, plain + plain_length), payload);
}

}  // namespace
}  // namespace morvane
