#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "frame_option.h"
#include "line_session.h"
#include "line_trace.h"
#include "monitor/capture.h"
#include "progress.h"
#include "serial/line_settings_posix.h"
#include "serial/marked_input.h"
#include "sim/posix_terminal.h"
#include "sim/replace_file.h"

namespace morvane::tool {
namespace {

constexpr int kStopCheckMs = 20;  // the thread notices a stop at least this often
// Once stopped, bytes still crossing (the last DLE the driver wrote before
// it closed the port) are passed on until the line is this long quiet.
constexpr int kDrainQuietMs = 10;
constexpr int kWriteWaitMs = 2000;
constexpr size_t kChunk = 512;
constexpr uint16_t kDtrAndRtsOn = 0x0303;  // what ColdStart asks of every port

using plcsim::MakeRaw;
using plcsim::SystemError;

// Writes all bytes, waiting (bounded) while the device's queue is full.
bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = write(fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd ready{fd, POLLOUT, 0};
        if (poll(&ready, 1, kWriteWaitMs) <= 0) return false;
    }
    return true;
}

// Where the trace goes: standard error, a file of trace lines, or a capture
// of the characters themselves, which the monitor decodes later.
struct TraceOutput {
    FILE* file = nullptr;  // null: standard error
    std::unique_ptr<monitor::CaptureWriter> capture;

    ~TraceOutput() {
        if (file != nullptr) std::fclose(file);
    }
};

class PtyRelay final : public TraceRelay {
  public:
    PtyRelay(int far_fd, bool exclusive, std::unique_ptr<TraceOutput> output)
        : far_fd_(far_fd),
          exclusive_(exclusive),
          output_(std::move(output)),
          write_line_([file = output_->file](const std::string& text) {
              if (file == nullptr) return WriteErrorLine(text);
              std::fprintf(file, "%s\n", text.c_str());
              std::fflush(file);
          }),
          trace_(write_line_, LineTrace::Clock::now()) {}
    ~PtyRelay() override;
    PtyRelay(const PtyRelay&) = delete;
    PtyRelay& operator=(const PtyRelay&) = delete;

    std::string DriverPortName() const override { return driver_path_.substr(5); }  // no /dev/
    void SetBlockCheck(bool block_check) override { trace_.set_block_check(block_check); }
    void WriteComment(const std::string& line) override { write_line_(line); }

    bool OpenDriverSide(std::string* error);

  private:
    void Run();
    // Bytes from one end to the other; false when the end is gone.
    bool Pass(int from_fd, int to_fd, LineSide from);
    // Characters into the trace or the capture.
    void Show(LineSide from, const uint8_t* bytes, size_t count, const uint8_t* damaged,
              LineTrace::Clock::time_point at);

