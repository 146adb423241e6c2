// --quick on a Google Benchmark program: CI's brief run of every benchmark.
#pragma once

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

}  // namespace morvane::bench
