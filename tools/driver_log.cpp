#include "driver_log.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "host_platform.h"
#include "ostrel/ostrel_control.h"

namespace morvane::tool {
namespace {

struct HeldLine {
    int level;
    std::string text;
};

struct LogState {
    LogOptions options;
    FILE* file = nullptr;
    int write_error = 0;  // errno of the first line the file did not take
    bool holding = false;
    std::vector<HeldLine> held;
    std::array<std::string, LogWindow::kKeptLines> recent;
    uint64_t next = 0;  // sequence number of the next line
} g_log;

void Write(int level, const std::string& text) {
    if (level < g_log.options.minimum_level) return;
    const bool to_file = g_log.file != nullptr;
    std::string name = LevelName(level);
    name.resize(name.size() < 8 ? 8 : name.size(), ' ');  // the texts line up
    const std::string line =
        LocalClock(std::chrono::system_clock::now(), to_file) + " " + name + " " + text;
    if (!to_file) return WriteErrorLine(line);
    if ((std::fprintf(g_log.file, "%s\n", line.c_str()) < 0 || std::fflush(g_log.file) != 0) &&
        g_log.write_error == 0)
        g_log.write_error = errno != 0 ? errno : EIO;
}

void Sink(int level, const char* line, void*) {
    g_log.recent[g_log.next++ % LogWindow::kKeptLines] = line;
    if (g_log.holding)
        g_log.held.push_back({level, line});
    else
        Write(level, line);
}

}  // namespace

bool StartDriverLog(const LogOptions& options, std::string* error) {
    g_log.options = options;
    if (!options.file.empty()) {
        std::string why;
        g_log.file = OpenStreamFile(options.file, true, &why);
        if (g_log.file == nullptr) {
            *error = "cannot write the log: " + why;
            return false;
        }
    }
    OstrelSetLogSink(Sink, nullptr);
    return true;
}

bool EndDriverLog(std::string* error) {
    if (g_log.file == nullptr) return true;
    if (std::fclose(g_log.file) != 0 && g_log.write_error == 0)
        g_log.write_error = errno != 0 ? errno : EIO;
    g_log.file = nullptr;
    g_log.options.minimum_level = INT_MAX;  // the session is over: nothing goes elsewhere
    // A reader of a pipe that has gone stops the session (SIGPIPE), said so.
    if (g_log.write_error == 0 || g_log.write_error == EPIPE) return true;
    *error = "cannot write " + g_log.options.file + ": " + std::strerror(g_log.write_error);
    return false;
}

std::string LevelName(int level) {
    if (level == 8) return "trace";
    if (level == 32) return "operator";
    return "level " + std::to_string(level);
}

void BeginStartUp() {
    g_log.holding = !g_log.options.show_start_up;
}

void EndStartUp(bool failed) {
    g_log.holding = false;
    if (failed)
        for (const HeldLine& line : g_log.held)
            Write(line.level, line.text);
    g_log.held.clear();
}

LogWindow::LogWindow() : first_(g_log.next) {}

std::vector<std::string> LogWindow::Lines() const {
    const uint64_t oldest = g_log.next > kKeptLines ? g_log.next - kKeptLines : 0;
    std::vector<std::string> lines;
    for (uint64_t at = first_ > oldest ? first_ : oldest; at < g_log.next; ++at)
        lines.push_back(g_log.recent[at % kKeptLines]);
    return lines;
}

}  // namespace morvane::tool
