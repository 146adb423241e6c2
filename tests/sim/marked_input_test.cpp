// Marked input, as a port with PARMRK hands it over: the decoder on streams
// cut into reads anywhere, the trace of damaged characters, and the
// simulator on its pseudo-terminal refusing a block with a damaged
// character as a PLC refuses a bad block check.
#include "sim/marked_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "slave_end.h"
#include "support/sim_fixture.h"

namespace plcsim {
namespace {

using morvane::test::FastLink;
using morvane::test::SimFixture;
using test::Hex;
using test::SlaveEnd;

// The characters of the reads, as hex with "!" behind a damaged one.
std::string Decode(const std::vector<std::string>& reads) {
    MarkDecoder decoder;
    std::string text;
    for (const std::string& read : reads) {
        for (uint8_t byte : Hex(read)) {
            const auto received = decoder.Feed(byte);
            if (!received) continue;
            text += (text.empty() ? "" : " ") + plcsim::Hex(received->byte) +
                    (received->damaged ? "!" : "");
        }
    }
    return text;
}

struct DecodeCase {
    const char* name;
    std::vector<std::string> reads;
    const char* characters;
};

class MarkedStream : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(MarkedStream, DecodesAsTheKernelMarked) {
    EXPECT_EQ(Decode(GetParam().reads), GetParam().characters);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, MarkedStream,
    ::testing::Values(
        DecodeCase{"plain_bytes", {"02 10 41 03"}, "02 10 41 03"},
        DecodeCase{"doubled_ff_is_data", {"41 FF FF 42"}, "41 FF 42"},
        DecodeCase{"two_data_ff", {"FF FF FF FF"}, "FF FF"},
        DecodeCase{"parity_error", {"41 FF 00 42 43"}, "41 42! 43"},
        DecodeCase{"break", {"FF 00 00 41"}, "00! 41"},
        DecodeCase{"damaged_ff", {"FF 00 FF FF FF"}, "FF! FF"},
        DecodeCase{"damaged_zero_after_data_ff", {"FF FF FF 00 00"}, "FF 00!"},
        DecodeCase{"out_of_step_ff_spoils_the_next", {"FF 41 42"}, "41! 42"},
        DecodeCase{"data_ff_split", {"41 FF", "FF 42"}, "41 FF 42"},
        DecodeCase{"mark_split_after_ff", {"41 FF", "00 42"}, "41 42!"},
        DecodeCase{"mark_split_before_the_character", {"FF 00", "42"}, "42!"},
        DecodeCase{"one_byte_reads", {"FF", "00", "10", "FF", "FF"}, "10! FF"},
        DecodeCase{"damaged_stx_opens_the_stream", {"FF 00 02 10"}, "02! 10"},
        DecodeCase{"damaged_closing_dle", {"41 FF 00 10 03"}, "41 10! 03"},
        DecodeCase{"damaged_bcc_ends_the_block", {"10 03 FF 00 13"}, "10 03 13!"},
        DecodeCase{"mark_cut_at_the_block_end", {"10 03 FF", "00", "13 10"}, "10 03 13! 10"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MarkDecoder, ResetForgetsAMarkBegun) {
    MarkDecoder decoder;
    EXPECT_FALSE(decoder.Feed(0xFF));
    EXPECT_FALSE(decoder.Feed(0x00));
    decoder.Reset();
    const auto received = decoder.Feed(0x41);
    ASSERT_TRUE(received);
    EXPECT_FALSE(received->damaged);
}

TEST(SimTrace, MarksDamagedCharactersAndNamesNone) {
    EXPECT_EQ(Trace::FormatControl(Direction::kReceived, 0x02, true), "rx 02!");
    // A damaged DLE is data, so the ETX behind it closes nothing.
    const std::string block = Trace::FormatBlock(Direction::kReceived, Hex("41 10 10 03"), 0x13,
                                                 {false, true, false, false, true});
    EXPECT_EQ(block, "rx 41 10! DLE ETX BCC 13!");
    EXPECT_EQ(Trace::Characters(block), 5u);
    EXPECT_EQ(Trace::FormatBlock(Direction::kReceived, Hex("41 10 03"), -1, {false, true}),
              "rx 41 10! 03");
}

struct ReceiveCase {
    const char* name;
    bool is_3964r;
    // FETCH data block 1, word 2, one word (BCC 10) as the port hands it
    // over: every data FF doubled.
    const char* block;
    const char* answer;  // DLE: taken; NAK: refused
    const char* traced;  // the block's trace line
};

class MarkedReceive : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(MarkedReceive, RefusesABlockWithADamagedCharacter) {
    const ReceiveCase& c = GetParam();
    SimFixture sim(FastLink(c.is_3964r), true);
    SlaveEnd end(sim.device());
    ASSERT_TRUE(sim.ok() && end.ok());
    end.Send("02");
    ASSERT_EQ(end.Read(1), "10");
    end.Send(c.block);
    EXPECT_EQ(end.Read(1), c.answer);
    ASSERT_TRUE(sim.WaitForTrace(c.traced)) << sim.TraceText();
    const bool refused = std::string(c.answer) == "15";
    if (refused) {
        EXPECT_TRUE(sim.WaitForTrace("-- damaged character")) << sim.TraceText();
    }
    ASSERT_EQ(sim->received().size(), 1u);
    EXPECT_EQ(sim->received()[0].accepted, !refused);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, MarkedReceive,
    ::testing::Values(
        ReceiveCase{"clean_with_data_ff", true, "00 00 45 44 01 02 00 01 FF FF FF FF 10 03 10",
                    "10", "rx 00 00 45 44 01 02 00 01 FF FF DLE ETX BCC 10"},
        ReceiveCase{"damaged_data_3964r", true,
                    "00 00 45 44 FF 00 01 02 00 01 FF FF FF FF 10 03 10", "15",
                    "rx 00 00 45 44 01! 02 00 01 FF FF DLE ETX BCC 10"},
        ReceiveCase{"damaged_data_3964", false, "00 00 45 44 01 02 00 FF 00 01 FF FF FF FF 10 03",
                    "15", "rx 00 00 45 44 01 02 00 01! FF FF DLE ETX"},
        ReceiveCase{"damaged_bcc", true, "00 00 45 44 01 02 00 01 FF FF FF FF 10 03 FF 00 10", "15",
                    "rx 00 00 45 44 01 02 00 01 FF FF DLE ETX BCC 10!"},
        ReceiveCase{"break_inside", false, "00 00 45 44 01 02 FF 00 00 00 01 FF FF FF FF 10 03",
                    "15", "rx 00 00 45 44 01 02 00! 00 01 FF FF DLE ETX"}),
    [](const auto& info) { return std::string(info.param.name); });

// Only the undamaged STX behind it asks for the connection.
TEST(MarkedControl, ADamagedStxIsNoConnectionRequest) {
    SimFixture sim(FastLink(false), true);
    SlaveEnd end(sim.device());
    ASSERT_TRUE(sim.ok() && end.ok());
    end.Send("FF 00 02 02");
    EXPECT_EQ(end.Read(1), "10");
    ASSERT_TRUE(sim.WaitForTrace("tx DLE")) << sim.TraceText();
    const std::vector<std::string> expected = {"rx 02!", "rx STX", "tx DLE"};
    EXPECT_EQ(sim.Trace(), expected);
}

}  // namespace
}  // namespace plcsim
