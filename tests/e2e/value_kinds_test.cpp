// Every kind of value read and written through TevMain, single and block,
// in 3964 and 3964R: the host's buffer, the PLC's words, and the exact
// telegram the PLC received.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"

namespace morvane::test {
namespace {

// Data words holding text, two characters a word, first character high.
Words TextWords(const std::string& text) {
    Words words;
    for (size_t i = 0; i < text.size(); i += 2)
        words.push_back(static_cast<uint16_t>(static_cast<uint8_t>(text[i]) << 8 |
                                              static_cast<uint8_t>(text[i + 1])));
    return words;
}

// A single command's 4-byte value slot holding a 16-bit value in its
// second half; the first half keeps what the host had there.
HostBytes Slot16(uint16_t value) {
    HostBytes bytes{kUntouched, kUntouched};
    AppendU16(&bytes, value);
    return bytes;
}
HostBytes Slot32(uint32_t value) {
    HostBytes bytes;
    AppendU32(&bytes, value);
    return bytes;
}
HostBytes Packed16(const Words& values) {
    HostBytes bytes;
    for (uint16_t value : values)
        AppendU16(&bytes, value);
    return bytes;
}
HostBytes Packed32(const std::vector<uint32_t>& values) {
    HostBytes bytes;
    for (uint32_t value : values)
        AppendU32(&bytes, value);
    return bytes;
}
HostBytes Text(const std::string& text) {
    return HostBytes(text.begin(), text.end());
}
struct ReadCase {
    const char* name;
    const char* address;
    uint32_t gate_type;
    uint32_t command;
    int32_t count;
    uint16_t first_word;  // data block 1
    Words plc_words;
    Bytes telegram;
    HostBytes host_after;  // the buffer starts filled with kUntouched
};

const std::vector<ReadCase>& ReadCases() {
    static const std::vector<ReadCase> cases = {
        {"word",
         "001002",
         MORVANE_GATE_WORD,
         MORVANE_CMD_SINGLE_READ,
         1,
         2,
         {0x1234},
         Header('E', 1, 2, 1),
         Slot16(0x1234)},
        {"bit 12 set",
         "00100212",
         MORVANE_GATE_DIGITAL,
         MORVANE_CMD_SINGLE_READ,
         1,
         2,
         {0x1234},
         Header('E', 1, 2, 1),
         Slot16(1)},
        {"bit 0 clear",
         "00100200",
         MORVANE_GATE_DIGITAL,
         MORVANE_CMD_SINGLE_READ,
         1,
         2,
         {0x1234},
         Header('E', 1, 2, 1),
         Slot16(0)},
        {"32-bit integer",
         "001010L",
         MORVANE_GATE_LONG,
         MORVANE_CMD_SINGLE_READ,
         1,
         10,
         {0x1234, 0x5678},
         Header('E', 1, 10, 2),
         Slot32(0x12345678)},
        {"float",
         "001010F",
         MORVANE_GATE_FLOAT,
         MORVANE_CMD_SINGLE_READ,
         1,
         10,
         {0x0764, 0x0000},
         Header('E', 1, 10, 2),
         Slot32(0x42C80000)},  // 100.0
        {"string", "001030S20", MORVANE_GATE_STRING, MORVANE_CMD_SINGLE_READ, 1, 30,
         TextWords("MORVANE STRING TEST!"), Header('E', 1, 30, 10),
         Text("MORVANE STRING TEST!") + HostBytes{0}},
        {"string cut at its NUL", "001030S20", MORVANE_GATE_STRING, MORVANE_CMD_SINGLE_READ, 1, 30,
         TextWords(std::string("AB\0DEFGHIJKLMNOPQRST", 20)), Header('E', 1, 30, 10),
         Text("AB") + HostBytes(19, 0)},
        {"block of words",
         "001000",
         MORVANE_GATE_WORD,
         MORVANE_CMD_BLOCK_READ,
         5,
         0,
         {1, 0x1002, 0xFFFF, 0x8000, 5},
         Header('E', 1, 0, 5),
         Packed16({1, 0x1002, 0xFFFF, 0x8000, 5})},
        {"block of 32-bit integers",
         "001004L",
         MORVANE_GATE_LONG,
         MORVANE_CMD_BLOCK_READ,
         3,
         4,
         {0x0001, 0x0002, 0xFFFF, 0xFFFE, 0x1010, 0x1010},
         Header('E', 1, 4, 6),
         Packed32({0x00010002, 0xFFFFFFFE, 0x10101010})},
        {"block of floats",
         "001008F",
         MORVANE_GATE_FLOAT,
         MORVANE_CMD_BLOCK_READ,
         2,
         8,
         {0x0140, 0x0000, 0x079C, 0x0000},
         Header('E', 1, 8, 4),
         Packed32({0x3F800000, 0xC2C80000})},  // 1.0, -100.0
        {"block of strings", "001008S08", MORVANE_GATE_STRING, MORVANE_CMD_BLOCK_READ, 3, 8,
         TextWords(std::string("ABCDEFGHAB\0DEFGHzyxwvuts", 24)), Header('E', 1, 8, 12),
         Text("ABCDEFGH") + HostBytes{0} + HostBytes(72, kUntouched) + Text("AB") +
             HostBytes(7, 0) + HostBytes(72, kUntouched) + Text("zyxwvuts") + HostBytes{0}},
    };
    return cases;
}

struct WriteCase {
    const char* name;
    const char* address;
    uint32_t gate_type;
    uint32_t command;
    int32_t count;
    HostBytes host;
    Bytes telegram;
    uint16_t first_word;  // data block 1
    Words plc_after;
};

const std::vector<WriteCase>& WriteCases() {
    static const std::vector<WriteCase> cases = {
        {"word",
         "001002",
         MORVANE_GATE_WORD,
         MORVANE_CMD_SINGLE_WRITE,
         1,
         Slot16(0x1234),
         Header('A', 1, 2, 1) + HostBytes{0x12, 0x34},
         2,
         {0x1234}},
        {"word with DLE bytes",
         "001002",
         MORVANE_GATE_WORD,
         MORVANE_CMD_SINGLE_WRITE,
         1,
         Slot16(0x1010),
         Header('A', 1, 2, 1) + HostBytes{0x10, 0x10},
         2,
         {0x1010}},
        {"32-bit integer",
         "001010L",
         MORVANE_GATE_LONG,
         MORVANE_CMD_SINGLE_WRITE,
         1,
         Slot32(0x12345678),
         Header('A', 1, 10, 2) + HostBytes{0x12, 0x34, 0x56, 0x78},
         10,
         {0x1234, 0x5678}},
        {"float",
         "001010F",
         MORVANE_GATE_FLOAT,
         MORVANE_CMD_SINGLE_WRITE,
         1,
         Slot32(0x3F800000),
         Header('A', 1, 10, 2) + HostBytes{0x01, 0x40, 0x00, 0x00},
         10,
         {0x0140, 0x0000}},
        {"string padded behind its NUL", "001030S20", MORVANE_GATE_STRING, MORVANE_CMD_SINGLE_WRITE,
         1, Text("SHORT") + HostBytes{0} + Text("garbage garbage!"),
         Header('A', 1, 30, 10) + Text("SHORT") + HostBytes(15, 0), 30,
         TextWords(std::string("SHORT") + std::string(15, '\0'))},
        {"block of words",
         "001000",
         MORVANE_GATE_WORD,
         MORVANE_CMD_BLOCK_WRITE,
         3,
         Packed16({0xA1B2, 0x0010, 0x7FFF}),
         Header('A', 1, 0, 3) + HostBytes{0xA1, 0xB2, 0x00, 0x10, 0x7F, 0xFF},
         0,
         {0xA1B2, 0x0010, 0x7FFF}},
        {"block of 32-bit integers",
         "001004L",
         MORVANE_GATE_LONG,
         MORVANE_CMD_BLOCK_WRITE,
         2,
         Packed32({0xDEADBEEF, 1}),
         Header('A', 1, 4, 4) + HostBytes{0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 1},
         4,
         {0xDEAD, 0xBEEF, 0x0000, 0x0001}},
        {"block of floats",
         "001008F",
         MORVANE_GATE_FLOAT,
         MORVANE_CMD_BLOCK_WRITE,
         2,
         Packed32({0x3F800000, 0xBF800000}),  // 1.0, -1.0
         Header('A', 1, 8, 4) + HostBytes{0x01, 0x40, 0x00, 0x00, 0x01, 0xC0, 0x00, 0x00},
         8,
         {0x0140, 0x0000, 0x01C0, 0x0000}},
    };
    return cases;
}

class ValueKinds : public DriverAgainstSim, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override { StartChannel(GetParam()); }
};

TEST_P(ValueKinds, ReadsFillTheHostBufferFromTheRequestedWords) {
    for (const ReadCase& c : ReadCases()) {
        SCOPED_TRACE(c.name);
        for (size_t i = 0; i < c.plc_words.size(); ++i)
            plc().SetWord(1, static_cast<uint16_t>(c.first_word + i), c.plc_words[i]);
        plc().ClearReceived();
        const bool block = c.command == MORVANE_CMD_BLOCK_READ;
        const GateAddress gate = Gate(c.address, c.gate_type, block);
        HostBytes host(c.host_after.size(), kUntouched);

        EXPECT_EQ(Run(c.command, gate, c.count, host.data()), MORVANE_OK) << log_.Dump();
        EXPECT_EQ(host, c.host_after);
        EXPECT_EQ(Telegrams(), std::vector<Bytes>{c.telegram});
    }
}

TEST_P(ValueKinds, WritesPutTheHostValuesIntoTheWords) {
    for (const WriteCase& c : WriteCases()) {
        SCOPED_TRACE(c.name);
        for (size_t i = 0; i < c.plc_after.size(); ++i)
            plc().SetWord(1, static_cast<uint16_t>(c.first_word + i), 0x5555);
        plc().ClearReceived();
        const bool block = c.command == MORVANE_CMD_BLOCK_WRITE;
        const GateAddress gate = Gate(c.address, c.gate_type, block);
        HostBytes host = c.host;

        EXPECT_EQ(Run(c.command, gate, c.count, host.data()), MORVANE_OK) << log_.Dump();
        EXPECT_EQ(Telegrams(), std::vector<Bytes>{c.telegram});
        for (size_t i = 0; i < c.plc_after.size(); ++i)
            EXPECT_EQ(plc().Word(1, static_cast<uint16_t>(c.first_word + i)), c.plc_after[i])
                << "word " << c.first_word + i;
        EXPECT_EQ(host, c.host) << "a write leaves the host's values alone";
    }
}

INSTANTIATE_TEST_SUITE_P(Procedures, ValueKinds, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "3964R" : "3964"; });

}  // namespace
}  // namespace morvane::test
