// Output written by a thread of its own, so that a reader that stops
// reading (a pager, a terminal held with Ctrl-S, a stalled pipe or disk)
// never holds up the thread that forwards the line: forwarding comes first.
// What does not fit the room while the reader lags is dropped and counted,
// and the end says so. Linux only, as the line watch.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace morvane::monitor {

class DetachedOutput {
  public:
    // Writes a chunk where it goes; false on failure, errno telling why.
    using Sink = std::function<bool(const std::string& chunk)>;
    static constexpr size_t kRoom = 4 << 20;

    explicit DetachedOutput(Sink sink, size_t room = kRoom);
    ~DetachedOutput();  // Finish with a short wait, if not finished
    DetachedOutput(const DetachedOutput&) = delete;
    DetachedOutput& operator=(const DetachedOutput&) = delete;

    // Queued, or dropped when the room is full; never waits on the reader.
    void Write(std::string chunk);
    // A line-buffered stream whose writes are Write()s, for code that
    // prints to a FILE; closed by Finish.
    FILE* stream();

    // Waits up to wait for what is queued to be written. True when all of
    // it was; else false with *error: how much was dropped or not written,
    // and why.
    bool Finish(std::chrono::milliseconds wait, std::string* error);

  private:
    struct State;
    std::shared_ptr<State> state_;  // the writing thread's too: it may outlive this
    FILE* stream_ = nullptr;
    bool finished_ = false;
};

// A sink for a file descriptor: write(2) until the chunk is out. No stdio
// lock is held while a reader keeps it waiting.
DetachedOutput::Sink DescriptorSink(int fd);

}  // namespace morvane::monitor
