// How a transfer ended, judged from TevMain's result and the lines the
// driver logged meanwhile (their texts in gates/log_texts.h): the kind of
// failure and, on the line, its class, the PLC's error number, the attempts
// it took and the driver's own reason.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "commands.h"

namespace morvane::tool {

enum class FailureKind {
    kNone,
    kRefused,     // the driver refused the transfer before the line
    kPlcRefused,  // the PLC answered with an error number
    kLineFailed,  // no valid exchange
};

// What went wrong on the line, from the driver's lines of the last attempt.
enum class LineFault {
    kUnknown,
    kConnectionRefused,  // no DLE to the STX (a NAK or nothing), or a NAK for a reply
    kNoAck,              // the telegram was not acknowledged
    kNoReply,            // acknowledged, but no reply came (whole)
    kBadBlock,           // the reply failed its block check, or had damaged characters
    kNoBlockCheck,       // the reply came without its block check character
    kWrongLength,        // a reply of the wrong length, or of another telegram
    kConflict,           // the PLC sent when it should have listened
    kPortGone,           // the port could not be written, or is no longer there
};

struct TransferOutcome {
    FailureKind kind = FailureKind::kNone;
    LineFault fault = LineFault::kUnknown;
    bool every_attempt_unacknowledged = false;
    int plc_error = -1;  // the PLC's error number, when it sent one
    int attempts = 1;
    std::string reason;  // the driver's last refusal line; empty when it logged none
};

TransferOutcome JudgeTransfer(int32_t code, const std::vector<std::string>& lines);

// True when line is the driver's format filled in (%s, %c, %d, %u, %X);
// the fields' texts in *fields (null: not wanted).
bool MatchesFormat(const char* format, const std::string& line, std::vector<std::string>* fields);

// Every driver text the judge interprets, for the tests that hold the two
// to one another.
std::span<const char* const> InterpretedTexts();

std::string PlcErrorText(int error);

// The failure in this tool's words: "PLC refused: error 0x14: data block
// does not exist", "line failure: no acknowledgement of the telegram", ...
std::string Describe(const TransferOutcome& outcome);

// What to look at, for a line failure ("hint: ..."); empty for the others.
std::string Hint(const TransferOutcome& outcome);

// For statistics and machine-readable status: "ok", "refused",
// "plc-error-0x14", "line-failure-no-ack".
std::string StatusName(const TransferOutcome& outcome);

ExitCode ExitCodeOf(const TransferOutcome& outcome);

}  // namespace morvane::tool
