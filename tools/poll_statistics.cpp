#include "poll_statistics.h"

#include <cstdio>

namespace morvane::tool {

void PollStatistics::Add(const TransferOutcome& outcome, std::chrono::duration<double> time) {
    const double ms = time.count() * 1000;
    min_ms_ = transfers_ == 0 || ms < min_ms_ ? ms : min_ms_;
    max_ms_ = ms > max_ms_ ? ms : max_ms_;
    total_ms_ += ms;
    ++transfers_;
    retries_ += outcome.attempts - 1;
    if (outcome.kind == FailureKind::kNone) {
        ++good_;
        return;
    }
    ++failed_[StatusName(outcome)];
    exit_code_ = ExitCodeOf(outcome);
}

std::string PollStatistics::Line() const {
    std::string kinds;
    for (const auto& [name, count] : failed_)
        kinds += (kinds.empty() ? " (" : ", ") + name + " " + std::to_string(count);
    if (!kinds.empty()) kinds += ")";
    char times[96] = "";
    if (transfers_ > 0)
        std::snprintf(times, sizeof times, ", time min/mean/max %.1f/%.1f/%.1f ms", min_ms_,
                      total_ms_ / static_cast<double>(transfers_), max_ms_);
    return "poll: " + std::to_string(transfers_) + " transfers, " + std::to_string(good_) +
           " good, " + std::to_string(transfers_ - good_) + " failed" + kinds + ", " +
           std::to_string(retries_) + " retries" + times;
}

}  // namespace morvane::tool
