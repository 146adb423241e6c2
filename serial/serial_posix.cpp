// Serial port channel on POSIX terminals (termios).
//
// Port names: a name beginning with '/' is a device path used as given
// ("/dev/ttyS0", "/dev/pts/3"); any other name is taken under /dev/
// ("ttyUSB0" opens /dev/ttyUSB0), since 11 characters cannot hold most full
// paths. "NUL" is the null device (/dev/null), opened and left unconfigured.
//
// The handle is the file descriptor (never 0, always close-on-exec). The
// descriptor is non-blocking: reads wait in poll() against one deadline per
// read, which gives the Windows model of a single total read time-out with
// no time between characters. Writes wait for the device the same way, but
// with a deadline long enough for the bytes at the line's speed, so that a
// stalled device cannot hold the host's thread forever.
//
// A read takes whatever the device holds (up to a small read-ahead) in one
// call and later one-byte reads are served from it: the link procedure reads
// byte by byte, and a system call per byte cost more than the rest of the
// exchange. The queue status counts the read-ahead as waiting input, and a
// purge reads it out first, so the line behaves as if it were still queued.
//
// The device marks characters that failed their parity or stop-bit check,
// and breaks, in the input stream (PARMRK); every read decodes the marks, so
// a caller gets each character once, with its damage noted against the port
// when the character is handed out (SerialTakeLineErrors). Characters the
// device lost show only in its error counters, where it keeps them.
//
// Each open port's read time-out and read-ahead live in a fixed table
// indexed by the descriptor: the one place a descriptor cannot carry them.
// Only the thread that owns a port touches its row, so the table needs no
// lock, and a caller sees the layer as stateless: everything is keyed by
// the handle. A row does pass between threads with its descriptor number:
// one thread closes a port, another opens a device and gets the same
// number. The kernel orders that close before the open; the row's fields,
// the read-ahead's bytes among them, are relaxed atomics so that the
// hand-over is no data race in the language's terms either (nor to
// ThreadSanitizer), at no cost on the exchange path.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "serial/line_settings_posix.h"
#include "serial/marked_input.h"
#include "serial/serial_platform.h"
#include "serial/serial_port.h"
#include "serial/uart_features_posix.h"

