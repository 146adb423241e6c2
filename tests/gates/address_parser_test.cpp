// Address strings through TevMain, as the host sends them with commands 3 and 4.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gates/gate_address.h"
#include "support/log_capture.h"

namespace morvane {
namespace {

using test::LogCapture;
using test::LogLine;

constexpr uint32_t kSingle = MORVANE_CMD_SINGLE_ADDRESS_PARSER;
constexpr uint32_t kBlock = MORVANE_CMD_BLOCK_ADDRESS_PARSER;

struct Outcome {
    int32_t result;
    GateAddress gate;
    std::vector<LogLine> log;
};

Outcome RunParse(uint32_t command, const char* address, uint32_t gate_type) {
    LogCapture log;
    ParseBlock block{};
    block.address = address;
    block.gate_type = gate_type;
    TevRequest request{};
    request.command_code = command;
    request.parameter_block = &block;
    const int32_t result = TevMain(&request);
    return {result, block.gate, log.lines()};
}

struct ValidCase {
    std::string address;
    uint32_t gate_type;
    char class_letter;
    int data_block;
    int item_index;
    int string_length;
    int bit_number;
    int width;
};

TEST(AddressParser, AcceptsEveryForm) {
    const std::string garbage(120, 'x');
    const ValidCase cases[] = {
        {"010004", 0, 'I', 10, 4, 0, -1, 16},
        {"010004  ", 1, 'I', 10, 4, 0, -1, 16},
        {"000000", 2, 'I', 0, 0, 0, -1, 16},
        {"255255", 0, 'I', 255, 255, 0, -1, 16},
        {"010004  " + garbage, 0, 'I', 10, 4, 0, -1, 16},
        {"010004F", 3, 'F', 10, 2, 0, -1, 32},
        {"010004f", 3, 'F', 10, 2, 0, -1, 32},
        {"010004L", 4, 'L', 10, 2, 0, -1, 32},
        {"010004l", 5, 'L', 10, 2, 0, -1, 32},
        {"255254L", 3, 'L', 255, 127, 0, -1, 32},
        {"010004F xyz", 3, 'F', 10, 2, 0, -1, 32},
        {"010004F " + garbage, 3, 'F', 10, 2, 0, -1, 32},
        {"01000412", 6, 'I', 10, 4, 0, 12, 16},
        {"01000415", 6, 'I', 10, 4, 0, 15, 16},
        {"010004 7", 6, 'I', 10, 4, 0, 7, 16},
        {"010004 15", 6, 'I', 10, 4, 0, 15, 16},  // two digits after the blank
        {"010004 7x", 6, 'I', 10, 4, 0, 7, 16},
        {"01000412 9", 6, 'I', 10, 4, 0, 12, 16},  // nothing after the two digits counts
        {"0100041", 6, 'I', 10, 4, 0, 1, 16},
        {"0100040", 6, 'I', 10, 4, 0, 0, 16},
        {"01000409" + garbage, 6, 'I', 10, 4, 0, 9, 16},
        {"010010S20", 7, 'S', 10, 1, 20, -1, 16},
        {"010004S08", 7, 'S', 10, 1, 8, -1, 16},
        {"010004S8x", 7, 'S', 10, 1, 8, -1, 16},
        {"010004s 8", 7, 'S', 10, 1, 8, -1, 16},
        {"010000S80", 7, 'S', 10, 0, 80, -1, 16},
        {"200240S80", 7, 'S', 200, 6, 80, -1, 16},
        {"255254S02", 7, 'S', 255, 254, 2, -1, 16},
    };
    for (const ValidCase& c : cases) {
        SCOPED_TRACE("address '" + c.address + "'");
        const Outcome outcome = RunParse(kSingle, c.address.c_str(), c.gate_type);
        EXPECT_EQ(outcome.result, MORVANE_OK);
        EXPECT_TRUE(outcome.log.empty());
        const GateAddress& gate = outcome.gate;
        EXPECT_EQ(gate.parsed, 1u);
        EXPECT_EQ(gate.class_letter, static_cast<uint32_t>(c.class_letter));
        EXPECT_EQ(DataBlockOf(gate), c.data_block);
        EXPECT_EQ(ItemIndexOf(gate), c.item_index);
        EXPECT_EQ(StringLengthOf(gate), c.string_length);
        EXPECT_EQ(gate.bit_number, c.bit_number);
        EXPECT_EQ(gate.width, c.width);
    }
}

struct RefusedCase {
    std::string address;
    std::string log_line;  // empty: refused without a log line
};

TEST(AddressParser, RefusesWithItsLogLine) {
    const std::string garbage(120, '9');
    const RefusedCase cases[] = {
        {"300000", "ZIDIV> Parse() Illegal character 3 in '300000  '"},
        {"01000", "ZIDIV> Parse() Illegal character   in '01000   '"},
        {"", "ZIDIV> Parse() Illegal character   in '        '"},
        {"01A004", "ZIDIV> Parse() Illegal character A in '01A004  '"},
        {"0100047", "ZIDIV> Parse() Illegal character 7 in '0100047 '"},
        {"010004X", "ZIDIV> Parse() Illegal character X in '010004X '"},
        {"010004Lx", "ZIDIV> Parse() Illegal character x in '010004Lx'"},
        {"010004 f", "ZIDIV> Parse() Illegal character f in '010004 f'"},
        {"256000", "ZIDIV> Parse() Illegal Databaustein number"},
        {"299999", "ZIDIV> Parse() Illegal Databaustein number"},
        {"010256", "ZIDIV> Parse() Illegal word number"},
        {"010005L", "ZIDIV> Parse() Address of 32 bit gate should be even"},
        {"010255f", "ZIDIV> Parse() Address of 32 bit gate should be even"},
        {"010004F7", ""},
        {"010004l0", ""},
        {"01000416", "ZIDIV> Parse() Illegal bitnumber"},
        {"01000419", "ZIDIV> Parse() Illegal bitnumber"},
        {"010004 19", "ZIDIV> Parse() Illegal bitnumber"},
        {"010004 72", "ZIDIV> Parse() Illegal bitnumber"},
        {"010004S20", "ZIDIV> Parse() error offset string gate '010004S20'"},
        {"010255S04", "ZIDIV> Parse() error offset string gate '010255S04'"},
        {"010004S03", "ZIDIV> Parse() error length string gate '010004S03'"},
        {"010004S00", "ZIDIV> Parse() error length string gate '010004S00'"},
        {"010004S82", "ZIDIV> Parse() error length string gate '010004S82'"},
        {"010004S  ", "ZIDIV> Parse() error length string gate '010004S  '"},
        {"010004S x", "ZIDIV> Parse() error length string gate '010004S x'"},
        {"010004S8", "ZIDIV> Parse() gate address string too long"},
        {"010004S", "ZIDIV> Parse() gate address string too long"},
        {"010004S080", "ZIDIV> Parse() gate address string too long"},
        {"010004S08" + garbage, "ZIDIV> Parse() gate address string too long"},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE("address '" + c.address + "'");
        for (uint32_t command : {kSingle, kBlock}) {
            const Outcome outcome = RunParse(command, c.address.c_str(), 0);
            EXPECT_EQ(outcome.result, MORVANE_REQUEST_FAILED);
            if (c.log_line.empty()) {
                EXPECT_TRUE(outcome.log.empty());
                continue;
            }
            ASSERT_EQ(outcome.log.size(), 1u);
            EXPECT_EQ(outcome.log[0].level, MORVANE_LOG_TRACE);
            EXPECT_EQ(outcome.log[0].text, c.log_line);
        }
    }
}

// A refused address leaves in the record what the parser stored up to the
// refusal: the packed address after the numbers, the defaults, then the
// class letter (and width) of the form before its own checks.
// The rest of a refused record is written up to the refusing step, but its
// parsed flag is 0 whatever it held, so that it never vouches for the record.
TEST(AddressParser, RefusalLeavesTheRecordWrittenUpToItsStepButNotParsed) {
    constexpr uint32_t kStale = 0xA5A5A5A5u;
    constexpr int32_t kStaleSigned = static_cast<int32_t>(kStale);
    struct Case {
        const char* address;
        uint32_t class_letter;
        int32_t packed_address;
        int32_t bit_number;
        int32_t width;
    };
    const Case cases[] = {
        {"300000", kStale, kStaleSigned, kStaleSigned, kStaleSigned},
        {"256000", kStale, kStaleSigned, kStaleSigned, kStaleSigned},
        {"010256", kStale, 10 << 16, kStaleSigned, kStaleSigned},
        {"010005L", 'L', (10 << 16) + 5, -1, 32},
        {"010005f", 'F', (10 << 16) + 5, -1, 32},
        {"010004F7", 'I', (10 << 16) + 4, -1, 16},
        {"01000416", 'I', (10 << 16) + 4, -1, 16},
        {"010004S8", 'S', (10 << 16) + 4, -1, 16},
        {"010004S03", 'S', (10 << 16) + 4, -1, 16},
        {"010004S20", 'S', (10 << 16) + 4, -1, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        LogCapture log;
        ParseBlock block{};
        block.address = c.address;
        block.gate = GateAddress{kStale, kStale, kStaleSigned, kStaleSigned, kStaleSigned};
        TevRequest request{};
        request.command_code = kSingle;
        request.parameter_block = &block;
        EXPECT_EQ(TevMain(&request), MORVANE_REQUEST_FAILED);
        EXPECT_EQ(block.gate.parsed, 0u);
        EXPECT_EQ(block.gate.class_letter, c.class_letter);
        EXPECT_EQ(block.gate.packed_address, c.packed_address);
        EXPECT_EQ(block.gate.bit_number, c.bit_number);
        EXPECT_EQ(block.gate.width, c.width);
    }
}

TEST(AddressParser, MissingAddressIsRefusedLikeAnEmptyOne) {
    const Outcome outcome = RunParse(kSingle, nullptr, 0);
    EXPECT_EQ(outcome.result, MORVANE_REQUEST_FAILED);
    ASSERT_EQ(outcome.log.size(), 1u);
    EXPECT_EQ(outcome.log[0].text, "ZIDIV> Parse() Illegal character   in '        '");
}

// The host's string is read no further than the ten characters that decide
// the outcome: the buffers below end without a NUL (AddressSanitizer builds
// report any read behind them).
TEST(AddressParser, ReadsNoFurtherThanTheDecidingCharacters) {
    struct Case {
        const char* text;
        uint32_t gate_type;
        int32_t result;
    };
    for (const Case& c : {Case{"0100041 zz", 6, MORVANE_OK}, Case{"010004S08x", 7, 1},
                          Case{"010004F ab", 3, MORVANE_OK}, Case{"3000000000", 0, 1}}) {
        SCOPED_TRACE(c.text);
        const size_t length = std::strlen(c.text);
        const std::unique_ptr<char[]> unterminated(new char[length]);
        std::memcpy(unterminated.get(), c.text, length);
        EXPECT_EQ(RunParse(kSingle, unterminated.get(), c.gate_type).result, c.result);
    }
}

struct GateTypeCase {
    const char* address;
    std::vector<uint32_t> accepted;
    const char* mismatch;
};

TEST(SingleAddressParser, MatchesTheHostGateType) {
    const GateTypeCase cases[] = {
        {"010004", {0, 1, 2}, "ZIDIV> SingleParse() Gate type should be 16 bit"},
        {"01000412", {6}, "ZIDIV> SingleParse() Gate type should be DIGITAL"},
        {"010004F", {3}, "ZIDIV> SingleParse() Gate type should be FLOAT"},
        {"010004L", {3, 4, 5}, "ZIDIV> SingleParse() Gate type should be LONG or FLOAT"},
        {"010010S20", {7}, "ZIDIV> SingleParse() Gate type should be STRING"},
    };
    const uint32_t other_codes[] = {8, 31, 32, 38, 0x80000000u, 0xFFFFFFFFu};
    for (const GateTypeCase& c : cases) {
        std::vector<uint32_t> codes = {0, 1, 2, 3, 4, 5, 6, 7};
        codes.insert(codes.end(), std::begin(other_codes), std::end(other_codes));
        for (uint32_t code : codes) {
            SCOPED_TRACE(std::string(c.address) + " type " + std::to_string(code));
            const bool fits =
                std::find(c.accepted.begin(), c.accepted.end(), code) != c.accepted.end();
            const Outcome outcome = RunParse(kSingle, c.address, code);
            if (fits) {
                EXPECT_EQ(outcome.result, MORVANE_OK);
                EXPECT_TRUE(outcome.log.empty());
                continue;
            }
            EXPECT_EQ(outcome.result, MORVANE_REQUEST_FAILED);
            EXPECT_EQ(outcome.gate.parsed, 0u);
            ASSERT_EQ(outcome.log.size(), 1u);
            EXPECT_EQ(outcome.log[0].level, MORVANE_LOG_TRACE);
            EXPECT_EQ(outcome.log[0].text, c.mismatch);
        }
    }
}

TEST(BlockAddressParser, RefusesBitsAndIgnoresTheGateType) {
    const Outcome bit = RunParse(kBlock, "01000412", 6);
    EXPECT_EQ(bit.result, MORVANE_REQUEST_FAILED);
    EXPECT_EQ(bit.gate.parsed, 0u);
    ASSERT_EQ(bit.log.size(), 1u);
    EXPECT_EQ(bit.log[0].level, MORVANE_LOG_TRACE);
    EXPECT_EQ(bit.log[0].text, "ZIDIV> BlockParse() digital gates not allowed as block");

    for (const char* address : {"010004", "010004F", "010004L", "010004S08"}) {
        for (uint32_t code : {0u, 6u, 7u, 99u}) {
            SCOPED_TRACE(std::string(address) + " type " + std::to_string(code));
            const Outcome outcome = RunParse(kBlock, address, code);
            EXPECT_EQ(outcome.result, MORVANE_OK);
            EXPECT_TRUE(outcome.log.empty());
            EXPECT_EQ(outcome.gate.bit_number, -1);
        }
    }
    const Outcome string = RunParse(kBlock, "010004S08", 0);
    EXPECT_EQ(string.gate.class_letter, static_cast<uint32_t>('S'));
    EXPECT_EQ(StringLengthOf(string.gate), 8);
    EXPECT_EQ(ItemIndexOf(string.gate), 1);
}

TEST(AddressParser, MissingParameterBlockIsRefused) {
    for (uint32_t command : {kSingle, kBlock}) {
        TevRequest request{};
        request.command_code = command;
        EXPECT_EQ(TevMain(&request), MORVANE_REQUEST_FAILED);
    }
}

}  // namespace
}  // namespace morvane
