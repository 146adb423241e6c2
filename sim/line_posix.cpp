#include <fcntl.h>
#ifdef __linux__
#include <linux/serial.h>
#endif
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "sim/line.h"
#include "sim/port_diagnosis.h"
#include "sim/posix_terminal.h"

namespace plcsim {
namespace {

constexpr int kWriteWaitMs = 200;

// Characters due within this span of a group's first go out in one write,
// when the last of them is due: as a UART's receive FIFO hands over a few
// characters at once, the far end gets none of them before it has crossed,
// the first ones a little late, and the block's last exactly on time. At
// the fastest rates that saves most wake-ups on both ends; at 19200 baud
// and below every character is a group of its own.
constexpr std::chrono::microseconds kSendGroupSpan{400};

using Clock = std::chrono::steady_clock;

speed_t SpeedCode(uint32_t baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

// Writes never block for long: a line whose reader has stopped reading
// loses the bytes instead of hanging the simulator.
bool WaitWritable(int fd) {
    pollfd ready{fd, POLLOUT, 0};
    return poll(&ready, 1, kWriteWaitMs) > 0 && (ready.revents & POLLOUT);
}

// A character lasts under 100 µs at the fastest rates: the default timer
// slack of 50 µs would make each wake-up late by half a character, so the
// serving thread asks for the least slack before its first paced wait.
// steady_clock reads CLOCK_MONOTONIC, so its time points serve as absolute
// deadlines and no time passes between reading the clock and sleeping.
void SleepUntil(Clock::time_point due) {
    static thread_local const bool fine_slack = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)fine_slack;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch());
    timespec deadline{};
    deadline.tv_sec = static_cast<time_t>(ns.count() / 1000000000);
    deadline.tv_nsec = static_cast<long>(ns.count() % 1000000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

// A wake-up comes late by the machine's latency: sleep to shortly before
// the due time and spin the rest, so a character leaves when it is due.
constexpr auto kSpinSpan = std::chrono::microseconds(60);
void WaitUntil(Clock::time_point due) {
    if (due - Clock::now() > kSpinSpan) SleepUntil(due - kSpinSpan);
    while (Clock::now() < due) {
    }
}

// Characters the UART lost so far (receive FIFO and the kernel's buffer);
// false when the device keeps no such counts, as a pseudo-terminal.
bool OverrunCount(int fd, uint64_t* count) {
#ifdef TIOCGICOUNT
    serial_icounter_struct counts{};
    if (ioctl(fd, TIOCGICOUNT, &counts) != 0) return false;
    *count = static_cast<uint64_t>(counts.overrun) + static_cast<uint64_t>(counts.buf_overrun);
    return true;
#else
    (void)fd;
    (void)count;
    return false;
#endif
}

bool MakeNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

std::string DescribeSettings(const DeviceSettings& settings) {
    return std::to_string(settings.baud) + " " + std::to_string(settings.data_bits) +
           settings.parity + std::to_string(settings.stop_bits);
}

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool MakeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return false;
    cfmakeraw(&settings);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

std::unique_ptr<Line> Line::OpenPty(std::string* error) {
    // Close-on-exec: a program started meanwhile must not keep the line alive.
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        *error = SystemError("posix_openpt");
        return nullptr;
    }
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        *error = SystemError("pseudo-terminal set-up");
        close(master);
        return nullptr;
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0 || !MakeRaw(slave) || !MakeRaw(master) || !MakeNonBlocking(master)) {
        *error = SystemError(std::string("raw mode on ") + name);
        if (slave >= 0) close(slave);
        close(master);
        return nullptr;
    }
    return std::unique_ptr<Line>(new Line(master, slave, name));
}

namespace {

// A Unix98 pseudo-terminal slave, as another program's line to us.
bool IsPseudoTerminal(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && major(status.st_rdev) >= 136 &&
           major(status.st_rdev) <= 143;
}

// Raw at the settings, with the UART's verdict on each character reaching
// us as marks: a parity or framing error as FF 00 X, a break as FF 00 00, a
// data FF as FF FF.
bool TakeSettings(int fd, const DeviceSettings& settings) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNPAR | IGNBRK | BRKINT | ISTRIP);
    tio.c_iflag |= INPCK | PARMRK;
    cfsetispeed(&tio, SpeedCode(settings.baud));
    cfsetospeed(&tio, SpeedCode(settings.baud));
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD | (settings.data_bits == 7 ? CS7 : CS8);
    if (settings.parity != 'N') tio.c_cflag |= PARENB | (settings.parity == 'O' ? PARODD : 0);
    if (settings.stop_bits == 2) tio.c_cflag |= CSTOPB;
    // A pseudo-terminal holds 8-bit characters without parity whatever it
    // is asked, and a request of which it can hold no change is refused: a
    // line left as we set it (by a run that could not put it back) differs
    // only in the parity. It has no frame to get wrong, so it is asked for
    // what it holds, as the driver asks.
    if (IsPseudoTerminal(fd)) {
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD);
        tio.c_cflag |= CS8;
    }
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

