// How a transfer ended, judged from TevMain's result and the lines the
// driver logged meanwhile: the kind of failure, the PLC's error number, the
// attempts it took and the driver's own reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exit_codes.h"

namespace morvane::tool {

enum class FailureKind {
    kNone,
    kRefused,     // the driver refused the transfer before the line
    kPlcRefused,  // the PLC answered with an error number
    kLineFailed,  // no valid exchange
};

struct TransferOutcome {
    FailureKind kind = FailureKind::kNone;
    int plc_error = -1;  // the PLC's error number, when it sent one
    int attempts = 1;
    std::string reason;  // the driver's last refusal line; empty when it logged none
};

TransferOutcome JudgeTransfer(int32_t code, const std::vector<std::string>& lines);

// "error 0x14: data block does not exist".
std::string PlcErrorText(int error);

// The failure in this tool's words: "PLC refused: error 0x14: data block
// does not exist", "line failure: no valid exchange", "refused by the driver".
std::string Describe(const TransferOutcome& outcome);

// A short name for statistics and machine-readable status: "ok",
// "refused", "plc-error-0x14", "line-failure".
std::string StatusName(const TransferOutcome& outcome);

ExitCode ExitCodeOf(const TransferOutcome& outcome);

// For a line that gave no valid exchange yet.
inline constexpr char kLineHint[] =
    "hint: nothing valid came back; check the protocol (3964 or 3964R: --protocol), "
    "the baud rate (--baud) and the cable";

}  // namespace morvane::tool
