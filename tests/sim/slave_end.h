// The driver's end of the simulator's line, played by the test with plain
// bytes: opens the simulator's slave device raw and non-blocking.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sim/rk512_server.h"
#include "support/hex_bytes.h"

namespace plcsim::test {

using morvane::test::Hex;
using morvane::test::ToHex;

class SlaveEnd {
  public:
    explicit SlaveEnd(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        termios raw{};
        if (fd_ >= 0 && tcgetattr(fd_, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(fd_, TCSANOW, &raw);
        }
    }
    ~SlaveEnd() {
        if (fd_ >= 0) close(fd_);
    }
    SlaveEnd(const SlaveEnd&) = delete;
    SlaveEnd& operator=(const SlaveEnd&) = delete;

    bool ok() const { return fd_ >= 0; }
    void Send(const std::string& hex) { Send(Hex(hex)); }
    void Send(const Bytes& bytes) {
        if (write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            ADD_FAILURE() << "short write";
    }
    // Up to count bytes, waiting at most timeout_ms in all; as hex.
    std::string Read(size_t count, int timeout_ms = 1000) {
        Bytes bytes;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (bytes.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd ready{fd_, POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
            uint8_t byte = 0;
            if (read(fd_, &byte, 1) == 1) bytes.push_back(byte);
        }
        return ToHex(bytes);
    }

  private:
    int fd_;
};

}  // namespace plcsim::test
