// The watch in the line passes characters on before they are decoded, but
// never one its port marked damaged: the far side cannot be told, and as a
// clean byte it could pass for data there.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/line_watch.h"
#include "support/pty_pair.h"

namespace morvane::test {
namespace {

int OpenRaw(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (fd >= 0 && tcgetattr(fd, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(fd, TCSANOW, &raw);
    }
    return fd;
}

TEST(LineWatch, DamagedCharacterIsShownButNotPassedOn) {
    PtyPair plc_port, host_port;
    ASSERT_TRUE(plc_port.ok() && host_port.ok());
    const int plc_fd = OpenRaw(plc_port.name());
    const int host_fd = OpenRaw(host_port.name());
    ASSERT_GE(plc_fd, 0);
    ASSERT_GE(host_fd, 0);
    // The port's marks as a UART with PARMRK hands them over: FF 00 before a
    // damaged character, FF FF for a data FF.
    ASSERT_TRUE(plc_port.Send({0x41, 0xFF, 0x00, 0x42, 0xFF, 0xFF, 0x43}));

    std::vector<monitor::LineChar> seen;
    const int64_t deadline = PtyPair::NowMs() + 2000;
    monitor::WatchCalls calls;
    calls.on_char = [&](const monitor::LineChar& c) { seen.push_back(c); };
    calls.keep_going = [&] { return seen.size() < 4 && PtyPair::NowMs() < deadline; };
    const std::vector<monitor::WatchEnd> ends = {
        {plc_fd, monitor::Side::kPlc, true, host_fd, "PLC side"}};
    const std::string failure = monitor::WatchLine(ends, monitor::MonotonicMicros(), calls);
    // Passed on before shown: all there is, once the terminal layer has
    // handed it over (a fourth byte would come within the wait).
    const std::vector<uint8_t> passed = host_port.Receive(4, 100);
    close(plc_fd);
    close(host_fd);

    EXPECT_EQ(failure, "");
    EXPECT_EQ(passed, (std::vector<uint8_t>{0x41, 0xFF, 0x43}));
    ASSERT_EQ(seen.size(), 4u);
    const bool damaged[] = {false, true, false, false};
    const uint8_t bytes[] = {0x41, 0x42, 0xFF, 0x43};
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].byte, bytes[i]) << i;
        EXPECT_EQ(seen[i].damaged, damaged[i]) << i;
    }
}

}  // namespace
}  // namespace morvane::test
