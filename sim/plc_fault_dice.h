// Seeded random faults of the PLC itself, rolled once per telegram it
// receives (through the simulator's telegram hook): the telegram refused
// with NAK, acknowledged but never answered, answered with a bad block check
// (3964R), the next connection request left unanswered, or crossed by the
// PLC's own request (an initialization conflict).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <random>

#include "sim/simulator.h"

namespace plcsim {

enum class PlcFaultKind { kNak, kNoReply, kBadBcc, kSilence, kConflict, kCount };

class PlcFaultDice {
  public:
    PlcFaultDice(double rate, uint64_t seed, bool is_3964r)
        : rate_(rate), is_3964r_(is_3964r), random_(seed) {}

    // Sets at most one fault for this telegram (or the next request).
    void Roll(Faults* faults);
    // Installs Roll as the simulator's telegram hook; the dice must outlive it.
    void Install(Simulator& simulator);

    uint64_t count(PlcFaultKind kind) const { return counts_[static_cast<size_t>(kind)].load(); }

  private:
    double rate_;
    bool is_3964r_;
    std::mt19937_64 random_;
    std::array<std::atomic<uint64_t>, static_cast<size_t>(PlcFaultKind::kCount)> counts_{};
};

const char* PlcFaultName(PlcFaultKind kind);

}  // namespace plcsim