std::unique_ptr<Line> Line::OpenDevice(const std::string& path, const DeviceSettings& settings,
                                       std::string* error) {
    if (SpeedCode(settings.baud) == B0) {
        *error = "unsupported baud rate " + std::to_string(settings.baud);
        return nullptr;
    }
    // Without O_NONBLOCK a device whose modem lines say no carrier holds the
    // open for ever. The device is held as the driver holds its port: a
    // second reader (another plcsim, a host) would take bytes never seen here.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    auto found = std::make_unique<termios>();
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(fd, found.get()) != 0 ||
        !TakeSettings(fd, settings)) {
        const std::string system = SystemError(path);
        if (fd >= 0) close(fd);
        const std::string why = DiagnoseDevice(
            path, [&settings](int other) { return TakeSettings(other, settings); },
            DescribeSettings(settings));
        *error = why.empty() ? system : path + ": " + why;
        return nullptr;
    }
    auto line = std::unique_ptr<Line>(new Line(fd, -1, path));
    line->marked_ = true;
    line->counts_overruns_ = OverrunCount(fd, &line->overruns_);
    line->found_settings_ = std::move(found);
    line->watch_gone_ = true;
    return line;
}

std::unique_ptr<Line> Line::OpenSlave(const std::string& path, std::string* error) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || !MakeRaw(fd) || !MakeNonBlocking(fd)) {
        *error = SystemError(path);
        if (fd >= 0) close(fd);
        return nullptr;
    }
    return std::unique_ptr<Line>(new Line(fd, -1, path));
}

Line::Line(int fd, int slave_fd, std::string path)
    : fd_(fd), slave_fd_(slave_fd), path_(std::move(path)) {}

Line::~Line() {
    HangUp();
}

void Line::HangUp() {
    // Settings outlive the descriptor while another program holds the
    // device (the far end of a pseudo-terminal): the next one to open it
    // finds it as it was before us.
    if (fd_ >= 0 && found_settings_) (void)tcsetattr(fd_, TCSANOW, found_settings_.get());
    if (fd_ >= 0) close(fd_);
    if (slave_fd_ >= 0) close(slave_fd_);
    fd_ = -1;
    slave_fd_ = -1;
    unread_seen_ = 0;
}

void Line::SetPacing(uint32_t baud, uint32_t bits_per_char) {
    char_time_ns_ = LineTimetable::CharacterTime(baud, bits_per_char).count();
}

void Line::Pace(LineTimetable::Time due) {
    const auto before = Clock::now();
    if (due > before) WaitUntil(due);
    timetable_.Woke(due, before, Clock::now());
}

