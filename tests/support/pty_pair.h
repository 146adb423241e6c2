// A pseudo-terminal pair for tests of the line: the driver opens the slave
// by name, the test plays the far end on the master.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace morvane::test {

class PtyPair {
  public:
    PtyPair() {
        char name[128] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
        name_ = name;
        termios raw{};
        tcgetattr(master_, &raw);
        cfmakeraw(&raw);
        tcsetattr(master_, TCSANOW, &raw);
        fcntl(master_, F_SETFD, FD_CLOEXEC);
        fcntl(slave_, F_SETFD, FD_CLOEXEC);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair() {
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && slave_ >= 0; }
    // Device path of the slave, e.g. "/dev/pts/3".
    const std::string& name() const { return name_; }
    // The name as a channel's 11-character port name holds it: "pts/N",
    // which the driver takes under /dev/.
    std::string port_name() const { return name_.rfind("/dev/", 0) == 0 ? name_.substr(5) : name_; }
    int master() const { return master_; }

    // The far end sends bytes to the driver.
    bool Send(const std::vector<uint8_t>& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            pollfd watch{master_, POLLOUT, 0};
            if (poll(&watch, 1, 1000) <= 0) return false;
        }
        return true;
    }

    // Collects up to count bytes the driver sent, waiting at most timeout_ms in all.
    std::vector<uint8_t> Receive(size_t count, int timeout_ms = 500) const {
        std::vector<uint8_t> bytes;
        const int64_t deadline = NowMs() + timeout_ms;
        while (bytes.size() < count) {
            const int64_t remaining = deadline - NowMs();
            if (remaining <= 0) break;
            pollfd watch{master_, POLLIN, 0};
            if (poll(&watch, 1, static_cast<int>(remaining)) <= 0) break;
            uint8_t chunk[512];
            const size_t want =
                count - bytes.size() < sizeof chunk ? count - bytes.size() : sizeof chunk;
            const ssize_t n = read(master_, chunk, want);
            if (n <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    // Waits (bounded) until the slave's input queue holds count bytes: the
    // pseudo-terminal hands bytes over asynchronously.
    bool WaitQueued(int count, int timeout_ms = 500) const {
        const int64_t deadline = NowMs() + timeout_ms;
        for (;;) {
            if (Queued() >= count) return true;
            if (NowMs() >= deadline) return false;
            const timespec pause{0, 1000000};
            nanosleep(&pause, nullptr);
        }
    }

    // Bytes waiting in the slave's input queue, not yet read by anyone.
    int Queued() const {
        int queued = 0;
        return ioctl(slave_, FIONREAD, &queued) == 0 ? queued : -1;
    }

    static int64_t NowMs() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string name_;
};

}  // namespace morvane::test