namespace morvane {
namespace {

constexpr int kMaxPortDescriptor = 4096;  // descriptors at or above have no row
constexpr size_t kMaxPathLength = 255;
constexpr uint32_t kWriteAllowanceMs = 1000;
// Longer than a control character exchange and most replies; 1 MiB over the
// whole table, of which only the rows of open ports are ever touched.
constexpr uint32_t kReadAheadSize = 256;

struct PortRow {
    // Time-outs set: false for the null device and closed descriptors.
    std::atomic<bool> configured;
    std::atomic<bool> rts_toggle;  // raise RTS only while writing
    std::atomic<uint32_t> read_timeout_ms;
    std::atomic<uint32_t> write_characters_per_second;  // 0: unknown
    // When what was written last has left the line, as far as the speed
    // tells. A read counts its time-out from then: write(2) returns once
    // the device has the bytes, long before a slow line has sent them, and
    // a partner answers only after the last of them.
    std::atomic<uint32_t> character_us;  // 0: unknown
    std::atomic<int64_t> sending_until_ms;
    // Bytes read from the device but not yet by the caller: [first, end).
    std::atomic<uint16_t> ahead_first;
    std::atomic<uint16_t> ahead_end;
    std::atomic<uint8_t> ahead[kReadAheadSize];
    std::atomic<uint32_t> ahead_damaged[kReadAheadSize / 32];  // a bit per read-ahead byte
    // The input carries the kernel's marks, and what is left of an unfinished one.
    std::atomic<bool> marked;
    std::atomic<uint8_t> mark_pending;
    // LineError bits of the characters handed out since they were last taken.
    std::atomic<uint32_t> line_errors;
    // The device counts overruns; the count when they were last taken.
    std::atomic<bool> counts_overruns;
    std::atomic<uint32_t> overruns_seen;
    std::atomic<bool> restore_latency;  // low latency was turned on at the open
};

constexpr auto kRelaxed = std::memory_order_relaxed;

void DropReadAhead(PortRow* row) {
    row->ahead_first.store(0, kRelaxed);
    row->ahead_end.store(0, kRelaxed);
    for (std::atomic<uint32_t>& bits : row->ahead_damaged)
        bits.store(0, kRelaxed);
}

void SetRow(PortRow* row, bool configured, bool rts_toggle, uint32_t read_timeout_ms) {
    row->configured.store(configured, kRelaxed);
    row->rts_toggle.store(rts_toggle, kRelaxed);
    row->read_timeout_ms.store(read_timeout_ms, kRelaxed);
    row->write_characters_per_second.store(0, kRelaxed);
    row->character_us.store(0, kRelaxed);
    row->sending_until_ms.store(0, kRelaxed);
    row->marked.store(false, kRelaxed);
    row->mark_pending.store(0, kRelaxed);
    row->line_errors.store(0, kRelaxed);
    row->counts_overruns.store(false, kRelaxed);
    row->overruns_seen.store(0, kRelaxed);
    row->restore_latency.store(false, kRelaxed);
    DropReadAhead(row);
}

void NoteDamage(PortRow* row) {
    row->line_errors.fetch_or(kLineCharacterDamaged, kRelaxed);
}

bool AheadDamaged(const PortRow* row, uint32_t index) {
    return (row->ahead_damaged[index / 32].load(kRelaxed) >> (index % 32) & 1u) != 0;
}

uint32_t ReadAheadCount(const PortRow* row) {
    if (row == nullptr) return 0;
    return static_cast<uint32_t>(row->ahead_end.load(kRelaxed) - row->ahead_first.load(kRelaxed));
}

// Moves up to count read-ahead bytes into buffer; returns how many.
uint32_t TakeReadAhead(PortRow* row, uint8_t* buffer, uint32_t count) {
    const uint32_t available = ReadAheadCount(row);
    const uint32_t taken = available < count ? available : count;
    if (taken == 0) return 0;
    const uint16_t first = row->ahead_first.load(kRelaxed);
    for (uint32_t i = 0; i < taken; ++i) {
        buffer[i] = row->ahead[first + i].load(kRelaxed);
        if (AheadDamaged(row, first + i)) NoteDamage(row);
    }
    row->ahead_first.store(static_cast<uint16_t>(first + taken), kRelaxed);
    return taken;
}

// Decodes the kernel's marks in place; the damage of the bytes is noted
// against the port at once, or per byte in damaged (when given).
uint32_t Unmark(PortRow* row, uint8_t* bytes, uint32_t count, uint8_t* damaged) {
    if (!row->marked.load(kRelaxed)) {
        if (damaged != nullptr) std::memset(damaged, 0, count);
        return count;
    }
    MarkedInput state{row->mark_pending.load(kRelaxed)};
    bool any_damaged = false;
    const uint32_t decoded = DecodeMarkedInput(&state, bytes, count, bytes, damaged, &any_damaged);
    row->mark_pending.store(state.pending, kRelaxed);
    if (any_damaged && damaged == nullptr) NoteDamage(row);
    return decoded;
}

// Reads at most count bytes from the device into buffer. A short request
// reads what the device holds into the (empty) read-ahead as well. A read
// that brought only part of a mark hands out nothing: -1 with EAGAIN.
ssize_t ReadDevice(int fd, PortRow* row, uint8_t* buffer, uint32_t count) {
    if (row == nullptr) return read(fd, buffer, count);
    if (count >= kReadAheadSize) {
        const ssize_t n = read(fd, buffer, count);
        if (n <= 0) return n;
        const uint32_t decoded = Unmark(row, buffer, static_cast<uint32_t>(n), nullptr);
        if (decoded == 0) errno = EAGAIN;
        return decoded == 0 ? -1 : static_cast<ssize_t>(decoded);
    }
    uint8_t chunk[kReadAheadSize];
    uint8_t damaged[kReadAheadSize];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) return n;
    const uint32_t arrived = Unmark(row, chunk, static_cast<uint32_t>(n), damaged);
    if (arrived == 0) {
        errno = EAGAIN;
        return -1;
    }
    const uint32_t delivered = arrived < count ? arrived : count;
    std::memcpy(buffer, chunk, delivered);
    for (uint32_t i = 0; i < delivered; ++i)
        if (damaged[i] != 0) NoteDamage(row);
    uint32_t damage_bits[kReadAheadSize / 32] = {};
    for (uint32_t i = delivered; i < arrived; ++i) {
        row->ahead[i - delivered].store(chunk[i], kRelaxed);
        if (damaged[i] != 0) damage_bits[(i - delivered) / 32] |= 1u << ((i - delivered) % 32);
    }
    for (uint32_t word = 0; word < kReadAheadSize / 32; ++word)
        row->ahead_damaged[word].store(damage_bits[word], kRelaxed);
    row->ahead_first.store(0, kRelaxed);
    row->ahead_end.store(static_cast<uint16_t>(arrived - delivered), kRelaxed);
    return static_cast<ssize_t>(delivered);
}

PortRow g_ports[kMaxPortDescriptor];

PortRow* RowFor(PortHandle handle) {
    if (handle == 0 || handle >= static_cast<PortHandle>(kMaxPortDescriptor)) return nullptr;
    return &g_ports[handle];
}

int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int PollSlice(int64_t remaining_ms) {
    if (remaining_ms <= 0) return 0;
    return remaining_ms > INT_MAX ? INT_MAX : static_cast<int>(remaining_ms);
}

// Full path of a port name into path; false when it does not fit.
bool PathFor(const char* port_name, char* path, size_t size) {
    const size_t length = strnlen(port_name, kMaxPathLength + 1);
    if (length == 0 || length > kMaxPathLength) return false;
    const char* prefix = port_name[0] == '/' ? "" : "/dev/";
    const size_t prefix_length = std::strlen(prefix);
    if (prefix_length + length + 1 > size) return false;
    std::memcpy(path, prefix, prefix_length);
    std::memcpy(path + prefix_length, port_name, length);
    path[prefix_length + length] = '\0';
    return true;
}

// Opens a device: non-blocking, no controlling terminal, close-on-exec, and
// on a descriptor that is no standard stream and not beyond the table: a
// host started with its output closed would otherwise print onto the line.
// -1 on failure.
int OpenDevice(const char* path) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (fd <= STDERR_FILENO || fd >= kMaxPortDescriptor) {
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        close(fd);
        if (moved < 0 || moved >= kMaxPortDescriptor) {
            if (moved >= 0) close(moved);
            return -1;
        }
        fd = moved;
    }
    return fd;
}

