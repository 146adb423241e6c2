// Captures the driver's log lines through the host library stand-in's sink.
#pragma once

#include <string>
#include <vector>

#include "ostrel/ostrel_control.h"

namespace morvane::test {

struct LogLine {
    int level;
    std::string text;
};

class LogCapture {
  public:
    LogCapture() { OstrelSetLogSink(&LogCapture::Sink, this); }
    ~LogCapture() { OstrelSetLogSink(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<LogLine>& lines() const { return lines_; }
    void clear() { lines_.clear(); }

    // True when a line with exactly this text was logged at this level.
    bool Has(int level, const std::string& text) const {
        for (const LogLine& line : lines_)
            if (line.level == level && line.text == text) return true;
        return false;
    }
    // Number of lines with exactly this text, at any level.
    int Count(const std::string& text) const {
        int n = 0;
        for (const LogLine& line : lines_)
            n += line.text == text ? 1 : 0;
        return n;
    }
    // All lines, one per row, for failure messages.
    std::string Dump() const {
        std::string out;
        for (const LogLine& line : lines_)
            out += std::to_string(line.level) + " " + line.text + "\n";
        return out;
    }

  private:
    static void Sink(int level, const char* line, void* context) {
        static_cast<LogCapture*>(context)->lines_.push_back({level, line});
    }
    std::vector<LogLine> lines_;
};

}  // namespace morvane::test
