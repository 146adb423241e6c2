// The PLC partner simulator on a fresh pseudo-terminal, served on a
// background thread, for tests that run the driver against it.
//
// Link the test with plcsim_core (not built for Windows):
//     morvane_add_test(my_tests my_test.cpp)
//     target_link_libraries(my_tests PRIVATE plcsim_core)
//
// Use:
//     SimFixture sim;                      // 3964, low priority, blocks on demand
//     ASSERT_TRUE(sim.ok()) << sim.error();
//     sim->SetWord(1, 2, 0x1234);          // data block 1, word 2
//     ... open sim.device() with the driver (ColdStart, SerialOpen) ...
//     sim.SetFaults(f);                    // any time, also while serving
//     EXPECT_EQ(sim.Telegrams()[0], (plcsim::Bytes{0, 0, 0x45, 0x44, 1, 2, 0, 1, 0xFF, 0xFF}));
//     EXPECT_EQ(sim->Word(1, 2), 0x1234);
//     sim.Stop();                          // or let the destructor stop it
//
// Short time-outs keep tests fast: SimFixture sim(FastLink(true)) for 3964R.
// Stop() returns within a few tens of milliseconds in any case.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"

namespace morvane::test {

// Link settings with short time-outs for tests: the simulator gives up on a
// silent driver within a few hundred milliseconds (yet waits long enough for
// a test thread on a busy machine).
inline plcsim::LinkSettings FastLink(bool is_3964r) {
    plcsim::LinkSettings link;
    link.is_3964r = is_3964r;
    link.char_delay_ms = 150;
    link.ack_delay_ms = 300;
    link.connect_attempts = 2;
    link.send_attempts = 2;
    return link;
}

class SimFixture {
  public:
    // marked_input: the simulator reads its line as a port with PARMRK.
    explicit SimFixture(const plcsim::LinkSettings& link = {}, bool marked_input = false) {
        auto line = plcsim::Line::OpenPty(&error_);
        if (!line) return;
        line->SetMarkedInput(marked_input);
        sim_ = std::make_unique<plcsim::Simulator>(std::move(line));
        sim_->set_link(link);
        sim_->SetTraceSink([this](const std::string& line) {
            std::lock_guard lock(trace_mutex_);
            // Drop the time stamp ("   12.345 ms "): tests compare the rest.
            const size_t at = line.find(" ms ");
            trace_.push_back(at == std::string::npos ? line : line.substr(at + 4));
        });
        sim_->Start();
    }
    ~SimFixture() { Stop(); }
    SimFixture(const SimFixture&) = delete;
    SimFixture& operator=(const SimFixture&) = delete;

    bool ok() const { return sim_ != nullptr; }
    const std::string& error() const { return error_; }

    // The slave device to give the driver as its port name.
    const std::string& device() const { return sim_->path(); }

    // Everything else of the simulator: data blocks, link settings, faults.
    plcsim::Simulator* operator->() { return sim_.get(); }
    plcsim::Simulator& sim() { return *sim_; }

    void SetFaults(const plcsim::Faults& faults) { sim_->set_faults(faults); }
    void SetLink(const plcsim::LinkSettings& link) { sim_->set_link(link); }

    // Telegrams the simulator received, DLE doubling removed, in order
    // (refused ones too; see sim().received() for the framed bytes).
    std::vector<plcsim::Bytes> Telegrams() const {
        std::vector<plcsim::Bytes> telegrams;
        for (const plcsim::ReceivedTelegram& received : sim_->received())
            telegrams.push_back(received.telegram);
        return telegrams;
    }

    // The byte trace without time stamps, e.g. "rx STX", "tx DLE",
    // "rx 00 00 45 44 01 02 00 01 FF FF DLE ETX BCC 10".
    std::vector<std::string> Trace() const {
        std::lock_guard lock(trace_mutex_);
        return trace_;
    }
    void ClearTrace() {
        std::lock_guard lock(trace_mutex_);
        trace_.clear();
    }
    std::string TraceText() const {
        std::string text;
        for (const std::string& line : Trace())
            text += line + "\n";
        return text;
    }

    // Waits (at most timeout_ms) until the trace holds line at least count
    // times: the simulator reacts on its own thread.
    bool WaitForTrace(const std::string& line, int count = 1, int timeout_ms = 500) const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            int seen = 0;
            for (const std::string& traced : Trace())
                seen += traced == line ? 1 : 0;
            if (seen >= count) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void Stop() {
        if (sim_) sim_->Stop();
    }

  private:
    std::string error_;
    std::unique_ptr<plcsim::Simulator> sim_;
    mutable std::mutex trace_mutex_;
    std::vector<std::string> trace_;
};

}  // namespace morvane::test