void SetModemLines(int fd, const ModemLines& lines) {
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) bits = 0;
    bits &= ~(TIOCM_DTR | TIOCM_RTS);
    if (lines.dtr_on) bits |= TIOCM_DTR;
    if (lines.rts_on || lines.rts_handshake) bits |= TIOCM_RTS;
    // A device without modem lines (a pseudo-terminal) refuses; its far end
    // has none to notice either.
    (void)ioctl(fd, TIOCMSET, &bits);
}

// Configures an opened terminal; returns a serial code.
int ConfigurePort(int fd, const LineParameters& line, uint16_t line_control) {
    termios current{};
    if (tcgetattr(fd, &current) != 0) return kSerialStateUnreadable;

    PortRow* row = RowFor(static_cast<PortHandle>(fd));
    if (row == nullptr) return kSerialOpenFailed;
    SetRow(row, true, false, kSerialDefaultReadTimeoutMs);

    const ModemLines lines = ModemLinesFor(line_control);
    termios held{};
    if (!SetLine(fd, line, lines.rts_handshake ? CRTSCTS : 0, &held)) return kSerialSettingsRefused;

    row->rts_toggle.store(lines.rts_toggle, kRelaxed);
    row->write_characters_per_second.store(CharactersPerSecond(cfgetospeed(&held)), kRelaxed);
    row->character_us.store(CharacterMicros(held), kRelaxed);
    row->marked.store((held.c_iflag & PARMRK) != 0, kRelaxed);
    uint32_t overruns = 0;
    row->counts_overruns.store(ReadOverrunCount(fd, &overruns), kRelaxed);
    row->overruns_seen.store(overruns, kRelaxed);
    row->restore_latency.store(RequestLowLatency(fd), kRelaxed);
    SetModemLines(fd, lines);
    return kSerialOk;
}

// Forgets the port's row, handing back the latency it had before the open.
void ForgetPort(int fd) {
    PortRow* row = RowFor(static_cast<PortHandle>(fd));
    if (row == nullptr) return;
    if (row->restore_latency.load(kRelaxed)) RestoreLatency(fd);
    SetRow(row, false, false, 0);
}

