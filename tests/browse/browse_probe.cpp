// Asks the driver for an address through command 16 and writes
// "<result> <address buffer>" to the file named by the first argument.
#include <cstdio>

#include "morvane/morvane.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    char buffer[10] = "untouched";
    BrowseBlock block{buffer, nullptr};
    TevRequest request{};
    request.command_code = MORVANE_CMD_BROWSE_ADDRESS;
    request.parameter_block = &block;
    const int32_t result = TevMain(&request);
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) return 1;
    std::fprintf(out, "%d %s\n", static_cast<int>(result), buffer);
    std::fclose(out);
    return 0;
}
