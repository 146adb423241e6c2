#include "driver_log.h"
#include "host_platform.h"

#include <array>
#include <cstdio>

#include "ostrel/ostrel_control.h"
#include "progress.h"

namespace morvane::tool {
namespace {

struct HeldLine {
    int level;
    std::string text;
};

struct LogState {
    LogOptions options;
    FILE* file = nullptr;
    bool holding = false;
    std::vector<HeldLine> held;
    std::array<std::string, LogWindow::kKeptLines> recent;
    uint64_t next = 0;  // sequence number of the next line
};

LogState& State() {
    static LogState state;
    return state;
}

void Write(LogState& state, int level, const std::string& text) {
    if (level < state.options.minimum_level) return;
    const bool to_file = state.file != nullptr;
    std::string name = LevelName(level);
    name.resize(name.size() < 8 ? 8 : name.size(), ' ');  // the texts line up
    const std::string line =
        LocalClock(std::chrono::system_clock::now(), to_file) + " " + name + " " + text;
    if (!to_file) {
        WriteErrorLine(line);
        return;
    }
    std::fprintf(state.file, "%s\n", line.c_str());
    std::fflush(state.file);
}

void Sink(int level, const char* line, void*) {
    LogState& state = State();
    state.recent[state.next++ % LogWindow::kKeptLines] = line;
    if (state.holding) {
        state.held.push_back({level, line});
        return;
    }
    Write(state, level, line);
}

}  // namespace

bool StartDriverLog(const LogOptions& options, std::string* error) {
    LogState& state = State();
    state.options = options;
    if (!options.file.empty()) {
        std::string why;
        state.file = OpenStreamFile(options.file, true, &why);
        if (state.file == nullptr) {
            *error = "cannot write the log: " + why;
            return false;
        }
    }
    OstrelSetLogSink(Sink, nullptr);
    return true;
}

std::string LevelName(int level) {
    if (level == 8) return "trace";
    if (level == 32) return "operator";
    return "level " + std::to_string(level);
}

void BeginStartUp() {
    LogState& state = State();
    state.holding = !state.options.show_start_up;
}

void EndStartUp(bool failed) {
    LogState& state = State();
    state.holding = false;
    if (failed)
        for (const HeldLine& line : state.held)
            Write(state, line.level, line.text);
    state.held.clear();
}

LogWindow::LogWindow() {
    LogState& state = State();
    first_ = state.next;
}

std::vector<std::string> LogWindow::Lines() const {
    LogState& state = State();
    const uint64_t oldest = state.next > kKeptLines ? state.next - kKeptLines : 0;
    std::vector<std::string> lines;
    for (uint64_t at = first_ > oldest ? first_ : oldest; at < state.next; ++at)
        lines.push_back(state.recent[at % kKeptLines]);
    return lines;
}

}  // namespace morvane::tool
