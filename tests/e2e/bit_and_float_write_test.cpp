// The write of a single bit (the word read, changed and written, the host's
// records put back) and the float written as zero close to zero.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "gates/plc_float.h"

namespace morvane::test {
namespace {

class BitWrite : public DriverAgainstSim {
  protected:
    void SetUp() override { StartChannel(); }

    // SingleWrite of bit_address with the host value in the slot's second
    // half, through a request the test keeps to look at afterwards.
    int32_t WriteBit(const char* bit_address, uint16_t host_value) {
        block_ = TransferBlock{};
        block_.gate = Gate(bit_address, MORVANE_GATE_DIGITAL);
        block_.count = 1;
        slot_ = HostBytes{0x77, 0x66, static_cast<uint8_t>(host_value),
                          static_cast<uint8_t>(host_value >> 8)};
        block_.data = slot_.data();
        request_ = TevRequest{host_.area(), MORVANE_CMD_SINGLE_WRITE, 1, 0, &block_};
        return TevMain(&request_);
    }

    TransferBlock block_{};
    TevRequest request_{};
    HostBytes slot_;
};

struct BitCase {
    const char* address;
    uint16_t host_value;
    uint16_t plc_before;
    uint16_t plc_after;
};

TEST_F(BitWrite, ReadsTheWordChangesTheBitWritesTheWordAndPutsTheRecordsBack) {
    const std::vector<BitCase> cases = {
        {"00100203", 5, 0x00F0, 0x00F8},  // any nonzero value sets
        {"00100204", 0, 0x00F0, 0x00E0},
        {"00100215", 1, 0x0000, 0x8000},
        {"00100200", 0, 0xFFFF, 0xFFFE},
        {"00100212", 1, 0x1000, 0x1000},  // already set: the word goes back unchanged
    };
    for (const BitCase& c : cases) {
        SCOPED_TRACE(c.address);
        plc().SetWord(1, 2, c.plc_before);
        plc().ClearReceived();
        const int32_t bit = std::stoi(std::string(c.address + 6));

        ASSERT_EQ(WriteBit(c.address, c.host_value), MORVANE_OK) << log_.Dump();
        EXPECT_EQ(plc().Word(1, 2), c.plc_after);
        EXPECT_EQ(Telegrams(),
                  (std::vector<Bytes>{
                      Header('E', 1, 2, 1),
                      Header('A', 1, 2, 1) + HostBytes{static_cast<uint8_t>(c.plc_after >> 8),
                                                       static_cast<uint8_t>(c.plc_after)}}));
        EXPECT_EQ(slot_, (HostBytes{0x77, 0x66, static_cast<uint8_t>(c.host_value),
                                    static_cast<uint8_t>(c.host_value >> 8)}));
        EXPECT_EQ(block_.gate.bit_number, bit);
        EXPECT_EQ(request_.command_code, static_cast<uint32_t>(MORVANE_CMD_SINGLE_WRITE));
    }
}

TEST_F(BitWrite, FailedReadSendsNothingAndReturnsTheReadsCode) {
    ASSERT_EQ(host_.SetTimeout(kFastTimeoutHundredths), MORVANE_OK);
    plcsim::Faults refusing;
    refusing.error_replies = plcsim::kAlways;
    refusing.error_byte = 0x0A;
    plcsim::Faults silent;
    silent.ignore_requests = plcsim::kAlways;
    const struct {
        const char* name;
        plcsim::Faults faults;
        int32_t code;
        size_t fetches;
    } cases[] = {{"refused", refusing, MORVANE_REQUEST_FAILED, 4},
                 {"silent", silent, MORVANE_LINE_FAILED, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log_.clear();
        plc().ClearReceived();
        plc().SetWord(1, 2, 0x00F0);
        SetFaults(c.faults);

        EXPECT_EQ(WriteBit("00100203", 1), c.code);
        EXPECT_TRUE(log_.Has(8, "ZIDIV> err ReadModifyWrite read fail"));
        EXPECT_TRUE(
            log_.Has(8, "ZIDIV> exit SingleWrite() , ret val is " + std::to_string(c.code)));
        EXPECT_EQ(Telegrams(), std::vector<Bytes>(c.fetches, Header('E', 1, 2, 1)));
        EXPECT_EQ(plc().Word(1, 2), 0x00F0);
        EXPECT_EQ(slot_, (HostBytes{0x77, 0x66, 1, 0}));
        EXPECT_EQ(block_.gate.bit_number, 3) << "the next write is a bit write again";
        EXPECT_EQ(request_.command_code, static_cast<uint32_t>(MORVANE_CMD_SINGLE_WRITE));
    }
}

using FloatBand = DriverAgainstSim;

uint32_t Bits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

HostBytes PlcBytes(uint32_t plc_word) {
    return {static_cast<uint8_t>(plc_word >> 24), static_cast<uint8_t>(plc_word >> 16),
            static_cast<uint8_t>(plc_word >> 8), static_cast<uint8_t>(plc_word)};
}

TEST_F(FloatBand, FirstValueCloseToZeroIsWrittenAsZeroAndZeroedInTheHostBuffer) {
    StartChannel();
    const struct {
        float value;
        bool zeroed;
    } cases[] = {{5e-21f, true},   {-5e-20f, true}, {0.0f, true},     {1e-20f, false},
                 {-1e-19f, false}, {2e-20f, false}, {-2e-19f, false}, {1.0f, false}};
    const GateAddress gate = Gate("001010F", MORVANE_GATE_FLOAT);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        plc().ClearReceived();
        float host = c.value;
        ASSERT_EQ(Run(MORVANE_CMD_SINGLE_WRITE, gate, 1, &host), MORVANE_OK) << log_.Dump();
        const float sent = c.zeroed ? 0.0f : c.value;
        EXPECT_EQ(Bits(host), Bits(sent));
        EXPECT_EQ(Telegrams(),
                  std::vector<Bytes>{Header('A', 1, 10, 2) + PlcBytes(IeeeToPlcFloat(Bits(sent)))});
    }
}

TEST_F(FloatBand, OnlyTheFirstValueOfABlockIsExamined) {
    StartChannel();
    std::vector<float> host{5e-21f, 5e-21f};
    ASSERT_EQ(
        Run(MORVANE_CMD_BLOCK_WRITE, Gate("001010F", MORVANE_GATE_FLOAT, true), 2, host.data()),
        MORVANE_OK);
    EXPECT_EQ(host, (std::vector<float>{0.0f, 5e-21f}));
    EXPECT_EQ(Telegrams(), std::vector<Bytes>{Header('A', 1, 10, 4) + PlcBytes(0x80000000) +
                                              PlcBytes(IeeeToPlcFloat(Bits(5e-21f)))});
}

}  // namespace
}  // namespace morvane::test
