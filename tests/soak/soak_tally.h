// What a soak counts, per channel and in all, and the one summary it prints.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "soak/soak_options.h"

namespace morvane::soak {

// What made a parity-blind break: the kind of byte fault behind the blocks
// that got past their check (plcsim::ByteFaultKind; a flip is one of an
// even count of bits), several kinds, or none the relay counted.
constexpr size_t kSeveralCauses = static_cast<size_t>(plcsim::ByteFaultKind::kCount);
constexpr size_t kNoCause = kSeveralCauses + 1;
constexpr size_t kBlindCauses = kNoCause + 1;

struct Tally {
    uint64_t transfers = 0;
    uint64_t good_first = 0;             // good without a single failed attempt
    uint64_t good_retried = 0;           // good after failed attempts or passes
    std::map<int32_t, uint64_t> failed;  // by result code
    // Silent corruptions (a good result with wrong values) and calls with
    // foreign-word writes, split by whether the line is to blame: for a
    // value, a block delivered altered yet passing the receiver's check
    // during the call; for a foreign word, a telegram the PLC carried out
    // that the driver never sent as such.
    uint64_t corrupt_blind = 0;
    uint64_t corrupt_seen = 0;
    uint64_t foreign_blind = 0;
    uint64_t foreign_driver = 0;
    // Of the blind ones, those where every block that got past its check
    // carried a character the UART flagged: a receiver honouring the flags
    // refuses them.
    uint64_t corrupt_visible = 0;
    uint64_t foreign_visible = 0;
    // Those with flagged and unflagged blocks past their check: either may
    // be to blame.
    uint64_t corrupt_mixed = 0;
    uint64_t foreign_mixed = 0;
    // The rest, parity-blind, by cause (kBlindCauses).
    std::array<uint64_t, kBlindCauses> corrupt_blind_cause{};
    std::array<uint64_t, kBlindCauses> foreign_blind_cause{};
    uint64_t buffer_touched = 0;
    uint64_t past_bound = 0;
    uint64_t pending_telegrams = 0;          // PLC telegrams queued between calls
    uint64_t damaged_refused_by_driver = 0;  // blocks, as its log says
    double longest_ms = 0;
    double longest_bound_ms = 0;
    std::string longest_what;

    void Merge(const Tally& other);
};

struct LineCounts {
    uint64_t bytes = 0;
    uint64_t faults[4] = {};  // flip, drop, double, late
    uint64_t blocks = 0;
    uint64_t altered_blocks = 0;
    uint64_t blind_blocks = 0;
    uint64_t two_bit_flips = 0;
    uint64_t flagged[4] = {};  // characters, by plcsim::UartFlag
    // By the sending side (plcsim::Side): blocks with a flagged character,
    // and how the receiver answered them.
    uint64_t flagged_blocks[2] = {};
    uint64_t flagged_refused[2] = {};
    uint64_t flagged_taken[2] = {};
    uint64_t plc_faults[5] = {};  // by plcsim::PlcFaultKind
};

// True when the run broke an invariant its mode promises.
bool Broken(const Tally& tally, const Options& options);

void PrintSummary(const Tally& tally, const LineCounts& line, const Options& options,
                  double seconds);

}  // namespace morvane::soak
