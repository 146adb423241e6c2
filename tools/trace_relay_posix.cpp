#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "frame_option.h"
#include "host_platform.h"
#include "line_session.h"
#include "line_trace.h"
#include "monitor/capture.h"
#include "monitor/detached_output.h"
#include "monitor/line_watch.h"
#include "serial/line_settings_posix.h"
#include "sim/posix_terminal.h"
#include "sim/replace_file.h"

namespace morvane::tool {
namespace {

// Once stopped, bytes still crossing (the last DLE the driver wrote before
// it closed the port) are passed on until the line is this long quiet, and
// from a partner that never falls quiet no longer than kDrainAtMostUs.
constexpr uint64_t kDrainQuietUs = 10000;
constexpr uint64_t kDrainAtMostUs = 200000;
constexpr uint16_t kDtrAndRtsOn = 0x0303;  // what ColdStart asks of every port

using plcsim::MakeRaw;
using plcsim::SystemError;

// Where the trace goes: standard error, a file of trace lines, or a capture
// of the characters themselves, which the monitor decodes later. It is
// written by a thread of its own: a reader that stops reading (a pager, a
// full disk) must not stall the line and fail the driver's transfers.
struct TraceOutput {
    FILE* file = nullptr;  // null: standard error
    std::unique_ptr<monitor::DetachedOutput> queue;
    std::unique_ptr<monitor::CaptureWriter> capture;

    ~TraceOutput() {
        if (file != nullptr) std::fclose(file);
    }
};

// The line's bytes pass through the monitor's watch, which hands them on
// before they are shown (the trace adds no delay to the line) and passes no
// character the device marked damaged: a pseudo-terminal cannot mark it for
// the driver, and a block short of a character fails its checks there.
class PtyRelay final : public TraceRelay {
  public:
    PtyRelay(int far_fd, bool exclusive, std::unique_ptr<TraceOutput> output)
        : far_fd_(far_fd),
          exclusive_(exclusive),
          output_(std::move(output)),
          write_line_([output = output_.get()](const std::string& text) {
              output->queue->Write(output->file != nullptr ? text + "\n" : text);
          }),
          trace_(write_line_, start_) {}
    ~PtyRelay() override;
    bool End(std::string* error) override;

    std::string DriverPortName() const override { return driver_path_.substr(5); }  // no /dev/
    void SetBlockCheck(bool block_check) override { trace_.set_block_check(block_check); }
    void WriteComment(const std::string& line) override { write_line_(line); }

    bool OpenDriverSide(std::string* error);

  private:
    void Run(std::stop_token stop);

    int far_fd_;
    bool exclusive_;           // the far end is a device held in exclusive mode
    bool far_marked_ = false;  // the device marks damaged characters in its stream
    int master_fd_ = -1;
    int held_slave_fd_ = -1;  // keeps the master from a hang-up while the driver reopens
    std::string driver_path_;
    std::unique_ptr<TraceOutput> output_;
    LineTrace::Sink write_line_;
    const uint64_t start_us_ = monitor::MonotonicMicros();
    const LineTrace::Clock::time_point start_ = LineTrace::Clock::now();
    LineTrace trace_;
    uint64_t last_read_us_ = 0;  // the relay thread's own
    std::jthread thread_;
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
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
    return true;
}

bool PtyRelay::End(std::string* error) {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
    if (output_->queue->Finish(std::chrono::seconds(2), error)) return true;
    output_->file = nullptr;  // its writer may still wait on it
    return false;
}

PtyRelay::~PtyRelay() {
    std::string ignored;
    End(&ignored);
    // Lifts the exclusive mode, which outlives this descriptor while another
    // holds the device (a simulator's own end of its pseudo-terminal).
    if (exclusive_) (void)ioctl(far_fd_, TIOCNXCL);
    for (const int fd : {far_fd_, master_fd_, held_slave_fd_})
        if (fd >= 0) close(fd);
}

void PtyRelay::Run(std::stop_token stop) {
    const std::vector<monitor::WatchEnd> ends = {
        {master_fd_, LineSide::kHost, false, far_fd_, driver_path_},
        {far_fd_, LineSide::kPlc, far_marked_, master_fd_, "the port"},
    };
    monitor::WatchCalls calls;
    calls.on_read = [this](uint64_t time_us, LineSide from, const std::vector<uint8_t>& chars,
                           const std::vector<bool>& damaged) {
        last_read_us_ = time_us;
        if (output_->capture) {
            output_->capture->Write(time_us, from, chars, damaged);
            return;
        }
        const auto at = start_ + std::chrono::microseconds(time_us);
        for (size_t i = 0; i < chars.size(); ++i) {
            if (damaged[i])
                trace_.Damaged(from, chars[i], at);
            else
                trace_.Bytes(from, &chars[i], 1, at);
        }
    };
    uint64_t stopped_us = 0;
    calls.keep_going = [this, &stop, &stopped_us] {
        if (!stop.stop_requested()) return true;
        const uint64_t now_us = monitor::MonotonicMicros() - start_us_;
        if (stopped_us == 0) stopped_us = now_us;
        return now_us < last_read_us_ + kDrainQuietUs && now_us < stopped_us + kDrainAtMostUs;
    };
    const bool far_end_gone = !monitor::WatchLine(ends, start_us_, calls).empty();
    trace_.Flush();
    if (!far_end_gone) return;
    // The far end is gone (a pulled adapter): the driver sees a hang-up too.
    close(held_slave_fd_);
    close(master_fd_);
    held_slave_fd_ = master_fd_ = -1;
}

}  // namespace

std::unique_ptr<TraceRelay> StartTraceRelay(const std::string& far_device,
                                            const LineParameters* line,
                                            const std::string& trace_file, std::string* error) {
    auto output = std::make_unique<TraceOutput>();
    if (!trace_file.empty()) {
        output->file = plcsim::OpenInPlace(trace_file, false, error);
        if (output->file == nullptr) return nullptr;
    }
    output->queue = std::make_unique<monitor::DetachedOutput>(
        output->file != nullptr ? monitor::DescriptorSink(fileno(output->file))
                                : [](const std::string& line) {
                                      WriteErrorLine(line);
                                      return true;
                                  });
    if (!trace_file.empty()) {
        if (monitor::NamesCapture(trace_file)) {
            output->capture = std::make_unique<monitor::CaptureWriter>(output->queue->stream());
            output->capture->Header(
                monitor::HeaderStartingNow(line != nullptr ? DescribeLine(*line) : ""));
        }
    }
    const int fd = open(far_device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // A device is held exclusively, as the driver holds its port, and set as
    // the driver sets it, so that the far line is the one the driver would have.
    const bool set =
        fd >= 0 && (line != nullptr ? flock(fd, LOCK_EX | LOCK_NB) == 0 && SetLine(fd, *line, 0)
                                    : MakeRaw(fd));
    if (!set) {
        *error = SystemError(far_device);
        if (fd >= 0) close(fd);
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
