// The driver's log lines as this tool shows them: time-stamped, with named
// levels, on standard error or in a file. The normal start-up lines are held
// back (shown when start-up fails, or when asked for), and the recent lines
// are kept so that a failure message can give the driver's own reason.
// The driver logs on the thread that calls it, this tool's only caller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane::tool {

struct LogOptions {
    int minimum_level = 32;      // operator lines and above; traces with --verbose
    bool show_start_up = false;  // --verbose or an explicit --log-level
    std::string file;            // empty: standard error
};

// False with *error when the file cannot be opened.
bool StartDriverLog(const LogOptions& options, std::string* error);

// Closes the log file at the end of the session. False with *error
// ("cannot write FILE: No space left on device") when a line did not reach
// it: a log lost on a full disk is said, not taken as written.
bool EndDriverLog(std::string* error);

std::string LevelName(int level);

// While start-up runs, lines are held back; EndStartUp shows them when it
// failed (or when they were asked for) and drops them otherwise.
void BeginStartUp();
void EndStartUp(bool failed);

// The lines (every level) the driver logged since this window was opened;
// the most recent kKeptLines at most.
class LogWindow {
  public:
    LogWindow();
    std::vector<std::string> Lines() const;
    static constexpr uint64_t kKeptLines = 1024;

  private:
    uint64_t first_;
};

}  // namespace morvane::tool
