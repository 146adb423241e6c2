// Windows: no progress line yet (the tool's threads there would need the
// cross-compiler's POSIX thread model); messages go straight out.
#include <cstdio>

#include "progress.h"

namespace morvane::tool {

struct TransferProgress::Watch {};

void WriteErrorLine(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

TransferProgress::TransferProgress(std::string, std::chrono::milliseconds) {}

TransferProgress::~TransferProgress() = default;

}  // namespace morvane::tool