// A paced line first looks without waiting: input already there was ready
// before this look, input that has to be waited for is ready when it comes.
bool Line::AwaitInput(int timeout_ms, bool paced) {
    if (gone()) return false;
    if (paced) CatchUpReceived();
    // A hung-up line is silent: poll() ignores the negative descriptor.
    pollfd ready{fd_, POLLIN, 0};
    const int waiting = paced ? poll(&ready, 1, 0) : 0;
    const int count = waiting != 0 ? waiting : poll(&ready, 1, timeout_ms);
    // A device reports its hang-up at once and for good; read, it gives
    // end-of-file without end.
    if (count > 0 && watch_gone_ && (ready.revents & (POLLHUP | POLLERR))) {
        Gone("hung up");
        return false;
    }
    if (count <= 0 || !(ready.revents & POLLIN)) {
        // A master without any slave open reports POLLHUP at once: wait out
        // the time-out all the same, as a silent line would.
        if (count > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        timetable_.Waited();
        return false;
    }
    if (paced) {
        if (waiting == 0) timetable_.Waited();
        seen_at_ = Clock::now();
        unread_seen_ = std::max<size_t>(InputQueued(), 1);
    }
    return true;
}

void Line::SetMarkedInput(bool on) {
    marked_ = on;
    marks_.Reset();
}

bool Line::Overran() {
    uint64_t now = 0;
    if (!counts_overruns_ || !OverrunCount(fd_, &now)) return false;
    const bool rose = now != overruns_;
    overruns_ = now;
    return rose;
}

// A mark's bytes come together, so the rest of one is read at once; a mark
// cut by a time-out goes on at the next call.
bool Line::ReadByte(uint8_t* byte, int timeout_ms, bool* damaged) {
    if (damaged) *damaged = false;
    if (!marked_) return ReadRawByte(byte, timeout_ms);
    uint8_t raw = 0;
    while (ReadRawByte(&raw, timeout_ms)) {
        if (const auto received = marks_.Feed(raw)) {
            *byte = received->byte;
            if (damaged) *damaged = received->damaged;
            return true;
        }
    }
    return false;
}

// Paced, the bytes of a mark count as characters of their own: the pacing
// serves pseudo-terminals, where marks are the rare damaged character.
bool Line::ReadRawByte(uint8_t* byte, int timeout_ms) {
    const LineTimetable::Nanos char_time(char_time_ns_.load());
    const bool paced = char_time.count() != 0;
    if (!paced) unread_seen_ = 0;
    if (unread_seen_ == 0 && !AwaitInput(timeout_ms, paced)) return false;
    const ssize_t n = read(fd_, byte, 1);
    if (n != 1) {
        if (n == 0 && watch_gone_) Gone("hung up");
        if (n < 0) GoneOnError(errno);
        unread_seen_ = 0;
        return false;
    }
    if (!paced) return true;
    --unread_seen_;
    received_due_ = timetable_.Schedule(LineTimetable::kReceive, seen_at_, char_time);
    receive_pending_ = true;
    // A byte seen waiting with others behind it is handed out at once: the
    // thread waits for the last of them only, and before it writes or waits
    // for more input, so it never acts before what it read has crossed.
    if (unread_seen_ == 0) CatchUpReceived();
    return true;
}

void Line::CatchUpReceived() {
    if (!receive_pending_) return;
    receive_pending_ = false;
    Pace(received_due_);
}

// False when nobody drains the line: the bytes are lost.
bool Line::WriteAll(const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd_, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && WaitWritable(fd_)) continue;
        if (n < 0) GoneOnError(errno);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void Line::Gone(const std::string& why) {
    if (gone()) return;
    struct stat status {};
    const bool path_left = stat(path_.c_str(), &status) != 0 && errno == ENOENT;
    gone_reason_ =
        "the device is gone (" + why + (path_left ? "; its path no longer exists" : "") + ")";
    gone_ = true;
}

void Line::GoneOnError(int error) {
    if (watch_gone_ && (error == EIO || error == ENXIO || error == ENODEV))
        Gone(std::strerror(error));
}

void Line::Write(const uint8_t* bytes, size_t count) {
    const LineTimetable::Nanos char_time(char_time_ns_.load());
    if (char_time.count() == 0) {
        WriteAll(bytes, count);
        return;
    }
    CatchUpReceived();
    // The whole block was ready when it was handed over.
    const LineTimetable::Time ready = timetable_.Own(Clock::now());
    size_t first = 0;
    while (first < count) {
        LineTimetable::Time due = timetable_.Schedule(LineTimetable::kSend, ready, char_time);
        const LineTimetable::Time group_end = due + kSendGroupSpan;
        size_t end = first + 1;
        while (end < count && LineTimetable::NextDue(due, ready, char_time) <= group_end) {
            due = timetable_.Schedule(LineTimetable::kSend, ready, char_time);
            ++end;
        }
        Pace(due);
        if (!WriteAll(bytes + first, end - first)) return;
        first = end;
    }
}

size_t Line::ReadAvailable(uint8_t* bytes, size_t max) {
    const ssize_t n = read(fd_, bytes, max);
    if (n <= 0) return 0;
    unread_seen_ -= std::min(unread_seen_, static_cast<size_t>(n));
    return static_cast<size_t>(n);
}

size_t Line::InputQueued() const {
    int queued = 0;
    return ioctl(fd_, FIONREAD, &queued) == 0 && queued > 0 ? static_cast<size_t>(queued) : 0;
}

int Line::WaitReadable(Line& a, Line& b, int timeout_ms) {
    pollfd ready[2] = {{a.fd_, POLLIN, 0}, {b.fd_, POLLIN, 0}};
    a.timetable_.Waited();
    b.timetable_.Waited();
    if (poll(ready, 2, timeout_ms) <= 0) return 0;
    return ((ready[0].revents & POLLIN) ? 1 : 0) | ((ready[1].revents & POLLIN) ? 2 : 0);
}

void Line::DiscardInput() {
    tcflush(fd_, TCIFLUSH);
    unread_seen_ = 0;
    marks_.Reset();
}

}  // namespace plcsim
