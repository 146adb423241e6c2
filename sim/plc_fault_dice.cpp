#include "sim/plc_fault_dice.h"

namespace plcsim {

void PlcFaultDice::Roll(Faults* faults) {
    if (rate_ <= 0.0 || std::uniform_real_distribution<double>(0.0, 1.0)(random_) >= rate_) return;
    const int kinds = static_cast<int>(PlcFaultKind::kCount);
    auto kind =
        static_cast<PlcFaultKind>(std::uniform_int_distribution<int>(0, kinds - 1)(random_));
    if (kind == PlcFaultKind::kBadBcc && !is_3964r_) kind = PlcFaultKind::kNoReply;
    ++counts_[static_cast<size_t>(kind)];
    switch (kind) {
        case PlcFaultKind::kNak:
            faults->nak_telegrams = 1;
            break;
        case PlcFaultKind::kNoReply:
            faults->no_reply = 1;
            break;
        case PlcFaultKind::kBadBcc:
            faults->corrupt_bcc = 1;
            break;
        case PlcFaultKind::kSilence:
            faults->ignore_requests = 1;
            break;
        case PlcFaultKind::kConflict:
        case PlcFaultKind::kCount:
            faults->conflict = 1;
            break;
    }
}

void PlcFaultDice::Install(Simulator& simulator) {
    simulator.SetTelegramHook([this](const Bytes&, Faults* faults) { Roll(faults); });
}

const char* PlcFaultName(PlcFaultKind kind) {
    switch (kind) {
        case PlcFaultKind::kNak:
            return "NAK";
        case PlcFaultKind::kNoReply:
            return "no reply";
        case PlcFaultKind::kBadBcc:
            return "bad block check";
        case PlcFaultKind::kSilence:
            return "request unanswered";
        case PlcFaultKind::kConflict:
            return "initialization conflict";
        case PlcFaultKind::kCount:
            break;
    }
    return "?";
}

}  // namespace plcsim
