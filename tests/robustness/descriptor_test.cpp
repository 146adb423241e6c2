// A host opens and closes a channel for the life of the plant: a thousand
// cycles through every command that opens or closes the port, the refused
// opens among them, leave not one descriptor behind.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "e2e/e2e_fixture.h"

namespace morvane::test {
namespace {

constexpr int kCycles = 1000;
constexpr int kReadEvery = 100;  // a read now and then proves the port really works

size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

class DescriptorCycles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(directory_.ok());
        TempCurrentDirectory::Write("ZIDIV01.INT", "PROTOCOL=3964R\n");
        ASSERT_TRUE(sim_.ok()) << sim_.error();
        sim_->DeclareBlock(1, 16);
        sim_->SetWord(1, 4, 0x2C2B);
        OstrelSetMinimumLevel(100);  // a thousand cycles of open lines stay off stderr
    }
    void TearDown() override {
        // EndTev ended the whole driver; the tests after this one need it running.
        ColdStart("ttyMORVANE");
        OstrelSetMinimumLevel(0);
    }

    int32_t ColdStart(const std::string& port) {
        StartBlock start{};
        std::strncpy(start.port_name, port.c_str(), sizeof start.port_name - 1);
        start.open_now = 1;
        start.external_timeout = 1000;
        start.line = LineParameters{9600, 8, 0, 2};
        return host_.Call(MORVANE_CMD_COLD_START, &start);
    }
    int32_t Change(const std::string& port) {
        ChangeBlock change{};
        std::strncpy(change.port_name, port.c_str(), sizeof change.port_name - 1);
        change.timeout = kTestTimeoutHundredths;
        return host_.Call(MORVANE_CMD_CHANGE_TEV_PARAMS, &change);
    }
    // One cycle; the first failing step's name, or nullptr.
    const char* Cycle(const std::string& port) {
        if (ColdStart("ttyMORVANE") != MORVANE_REQUEST_FAILED) return "ColdStart, no device";
        if (ColdStart(port) != MORVANE_OK) return "ColdStart";
        if (host_.Call(MORVANE_CMD_WARM_START, nullptr) != MORVANE_OK) return "WarmStart";
        // A second open of the locked device is refused; the new descriptor goes.
        if (host_.Call(MORVANE_CMD_REOPEN_COM, nullptr) != MORVANE_LINE_FAILED)
            return "ReOpenCom while open";
        if (host_.Call(MORVANE_CMD_CLOSE_COM, nullptr) != MORVANE_OK) return "CloseCom";
        if (host_.Call(MORVANE_CMD_REOPEN_COM, nullptr) != MORVANE_OK) return "ReOpenCom";
        // Not a terminal: opened, refused when configured, closed again.
        if (Change("/dev/null") != MORVANE_LINE_FAILED) return "ChangeTevParams, not a terminal";
        if (Change(port) != MORVANE_OK) return "ChangeTevParams";
        if (host_.Call(MORVANE_CMD_END_TEV, nullptr) != MORVANE_OK) return "EndTev";
        return nullptr;
    }

    TempCurrentDirectory directory_;
    SimFixture sim_{FastLink(true)};
    Host host_;
};

TEST_F(DescriptorCycles, ThousandOpenCloseCyclesLeakNoDescriptor) {
    const std::string port = PortName(sim_.device());
    const size_t before = OpenDescriptors();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const char* failed = Cycle(port);
        ASSERT_EQ(failed, nullptr) << failed << " in cycle " << cycle;
        ASSERT_EQ(OpenDescriptors(), before) << "after cycle " << cycle;
        if (cycle % kReadEvery != 0) continue;
        ASSERT_EQ(ColdStart(port), MORVANE_OK);
        HostBytes slot(4, kUntouched);  // a word value sits in the slot's upper half
        GateAddress gate = host_.Parse("001004", MORVANE_GATE_WORD);
        ASSERT_EQ(host_.Transfer(MORVANE_CMD_SINGLE_READ, gate, 1, slot.data()), MORVANE_OK);
        ASSERT_EQ(slot, (HostBytes{kUntouched, kUntouched, 0x2B, 0x2C}));
        ASSERT_EQ(host_.Call(MORVANE_CMD_END_TEV, nullptr), MORVANE_OK);
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace morvane::test
