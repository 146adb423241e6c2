// The plcsim program: help, refused options, and a run on a pseudo-terminal
// that serves a SEND and saves its data blocks when stopped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include "slave_end.h"
#include "support/pty_pair.h"
#include "support/run_command.h"
#include "support/temp_directory.h"

namespace plcsim {
namespace {

using morvane::test::PtyPair;
using morvane::test::RunCommand;

std::string FileText(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// plcsim with args, standard error into err_file (if named); *first_line gets the
// first line of its output, the device it serves (empty: it did not start).
pid_t StartPlcsim(std::vector<std::string> args, const std::string& err_file,
                  std::string* first_line) {
    int out[2];
    if (pipe(out) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        if (!err_file.empty()) dup2(open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        close(out[0]);
        std::vector<char*> argv{const_cast<char*>("plcsim")};
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(PLCSIM_PROGRAM, argv.data());
        _exit(127);
    }
    close(out[1]);
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        *first_line += c;
    close(out[0]);
    return child;
}

// Its exit status within timeout_ms; -1 when killed by a signal or when it
// had not ended by then (it is killed).
int WaitExit(pid_t child, int timeout_ms) {
    int status = 0;
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        if (waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return -1;
}

TEST(PlcsimProgram, HelpAndRefusedOptions) {
    std::string out;
    EXPECT_EQ(RunCommand(std::string(PLCSIM_PROGRAM) + " --help", &out), 0);
    EXPECT_NE(out.find("Usage: plcsim"), std::string::npos);
    out.clear();
    EXPECT_EQ(RunCommand(std::string(PLCSIM_PROGRAM) + " --priority medium 2>&1", &out), 2);
    EXPECT_NE(out.find("--priority medium"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(RunCommand(std::string(PLCSIM_PROGRAM) + " --device /nonexistent/tty 2>&1", &out), 1);
}

// What is no serial device is named so, and a device another program holds
// is refused naming it, at once: plcsim never serves a line a second reader
// shares, and never waits on an open.
TEST(PlcsimProgram, ADeviceItCannotHaveIsRefusedWithTheReason) {
    morvane::test::TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    std::ofstream(scratch.File("file")) << "DB1 1: 0001\n";
    ASSERT_EQ(mkfifo(scratch.File("fifo").c_str(), 0600), 0);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const std::string held = ptsname(master);
    const int holder = open(held.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    const struct {
        std::string device;
        std::string says;
    } cases[] = {
        {scratch.File("file"), "not a serial device"},
        {scratch.File("fifo"), "not a serial device"},
        {scratch.path().string(), "not a serial device"},
        {scratch.File("missing"), "no such device"},
        {held, "in use by process " + std::to_string(getpid())},
    };
    for (const auto& [device, says] : cases) {
        SCOPED_TRACE(device);
        std::string out;
        EXPECT_EQ(RunCommand("timeout 10 " + std::string(PLCSIM_PROGRAM) + " --no-trace --device " +
                                 device + " 2>&1",
                             &out),
                  1);
        EXPECT_NE(out.find(device + ": " + says), std::string::npos) << out;
    }
    close(holder);
    close(master);
}

// A trace onto a terminal line, the served device's or another's, would
// reach whatever is at its far end: refused before anything is written.
TEST(PlcsimProgram, ATraceOntoATerminalLineIsRefused) {
    morvane::test::PtyPair served, other;
    ASSERT_TRUE(served.ok() && other.ok());
    const std::string link = morvane::test::ScratchFile("plcsim_hB");
    ASSERT_EQ(symlink(served.name().c_str(), link.c_str()), 0);
    for (const auto& [arguments, code, says] :
         {std::tuple{"--device " + link + " --trace-file " + link, 2,
                     "--trace-file " + link + " is the served --device: it would go onto the line"},
          std::tuple{"--trace-file " + other.name(), 1,
                     other.name() + " is a terminal line other than this program's own"}}) {
        std::string out;
        EXPECT_EQ(
            RunCommand("timeout 10 " + std::string(PLCSIM_PROGRAM) + " " + arguments + " 2>&1",
                       &out),
            code);
        EXPECT_NE(out.find(says), std::string::npos) << out;
    }
    std::remove(link.c_str());
}

// A trace lost on a full disk is said at the end, and the status says so.
TEST(PlcsimProgram, ATraceTheDiskDidNotTakeFailsTheSession) {
    morvane::test::TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    const std::string full = scratch.File("full.mcap"), out = scratch.File("out");
    // A device that takes no byte, as a full disk; making one needs root.
    if (mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0) GTEST_SKIP() << "not root";
    std::string said;
    EXPECT_EQ(RunCommand("timeout 10 sh -c '" + std::string(PLCSIM_PROGRAM) + " --trace-file " +
                             full + " >" + out + " 2>&1 & while [ ! -s " + out +
                             " ]; do sleep 0.05; done; kill -TERM $!; wait $!; s=$?; cat " + out +
                             "; exit $s'",
                         &said),
              1);
    EXPECT_NE(said.find("plcsim: the trace " + full + ": "), std::string::npos) << said;
    EXPECT_NE(said.find(" bytes not written: No space left on device"), std::string::npos) << said;
}

// The empty file made to hold a new --save file is not left behind by a
// session that never got to save it.
TEST(PlcsimProgram, ASaveFileMadeToBeHeldGoesWhenNothingWasSaved) {
    morvane::test::TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    const std::string file = scratch.File("new.txt");
    std::string out;
    EXPECT_EQ(RunCommand(std::string(PLCSIM_PROGRAM) + " --no-trace --save " + file + " --device " +
                             scratch.File("missing") + " 2>&1",
                         &out),
              1);
    EXPECT_FALSE(std::filesystem::exists(file)) << out;
}

// A run puts back the settings it found on the device; after one killed
// before it could, the line differs from what the next run asks only in the
// parity a pseudo-terminal cannot hold, and is served all the same. A device
// that goes away (an adapter pulled; here the far end closed) ends the
// session at once, blocks saved, with the reason and status 1: its hang-up,
// reported without end, is no quiet line to poll again.
TEST(PlcsimProgram, ADeviceIsServedAgainAfterARunAndItsLossEndsTheSession) {
    morvane::test::TempDirectory scratch;
    auto line = std::make_unique<PtyPair>();
    ASSERT_TRUE(scratch.ok() && line->ok());
    const std::string device = line->name(), err = scratch.File("err"), save = scratch.File("db");
    const int peek = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios found{}, now{};
    ASSERT_EQ(tcgetattr(peek, &found), 0);
    ASSERT_NE(cfgetospeed(&found), B9600);
    for (const int stop : {SIGTERM, SIGKILL, 0}) {
        SCOPED_TRACE(stop);
        std::remove(save.c_str());
        std::string path;
        const pid_t run = StartPlcsim(
            {"--no-trace", "--device", device, "--db", "3:4", "--save", save}, err, &path);
        ASSERT_EQ(path, device) << FileText(err);
        tcflush(line->master(), TCIFLUSH);
        ASSERT_TRUE(line->Send({0x02}));
        EXPECT_EQ(line->Receive(1), std::vector<uint8_t>{0x10});
        if (stop != 0) kill(run, stop);
        if (stop == 0) line.reset();
        EXPECT_EQ(WaitExit(run, 2000), stop == SIGTERM ? 0 : stop == SIGKILL ? -1 : 1);
        if (stop == SIGTERM) {
            ASSERT_EQ(tcgetattr(peek, &now), 0);
            EXPECT_EQ(cfgetospeed(&now), cfgetospeed(&found));
        }
    }
    close(peek);
    EXPECT_EQ(FileText(err).rfind("plcsim: " + device + ": the device is gone (hung up", 0), 0u)
        << FileText(err);
    EXPECT_NE(FileText(save).find("DB3 4: 0000 0000 0000 0000"), std::string::npos);
}

// A terminal in exclusive mode (another program's, or one left so) refuses
// every open but root's: said so, not "in use" by nobody.
TEST(PlcsimProgram, ATerminalInExclusiveModeIsSaidToBeHeldSo) {
    PtyPair line;
    ASSERT_TRUE(line.ok());
    // Root opens it all the same: it runs as nobody.
    const std::string prefix =
        geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    std::string out;
    if (!prefix.empty() && (chmod(line.name().c_str(), 0666) != 0 ||
                            RunCommand(prefix + "test -x " + PLCSIM_PROGRAM, &out) != 0))
        GTEST_SKIP() << "nobody cannot run the program where it was built";
    const int holder = open(line.name().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    EXPECT_EQ(RunCommand("timeout 10 " + prefix + PLCSIM_PROGRAM + " --no-trace --device " +
                             line.name() + " 2>&1",
                         &out),
              1);
    EXPECT_NE(out.find(line.name() + ": held exclusively by "), std::string::npos) << out;
    close(holder);
}

TEST(PlcsimProgram, AMalformedBlockFileIsRefusedAndNeverWritten) {
    const std::string file = morvane::test::ScratchFile("plcsim_typo.txt");
    const std::string typo = "DB1 3: 0001 0OBB 0003\n";
    std::ofstream(file) << typo;
    std::string out;
    EXPECT_EQ(RunCommand(std::string(PLCSIM_PROGRAM) + " --no-trace --load " + file + " --save " +
                             file + " 2>&1",
                         &out),
              1);
    EXPECT_NE(out.find(file + ":1:14: expected a hex digit (0-9, A-F), found 'O'"),
              std::string::npos)
        << out;
    EXPECT_EQ(FileText(file), typo);
    std::remove(file.c_str());
}

// SIGTERM (a service manager), SIGHUP (a closed terminal) and SIGPIPE (the
// trace's reader gone) each end the session with its blocks saved.
TEST(PlcsimProgram, ServesAPseudoTerminalAndSavesItsBlocksWhenStopped) {
    for (const int stop : {SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(stop);
        const std::string save = morvane::test::ScratchFile("plcsim_saved.txt");
        std::remove(save.c_str());
        std::string path;
        const pid_t child = StartPlcsim(
            {"--3964r", "--db", "3:4", "--no-create", "--save", save, "--no-trace"}, "", &path);
        ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
        {
            test::SlaveEnd end(path);
            ASSERT_TRUE(end.ok());
            end.Send("02");
            EXPECT_EQ(end.Read(1, 500), "10");
            // SEND one word 0xBEEF to data block 3, word 1; BCC 0x44.
            end.Send("00 00 41 44 03 01 00 01 FF FF BE EF 10 03 44");
            EXPECT_EQ(end.Read(2, 500), "10 02");
            end.Send("10");
            EXPECT_EQ(end.Read(7, 500), "00 00 00 00 10 03 13");
            end.Send("10");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        kill(child, stop);
        EXPECT_EQ(WaitExit(child, 1000), 0);
        EXPECT_NE(FileText(save).find("DB3 4: 0000 BEEF 0000 0000"), std::string::npos)
            << FileText(save);
        std::remove(save.c_str());
    }
}

}  // namespace
}  // namespace plcsim
