// Transfers of one telegram and of many, the 4096-byte limit of block reads,
// and the transfers refused before anything goes on the line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/e2e_fixture.h"

namespace morvane::test {
namespace {

constexpr uint8_t kBigBlock = 2;

// Words that differ from their neighbours and include DLE bytes.
uint16_t Pattern(size_t i, uint16_t seed) {
    return static_cast<uint16_t>(i * 0x1011u + seed);
}

// The telegrams of a block transfer of words from word 0 of kBigBlock: for a
// SEND each carries its share of the data, most significant byte first.
std::vector<Bytes> ExpectedTelegrams(uint8_t command, const Words& words) {
    std::vector<Bytes> telegrams;
    const size_t count = words.size();
    for (size_t first = 0; first == 0 || first < count; first += 64) {
        Bytes telegram = first == 0 ? Header(command, kBigBlock, 0, static_cast<uint16_t>(count))
                                    : FollowOn(command);
        for (size_t i = first; command == 'A' && i < count && i < first + 64; ++i) {
            telegram.push_back(static_cast<uint8_t>(words[i] >> 8));
            telegram.push_back(static_cast<uint8_t>(words[i]));
        }
        telegrams.push_back(telegram);
    }
    return telegrams;
}

// Word count and 3964R.
class TransferSizes : public DriverAgainstSim,
                      public ::testing::WithParamInterface<std::tuple<int, bool>> {
  protected:
    void SetUp() override {
        StartChannel(std::get<1>(GetParam()));
        plc().DeclareBlock(kBigBlock, 2048);
    }
};

TEST_P(TransferSizes, BlockReadCollectsEveryTelegram) {
    const size_t count = static_cast<size_t>(std::get<0>(GetParam()));
    Words expected(count);
    for (size_t i = 0; i < count; ++i) {
        expected[i] = Pattern(i, 0x0203);
        plc().SetWord(kBigBlock, static_cast<uint16_t>(i), expected[i]);
    }
    Words host(count + 1, 0xEEEE);

    ASSERT_EQ(Run(MORVANE_CMD_BLOCK_READ, Gate("002000", MORVANE_GATE_WORD, true),
                  static_cast<int32_t>(count), host.data()),
              MORVANE_OK)
        << log_.Dump();
    EXPECT_EQ(Words(host.begin(), host.end() - 1), expected);
    EXPECT_EQ(host.back(), 0xEEEE) << "nothing behind the block is written";
    EXPECT_EQ(Telegrams(), ExpectedTelegrams('E', expected));
}

TEST_P(TransferSizes, BlockWriteSendsEveryTelegram) {
    const size_t count = static_cast<size_t>(std::get<0>(GetParam()));
    Words host(count);
    for (size_t i = 0; i < count; ++i)
        host[i] = Pattern(i, 0x1110);

    ASSERT_EQ(Run(MORVANE_CMD_BLOCK_WRITE, Gate("002000", MORVANE_GATE_WORD, true),
                  static_cast<int32_t>(count), host.data()),
              MORVANE_OK)
        << log_.Dump();
    EXPECT_EQ(Telegrams(), ExpectedTelegrams('A', host));
    for (size_t i = 0; i < count; ++i)
        ASSERT_EQ(plc().Word(kBigBlock, static_cast<uint16_t>(i)), host[i]) << "word " << i;
}

INSTANTIATE_TEST_SUITE_P(Words, TransferSizes,
                         ::testing::Combine(::testing::Values(64, 65, 100, 1024, 2048),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_3964R" : "_3964");
                         });

using Limits = DriverAgainstSim;

TEST_F(Limits, BlockReadOf4096BytesOfFloatsIsAllowedOneMoreFloatIsNot) {
    StartChannel();
    plc().DeclareBlock(kBigBlock, 2048);
    for (uint16_t i = 0; i < 2048; i += 2)
        plc().SetWord(kBigBlock, i, 0x0140);  // 1.0 with the following zero word
    std::vector<float> host(1025, -7.0f);
    const GateAddress gate = Gate("002000F", MORVANE_GATE_FLOAT, true);

    ASSERT_EQ(Run(MORVANE_CMD_BLOCK_READ, gate, 1024, host.data()), MORVANE_OK) << log_.Dump();
    EXPECT_EQ(Telegrams().size(), 32u);
    EXPECT_EQ(std::vector<float>(host.begin(), host.end() - 1), std::vector<float>(1024, 1.0f));
    EXPECT_EQ(host.back(), -7.0f);

    plc().ClearReceived();
    std::vector<float> untouched(1025, -7.0f);
    EXPECT_EQ(Run(MORVANE_CMD_BLOCK_READ, gate, 1025, untouched.data()), MORVANE_REQUEST_FAILED);
    EXPECT_TRUE(log_.Has(MORVANE_LOG_OPERATOR, "ZIDIV> BlockRead() error, bytes requested > 4096"));
    EXPECT_TRUE(Telegrams().empty());
    EXPECT_EQ(untouched, std::vector<float>(1025, -7.0f));
}

TEST_F(Limits, BlockReadOf51LongStringsFillsTheirSlots) {
    StartChannel();
    plc().DeclareBlock(kBigBlock, 2048);
    std::string text;
    for (int i = 0; i < 51 * 80; ++i)
        text += static_cast<char>('A' + i % 26);
    text[80 + 10] = '\0';  // string 1 ends after 10 characters
    for (size_t i = 0; i < text.size(); i += 2)
        plc().SetWord(kBigBlock, static_cast<uint16_t>(i / 2),
                      static_cast<uint16_t>(static_cast<uint8_t>(text[i]) << 8 |
                                            static_cast<uint8_t>(text[i + 1])));
    HostBytes host(51 * MORVANE_STRING_SLOT_SIZE, kUntouched);

    ASSERT_EQ(
        Run(MORVANE_CMD_BLOCK_READ, Gate("002000S80", MORVANE_GATE_STRING, true), 51, host.data()),
        MORVANE_OK)
        << log_.Dump();
    EXPECT_EQ(Telegrams().size(), 32u);
    for (size_t slot = 0; slot < 51; ++slot) {
        SCOPED_TRACE(slot);
        const char* value =
            reinterpret_cast<const char*>(host.data() + MORVANE_STRING_SLOT_SIZE * slot);
        const std::string stored = text.substr(80 * slot, 80);
        EXPECT_EQ(std::string(value), stored.substr(0, stored.find('\0')));
        EXPECT_EQ(value[80], '\0');
    }
}

// Refused before anything goes on the line, with 1, a log line naming the
// command and the host's buffer as it was.
struct Refusal {
    const char* name;
    const char* address;
    uint32_t gate_type;
    uint32_t command;
    int32_t count;
    const char* log_line;
    bool beyond_staging = false;  // operators see it too
};

TEST_F(Limits, TransfersThatCannotBeCarriedAreRefusedBeforeTheLine) {
    StartChannel();
    const std::vector<Refusal> refusals = {
        {"block read whose bytes exceed 16 bits", "001000", MORVANE_GATE_WORD,
         MORVANE_CMD_BLOCK_READ, 32768, "ZIDIV> BlockRead() error, count 32768 out of range", true},
        {"block read of a negative count", "001000L", MORVANE_GATE_LONG, MORVANE_CMD_BLOCK_READ, -1,
         "ZIDIV> BlockRead() error, count -1 out of range"},
        {"block write whose bytes exceed 16 bits", "001000L", MORVANE_GATE_LONG,
         MORVANE_CMD_BLOCK_WRITE, 16384, "ZIDIV> BlockWrite() error, count 16384 out of range"},
        {"block write of a negative count", "001000", MORVANE_GATE_WORD, MORVANE_CMD_BLOCK_WRITE,
         -5, "ZIDIV> BlockWrite() error, count -5 out of range"},
        {"single read of no value", "001000", MORVANE_GATE_WORD, MORVANE_CMD_SINGLE_READ, 0,
         "ZIDIV> SingleRead() error, count 0 out of range"},
        {"single read of a negative count", "001000F", MORVANE_GATE_FLOAT, MORVANE_CMD_SINGLE_READ,
         -3, "ZIDIV> SingleRead() error, count -3 out of range"},
        {"single read beyond one telegram", "001000F", MORVANE_GATE_FLOAT, MORVANE_CMD_SINGLE_READ,
         33, "ZIDIV> SingleRead() error, count 33 out of range"},
        {"single write of no value", "001000", MORVANE_GATE_WORD, MORVANE_CMD_SINGLE_WRITE, 0,
         "ZIDIV> SingleWrite() error, count 0 out of range"},
        {"single write of two strings", "001000S20", MORVANE_GATE_STRING, MORVANE_CMD_SINGLE_WRITE,
         2, "ZIDIV> SingleWrite() error, count 2 out of range"},
        {"single write of two bits", "00100003", MORVANE_GATE_DIGITAL, MORVANE_CMD_SINGLE_WRITE, 2,
         "ZIDIV> SingleWrite() error, count 2 out of range"},
        {"block write of strings", "001000S20", MORVANE_GATE_STRING, MORVANE_CMD_BLOCK_WRITE, 1,
         "ZIDIV> BlockWrite() no allowed for STRINGS"},
        {"block write of a bit", "00100003", MORVANE_GATE_DIGITAL, MORVANE_CMD_BLOCK_WRITE, 1,
         "ZIDIV> BlockWrite() error, bit 3 in a block"},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        log_.clear();
        plc().ClearReceived();
        HostBytes host(64 * MORVANE_STRING_SLOT_SIZE, kUntouched);
        const HostBytes before = host;
        EXPECT_EQ(Run(r.command, Gate(r.address, r.gate_type), r.count, host.data()),
                  MORVANE_REQUEST_FAILED);
        EXPECT_TRUE(log_.Has(MORVANE_LOG_TRACE, r.log_line)) << log_.Dump();
        EXPECT_EQ(
            log_.Has(MORVANE_LOG_OPERATOR, "ZIDIV> BlockRead() error, bytes requested > 4096"),
            r.beyond_staging);
        EXPECT_TRUE(Telegrams().empty());
        EXPECT_EQ(host, before);
    }
}

// Records the parse commands never produce, as a host could hand them in:
// every transfer command refuses them before the line, the buffer untouched.
struct MalformedRecord {
    const char* name;
    GateAddress gate;
    int32_t count;
    const char* refusal;  // the log line, after "ZIDIV> <command>() error, "
};

GateAddress Record(char letter, uint32_t length, uint32_t item, int32_t bit, int32_t width) {
    return {1, static_cast<uint32_t>(letter), static_cast<int32_t>(length << 24 | 1u << 16 | item),
            bit, width};
}

TEST_F(Limits, MalformedGateRecordsAreRefusedByEveryTransferCommand) {
    StartChannel();
    const std::vector<MalformedRecord> records = {
        {"word claiming 32 bits", Record('I', 0, 0, -1, 32), 33,
         "gate record class 0x49 width 32 not valid"},
        {"string claiming 32 bits", Record('S', 20, 0, -1, 32), 1,
         "gate record class 0x53 width 32 not valid"},
        {"float claiming 16 bits", Record('F', 0, 0, -1, 16), 1,
         "gate record class 0x46 width 16 not valid"},
        {"long claiming 16 bits", Record('L', 0, 0, -1, 16), 1,
         "gate record class 0x4C width 16 not valid"},
        {"width of 8", Record('I', 0, 0, -1, 8), 1, "gate record class 0x49 width 8 not valid"},
        {"unknown class", Record('X', 0, 0, -1, 16), 1,
         "gate record class 0x58 width 16 not valid"},
        {"bit 16", Record('I', 0, 0, 16, 16), 1, "bit 16 out of range"},
        {"bit -2", Record('I', 0, 0, -2, 16), 1, "bit -2 out of range"},
        {"bit of a float", Record('F', 0, 0, 3, 32), 1, "bit 3 out of range"},
        {"string of 82", Record('S', 82, 0, -1, 16), 1, "string length 82 out of range"},
        {"string of 0", Record('S', 0, 0, -1, 16), 1, "string length 0 out of range"},
        {"odd string", Record('S', 21, 0, -1, 16), 1, "string length 21 out of range"},
        {"word 300", Record('I', 0, 300, -1, 16), 1, "start word 300 out of range"},
        {"long at word 256", Record('L', 0, 128, -1, 32), 1, "start word 256 out of range"},
        {"string at word 260", Record('S', 40, 13, -1, 16), 1, "start word 260 out of range"},
    };
    const std::vector<std::pair<uint32_t, const char*>> commands = {
        {MORVANE_CMD_SINGLE_READ, "SingleRead"},
        {MORVANE_CMD_BLOCK_READ, "BlockRead"},
        {MORVANE_CMD_SINGLE_WRITE, "SingleWrite"},
        {MORVANE_CMD_BLOCK_WRITE, "BlockWrite"},
    };
    for (const MalformedRecord& r : records) {
        for (const auto& [command, name] : commands) {
            SCOPED_TRACE(std::string(r.name) + " / " + name);
            log_.clear();
            plc().ClearReceived();
            HostBytes host(64 * MORVANE_STRING_SLOT_SIZE, kUntouched);
            EXPECT_EQ(Run(command, r.gate, r.count, host.data()), MORVANE_REQUEST_FAILED);
            EXPECT_TRUE(log_.Has(MORVANE_LOG_TRACE,
                                 "ZIDIV> " + std::string(name) + "() error, " + r.refusal))
                << log_.Dump();
            EXPECT_TRUE(Telegrams().empty());
            EXPECT_EQ(host, HostBytes(64 * MORVANE_STRING_SLOT_SIZE, kUntouched));
        }
    }
}

TEST_F(Limits, LargestStartWordStillGoesOut) {
    StartChannel();
    uint16_t host[2] = {0xEEEE, 0xEEEE};
    EXPECT_EQ(Run(MORVANE_CMD_BLOCK_READ, Record('I', 0, 255, -1, 16), 1, host), MORVANE_OK)
        << log_.Dump();
    EXPECT_EQ(Telegrams(), (std::vector<Bytes>{Header('E', 1, 255, 1)}));
}

TEST_F(Limits, FloatWritesOfNotANumberAreRefusedBeforeTheFirstTelegram) {
    StartChannel();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    float single = nan;
    EXPECT_EQ(Run(MORVANE_CMD_SINGLE_WRITE, Gate("001000F", MORVANE_GATE_FLOAT), 1, &single),
              MORVANE_REQUEST_FAILED);
    EXPECT_TRUE(log_.Has(MORVANE_LOG_TRACE, "ZIDIV> SingleWrite() error, value 0 is not a number"));

    std::vector<float> block(50, 2.5f);
    block[40] = -nan;  // deep in the second telegram
    EXPECT_EQ(
        Run(MORVANE_CMD_BLOCK_WRITE, Gate("001000F", MORVANE_GATE_FLOAT, true), 50, block.data()),
        MORVANE_REQUEST_FAILED);
    EXPECT_TRUE(log_.Has(MORVANE_LOG_TRACE, "ZIDIV> BlockWrite() error, value 40 is not a number"));
    EXPECT_TRUE(Telegrams().empty());
    EXPECT_TRUE(std::isnan(single));
}

TEST_F(Limits, CountOfZeroStillMakesOneExchangeForNoWords) {
    StartChannel();
    uint16_t host = 0xEEEE;
    EXPECT_EQ(Run(MORVANE_CMD_BLOCK_READ, Gate("001004", MORVANE_GATE_WORD, true), 0, &host),
              MORVANE_OK);
    EXPECT_EQ(Run(MORVANE_CMD_BLOCK_WRITE, Gate("001004", MORVANE_GATE_WORD, true), 0, &host),
              MORVANE_OK);
    EXPECT_EQ(Telegrams(), (std::vector<Bytes>{Header('E', 1, 4, 0), Header('A', 1, 4, 0)}));
    EXPECT_EQ(host, 0xEEEE);
}

}  // namespace
}  // namespace morvane::test
