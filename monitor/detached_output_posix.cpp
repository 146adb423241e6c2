#include "monitor/detached_output.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace morvane::monitor {

struct DetachedOutput::State {
    Sink sink;
    size_t room;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> queue;
    size_t queued = 0;     // bytes in the queue
    bool writing = false;  // the thread has a chunk in hand
    bool stopping = false;
    uint64_t dropped = 0;  // bytes dropped or not written
    std::string failure;   // why writing failed; nothing more is written then

    void Run() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return stopping || !queue.empty(); });
            if (queue.empty()) return;
            std::string chunk = std::move(queue.front());
            queue.pop_front();
            queued -= chunk.size();
            writing = true;
            lock.unlock();
            const bool written = failure.empty() && sink(chunk);
            const int error = errno;
            lock.lock();
            writing = false;
            if (!written) {
                dropped += chunk.size();
                if (failure.empty()) failure = std::strerror(error);
            }
            changed.notify_all();
        }
    }
};

DetachedOutput::DetachedOutput(Sink sink, size_t room) : state_(std::make_shared<State>()) {
    state_->sink = std::move(sink);
    state_->room = room;
    std::thread([state = state_] { state->Run(); }).detach();
}

DetachedOutput::~DetachedOutput() {
    std::string ignored;
    if (!finished_) Finish(std::chrono::milliseconds(500), &ignored);
}

void DetachedOutput::Write(std::string chunk) {
    if (chunk.empty()) return;
    std::lock_guard lock(state_->mutex);
    if (state_->stopping || state_->queued + chunk.size() > state_->room) {
        state_->dropped += chunk.size();
        return;
    }
    state_->queued += chunk.size();
    state_->queue.push_back(std::move(chunk));
    state_->changed.notify_all();
}

FILE* DetachedOutput::stream() {
    if (stream_ != nullptr) return stream_;
    cookie_io_functions_t calls{};
    calls.write = [](void* cookie, const char* bytes, size_t size) -> ssize_t {
        static_cast<DetachedOutput*>(cookie)->Write(std::string(bytes, size));
        return static_cast<ssize_t>(size);
    };
    stream_ = fopencookie(this, "w", calls);
    if (stream_ != nullptr) setvbuf(stream_, nullptr, _IOLBF, 0);
    return stream_;
}

bool DetachedOutput::Finish(std::chrono::milliseconds wait, std::string* error) {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    finished_ = true;
    std::unique_lock lock(state_->mutex);
    const bool written = state_->changed.wait_for(
        lock, wait, [this] { return state_->queue.empty() && !state_->writing; });
    // A thread still held by its reader is left to the end of the process.
    state_->stopping = true;
    state_->changed.notify_all();
    const uint64_t lost = state_->dropped + (written ? 0 : state_->queued);
    if (lost == 0 && state_->failure.empty()) return true;
    *error = std::to_string(lost) + " bytes not written: " +
             (!state_->failure.empty() ? state_->failure
              : written                ? "its reader fell behind, and they did not fit"
                                       : "its reader stopped reading");
    return false;
}

DetachedOutput::Sink DescriptorSink(int fd) {
    return [fd](const std::string& chunk) {
        for (size_t at = 0; at < chunk.size();) {
            const ssize_t written = write(fd, chunk.data() + at, chunk.size() - at);
            if (written < 0 && errno != EINTR) return false;
            at += written > 0 ? static_cast<size_t>(written) : 0;
        }
        return true;
    };
}

}  // namespace morvane::monitor
