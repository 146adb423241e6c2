// What a poll saw, for its closing line: transfers, good ones, failures by
// kind, retries, and the least, mean and longest time of a transfer.
#pragma once

#include <chrono>
#include <map>
#include <string>

#include "exit_codes.h"
#include "transfer_outcome.h"

namespace morvane::tool {

class PollStatistics {
  public:
    void Add(const TransferOutcome& outcome, std::chrono::duration<double> time);

    // "poll: 10 transfers, 8 good, 2 failed (line-failure 2), 3 retries,
    // time min/mean/max 4.1/5.0/1012.3 ms"
    std::string Line() const;

    long transfers() const { return transfers_; }
    long good() const { return good_; }
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
