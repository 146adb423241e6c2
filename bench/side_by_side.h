// What the side-by-side line benchmarks share: their options, the levels
// the driver may take for time-critical, and a paced channel whose
// simulator stands for the PLC, a device of its own that the host's load
// does not slow: its serving thread runs real-time, above the driver's
// raise, when the process may (else at the best nice value it may take).
#pragma once

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "link/thread_priority.h"
#include "paced_channel.h"

namespace morvane::bench {

struct Options {
    int rounds;
    double batch_ms;  // line time of a variant's batch of calls
    std::vector<uint32_t> rates;
};

// --rounds N, --batch-ms MS, --rates R,R..., and --quick: one round of
// three calls each at 115200.
inline Options ParseOptions(int argc, char** argv, Options options) {
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--quick") == 0) {
            options = {1, 0, {115200}};
        } else if (std::strcmp(argv[i], "--rounds") == 0 && has_value) {
            options.rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--batch-ms") == 0 && has_value) {
            options.batch_ms = std::max(0.0, std::atof(argv[++i]));
        } else if (std::strcmp(argv[i], "--rates") == 0 && has_value) {
            options.rates.clear();
            for (char* rate = std::strtok(argv[++i], ","); rate; rate = std::strtok(nullptr, ","))
                options.rates.push_back(static_cast<uint32_t>(std::atoi(rate)));
        }
    }
    return options;
}

constexpr const auto& kLevels = kTimeCriticalLevels;

inline const Case& CaseNamed(const char* name) {
    for (const Case& c : Cases())
        if (std::strcmp(c.name, name) == 0) return c;
    return Cases().front();
}

// The calling thread's scheduling for the life of the object: real-time at
// the given priority, or failing that the best nice value.
class ScopedRaise {
  public:
    explicit ScopedRaise(int fifo_priority) {
        sched_param param{};
        param.sched_priority = fifo_priority;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) {
            how_ = "real-time";
        } else if (setpriority(PRIO_PROCESS, 0, -20) == 0) {
            how_ = "nice -20";
        }
    }
    ~ScopedRaise() {
        sched_param param{};
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
        setpriority(PRIO_PROCESS, 0, 0);
    }
    ScopedRaise(const ScopedRaise&) = delete;
    ScopedRaise& operator=(const ScopedRaise&) = delete;

    const char* how() const { return how_; }

  private:
    const char* how_ = "ordinary";
};

// A paced channel whose simulator thread starts (and so stays) above the
// driver's real-time raise: new threads take their creator's scheduling.
inline std::unique_ptr<PacedChannel> PlcChannel(int32_t channel_number, uint32_t baud,
                                                bool with_host, const char** simulator_runs) {
    const ScopedRaise raise(sched_get_priority_min(SCHED_FIFO) + 1);
    *simulator_runs = raise.how();
    return std::make_unique<PacedChannel>(channel_number, baud, with_host);
}

// Characters that crossed the line in one call of run (the channel's count
// once the line fell quiet after it), 0 when the call failed.
template <typename Run>
double CharactersOfOneCall(const PacedChannel& channel, Run run) {
    constexpr int kQuietMs = 20;
    channel.LastCharacterAt(kQuietMs);
    const uint64_t before = channel.characters();
    if (!run()) return 0;
    channel.LastCharacterAt(kQuietMs);
    return static_cast<double>(channel.characters() - before);
}

inline double LineMs(double characters, uint32_t baud) {
    return characters * kBitsPerCharacter * 1000.0 / baud;
}

// Calls of a variant's batch: its line time, at least three.
inline int CallsPerBatch(double batch_ms, double line_ms) {
    return std::max(3, static_cast<int>(std::ceil(batch_ms / line_ms)));
}

}  // namespace morvane::bench