    int far_fd_;
    bool exclusive_;           // the far end is a device held in exclusive mode
    bool far_marked_ = false;  // the device marks damaged characters in its stream
    MarkedInput marks_;
    int master_fd_ = -1;
    int held_slave_fd_ = -1;  // keeps the master from a hang-up while the driver reopens
    std::string driver_path_;
    std::unique_ptr<TraceOutput> output_;
    LineTrace::Sink write_line_;
    LineTrace::Clock::time_point start_ = LineTrace::Clock::now();
    LineTrace trace_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

bool PtyRelay::OpenDriverSide(std::string* error) {
    master_fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master_fd_ < 0 || grantpt(master_fd_) != 0 || unlockpt(master_fd_) != 0 ||
        ptsname_r(master_fd_, name, sizeof name) != 0) {
        *error = SystemError("pseudo-terminal for the trace");
        return false;
    }
    driver_path_ = name;
    termios far{};
    far_marked_ = tcgetattr(far_fd_, &far) == 0 && (far.c_iflag & PARMRK) != 0;
    held_slave_fd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (held_slave_fd_ < 0 || !MakeRaw(held_slave_fd_) ||
        fcntl(master_fd_, F_SETFL, fcntl(master_fd_, F_GETFL) | O_NONBLOCK) != 0) {
        *error = SystemError(driver_path_);
        return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

PtyRelay::~PtyRelay() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    // Lifts the exclusive mode, which outlives this descriptor while another
    // holds the device (a simulator's own end of its pseudo-terminal).
    if (exclusive_) (void)ioctl(far_fd_, TIOCNXCL);
    for (const int fd : {far_fd_, master_fd_, held_slave_fd_})
        if (fd >= 0) close(fd);
}

bool PtyRelay::Pass(int from_fd, int to_fd, LineSide from) {
    uint8_t bytes[kChunk];
    uint8_t damaged[kChunk] = {};
    const ssize_t count = read(from_fd, bytes, sizeof bytes);
    if (count < 0) return errno == EAGAIN || errno == EINTR;
    if (count == 0) return false;
    const auto arrived = LineTrace::Clock::now();
    size_t n = static_cast<size_t>(count);
    bool any_damaged = false;
    if (from == LineSide::kPlc && far_marked_)
        n = DecodeMarkedInput(&marks_, bytes, static_cast<uint32_t>(count), bytes, damaged,
                              &any_damaged);
    // A damaged character is traced but left out: a pseudo-terminal cannot
    // mark it for the driver, and a block short of a character fails its
    // checks there.
    uint8_t kept[kChunk];
    size_t kept_count = 0;
    for (size_t i = 0; i < n; ++i)
        if (damaged[i] == 0) kept[kept_count++] = bytes[i];
    // Passed on first, shown after: the trace adds no delay to the line.
    const bool passed = WriteAll(to_fd, kept, kept_count);
    Show(from, bytes, n, damaged, arrived);
    return passed;
}

void PtyRelay::Show(LineSide from, const uint8_t* bytes, size_t count, const uint8_t* damaged,
                    LineTrace::Clock::time_point at) {
    if (output_->capture) {
        bool flags[kChunk] = {};
        for (size_t i = 0; i < count; ++i)
            flags[i] = damaged[i] != 0;
        const auto since = std::chrono::duration_cast<std::chrono::microseconds>(at - start_);
        output_->capture->Write(
            static_cast<uint64_t>(since.count()),
            from == LineSide::kHost ? monitor::Side::kHost : monitor::Side::kPlc, bytes, count,
            flags);
        std::fflush(output_->file);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        if (damaged[i] != 0)
            trace_.Damaged(from, bytes[i], at);
        else
            trace_.Bytes(from, &bytes[i], 1, at);
    }
}

void PtyRelay::Run() {
    for (;;) {
        const bool stopping = stop_.load();
        pollfd ready[2] = {{master_fd_, POLLIN, 0}, {far_fd_, POLLIN, 0}};
        if (poll(ready, 2, stopping ? kDrainQuietMs : kStopCheckMs) <= 0) {
            if (stopping) return;
            continue;
        }
        const short any = POLLIN | POLLHUP | POLLERR;
        if ((!(ready[0].revents & any) || Pass(master_fd_, far_fd_, LineSide::kHost)) &&
            (!(ready[1].revents & any) || Pass(far_fd_, master_fd_, LineSide::kPlc)))
            continue;
        // The far end is gone (a pulled adapter): the driver sees a hang-up too.
        trace_.Flush();
        close(held_slave_fd_);
        close(master_fd_);
        held_slave_fd_ = master_fd_ = -1;
        return;
    }
}

}  // namespace

std::unique_ptr<TraceRelay> StartTraceRelay(const std::string& far_device,
                                            const LineParameters* line,
                                            const std::string& trace_file, std::string* error) {
    auto output = std::make_unique<TraceOutput>();
    if (!trace_file.empty()) {
        output->file = plcsim::OpenInPlace(trace_file, false, error);
        if (output->file == nullptr) return nullptr;
        if (monitor::NamesCapture(trace_file)) {
            output->capture = std::make_unique<monitor::CaptureWriter>(output->file);
            output->capture->Header(
                monitor::HeaderStartingNow(line != nullptr ? DescribeLine(*line) : ""));
        }
    }
    const int fd = open(far_device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = SystemError(far_device);
        return nullptr;
    }
    // A device is held exclusively, as the driver holds its port, and set as
    // the driver sets it, so that the far line is the one the driver would have.
    const bool set =
        line != nullptr ? flock(fd, LOCK_EX | LOCK_NB) == 0 && SetLine(fd, *line, 0) : MakeRaw(fd);
    if (!set) {
        *error = SystemError(far_device);
        close(fd);
        return nullptr;
    }
    if (line != nullptr) {
        (void)ioctl(fd, TIOCEXCL);
        const ModemLines lines = ModemLinesFor(kDtrAndRtsOn);
        int bits = (lines.dtr_on ? TIOCM_DTR : 0) | (lines.rts_on ? TIOCM_RTS : 0);
        (void)ioctl(fd, TIOCMBIS, &bits);  // a pseudo-terminal has none: no matter
    }
    auto relay = std::make_unique<PtyRelay>(fd, line != nullptr, std::move(output));
    if (!relay->OpenDriverSide(error)) return nullptr;
    return relay;
}

}  // namespace morvane::tool
