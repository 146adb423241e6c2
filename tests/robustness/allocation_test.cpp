// The driver allocates nothing on the heap: every transfer and port command,
// the failing ones with their log lines included, runs through TevMain while
// the interposer counts the calling thread's allocations (the simulator's
// thread allocates freely and is not counted).
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "robustness/allocation_counter.h"

namespace morvane::test {
namespace {

// Log lines reach the host library's sink; this one takes them without
// allocating, so that only the driver's own allocations are counted.
void CountLine(int, const char*, void* lines) {
    ++*static_cast<int*>(lines);
}

class NoAllocations : public DriverAgainstSim {
  protected:
    void SetUp() override {
        if (!kAllocationsCounted)
            GTEST_SKIP() << "a sanitizer owns malloc in this build: allocations are not counted";
        StartChannel(true);
        plc().DeclareBlock(3, 512);
        OstrelSetLogSink(&CountLine, &lines_);
    }

    // Runs the request with the count on; the allocations it made.
    size_t Counted(uint32_t command_code, void* parameter_block, int32_t* result) {
        TevRequest request{host_.area(), command_code, 1, 0, parameter_block};
        BeginCountingAllocations();
        *result = TevMain(&request);
        return EndCountingAllocations();
    }

    int lines_ = 0;
};

// Allocations the optimiser cannot drop: their pointers escape.
void* volatile g_escape = nullptr;
void AllocateFive() {
    for (int i = 0; i < 5; ++i) {
        g_escape = new int(i);
        delete static_cast<int*>(g_escape);
    }
}

TEST(AllocationCounter, SeesTheCallingThreadsAllocationsOnly) {
    if (!kAllocationsCounted) GTEST_SKIP() << "a sanitizer owns malloc in this build";
    BeginCountingAllocations();
    g_escape = std::malloc(16);
    std::free(g_escape);
    g_escape = std::calloc(4, 4);
    g_escape = std::realloc(g_escape, 64);
    std::free(g_escape);
    AllocateFive();
    EXPECT_EQ(EndCountingAllocations(), 8u);

    std::thread([] {}).join();  // first-time set-up of threads, not counted
    BeginCountingAllocations();
    std::thread([] {}).join();
    const size_t idle_thread = EndCountingAllocations();
    BeginCountingAllocations();
    std::thread(AllocateFive).join();
    EXPECT_EQ(EndCountingAllocations(), idle_thread) << "another thread's allocations were counted";
}

struct TransferCase {
    const char* name;
    const char* address;
    uint32_t gate_type;
    bool block;
    uint32_t command;
    int32_t count;
    int32_t result = MORVANE_OK;
};

TEST_F(NoAllocations, TransfersOfEveryKind) {
    const TransferCase cases[] = {
        {"single word read", "003002", MORVANE_GATE_WORD, false, MORVANE_CMD_SINGLE_READ, 1},
        {"single word write", "003002", MORVANE_GATE_WORD, false, MORVANE_CMD_SINGLE_WRITE, 1},
        {"bit read", "00300212", MORVANE_GATE_DIGITAL, false, MORVANE_CMD_SINGLE_READ, 1},
        {"bit write", "00300203", MORVANE_GATE_DIGITAL, false, MORVANE_CMD_SINGLE_WRITE, 1},
        {"float write", "003010F", MORVANE_GATE_FLOAT, false, MORVANE_CMD_SINGLE_WRITE, 1},
        {"string read", "003030S20", MORVANE_GATE_STRING, false, MORVANE_CMD_SINGLE_READ, 1},
        {"string write", "003030S20", MORVANE_GATE_STRING, false, MORVANE_CMD_SINGLE_WRITE, 1},
        {"block read of 300 words", "003000", MORVANE_GATE_WORD, true, MORVANE_CMD_BLOCK_READ, 300},
        {"block write of 300 words", "003000", MORVANE_GATE_WORD, true, MORVANE_CMD_BLOCK_WRITE,
         300},
        {"block read of longs", "003004L", MORVANE_GATE_LONG, true, MORVANE_CMD_BLOCK_READ, 70},
        {"block write of floats", "003004F", MORVANE_GATE_FLOAT, true, MORVANE_CMD_BLOCK_WRITE, 70},
        {"block read of strings", "003008S08", MORVANE_GATE_STRING, true, MORVANE_CMD_BLOCK_READ,
         30},
        // Refused before the line: the refusal is logged.
        {"count beyond a telegram's word count", "003000", MORVANE_GATE_WORD, true,
         MORVANE_CMD_BLOCK_READ, 40000, MORVANE_REQUEST_FAILED},
    };
    for (const TransferCase& c : cases) {
        std::vector<uint8_t> data(8192, 0x31);  // also a string of digits for the writes
        TransferBlock block{};
        block.gate = Gate(c.address, c.gate_type, c.block);
        block.count = c.count;
        block.data = data.data();
        int32_t result = -1;
        EXPECT_EQ(Counted(c.command, &block, &result), 0u) << c.name;
        EXPECT_EQ(result, c.result) << c.name;
    }
}

TEST_F(NoAllocations, FailingExchangesAndTheirLogLines) {
    std::vector<uint16_t> words(200);
    TransferBlock block{};
    block.gate = Gate("003000", MORVANE_GATE_WORD, true);
    block.count = 200;
    block.data = words.data();
    plcsim::Faults faults;
    faults.nak_telegrams = plcsim::kAlways;
    SetFaults(faults);
    const int lines_before = lines_;
    int32_t result = -1;
    EXPECT_EQ(Counted(MORVANE_CMD_BLOCK_READ, &block, &result), 0u);
    EXPECT_NE(result, MORVANE_OK);
    EXPECT_EQ(Counted(MORVANE_CMD_BLOCK_WRITE, &block, &result), 0u);
    EXPECT_NE(result, MORVANE_OK);
    EXPECT_GT(lines_, lines_before) << "the failures were logged while counting";
}

TEST_F(NoAllocations, PortCommands) {
    ChangeBlock change{};
    const std::string port = PortName(sim().device());
    std::copy(port.begin(), port.end(), change.port_name);
    change.timeout = kTestTimeoutHundredths;
    InfoBlock info{};
    StartBlock start{};
    std::copy(port.begin(), port.end(), start.port_name);
    start.open_now = 1;
    start.external_timeout = 3000;
    start.line = LineParameters{9600, 8, 0, 2};
    const struct {
        const char* name;
        uint32_t command;
        void* block;
    } steps[] = {
        {"GetTevInfo", MORVANE_CMD_GET_TEV_INFO, &info},
        {"CloseCom before ColdStart", MORVANE_CMD_CLOSE_COM, nullptr},
        {"ColdStart, channel file read", MORVANE_CMD_COLD_START, &start},
        {"WarmStart", MORVANE_CMD_WARM_START, nullptr},
        {"CloseCom", MORVANE_CMD_CLOSE_COM, nullptr},
        {"ReOpenCom", MORVANE_CMD_REOPEN_COM, nullptr},
        {"ChangeTevParams", MORVANE_CMD_CHANGE_TEV_PARAMS, &change},
    };
    for (const auto& step : steps) {
        int32_t result = -1;
        EXPECT_EQ(Counted(step.command, step.block, &result), 0u) << step.name;
        EXPECT_EQ(result, MORVANE_OK) << step.name;
    }
}

}  // namespace
}  // namespace morvane::test
