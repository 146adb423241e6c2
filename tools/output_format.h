// How read and poll print what they got: text for people (values, or the
// words as they came off the line with their numbers), JSON (one object per
// value, or per failed sample) or CSV for machines.
#pragma once

#include <string>
#include <vector>

#include "commands.h"
#include "gate_values.h"
#include "transfer_outcome.h"
#include "wall_clock.h"

namespace morvane::tool {

// One transfer's result as read or poll prints it.
struct Sample {
    WallTime time;
    std::string address;
    GateAddress gate{};  // with --hex: the words the address covers
    bool block = false;
    std::vector<Value> values;  // when it went through
    TransferOutcome outcome;
    long number = -1;  // poll's sample number, from 1; -1 for a read
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

}  // namespace morvane::tool
