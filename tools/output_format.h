// How read and poll print what they got: text for people (values, or a hex
// dump of the words with their numbers), JSON (one object per value, or per
// failed sample) or CSV for machines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "morvane/morvane.h"
#include "transfer_outcome.h"
#include "wall_clock.h"

namespace morvane::tool {

enum class OutputForm { kText, kHexDump, kJson, kCsv };

struct DisplayOptions {
    OutputForm form = OutputForm::kText;
    bool signed_words = false;
};

// Takes one display option (--json, --csv, --hex, --signed); false for any
// other argument.
bool TakeDisplayOption(const std::string& option, DisplayOptions* display);

inline constexpr char kDisplayOptionsUsage[] =
    "output of read and poll:\n"
    "  --hex              block reads as a hex dump of the words with their numbers\n"
    "  --signed           words as signed 16-bit numbers\n"
    "  --json             one JSON object per value (poll: also per failed sample)\n"
    "  --csv              one CSV row per value, with a header row\n";

// One transfer's result as read or poll prints it.
struct Sample {
    WallTime time;
    std::string address;
    GateAddress gate{};
    bool block = false;
    int32_t count = 1;
    const std::vector<uint8_t>* buffer = nullptr;  // the values, when it went through
    TransferOutcome outcome;
    long number = -1;  // poll's sample number, from 1; -1 for a read
};

// Prints a sample on standard output: its values, or for a failed one a
// line with its reason and attempts (JSON and CSV: its status). CSV output
// starts with a header row.
void PrintSample(const DisplayOptions& display, const Sample& sample);

// A JSON string literal: quotes, backslashes and control bytes escaped,
// bytes above 0x7F as \u00XX (code page bytes kept apart from UTF-8).
std::string JsonString(const std::string& text);

// A CSV field, quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text);

}  // namespace morvane::tool
