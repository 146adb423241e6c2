#include "soak/soak_tally.h"

#include <cstdio>

#include "sim/plc_fault_dice.h"
#include "soak/soak_bound.h"

namespace morvane::soak {

void Tally::Merge(const Tally& o) {
    transfers += o.transfers;
    good_first += o.good_first;
    good_retried += o.good_retried;
    for (const auto& [code, count] : o.failed)
        failed[code] += count;
    corrupt_blind += o.corrupt_blind;
    corrupt_seen += o.corrupt_seen;
    foreign_blind += o.foreign_blind;
    foreign_driver += o.foreign_driver;
    corrupt_visible += o.corrupt_visible;
    foreign_visible += o.foreign_visible;
    corrupt_mixed += o.corrupt_mixed;
    foreign_mixed += o.foreign_mixed;
    for (size_t k = 0; k < kBlindCauses; ++k) {
        corrupt_blind_cause[k] += o.corrupt_blind_cause[k];
        foreign_blind_cause[k] += o.foreign_blind_cause[k];
    }
    buffer_touched += o.buffer_touched;
    past_bound += o.past_bound;
    pending_telegrams += o.pending_telegrams;
    damaged_refused_by_driver += o.damaged_refused_by_driver;
    if (o.longest_ms > longest_ms) {
        longest_ms = o.longest_ms;
        longest_bound_ms = o.longest_bound_ms;
        longest_what = o.longest_what;
    }
}

// Every mode: no corruption the receiver's check could have seen, no foreign
// word the driver wrote, no buffer a failed call touched, no call past its
// bound; with the UART's check honoured, nothing through a fault it flagged.
// 3964R with one fault per block promises more: the check sees every
// fault, so nothing may get through at all.
bool Broken(const Tally& t, const Options& o) {
    if (t.corrupt_seen || t.foreign_driver || t.buffer_touched || t.past_bound) return true;
    if (o.uart_check && (t.corrupt_visible || t.foreign_visible)) return true;
    const bool one_per_block = o.mode == plcsim::ByteFaultMode::kOnePerBlock;
    return o.is_3964r && one_per_block && (t.corrupt_blind || t.foreign_blind);
}

namespace {

void PrintSplit(uint64_t blind, uint64_t visible, uint64_t mixed) {
    std::printf(
        "  of these parity-visible %llu (the UART flagged the fault), mixed %llu (flagged and "
        "unflagged blocks), parity-blind %llu\n",
        static_cast<unsigned long long>(visible), static_cast<unsigned long long>(mixed),
        static_cast<unsigned long long>(blind - visible - mixed));
}

void PrintCauses(const std::array<uint64_t, kBlindCauses>& causes) {
    std::printf(
        "  parity-blind by fault  %llu flips of an even count, %llu drops, %llu doubles, "
        "%llu late, %llu several, %llu none counted\n",
        static_cast<unsigned long long>(causes[0]), static_cast<unsigned long long>(causes[1]),
        static_cast<unsigned long long>(causes[2]), static_cast<unsigned long long>(causes[3]),
        static_cast<unsigned long long>(causes[kSeveralCauses]),
        static_cast<unsigned long long>(causes[kNoCause]));
}

void PrintUart(const Tally& t, const LineCounts& line, const Options& o) {
    using plcsim::UartFlag;
    std::printf(
        "UART check             %s; flips of two bits %llu (%.0f%% drawn), overrun share %g\n",
        o.uart_check ? "honoured" : "ignored", static_cast<unsigned long long>(line.two_bit_flips),
        100.0 * plcsim::kTwoBitFlipShare, o.overrun_share);
    std::printf(
        "flagged characters     %llu parity, %llu framing, %llu overrun\n",
        static_cast<unsigned long long>(line.flagged[static_cast<int>(UartFlag::kParity)]),
        static_cast<unsigned long long>(line.flagged[static_cast<int>(UartFlag::kFraming)]),
        static_cast<unsigned long long>(line.flagged[static_cast<int>(UartFlag::kOverrun)]));
    // The first byte back after a block is its answer, unless the receiver
    // never saw the block end; the driver acknowledges a block it refuses.
    for (const plcsim::Side from : {plcsim::kFromDriver, plcsim::kFromPartner})
        std::printf("flagged blocks to %s %llu: answered %llu NAK, %llu DLE\n",
                    from == plcsim::kFromDriver ? "PLC   " : "driver",
                    static_cast<unsigned long long>(line.flagged_blocks[from]),
                    static_cast<unsigned long long>(line.flagged_refused[from]),
                    static_cast<unsigned long long>(line.flagged_taken[from]));
    // Ignored, the flags reach no receiver: a NAK then is the block check's.
    if (!o.uart_check) return;
    std::printf(
        "refused as damaged     %llu blocks by the PLC (NAK), %llu by the driver (its log)\n",
        static_cast<unsigned long long>(line.flagged_refused[plcsim::kFromDriver]),
        static_cast<unsigned long long>(t.damaged_refused_by_driver));
}

}  // namespace

void PrintSummary(const Tally& t, const LineCounts& line, const Options& o, double seconds) {
    const double timeout_ms = 10.0 * o.timeout_hundredths;
    std::printf(
        "soak: %s, %s byte faults at %g per byte, PLC faults at %g per telegram,\n",
        o.is_3964r ? "3964R" : "3964",
        o.mode == plcsim::ByteFaultMode::kOnePerBlock ? "at most one per block" : "independent",
        o.rate, o.plc_rate);
    std::printf("      seed %llu, %d channels, read time-out %.0f ms, %.1f s (%.0f transfers/s)\n",
                static_cast<unsigned long long>(o.seed), o.channels, timeout_ms, seconds,
                seconds > 0 ? static_cast<double>(t.transfers) / seconds : 0.0);
    std::printf("transfers              %llu\n", static_cast<unsigned long long>(t.transfers));
    std::printf("good at the first pass %llu\n", static_cast<unsigned long long>(t.good_first));
    std::printf("good after retries     %llu\n", static_cast<unsigned long long>(t.good_retried));
    for (const auto& [code, count] : t.failed)
        std::printf("failed with %-10d %llu\n", code, static_cast<unsigned long long>(count));
    const double rate = t.transfers ? 100.0 * static_cast<double>(t.corrupt_blind) /
                                          static_cast<double>(t.transfers)
                                    : 0.0;
    std::printf("silent corruptions     %llu the check could see, %llu it could not (%.4f%%)\n",
                static_cast<unsigned long long>(t.corrupt_seen),
                static_cast<unsigned long long>(t.corrupt_blind), rate);
    PrintSplit(t.corrupt_blind, t.corrupt_visible, t.corrupt_mixed);
    PrintCauses(t.corrupt_blind_cause);
    std::printf(
        "foreign-word writes    %llu by the driver, %llu by telegrams altered on the line\n",
        static_cast<unsigned long long>(t.foreign_driver),
        static_cast<unsigned long long>(t.foreign_blind));
    PrintSplit(t.foreign_blind, t.foreign_visible, t.foreign_mixed);
    PrintCauses(t.foreign_blind_cause);
    std::printf("buffers touched        %llu by failed calls or writes\n",
                static_cast<unsigned long long>(t.buffer_touched));
    std::printf("longest call           %.1f ms of its bound %.0f ms: %s\n", t.longest_ms,
                t.longest_bound_ms, t.longest_what.c_str());
    std::printf("calls past their bound %llu (one telegram's attempts: %.0f ms)\n",
                static_cast<unsigned long long>(t.past_bound),
                BoundOfExchange(timeout_ms).exchange_ms);
    std::printf(
        "line                   %llu bytes; faults: %llu flipped, %llu dropped, "
        "%llu doubled, %llu late\n",
        static_cast<unsigned long long>(line.bytes),
        static_cast<unsigned long long>(line.faults[0]),
        static_cast<unsigned long long>(line.faults[1]),
        static_cast<unsigned long long>(line.faults[2]),
        static_cast<unsigned long long>(line.faults[3]));
    std::printf("blocks                 %llu, %llu altered, %llu altered yet passing the check\n",
                static_cast<unsigned long long>(line.blocks),
                static_cast<unsigned long long>(line.altered_blocks),
                static_cast<unsigned long long>(line.blind_blocks));
    PrintUart(t, line, o);
    std::printf("PLC faults            ");
    for (int k = 0; k < 5; ++k)
        std::printf(" %llu %s%s", static_cast<unsigned long long>(line.plc_faults[k]),
                    plcsim::PlcFaultName(static_cast<plcsim::PlcFaultKind>(k)), k < 4 ? "," : "");
    std::printf(", %llu telegrams pending at a call\n",
                static_cast<unsigned long long>(t.pending_telegrams));
    std::printf("verdict                %s\n", Broken(t, o) ? "BROKEN" : "held");
}

}  // namespace morvane::soak
