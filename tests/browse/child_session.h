// Runs a piece of code in a child process of its own session: with a fresh
// pseudo-terminal as its controlling terminal, or with no terminal at all.
// The parent reads what the child draws, types keys, and collects a report
// the child writes to a pipe.
#pragma once

#include <functional>
#include <string>

namespace morvane::test {

class ChildSession {
  public:
    // body gets the pipe to write its report to; the child exits afterwards.
    ChildSession(bool with_terminal, const std::function<void(int report_fd)>& body);
    ~ChildSession();
    ChildSession(const ChildSession&) = delete;
    ChildSession& operator=(const ChildSession&) = delete;

    // Waits until the terminal output so far contains text.
    bool WaitForOutput(const std::string& text, int timeout_ms);
    void Type(const std::string& keys);
    // Closes the terminal's master side, as a terminal window closing does.
    void HangUp();
    // The whole report, once the child has closed the pipe (empty on time-out).
    std::string Report(int timeout_ms);
    // The child's exit status, or -1 when it did not exit in time (it is then killed).
    int Wait(int timeout_ms);

    const std::string& output() const { return output_; }
    // The terminal's master side: its window size and settings are the child's.
    int master() const { return master_; }

  private:
    void Drain(int timeout_ms);

    int pid_ = -1;
    int master_ = -1;
    int report_ = -1;
    std::string output_;
};

// Milliseconds of the monotonic clock, for the tests' bounded waits.
long NowMs();

// Writes text to a report pipe.
void WriteReport(int fd, const std::string& text);

}  // namespace morvane::test
