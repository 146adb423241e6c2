// One channel for the line benchmarks: a host driving TevMain against its
// own simulator on its own pseudo-terminal, in 3964R, paced as an 8E1 line
// of the given rate. The simulator's trace is not kept: its sink counts the
// characters that crossed the line and notes when the last one did.
//
// The channel's configuration file (ZIDIVnn.INT asking for 3964R) is looked
// for in the current directory: call WriteProtocolFiles in a scratch
// directory first.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/host.h"
#include "ostrel/ostrel_control.h"
#include "sim/simulator.h"
#include "support/temp_directory.h"

namespace morvane::bench {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kBitsPerCharacter = 11;  // start, 8 data, even parity, stop
constexpr int32_t kTimeoutHundredths = 50;  // 500 ms per byte
constexpr uint8_t kDataBlock = 2;
constexpr uint16_t kBlockWords = 2048;

inline double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline void WriteProtocolFiles(int channels) {
    for (int channel = 1; channel <= channels; ++channel) {
        char name[32];
        std::snprintf(name, sizeof name, "ZIDIV%02d.INT", channel);
        test::TempCurrentDirectory::Write(name, "PROTOCOL=3964R\n");
    }
}

class PacedChannel {
  public:
    // Without with_host the simulator serves and no host opens its line:
    // another client may take the device (path()).
    PacedChannel(int32_t channel_number, uint32_t baud, bool with_host = true)
        : host_(channel_number) {
        OstrelSetMinimumLevel(33);  // the start-up lines would drown the results
        auto line = plcsim::Line::OpenPty(&error_);
        if (!line) return;
        sim_ = std::make_unique<plcsim::Simulator>(std::move(line));
        plcsim::LinkSettings link;
        link.is_3964r = true;
        sim_->set_link(link);
        sim_->SetPacing(baud, kBitsPerCharacter);
        sim_->DeclareBlock(kDataBlock, kBlockWords);
        // Words with DLE bytes among them: some characters are doubled.
        for (uint16_t i = 0; i < kBlockWords; ++i)
            sim_->SetWord(kDataBlock, i, static_cast<uint16_t>(i * 0x9E37u));
        sim_->SetTraceSink([this](const std::string& line) {
            characters_.fetch_add(plcsim::Trace::Characters(line), std::memory_order_relaxed);
            CountTurn(line);
            last_event_ns_.store(Clock::now().time_since_epoch().count(),
                                 std::memory_order_release);
        });
        sim_->Start();
        const std::string device = sim_->path();
        ok_ = !with_host || (host_.Start(device.substr(device.rfind("/dev/", 0) == 0 ? 5 : 0),
                                         kTimeoutHundredths) == MORVANE_OK &&
                             host_.area()->port_settings.is_3964r == 1);
    }
    ~PacedChannel() {
        host_.Stop();
        if (sim_) sim_->Stop();
    }
    PacedChannel(const PacedChannel&) = delete;
    PacedChannel& operator=(const PacedChannel&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    test::Host& host() { return host_; }
    plcsim::Simulator& sim() { return *sim_; }

    uint64_t characters() const { return characters_.load(std::memory_order_relaxed); }
    // Times the line changed direction: one side's last character crossed
    // and the other side answered.
    uint64_t turns() const { return turns_.load(std::memory_order_relaxed); }

    // When the simulator took the last character of the line: it traces a
    // character from the driver once its time on the line is over. Waits
    // until the trace has been still for quiet_ms (the driver's closing DLE
    // is on its way when TevMain returns).
    Clock::time_point LastCharacterAt(int quiet_ms) const {
        for (;;) {
            const int64_t seen = last_event_ns_.load(std::memory_order_acquire);
            std::this_thread::sleep_for(std::chrono::milliseconds(quiet_ms));
            if (last_event_ns_.load(std::memory_order_acquire) == seen)
                return Clock::time_point(Clock::duration(seen));
        }
    }

    // The reaction time the simulator is configured to take per exchange.
    double ConfiguredReactionMs() const {
        const plcsim::Faults faults = sim_->faults();
        return static_cast<double>(faults.answer_delay_ms + faults.reply_delay_ms);
    }

  private:
    // Serving thread only.
    void CountTurn(const std::string& line) {
        const size_t stamp_end = line.find(" ms ");
        const size_t at = stamp_end == std::string::npos ? 0 : stamp_end + 4;
        const char way = line.compare(at, 3, "rx ") == 0   ? 'r'
                         : line.compare(at, 3, "tx ") == 0 ? 't'
                                                           : 0;
        if (way == 0) return;
        if (last_way_ != 0 && way != last_way_) turns_.fetch_add(1, std::memory_order_relaxed);
        last_way_ = way;
    }

    test::Host host_;
    std::string error_;
    std::unique_ptr<plcsim::Simulator> sim_;
    std::atomic<uint64_t> characters_{0};
    std::atomic<uint64_t> turns_{0};
    char last_way_ = 0;
    std::atomic<int64_t> last_event_ns_{0};
    bool ok_ = false;
};

// The host's transfers the line benchmarks time.
struct Case {
    const char* name;
    uint32_t command;
    const char* address;
    uint32_t gate_type;
    bool block;
    int32_t count;
    int exchanges;  // telegrams on the line per transfer
};

inline const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"SingleRead 1", MORVANE_CMD_SINGLE_READ, "002010", MORVANE_GATE_WORD, false, 1, 1},
        {"BlockRead 64", MORVANE_CMD_BLOCK_READ, "002000", MORVANE_GATE_WORD, true, 64, 1},
        {"BlockRead 2048", MORVANE_CMD_BLOCK_READ, "002000", MORVANE_GATE_WORD, true, 2048, 16},
        {"BlockWrite 100", MORVANE_CMD_BLOCK_WRITE, "002000", MORVANE_GATE_WORD, true, 100, 2},
        // Read the word, change the bit, write the word back.
        {"BitWrite", MORVANE_CMD_SINGLE_WRITE, "00200203", MORVANE_GATE_DIGITAL, false, 1, 2},
    };
    return cases;
}

// A case ready to run again and again on one channel.
class Transfer {
  public:
    Transfer(PacedChannel& channel, const Case& c)
        : channel_(channel), case_(c), buffer_(static_cast<size_t>(c.count) + 1, 0x0001) {
        gate_ = channel.host().Parse(c.address, c.gate_type, c.block);
    }
    bool ok() const { return gate_.parsed != 0; }
    bool Run() {
        return channel_.host().Transfer(case_.command, gate_, case_.count, buffer_.data()) ==
               MORVANE_OK;
    }

  private:
    PacedChannel& channel_;
    const Case& case_;
    GateAddress gate_{};
    std::vector<uint32_t> buffer_;  // a word per element is room for every case
};

}  // namespace morvane::bench
