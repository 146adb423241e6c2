// A fault relay between two lines: the driver opens the relay's own
// pseudo-terminal, the relay passes every byte on to the partner's device
// and back, with the seeded byte faults of a ByteFaulter. A late byte is
// held back (with everything behind it in its direction) for the late delay
// of its receiver. Keeps a short trace of what it got and what it delivered.
// With marks on, the relay hands the UART's flags over as a port with PARMRK
// does: FF 00 X for a flagged character, FF FF for a data byte FF.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/byte_faults.h"
#include "sim/line.h"

namespace plcsim {

struct RelaySettings {
    ByteFaultSettings faults;
    uint32_t late_to_driver_ms = 100;   // past the driver's read time-out
    uint32_t late_to_partner_ms = 100;  // past the partner's character delay
    bool marks = false;                 // flagged characters marked, data FF doubled
};

class FaultRelay {
  public:
    // partner_path: the partner's device (a simulator's pseudo-terminal).
    static std::unique_ptr<FaultRelay> Open(const std::string& partner_path,
                                            const RelaySettings& settings, std::string* error);
    ~FaultRelay();
    FaultRelay(const FaultRelay&) = delete;
    FaultRelay& operator=(const FaultRelay&) = delete;

    // The device the driver opens.
    const std::string& path() const { return driver_line_->path(); }

    void Start();
    void Stop();

    ByteFaultCounts counts(Side side) const;
    // Blocks from side delivered altered yet framed and checked as good.
    uint64_t blind_blocks(Side from) const { return blind_blocks_[from].load(); }

    // The driver's blocks as it sent them since the last call (at most 512,
    // the oldest dropped first), for telling its telegrams from altered ones.
    std::vector<Bytes> TakeDriverBlocks();
    // Time since a byte last came in or went out.
    std::chrono::milliseconds IdleFor() const;

    // The last relayed bytes, oldest first, one line per burst and direction:
    // "  12.345 d>p 02" or with the delivered bytes when they differ.
    std::string RecentTrace() const;

  private:
    using Clock = std::chrono::steady_clock;
    struct Queued {
        Clock::time_point release;
        uint8_t byte;
        bool control;  // outside a block: its delivery may open the receiver's block
        bool flagged;  // by the UART
    };
    struct TraceEntry {
        Clock::time_point at;
        Side from;
        uint8_t sent;
        Delivery delivery;
        bool faulted;
    };

    FaultRelay(std::unique_ptr<Line> driver_line, std::unique_ptr<Line> partner_line,
               const RelaySettings& settings);
    void Run();
    void Take(Side from, Line& line);
    void Release(Side to, Line& line);
    Clock::time_point NextRelease() const;

    std::unique_ptr<Line> driver_line_;
    std::unique_ptr<Line> partner_line_;
    RelaySettings settings_;
    ByteFaulter faulter_;            // relay thread only
    std::deque<Queued> towards_[2];  // index: the side the bytes come from
    mutable std::mutex mutex_;       // guards the trace and the counts copy
    std::vector<TraceEntry> trace_;  // ring
    size_t trace_next_ = 0;
    ByteFaultCounts counts_copy_[2];
    std::vector<Bytes> driver_blocks_;
    std::atomic<Clock::rep> last_activity_{0};
    std::atomic<uint64_t> blind_blocks_[2] = {0, 0};
    Clock::time_point start_ = Clock::now();
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace plcsim