// Overruns counted by the device since they were last looked at.
bool NewOverruns(int fd, PortRow* row) {
    uint32_t overruns = 0;
    if (!row->counts_overruns.load(kRelaxed) || !ReadOverrunCount(fd, &overruns)) return false;
    return row->overruns_seen.exchange(overruns, kRelaxed) != overruns;
}

// Waits at most timeout_ms in all for count bytes, the read-ahead first;
// *got is the number that arrived. False when the device failed. The
// Windows ReadFile of this layer.
bool ReadWithin(int fd, PortRow* row, uint8_t* buffer, uint32_t count, uint32_t timeout_ms,
                uint32_t* got) {
    *got = TakeReadAhead(row, buffer, count);
    if (*got == count) return true;
    const int64_t sent = row != nullptr ? row->sending_until_ms.load(kRelaxed) : 0;
    const int64_t deadline = std::max(NowMs(), sent) + timeout_ms;
    while (*got < count) {
        pollfd watch{fd, POLLIN, 0};
        const int ready = poll(&watch, 1, PollSlice(deadline - NowMs()));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (ready == 0) {
            if (NowMs() >= deadline) return true;
            continue;
        }
        const ssize_t n = ReadDevice(fd, row, buffer + *got, count - *got);
        if (n > 0) {
            *got += static_cast<uint32_t>(n);
        } else if (n == 0) {
            return true;  // end of file or hang-up: nothing more will arrive
        } else if (errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (NowMs() >= deadline) {
            return true;
        }
    }
    return true;
}

// The speed comes from the port's row where it was opened here: asking the
// device for it on every write would double the system calls of a write.
uint32_t WriteAllowanceMs(int fd, const PortRow* row, uint32_t count) {
    uint32_t per_second = row != nullptr ? row->write_characters_per_second.load(kRelaxed) : 0;
    termios settings{};
    if (per_second == 0 && tcgetattr(fd, &settings) == 0)
        per_second = CharactersPerSecond(cfgetospeed(&settings));
    if (per_second == 0) return kWriteAllowanceMs;
    // Twice the time on the line, plus a second for the device to start.
    const uint64_t line_ms = static_cast<uint64_t>(count) * 2000 / per_second;
    return kWriteAllowanceMs +
           static_cast<uint32_t>(line_ms > UINT32_MAX / 2 ? UINT32_MAX / 2 : line_ms);
}

// Writes until the device took all bytes, failed, or the allowance ran out.
bool WriteAll(int fd, const PortRow* row, const uint8_t* bytes, uint32_t count, uint32_t* written) {
    *written = 0;
    const int64_t deadline = NowMs() + WriteAllowanceMs(fd, row, count);
    while (*written < count) {
        const ssize_t n = write(fd, bytes + *written, count - *written);
        if (n > 0) {
            *written += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return *written > 0;
        const int64_t remaining = deadline - NowMs();
        if (remaining <= 0) return true;
        pollfd watch{fd, POLLOUT, 0};
        if (poll(&watch, 1, PollSlice(remaining)) < 0 && errno != EINTR) return *written > 0;
    }
    return true;
}

void SetRts(int fd, bool raised) {
    int bit = TIOCM_RTS;
    (void)ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &bit);
}

}  // namespace

int SerialOpen(const char* port_name, const LineParameters& line, uint16_t line_control,
               PortHandle* handle) {
    char path[kMaxPathLength + 8];
    if (port_name == nullptr || handle == nullptr) return kSerialOpenFailed;
    const bool null_device = std::strcmp(port_name, "NUL") == 0;
    if (!null_device && !PathFor(port_name, path, sizeof path)) return kSerialOpenFailed;

    const int fd = OpenDevice(null_device ? "/dev/null" : path);
    if (fd < 0) return kSerialOpenFailed;
    if (null_device) {
        ForgetPort(fd);  // no time-outs, no settings
        *handle = static_cast<PortHandle>(fd);
        return kSerialOk;
    }
    // Exclusive: the advisory lock holds against every other open (root
    // ignores TIOCEXCL), TIOCEXCL against programs that take no lock.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return kSerialOpenFailed;
    }
    (void)ioctl(fd, TIOCEXCL);

    const int code = ConfigurePort(fd, line, line_control);
    if (code != kSerialOk) {
        (void)ioctl(fd, TIOCNXCL);
        ForgetPort(fd);
        close(fd);
        return code;
    }
    *handle = static_cast<PortHandle>(fd);
    return kSerialOk;
}

