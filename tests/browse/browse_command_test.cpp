// BrowseAddress0 through TevMain, each case in a child process so that the
// browse-once flag starts clear and the dialog gets a terminal of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "browse/browse_command.h"
#include "browse/child_session.h"
#include "ostrel/ostrel_control.h"

namespace morvane::test {
namespace {

constexpr int kWaitMs = 900;
constexpr char kUntouched[] = "untouched";  // 9 characters, as big as any address

// Calls command 16 and describes the outcome: "<result> <buffer>".
std::string Browse() {
    char buffer[10];
    std::snprintf(buffer, sizeof buffer, "%s", kUntouched);
    BrowseBlock block{buffer, nullptr};
    TevRequest request{};
    request.command_code = MORVANE_CMD_BROWSE_ADDRESS;
    request.parameter_block = &block;
    const int32_t result = TevMain(&request);
    return std::to_string(result) + " " + buffer;
}

void BrowseAndReport(int report_fd) {
    WriteReport(report_fd, Browse());
}

TEST(BrowseAddress0, WithoutATerminalAnswers53AtOnce) {
    ChildSession child(false, BrowseAndReport);
    EXPECT_EQ(child.Report(kWaitMs), "53 untouched");
    EXPECT_EQ(child.Wait(kWaitMs), 0);
}

TEST(BrowseAddress0, OkAtOnceGivesTheOpeningAddressAndASecondCallAnswers53) {
    ChildSession child(true, [](int report_fd) {
        const std::string first = Browse();
        const std::string second = Browse();  // must not show a dialog again
        WriteReport(report_fd, first + "|" + second);
    });
    ASSERT_TRUE(child.WaitForOutput("Tag Format", kWaitMs)) << child.output();
    child.Type("\r");
    EXPECT_EQ(child.Report(kWaitMs), "0 000000|53 untouched");
    EXPECT_EQ(child.Wait(kWaitMs), 0);
}

TEST(BrowseAddress0, CancelAnswers53AndLeavesTheBufferAndTerminalAlone) {
    ChildSession child(true, [](int report_fd) {
        struct termios before {};
        struct termios after {};
        const int tty = open("/dev/tty", O_RDWR);
        tcgetattr(tty, &before);
        const std::string outcome = Browse();
        tcgetattr(tty, &after);
        const bool restored = before.c_lflag == after.c_lflag && before.c_iflag == after.c_iflag &&
                              before.c_oflag == after.c_oflag;
        WriteReport(report_fd, outcome + (restored ? " restored" : " left raw"));
    });
    ASSERT_TRUE(child.WaitForOutput("Tag Format", kWaitMs)) << child.output();
    child.Type("\x1b");
    EXPECT_EQ(child.Report(kWaitMs), "53 untouched restored");
    EXPECT_EQ(child.Wait(kWaitMs), 0);
}

TEST(BrowseAddress0, RefusedEntryShowsItsMessageAndCanBeCorrected) {
    ChildSession child(true, BrowseAndReport);
    ASSERT_TRUE(child.WaitForOutput("Tag Format", kWaitMs)) << child.output();
    child.Type("12\r");  // the block field has the focus with its text selected
    ASSERT_TRUE(child.WaitForOutput("The Data Block should be  A 3 DIGITS NUMBER! ", kWaitMs))
        << child.output();
    child.Type("\r3\r");  // dismiss the message, make the block 123, OK
    EXPECT_EQ(child.Report(kWaitMs), "0 123000");
    EXPECT_EQ(child.Wait(kWaitMs), 0);
}

TEST(BrowseAddress0, LostTerminalAnswers53) {
    ChildSession child(true, [](int report_fd) {
        signal(SIGHUP, SIG_IGN);  // a host that outlives its terminal
        WriteReport(report_fd, Browse());
    });
    ASSERT_TRUE(child.WaitForOutput("Tag Format", kWaitMs)) << child.output();
    child.HangUp();
    EXPECT_EQ(child.Report(kWaitMs), "53 untouched");
    EXPECT_EQ(child.Wait(kWaitMs), 0);
}

TEST(BrowseAddress0, BackgroundProcessAnswers53WithoutTakingTheTerminal) {
    ChildSession child(true, [](int report_fd) {
        const pid_t background = fork();
        if (background == 0) {
            setpgid(0, 0);  // a process group that is not the terminal's foreground
            WriteReport(report_fd, Browse());
            _exit(0);
        }
        waitpid(background, nullptr, 0);
    });
    EXPECT_EQ(child.Report(kWaitMs), "53 untouched");
    EXPECT_EQ(child.output().find("Tag Format"), std::string::npos);
    EXPECT_EQ(child.Wait(kWaitMs), 0);
}

TEST(BrowseAddress0, HostVersionDecidesTheOwnerWindow) {
    int window = 0;
    const BrowseBlock block{nullptr, &window};
    OstrelSetVersion(819);
    EXPECT_EQ(DialogOwner(block), nullptr);
    OstrelSetVersion(820);
    EXPECT_EQ(DialogOwner(block), &window);
    OstrelSetVersion(0xFFFF);  // the version is an unsigned 16-bit number
    EXPECT_EQ(DialogOwner(block), &window);
    OstrelSetRefuseClients(1);
    EXPECT_EQ(HostVersion(), 0u);
    EXPECT_EQ(DialogOwner(block), nullptr);
    OstrelSetRefuseClients(0);
    OstrelSetVersion(820);
}

// A call without a buffer shows nothing and leaves the one dialog of the
// loaded driver to the next call.
TEST(BrowseAddress0, WithoutAnAddressBufferAnswers53WithoutADialog) {
    ChildSession child(true, [](int report_fd) {
        BrowseBlock block{nullptr, nullptr};
        TevRequest request{};
        request.command_code = MORVANE_CMD_BROWSE_ADDRESS;
        request.parameter_block = &block;
        const int32_t without_buffer = TevMain(&request);
        request.parameter_block = nullptr;
        const int32_t without_block = TevMain(&request);
        WriteReport(report_fd, std::to_string(without_buffer) + " " +
                                   std::to_string(without_block) + "|" + Browse());
    });
    ASSERT_TRUE(child.WaitForOutput("Tag Format", kWaitMs)) << child.output();
    child.Type("\r");
    EXPECT_EQ(child.Report(kWaitMs), "53 53|0 000000");
    EXPECT_EQ(child.Wait(kWaitMs), 0);
}

// What a real terminal does to a dialog: Alt and a key (ESC and the key)
// is no Escape; a window too small is said so, not drawn garbled; settings
// the shell put back after a stop and continue are taken back.
TEST(BrowseAddress0, AltKeysSmallWindowsAndAContinueLeaveTheDialogWhole) {
    ChildSession child(true, BrowseAndReport);
    ASSERT_TRUE(child.WaitForOutput("Tag Format", kWaitMs)) << child.output();
    child.Type(
        "\x1b"
        "a");
    struct winsize small {
        10, 40, 0, 0
    };
    ASSERT_EQ(ioctl(child.master(), TIOCSWINSZ, &small), 0);
    ASSERT_TRUE(child.WaitForOutput("needs a window of 64 x 23; this one is 40 x 10", kWaitMs))
        << child.output();
    struct termios settings {};
    ASSERT_EQ(tcgetattr(child.master(), &settings), 0);
    settings.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(child.master(), TCSANOW, &settings), 0);
    const long until = NowMs() + kWaitMs;
    while (NowMs() < until && tcgetattr(child.master(), &settings) == 0 &&
           (settings.c_lflag & ICANON) != 0)
        usleep(10000);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO), 0u) << "the raw mode was not taken back";
    child.Type("\r");
    EXPECT_EQ(child.Report(kWaitMs), "0 000000");
    EXPECT_EQ(child.Wait(kWaitMs), 0);
}

TEST(BrowseAddress0, DumbTerminalAnswers53WithoutDrawing) {
    ChildSession child(true, [](int report_fd) {
        setenv("TERM", "dumb", 1);
        WriteReport(report_fd, Browse());
    });
    EXPECT_EQ(child.Report(kWaitMs), "53 untouched");
    EXPECT_EQ(child.output().find("Tag Format"), std::string::npos);
    EXPECT_EQ(child.Wait(kWaitMs), 0);
}

}  // namespace
}  // namespace morvane::test
