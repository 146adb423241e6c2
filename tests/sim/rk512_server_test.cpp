// The simulator's RK512 side: replies and error numbers, first and
// follow-on telegrams, as telegram vectors.
#include <gtest/gtest.h>

#include "sim/rk512_server.h"
#include "support/hex_bytes.h"

namespace plcsim {
namespace {

using morvane::test::Hex;

class Rk512 : public ::testing::Test {
  protected:
    void SetUp() override {
        blocks_.Declare(1, 8);
        for (uint16_t i = 0; i < 8; ++i)
            blocks_.SetWord(1, i, static_cast<uint16_t>(0x0100 + i));
        blocks_.set_create_on_demand(false);
    }
    Bytes Handle(const std::string& hex) { return server_.Handle(Hex(hex)); }
    DataBlocks blocks_;
    Rk512Server server_{blocks_};
};

TEST_F(Rk512, SingleTelegramRequestsAndTheirErrorNumbers) {
    struct {
        const char* telegram;
        const char* reply;
    } const cases[] = {
        {"00 00 45 44 01 02 00 01 FF FF", "00 00 00 00 01 02"},
        {"00 00 45 44 01 06 00 02 FF FF", "00 00 00 00 01 06 01 07"},
        {"00 00 45 44 01 07 00 02 FF FF", "00 00 00 34"},  // one word beyond the end
        {"00 00 45 44 02 00 00 01 FF FF", "00 00 00 14"},  // no data block 2
        {"00 00 58 44 01 00 00 01 FF FF", "00 00 00 16"},  // command 'X'
        {"00 00 45 4D 01 00 00 01 FF FF", "00 00 00 16"},  // data type 'M'
        {"00 01 45 44 01 00 00 01 FF FF", "00 00 00 16"},  // byte 1 not 0
        {"00 00 45 44 01", "00 00 00 16"},                 // header cut short
        {"07 00 45 44 01 00 00 01 FF FF", "00 00 00 16"},  // neither first nor follow-on
        {"00 00 41 44 01 03 00 01 FF FF BE EF", "00 00 00 00"},
        {"00 00 41 44 01 03 00 02 FF FF BE EF", "00 00 00 0C"},  // data for one word of two
        {"FF 00 45 44", "FF 00 00 10"},                          // no transfer open
    };
    for (const auto& c : cases)
        EXPECT_EQ(Handle(c.telegram), Hex(c.reply)) << c.telegram;
    EXPECT_EQ(blocks_.Word(1, 3), 0xBEEF);
    EXPECT_EQ(blocks_.Word(1, 4), 0x0104);  // the refused SEND wrote nothing
}

TEST_F(Rk512, FetchOfAHundredWordsTakesAFirstAndAFollowOnTelegram) {
    blocks_.set_create_on_demand(true);  // block 9 is created by the first access
    const Bytes first = Handle("00 00 45 44 09 0A 00 64 FF FF");
    ASSERT_EQ(first.size(), 4u + 128u);
    EXPECT_TRUE(server_.transfer_open());
    blocks_.SetWord(9, 10 + 64, 0xCAFE);
    const Bytes next = Handle("FF 00 45 44");
    ASSERT_EQ(next.size(), 4u + 72u);
    EXPECT_EQ(Bytes(next.begin(), next.begin() + 6), Hex("FF 00 00 00 CA FE"));
    EXPECT_FALSE(server_.transfer_open());
    EXPECT_EQ(Handle("FF 00 45 44"), Hex("FF 00 00 10"));
}

TEST_F(Rk512, SendOfAHundredWordsWritesBothTelegramsData) {
    blocks_.Declare(4, 256);
    Bytes first = Hex("00 00 41 44 04 00 00 64 FF FF");
    for (int i = 0; i < 64; ++i) {
        first.push_back(0x00);
        first.push_back(static_cast<uint8_t>(i));
    }
    EXPECT_EQ(server_.Handle(first), Hex("00 00 00 00"));
    Bytes next = Hex("FF 00 41 44");
    for (int i = 64; i < 100; ++i) {
        next.push_back(0x10);
        next.push_back(static_cast<uint8_t>(i));
    }
    EXPECT_EQ(server_.Handle(next), Hex("FF 00 00 00"));
    EXPECT_EQ(blocks_.Word(4, 63), 0x003F);
    EXPECT_EQ(blocks_.Word(4, 64), 0x1040);
    EXPECT_EQ(blocks_.Word(4, 99), 0x1063);
    EXPECT_EQ(blocks_.Word(4, 100), 0x0000);
}

TEST_F(Rk512, FollowOnMustMatchTheOpenTransfer) {
    blocks_.Declare(4, 256);
    ASSERT_EQ(Handle("00 00 45 44 04 00 00 64 FF FF").size(), 132u);
    EXPECT_EQ(Handle("FF 00 41 44 00 00"), Hex("FF 00 00 10"));  // SEND after a FETCH
    EXPECT_FALSE(server_.transfer_open());
    // A new first telegram ends an open transfer.
    ASSERT_EQ(Handle("00 00 45 44 04 00 00 64 FF FF").size(), 132u);
    ASSERT_EQ(Handle("00 00 45 44 04 00 00 01 FF FF").size(), 6u);
    EXPECT_EQ(Handle("FF 00 45 44"), Hex("FF 00 00 10"));
}

TEST_F(Rk512, RangeIsCheckedForTheWholeTransferUpFront) {
    blocks_.Declare(4, 100);
    EXPECT_EQ(Handle("00 00 45 44 04 00 00 65 FF FF"), Hex("00 00 00 34"));
    EXPECT_EQ(Handle("00 00 45 44 04 24 00 40 FF FF").size(), 132u);  // words 36..99
    EXPECT_EQ(Handle("00 00 45 44 04 FF 00 01 FF FF"), Hex("00 00 00 34"));
}

}  // namespace
}  // namespace plcsim
