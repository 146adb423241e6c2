// Shared pieces of the link tests: hex wire vectors and a driver port on a
// pseudo-terminal slave with a short read time-out.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "serial/serial_port.h"
#include "support/hex_bytes.h"

namespace morvane::test {

// Waits (bounded) until at least one byte is queued for the driver.
inline bool WaitForInput(PortHandle port, int timeout_ms = 300) {
    for (int i = 0; i < timeout_ms; ++i) {
        if (SerialInputWaiting(port)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Quiet-line round callback of the bound tests: counts the round and waits
// (at most 300 ms) until the partner's next byte is queued, so that the loop
// meets it when it asks again instead of racing the partner.
struct RoundCounter {
    PortHandle port;
    int rounds = 0;
    static void OnRound(void* context) {
        auto* self = static_cast<RoundCounter*>(context);
        ++self->rounds;
        WaitForInput(self->port);
    }
};

// Read time-out of the tests' ports: 50 ms per byte against scripted peers,
// 200 ms against the simulator, which answers from a thread of its own.
constexpr uint32_t kTestReadTimeoutMs = 50;
constexpr uint32_t kSimReadTimeoutMs = 200;

// The driver's end of the line: the slave opened as the channel opens it.
class DriverPort {
  public:
    explicit DriverPort(const std::string& device, uint32_t timeout_ms = kTestReadTimeoutMs) {
        const LineParameters line{9600, 8, 0, 2};
        if (SerialOpen(device.c_str(), line, 0x0303, &handle_) != kSerialOk) handle_ = 0;
        if (handle_ != 0) SerialSetReadTimeout(handle_, timeout_ms);
    }
    ~DriverPort() {
        if (handle_ != 0) SerialClose(handle_);
    }
    DriverPort(const DriverPort&) = delete;
    DriverPort& operator=(const DriverPort&) = delete;
    bool ok() const { return handle_ != 0; }
    PortHandle handle() const { return handle_; }

  private:
    PortHandle handle_ = 0;
};

}  // namespace morvane::test
