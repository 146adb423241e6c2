// One channel of the soak: a simulator, a fault relay in front of it, and a
// host driving the driver through TevMain on the relay's device. Runs its
// share of the transfers on the calling thread and checks every call.
#pragma once

#include <array>
#include <memory>
#include <random>
#include <string>

#include "e2e/host.h"
#include "sim/fault_relay.h"
#include "sim/plc_fault_dice.h"
#include "sim/simulator.h"
#include "soak/soak_options.h"
#include "soak/soak_tally.h"
#include "soak/soak_transfer.h"

namespace morvane::soak {

class SoakChannel {
  public:
    SoakChannel(const Options& options, int index);
    ~SoakChannel();
    SoakChannel(const SoakChannel&) = delete;
    SoakChannel& operator=(const SoakChannel&) = delete;

    // Simulator, relay and the driver's channel; false with *error.
    bool Start(std::string* error);
    void Run(uint64_t transfers);
    void Stop();

    const Tally& tally() const { return tally_; }
    void AddLineCounts(LineCounts* counts) const;

  private:
    // Blocks delivered altered yet passing their check, both ways, and of
    // those the ones with a character the UART flagged.
    struct BlindBlocks {
        uint64_t all = 0;
        uint64_t flagged = 0;
        std::array<uint64_t, static_cast<size_t>(plcsim::ByteFaultKind::kCount)> unflagged{};
    };
    // The fault behind the parity-blind blocks between two counts: its kind,
    // kSeveralCauses or kNoCause.
    static size_t BlindCause(const BlindBlocks& before, const BlindBlocks& after);
    BlindBlocks BlindSoFar() const;
    void RunOne(uint64_t number);
    void AwaitQuietLine();
    bool PlcTookAlteredTelegram();
    void Report(uint64_t number, const Transfer& transfer, int32_t result, double ms,
                const std::string& what, const std::string& detail, uint64_t blind, bool breaks);

    const Options& options_;
    int index_;
    std::mt19937_64 random_;
    std::unique_ptr<plcsim::Simulator> sim_;
    std::unique_ptr<plcsim::FaultRelay> relay_;
    std::unique_ptr<plcsim::PlcFaultDice> dice_;
    test::Host host_;
    Words model_;
    Tally tally_;
};

}  // namespace morvane::soak
