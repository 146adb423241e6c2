// Per-call wall times and per-batch CPU of the calling thread, for the
// benchmarks that set variants side by side: each variant runs a batch in
// turn (ABCABC...), so a machine that gets busier mid-run moves them alike.
#pragma once

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

namespace morvane::bench {

inline double ThreadCpuUs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// The value below which the given share of the sorted values lies.
inline double Quantile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t at = static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

struct CallSamples {
    std::vector<double> wall_ms;  // one a call
    std::vector<double> cpu_us;   // one a batch: its thread CPU over its calls
    bool ok = true;

    // Runs calls of call() back to back as one batch; call returns false on failure.
    template <typename Call>
    void RunBatch(int calls, Call call) {
        const double cpu_before = ThreadCpuUs();
        for (int i = 0; i < calls && ok; ++i) {
            const auto start = std::chrono::steady_clock::now();
            ok = call();
            wall_ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        cpu_us.push_back((ThreadCpuUs() - cpu_before) / calls);
    }

    double MedianMs() const { return Quantile(wall_ms, 0.5); }
    double P99Ms() const { return Quantile(wall_ms, 0.99); }
    double CpuUs() const { return Quantile(cpu_us, 0.5); }
};

}  // namespace morvane::bench
