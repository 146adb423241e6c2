// The read seam of the marked ports: the undoubling on its own, cut anywhere, and on
// a real pseudo-terminal with PARMRK, where the kernel doubles every FF the
// relay writes and only the marked port's reads are undone.
#include "support/read_seam.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/hex_bytes.h"

namespace morvane::test {
namespace {

using test::Hex;
using test::ToHex;

struct UndoCase {
    const char* raw;
    const char* kept;
    bool cut;
};

class Undoubling : public ::testing::TestWithParam<UndoCase> {};

TEST_P(Undoubling, KeepsOneFfOfEveryPair) {
    test::Wire bytes = Hex(GetParam().raw);
    bool cut = false;
    bytes.resize(UndoFfDoubling(bytes.data(), bytes.size(), &cut));
    EXPECT_EQ(ToHex(bytes), GetParam().kept);
    EXPECT_EQ(cut, GetParam().cut);
}

INSTANTIATE_TEST_SUITE_P(Reads, Undoubling,
                         ::testing::Values(UndoCase{"41 42", "41 42", false},
                                           UndoCase{"FF FF", "FF", false},
                                           UndoCase{"FF FF 00 41", "FF 00 41", false},
                                           UndoCase{"FF FF FF FF", "FF FF", false},
                                           UndoCase{"41 FF", "41 FF", true},
                                           UndoCase{"FF FF FF", "FF FF", true},
                                           UndoCase{"FF", "FF", true}, UndoCase{"", "", false}));

// A pseudo-terminal whose slave is set up as the driver sets its port.
class MarkedPty : public ::testing::Test {
  protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        char name[128];
        ASSERT_EQ(ptsname_r(master_, name, sizeof name), 0);
        path_ = name;
        slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(slave_, 0);
        termios settings{};
        ASSERT_EQ(tcgetattr(slave_, &settings), 0);
        cfmakeraw(&settings);
        settings.c_iflag |= INPCK | PARMRK;
        ASSERT_EQ(tcsetattr(slave_, TCSANOW, &settings), 0);
    }
    void TearDown() override {
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }
    // What the relay writes, read back in reads of at most chunk bytes.
    std::string PassThrough(const std::string& hex, size_t chunk) {
        const test::Wire bytes = Hex(hex);
        if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            return "short write";
        test::Wire got;
        for (int idle = 0; idle < 200;) {
            uint8_t buffer[64];
            const ssize_t n = read(slave_, buffer, chunk);
            if (n > 0) {
                got.insert(got.end(), buffer, buffer + n);
                idle = 0;
            } else {
                ++idle;
                if (got.size() >= bytes.size() / 2 && idle > 20) break;
                usleep(1000);
            }
        }
        return ToHex(got);
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// A flagged 41, a data FF, a break: as the relay writes them.
constexpr char kMarked[] = "FF 00 41 FF FF 42 FF 00 00";

TEST_F(MarkedPty, TheKernelDoublesEveryFfOfAnUnmarkedPort) {
    EXPECT_EQ(PassThrough(kMarked, 64), "FF FF 00 41 FF FF FF FF 42 FF FF 00 00");
}

TEST_F(MarkedPty, AMarkedPortReadsTheRelaysMarksInAnyReadSize) {
    ASSERT_TRUE(MarkPortReads(path_));
    for (size_t chunk : {1, 2, 3, 64})
        EXPECT_EQ(PassThrough(kMarked, chunk), kMarked) << "reads of " << chunk;
}

}  // namespace
}  // namespace morvane::test
