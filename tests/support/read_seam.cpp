#include "support/read_seam.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

extern "C" ssize_t __real_read(int fd, void* buffer, size_t count);

namespace morvane::test {
namespace {

constexpr size_t kMostPorts = 32;  // the soak's channels at most, with room
std::array<std::atomic<dev_t>, kMostPorts> g_ports{};
std::atomic<size_t> g_port_count{0};
std::atomic<size_t> g_next_slot{0};

// A descriptor of a marked port whose line discipline doubles FF.
bool Undoubles(int fd) {
    const size_t count = g_port_count.load(std::memory_order_acquire);
    if (count == 0) return false;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) return false;
    bool marked = false;
    for (size_t i = 0; i < count && !marked; ++i)
        marked = g_ports[i].load(std::memory_order_relaxed) == status.st_rdev;
    termios settings{};
    return marked && tcgetattr(fd, &settings) == 0 && (settings.c_iflag & PARMRK) &&
           !(settings.c_iflag & ISTRIP);
}

}  // namespace

size_t UndoFfDoubling(uint8_t* bytes, size_t count, bool* cut) {
    *cut = false;
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        bytes[kept++] = bytes[i];
        if (bytes[i] != 0xFF) continue;
        if (i + 1 == count)
            *cut = true;
        else if (bytes[i + 1] == 0xFF)
            ++i;  // the doubled one; any other byte cannot follow and is kept
    }
    return kept;
}

bool MarkPortReads(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) return false;
    const size_t slot = g_next_slot.fetch_add(1);
    if (slot >= kMostPorts) return false;
    g_ports[slot].store(status.st_rdev, std::memory_order_relaxed);
    // Published in order: a slot is counted only once it is filled.
    size_t expected = slot;
    while (!g_port_count.compare_exchange_weak(expected, slot + 1, std::memory_order_release))
        expected = slot;
    return true;
}

// For one test after another on one thread; not while ports are read.
void UnmarkPortReads() {
    g_port_count.store(0, std::memory_order_release);
    g_next_slot.store(0);
}

}  // namespace morvane::test

// The result never exceeds count: undoubling only removes bytes, and the
// second FF read after a cut pair is dropped, not added. The line
// discipline queues both FFs of a pair at once, so that second FF is there.
extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    const ssize_t got = __real_read(fd, buffer, count);
    if (got <= 0 || !morvane::test::Undoubles(fd)) return got;
    bool cut = false;
    const size_t kept = morvane::test::UndoFfDoubling(static_cast<uint8_t*>(buffer),
                                                      static_cast<size_t>(got), &cut);
    if (cut) {
        uint8_t second = 0;
        while (__real_read(fd, &second, 1) < 0 && errno == EINTR) {
        }
    }
    return static_cast<ssize_t>(kept);
}
