// main() of a Google Benchmark program that takes --quick: CI's brief run
// of every benchmark.
#pragma once

#include <benchmark/benchmark.h>

#include <cstring>

namespace morvane::bench {

// Removes --quick from the arguments; true when it was there.
inline bool TakeQuickFlag(int* argc, char** argv) {
    bool quick = false;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else
            argv[kept++] = argv[i];
    }
    *argc = kept;
    return quick;
}

// Registers the program's benchmarks, briefly or in full, and runs them.
inline int RunBenchmarks(int argc, char** argv, void (*register_benchmarks)(bool quick)) {
    register_benchmarks(TakeQuickFlag(&argc, argv));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace morvane::bench
