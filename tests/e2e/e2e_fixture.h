// The driver as a host runs it, against the PLC simulator on a fresh
// pseudo-terminal, in a working directory of its own that holds the
// channel's configuration file.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "e2e/host.h"
#include "support/log_capture.h"
#include "support/sim_fixture.h"
#include "support/temp_directory.h"

namespace morvane::test {

using plcsim::Bytes;

// Read time-outs of the channel per byte: 200 ms leaves a busy machine room
// to answer; tests that wait for time-outs on purpose take 50 ms.
constexpr int32_t kTestTimeoutHundredths = 20;
constexpr int32_t kFastTimeoutHundredths = 5;

// The host's port name of a device: names under /dev/ go without the
// prefix, so "pts/12" fits the 11 characters where "/dev/pts/123" would not.
inline std::string PortName(const std::string& device) {
    const std::string prefix = "/dev/";
    return device.rfind(prefix, 0) == 0 ? device.substr(prefix.size()) : device;
}

class DriverAgainstSim : public ::testing::Test {
  protected:
    // Starts simulator and channel; 3964R when is_3964r. The start's log
    // lines are dropped unless keep_log.
    void StartChannel(bool is_3964r = false, bool keep_log = false) {
        ASSERT_TRUE(scratch_.ok());
        TempCurrentDirectory::Write("ZIDIV01.INT",
                                    is_3964r ? "PROTOCOL=3964R\n" : "PROTOCOL=3964\n");
        sim_ = std::make_unique<SimFixture>(FastLink(is_3964r));
        ASSERT_TRUE(sim_->ok()) << sim_->error();
        ASSERT_EQ(host_.Start(PortName(sim_->device()), kTestTimeoutHundredths), MORVANE_OK)
            << log_.Dump();
        ASSERT_EQ(host_.area()->port_settings.is_3964r, is_3964r ? 1 : 0);
        if (!keep_log) log_.clear();
    }
    void TearDown() override {
        host_.Stop();
        if (sim_) sim_->Stop();
    }

    plcsim::Simulator& plc() { return sim_->sim(); }
    SimFixture& sim() { return *sim_; }
    std::vector<Bytes> Telegrams() const { return sim_->Telegrams(); }
    void SetFaults(const plcsim::Faults& faults) { sim_->SetFaults(faults); }

    // Sets faults for the telegram at position index of a transfer, in the
    // first `times` transfers (passes) that reach it: 0 is the first
    // telegram, each follow-on telegram after it counts one more (a repeated
    // one too).
    void FaultAtTelegram(uint32_t index, std::function<void(plcsim::Faults*)> set,
                         uint32_t times = UINT32_MAX) {
        plc().SetTelegramHook([index, set, times, position = 0u](const Bytes& telegram,
                                                                 plcsim::Faults* faults) mutable {
            position = !telegram.empty() && telegram[0] == 0x00 ? 0 : position + 1;
            if (position != index || times == 0) return;
            --times;
            set(faults);
        });
    }

    GateAddress Gate(const char* address, uint32_t gate_type, bool block = false) {
        const GateAddress gate = host_.Parse(address, gate_type, block);
        EXPECT_EQ(gate.parsed, 1u) << address << "\n" << log_.Dump();
        return gate;
    }
    int32_t Run(uint32_t command_code, const GateAddress& gate, int32_t count, void* data) {
        return host_.Transfer(command_code, gate, count, data);
    }

    TempCurrentDirectory scratch_;  // holds the channel's ZIDIV01.INT
    LogCapture log_;
    Host host_;
    std::unique_ptr<SimFixture> sim_;
};

using Words = std::vector<uint16_t>;
using HostBytes = std::vector<uint8_t>;

// What the host's buffers hold before a read: a read that fails leaves it.
constexpr uint8_t kUntouched = 0xEE;

inline HostBytes operator+(HostBytes a, const HostBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The first telegram's header: command, data block, start word, word count.
inline Bytes Header(uint8_t command, uint8_t db, uint8_t start, uint16_t words) {
    return {0x00,
            0x00,
            command,
            0x44,
            db,
            start,
            static_cast<uint8_t>(words >> 8),
            static_cast<uint8_t>(words),
            0xFF,
            0xFF};
}
inline Bytes FollowOn(uint8_t command) {
    return {0xFF, 0x00, command, 0x44};
}

// Host buffers in the host's byte order.
inline void AppendU16(std::vector<uint8_t>* bytes, uint16_t value) {
    bytes->push_back(static_cast<uint8_t>(value));
    bytes->push_back(static_cast<uint8_t>(value >> 8));
}
inline void AppendU32(std::vector<uint8_t>* bytes, uint32_t value) {
    AppendU16(bytes, static_cast<uint16_t>(value));
    AppendU16(bytes, static_cast<uint16_t>(value >> 16));
}

}  // namespace morvane::test
