// Runs a shell command line and collects its standard output (add "2>&1"
// for standard error too).
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace morvane::test {

// The command's exit status, or -1 when it could not run or was killed.
inline int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char chunk[4096];
    size_t n = 0;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output->append(chunk, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace morvane::test
