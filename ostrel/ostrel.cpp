// Host library stand-in: formats log lines and hands them to a sink, and
// registers clients with a configurable version number.
#include "morvane/ostrel.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "ostrel/ostrel_control.h"

namespace {

constexpr size_t kLineSize = 1024;  // longer lines are cut, never overrun

// A spin lock: the stand-in must build with every thread model of the
// Windows cross-compiler, and lines are short.
class SpinLock {
  public:
    void lock() {
        while (flag_.test_and_set(std::memory_order_acquire)) {
        }
    }
    void unlock() { flag_.clear(std::memory_order_release); }

  private:
    std::atomic_flag flag_ = ATOMIC_FLAG_INIT;
};

struct Guard {
    explicit Guard(SpinLock& lock) : lock_(lock) { lock_.lock(); }
    ~Guard() { lock_.unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    SpinLock& lock_;
};

struct LogState {
    SpinLock mutex;
    OstrelLogSink sink = nullptr;
    void* context = nullptr;
    FILE* file = nullptr;
    int minimum_level = 0;
    uint16_t version = 820;
    bool refuse_clients = false;
    uint8_t next_client = 1;
};

LogState& State() {
    static LogState state;
    return state;
}

}  // namespace

extern "C" OSTREL_API int MORVANE_CALL err(int level, const char* format, ...) {
    char line[kLineSize];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof line, format ? format : "", args);
    va_end(args);
    if (length < 0) line[0] = '\0';

    LogState& state = State();
    OstrelLogSink sink = nullptr;
    void* context = nullptr;
    {
        Guard lock(state.mutex);
        sink = state.sink;
        context = state.context;
    }
    if (sink != nullptr) {  // called unlocked: a sink may log again
        sink(level, line, context);
        return 0;
    }
    Guard lock(state.mutex);
    if (level < state.minimum_level) return 0;
    FILE* out = state.file != nullptr ? state.file : stderr;
    std::fprintf(out, "%2d %s\n", level, line);
    std::fflush(out);
    return 0;
}

extern "C" OSTREL_API uint16_t MORVANE_CALL OstMkClient(const char* name, int, int,
                                                        uint8_t* client_id) {
    LogState& state = State();
    Guard lock(state.mutex);
    if (state.refuse_clients || name == nullptr || client_id == nullptr) return 1;
    *client_id = state.next_client++;
    if (state.next_client == 0) state.next_client = 1;
    return 0;
}

extern "C" OSTREL_API int MORVANE_CALL OstGetOstrelVer(uint8_t, uint16_t* version, char* buffer) {
    LogState& state = State();
    Guard lock(state.mutex);
    if (version != nullptr) *version = state.version;
    if (buffer != nullptr) std::snprintf(buffer, 100, "OSTREL stand-in %u", state.version);
    return 0;
}

extern "C" OSTREL_API int MORVANE_CALL OstRmClient(uint8_t) {
    return 0;
}

extern "C" OSTREL_API void OstrelSetLogSink(OstrelLogSink sink, void* context) {
    LogState& state = State();
    Guard lock(state.mutex);
    state.sink = sink;
    state.context = context;
}

extern "C" OSTREL_API int OstrelSetLogFile(const char* path) {
    LogState& state = State();
    Guard lock(state.mutex);
    if (state.file != nullptr) std::fclose(state.file);
    state.file = nullptr;
    if (path == nullptr) return 0;
    state.file = std::fopen(path, "a");
    return state.file != nullptr ? 0 : -1;
}

extern "C" OSTREL_API void OstrelSetMinimumLevel(int level) {
    LogState& state = State();
    Guard lock(state.mutex);
    state.minimum_level = level;
}

extern "C" OSTREL_API void OstrelSetVersion(uint16_t version) {
    LogState& state = State();
    Guard lock(state.mutex);
    state.version = version;
}

extern "C" OSTREL_API void OstrelSetRefuseClients(int refuse) {
    LogState& state = State();
    Guard lock(state.mutex);
    state.refuse_clients = refuse != 0;
}