int SerialClose(PortHandle handle) {
    if (handle == 0 || handle > static_cast<PortHandle>(INT_MAX)) return kSerialIoFailed;
    const int fd = static_cast<int>(handle);
    // Lift the exclusive mode so that the device opens again even while
    // another descriptor of it (a test's pseudo-terminal pair) stays open.
    (void)ioctl(fd, TIOCNXCL);
    ForgetPort(fd);
    return close(fd) == 0 ? kSerialOk : kSerialIoFailed;
}

bool SerialHoldsPort(PortHandle handle, const char* port_name) {
    const PortRow* row = RowFor(handle);
    char path[kMaxPathLength + 8];
    struct stat held {};
    struct stat named {};
    // The same device, not only a descriptor in use: one the host closed
    // behind the driver's back may have been reused for anything.
    return row != nullptr && row->configured.load(kRelaxed) &&
           PathFor(port_name, path, sizeof path) && fstat(static_cast<int>(handle), &held) == 0 &&
           stat(path, &named) == 0 && S_ISCHR(held.st_mode) && S_ISCHR(named.st_mode) &&
           held.st_rdev == named.st_rdev;
}

uint32_t SerialSetReadTimeout(PortHandle handle, uint32_t ms) {
    PortRow* row = RowFor(handle);
    if (row == nullptr || !row->configured.load(kRelaxed)) return 0;
    return row->read_timeout_ms.exchange(ms, kRelaxed);
}

bool SerialBytesWaiting(PortHandle handle, uint32_t* waiting) {
    int count = 0;
    if (handle == 0 || handle > static_cast<PortHandle>(INT_MAX)) return false;
    if (ioctl(static_cast<int>(handle), FIONREAD, &count) != 0 || count < 0) return false;
    // The status query clears the port's error state, as on every platform.
    (void)SerialTakeLineErrors(handle);
    if (waiting != nullptr)
        *waiting = static_cast<uint32_t>(count) + ReadAheadCount(RowFor(handle));
    return true;
}

uint32_t SerialTakeLineErrors(PortHandle handle) {
    PortRow* row = RowFor(handle);
    if (row == nullptr || !row->configured.load(kRelaxed)) return 0;
    uint32_t errors = row->line_errors.exchange(0, kRelaxed);
    if (NewOverruns(static_cast<int>(handle), row)) errors |= kLineOverrun;
    return errors;
}

int SerialWrite(PortHandle handle, const uint8_t* bytes, uint32_t count, uint32_t* written) {
    if (handle == 0 || handle > static_cast<PortHandle>(INT_MAX) || (bytes == nullptr && count))
        return kSerialIoFailed;
    const int fd = static_cast<int>(handle);
    PortRow* row = RowFor(handle);
    const bool toggle = row != nullptr && row->rts_toggle.load(kRelaxed);
    if (toggle) SetRts(fd, true);
    uint32_t taken = 0;
    const int64_t start = NowMs();
    const bool ok = WriteAll(fd, row, bytes, count, &taken);
    if (row != nullptr && row->character_us.load(kRelaxed) != 0) {
        const int64_t line_ms = (int64_t{taken} * row->character_us.load(kRelaxed) + 999) / 1000;
        row->sending_until_ms.store(std::max(start, row->sending_until_ms.load(kRelaxed)) + line_ms,
                                    kRelaxed);
    }
    if (toggle) {
        (void)tcdrain(fd);
        SetRts(fd, false);
    }
    if (!ok) return kSerialIoFailed;
    if (written != nullptr) *written = taken;
    return taken == count ? kSerialOk : kSerialShortWrite;
}

bool PlatformRead(PortHandle handle, uint8_t* buffer, uint32_t count, uint32_t* got) {
    *got = 0;
    if (handle == 0 || handle > static_cast<PortHandle>(INT_MAX)) return false;
    PortRow* row = RowFor(handle);
    const uint32_t timeout_ms =
        row != nullptr && row->configured.load(kRelaxed) ? row->read_timeout_ms.load(kRelaxed) : 0;
    return ReadWithin(static_cast<int>(handle), row, buffer, count, timeout_ms, got);
}

}  // namespace morvane
