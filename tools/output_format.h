// How read and poll print what they got: text for people (values, or the
// words as they came off the line with their numbers), JSON (one object per
// value, or per failed sample) or CSV for machines.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "commands.h"
#include "gate_values.h"
#include "host_platform.h"
#include "transfer_outcome.h"

namespace morvane::tool {

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

    // "poll: 10 transfers, 8 good, 2 failed (line-failure 2), 3 retries,
    // time min/mean/max 4.1/5.0/1012.3 ms"
    std::string Line() const;

    // kExitOk when every transfer went through; else the last failure's.
    ExitCode exit_code() const { return exit_code_; }

  private:
    long transfers_ = 0;
    long good_ = 0;
    long retries_ = 0;
    std::map<std::string, long> failed_;  // by status name
    double min_ms_ = 0;
    double max_ms_ = 0;
    double total_ms_ = 0;
    ExitCode exit_code_ = kExitOk;
};

}  // namespace morvane::tool
