// The account of a watched line: transfers by kind and result, retries,
// anomalies by class, response times per kind and the line's busy share in
// each direction. With one side heard alone: that side's requests by kind
// or replies by result instead, and the procedure as far as it is known.
#pragma once

#include <cstdint>
#include <cstdio>

#include "monitor/events.h"

namespace morvane::monitor {

struct ResponseTimes {
    uint64_t count = 0;
    uint64_t min_us = 0;
    uint64_t max_us = 0;
    uint64_t total_us = 0;
};

class Summary {
  public:
    void Char(const LineChar& c) {
        Until(c.time_us);
        ++chars_[static_cast<int>(c.from)];
    }
    // Time watched so far, characters or not.
    void Until(uint64_t now_us) { last_us_ = now_us > last_us_ ? now_us : last_us_; }
    void Hear(Heard heard) { heard_ = heard; }
    void Add(const Transfer& transfer);
    void Add(const Anomaly& anomaly) { ++anomalies_[static_cast<int>(anomaly.what)]; }

    uint64_t transfers(TransferKind kind, TransferResult result) const {
        return transfers_[static_cast<int>(kind)][static_cast<int>(result)];
    }
    uint64_t transfers() const;
    uint64_t retries() const { return retries_; }
    uint64_t anomalies(AnomalyClass what) const { return anomalies_[static_cast<int>(what)]; }
    uint64_t chars(Side side) const { return chars_[static_cast<int>(side)]; }
    const ResponseTimes& times(TransferKind kind) const { return times_[static_cast<int>(kind)]; }
    // Share of the time watched in which the side sent, at bits_per_char /
    // baud seconds a character; above 1 when the rate given is too low.
    double BusyShare(Side side, uint32_t baud, uint32_t bits_per_char) const;

    // procedure: "3964", "3964R" or "unknown"; shown with one side alone.
    void PrintText(FILE* out, uint32_t baud, uint32_t bits_per_char,
                   const char* procedure = "unknown") const;
    void PrintJson(FILE* out, uint32_t baud, uint32_t bits_per_char,
                   const char* procedure = "unknown") const;

  private:
    bool Unseen(TransferKind kind) const;
    void PrintAnomaliesText(FILE* out, uint32_t baud, uint32_t bits_per_char) const;
    void PrintAnomaliesJson(FILE* out, uint32_t baud, uint32_t bits_per_char) const;
    void PrintOneSideText(FILE* out, const char* procedure) const;
    void PrintOneSideJson(FILE* out, const char* procedure) const;

    Heard heard_ = Heard::kBoth;
    uint64_t requests_[3] = {};  // host alone: by kind
    uint64_t replies_[4] = {};   // PLC alone: by result
    uint64_t transfers_[3][4] = {};
    uint64_t retries_ = 0;
    uint64_t anomalies_[static_cast<int>(AnomalyClass::kCount)] = {};
    uint64_t chars_[2] = {};
    uint64_t last_us_ = 0;  // from 0, the start of the watch
    ResponseTimes times_[3];
};

}  // namespace morvane::monitor
