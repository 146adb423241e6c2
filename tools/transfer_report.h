// How a transfer ended and how read and poll report it.
//
// The judge reads TevMain's result and the lines the driver logged meanwhile
// (their texts in gates/log_texts.h): the kind of failure and, on the line,
// its class, the PLC's error number, the attempts it took and the driver's
// own reason. The output is text for people (values, or the words as they
// came off the line with their numbers), JSON (one object per value, or per
// failed sample) or CSV for machines.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "commands.h"
#include "gate_values.h"
#include "host_platform.h"

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
    std::string reason{};  // the driver's last refusal line; empty when it logged none
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

struct Sample {
    WallTime time;
    std::string address;
    GateAddress gate{};  // with --hex: the words the address covers
    bool block = false;
    long number = -1;             // poll's sample number, from 1; -1 for a read
    std::vector<Value> values{};  // when it went through
    TransferOutcome outcome{};
};

// Prints a sample on standard output: its values, or for a failed one a
// line with its reason and attempts (JSON and CSV: its status). CSV output
// starts with a header row.
void PrintSample(const DisplayOptions& display, const Sample& sample);

// A JSON string literal: quotes, backslashes and control bytes escaped,
// bytes above 0x7E as \u00XX (a byte of the PLC's string is a character of
// Latin-1, as CSV writes it).
std::string JsonString(const std::string& text);

// A CSV field in UTF-8, quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text);

// What a poll saw, for its closing line: transfers, good ones, failures by
// kind, retries, and the least, mean and longest time of a transfer.
class PollStatistics {
  public:
    void Add(const TransferOutcome& outcome, std::chrono::duration<double> time);
    // Samples whose time passed while a transfer outlasted the period.
    void LeaveOut(long samples) { left_out_ += samples; }

    // "poll: 10 transfers, 8 good, 2 failed (line-failure 2), 3 retries,
    // time min/mean/max 4.1/5.0/1012.3 ms", and the samples left out, if any
    std::string Line() const;

    // kExitOk when every transfer went through; else the last failure's.
    ExitCode exit_code() const { return exit_code_; }

  private:
    long transfers_ = 0;
    long good_ = 0;
    long retries_ = 0;
    long left_out_ = 0;
    std::map<std::string, long> failed_;  // by status name
    double min_ms_ = 0;
    double max_ms_ = 0;
    double total_ms_ = 0;
    ExitCode exit_code_ = kExitOk;
};

}  // namespace morvane::tool
