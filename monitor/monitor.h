// The monitor as a whole: characters in, lines of output and a summary out.
// The line decoder reads the procedure, the assembler the transfers; the
// output shows them as text lines, JSON objects (one per event) or CSV rows
// (transfers only), filtered by data block, kind and result.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "monitor/line_decoder.h"
#include "monitor/summary.h"
#include "monitor/transfers.h"

namespace morvane::monitor {

enum class OutputForm { kText, kJson, kCsv };

// Terms a transfer must all meet to show: "DB1", "FETCH", "SEND", "ok",
// "failed". Anomalies and the summary always show.
struct Filter {
    int data_block = -1;
    int kind = -1;    // TransferKind, or -1
    int failed = -1;  // 0 ok only, 1 failed only, -1 both
    // False for a term it does not know, and for one that contradicts a term
    // added before (two data blocks, two kinds, ok and failed), which no
    // transfer could meet: *contradiction then says why.
    bool Add(const std::string& term, std::string* contradiction = nullptr);
    bool Shows(const Transfer& transfer) const;
};

struct MonitorOptions {
    ProcedureTimes times;
    Heard heard = Heard::kBoth;  // one side alone: a single tap
    OutputForm form = OutputForm::kText;
    bool verbose = false;  // every handshake and block too
    Filter filter;
    uint32_t baud = 9600;
    uint32_t bits_per_char = 11;
    uint64_t start_utc_us = 0;  // wall-clock time of time 0; 0: times since the start
    std::function<void(const Transfer&)> on_transfer;  // besides the output
};

class Monitor : private LinkSink {
  public:
    Monitor(const MonitorOptions& options, FILE* out);

    void Feed(const LineChar& c);
    void Tick(uint64_t now_us);
    void Flush();
    void PrintSummary(FILE* out) const;

    const Summary& summary() const { return summary_; }
    // Characters accounted for by link events so far.
    uint64_t accounted() const { return accounted_; }

  private:
    void OnLink(const LinkEvent& event) override;
    void OnAnomaly(const Anomaly& anomaly) override;
    void OnTransfer(const Transfer& transfer);
    void Print(const LinkEvent& event);
    // Appends the time as the lines show it to line_.
    void AddTime(uint64_t time_us);
    // Writes line_, which ends with its newline.
    void WriteLine();

    MonitorOptions options_;
    FILE* out_;
    Summary summary_;
    LineDecoder decoder_;
    TransferAssembler assembler_;
    uint64_t accounted_ = 0;
    bool csv_header_ = false;
    std::string line_;  // the line being written, its room kept from line to line
    // The wall-clock second last shown, turned into local time only when it changes.
    int64_t shown_second_ = -1;
    char shown_clock_[9] = {};  // "hh:mm:ss"
};

// The text of a hex byte run: "00 00 45 44".
std::string HexBytes(const std::vector<uint8_t>& bytes);

}  // namespace morvane::monitor
