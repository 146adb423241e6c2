// The morvane program on a line: its trace of the bytes against the
// simulator's own view of them, what it says when a port does not open, and
// what it says about addresses.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_pair.h"
#include "support/run_command.h"
#include "support/sim_fixture.h"
#include "support/temp_directory.h"

namespace morvane::test {
namespace {

const std::string kProgram = std::string(MORVANE_PROGRAM) + " --log-level 33 ";

// The trace's lines as the simulator names them: "rx STX" for what the
// host sent, "tx ..." for what the PLC sent, without the time stamps.
std::vector<std::string> TraceAsSimulatorSeesIt(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(" ms  ");
        if (at == std::string::npos) continue;
        const std::string rest = line.substr(at + 5);
        if (rest.rfind("host > PLC  ", 0) == 0) lines.push_back("rx " + rest.substr(12));
        if (rest.rfind("PLC > host  ", 0) == 0) lines.push_back("tx " + rest.substr(12));
    }
    return lines;
}

std::vector<std::string> Exchanged(const SimFixture& sim) {
    std::vector<std::string> lines;
    for (const std::string& line : sim.Trace())
        if (line.rfind("--", 0) != 0) lines.push_back(line);
    return lines;
}

// A PLC that keeps sending after its reply: the trace shows its bytes, and
// the session ends at once instead of relaying until the PLC falls quiet.
TEST(LineProgram, ABabblingPlcNeitherHoldsUpTheEndNorHidesInTheTrace) {
    SimFixture sim(FastLink(true));
    ASSERT_TRUE(sim.ok()) << sim.error();
    plcsim::Faults babble;
    babble.babble = true;
    sim.SetFaults(babble);
    std::string out;
    const auto start = std::chrono::steady_clock::now();
    const int code = RunCommand("timeout 20 " + kProgram + "read --trace --protocol 3964R --port " +
                                    sim.device() + " 001002 2>&1",
                                &out);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << out;
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("PLC > host  55 55 55"), std::string::npos) << out;
}

// A write that took more than one attempt says so, as a read does.
TEST(LineProgram, AWriteTellsTheAttemptsItTook) {
    SimFixture sim(FastLink(false));
    ASSERT_TRUE(sim.ok()) << sim.error();
    plcsim::Faults refuse_once;
    refuse_once.nak_telegrams = 1;
    sim.SetFaults(refuse_once);
    std::string out;
    EXPECT_EQ(RunCommand(kProgram + "write --port " + sim.device() + " 001002 5 2>&1", &out), 0);
    EXPECT_EQ(out, "001002 <- 1 value  (2 attempts)\n");
    EXPECT_EQ(sim->Word(1, 2), 5);
}

// A port the program reaches through a link, as /dev/serial/by-id/ names one.
TEST(LineProgram, TraceShowsEveryByteTheSimulatorExchanged) {
    for (const char* protocol : {"3964", "3964r"}) {
        SCOPED_TRACE(protocol);
        SimFixture sim(FastLink(protocol[4] == 'r'));
        ASSERT_TRUE(sim.ok()) << sim.error();
        const std::string link = ScratchFile("morvane-plc-link");
        std::filesystem::remove(link);
        std::filesystem::create_symlink(sim.device(), link);
        std::string out;
        const int code = RunCommand(kProgram + "write --trace --protocol " + protocol + " --port " +
                                        link + " 001002 0x1010 then read 001000 3 2>&1",
                                    &out);
        std::filesystem::remove(link);
        EXPECT_EQ(code, 0) << out;
        EXPECT_NE(out.find("001000[2] = 4112 (0x1010)"), std::string::npos) << out;
        EXPECT_NE(out.find("# line trace of " + sim.device() + ", 9600 8E1, "), std::string::npos)
            << out;
        const std::vector<std::string> traced = TraceAsSimulatorSeesIt(out);
        EXPECT_EQ(traced.size(), 16u) << out;  // two exchanges of eight lines
        // The simulator may still be taking the last DLE in.
        EXPECT_TRUE(sim.WaitForTrace("rx DLE", 3));
        EXPECT_EQ(traced, Exchanged(sim)) << out;
    }
}

TEST(LineProgram, TraceOfTheEmbeddedSimulatorMatchesItsOwnView) {
    std::string out;
    const int code = RunCommand(
        kProgram + "read --trace --sim-trace --protocol 3964R --pace 001002 4 2>&1", &out);
    // The last DLE may cross as the simulator stops: it need not see it.
    EXPECT_EQ(code, 0) << out;
    std::vector<std::string> simulator;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(" ms ");
        if (line.rfind("plc ", 0) == 0 && at != std::string::npos &&
            line.compare(at + 4, 2, "--") != 0)
            simulator.push_back(line.substr(at + 4));
    }
    std::vector<std::string> traced = TraceAsSimulatorSeesIt(out);
    EXPECT_EQ(traced.size(), 8u) << out;
    EXPECT_EQ(traced.back(), "rx DLE");
    ASSERT_GE(simulator.size(), 7u) << out;
    traced.resize(simulator.size());
    EXPECT_EQ(traced, simulator) << out;
    EXPECT_NE(out.find("DLE ETX BCC"), std::string::npos) << out;
}

struct PortCase {
    const char* name;
    std::string port;
    const char* said;
};

std::string RunOnPort(const std::string& port, const std::string& prefix = "",
                      const std::string& options = "") {
    std::string out;
    const int code =
        RunCommand(prefix + kProgram + "read " + options + "--port " + port + " 001002 2>&1", &out);
    EXPECT_EQ(code, 6) << out;  // the port cannot be opened
    return out;
}

TEST(LineProgram, PortFailuresSayWhichWithTheSystemsText) {
    PtyPair held;
    ASSERT_TRUE(held.ok());
    const int holder = open(held.name().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    const std::string in_use = "in use by process " + std::to_string(getpid()) + " (";
    const std::string long_file = ScratchFile("morvane-a-file-not-a-port");
    // A character device that is no terminal, of our own at a name short
    // enough for the driver (root can make one; without it the null
    // device's own node stands in, only opened and refused).
    std::string no_terminal = "/dev/null";
    for (int i = 0; i < 100 && no_terminal == "/dev/null"; ++i) {
        const std::string name = "/tmp/mvn" + std::to_string(100 + (getpid() + i) % 900);
        if (mknod(name.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
            no_terminal = name;
        else if (errno != EEXIST)
            break;
    }
    std::FILE* file = std::fopen(long_file.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    const PortCase cases[] = {
        {"missing", "/dev/ttyUSB97",
         "cannot open port /dev/ttyUSB97 at 9600 8E1: no such device (No such file or directory)"},
        {"missing, by a long link", "/dev/serial/by-id/usb-PLC-if00-port0",
         "port /dev/serial/by-id/usb-PLC-if00-port0 at 9600 8E1: no such device"},
        {"in use", held.name(), in_use.c_str()},
        {"a directory", ProgramScratch().path().string(),
         "not a serial device, not even a character device"},
        {"no terminal", no_terminal, "not a serial device (Inappropriate ioctl for device)"},
        // Its name too long for the driver, but that is not what is wrong with it.
        {"a regular file", long_file, "not a serial device, not even a character device"},
    };
    for (const PortCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(RunOnPort(c.port).find(c.said), std::string::npos) << RunOnPort(c.port);
        // The trace's relay opens the device itself and says the same.
        EXPECT_NE(RunOnPort(c.port, "", "--trace ").find(c.said), std::string::npos);
    }
    close(holder);
    std::remove(long_file.c_str());
    if (no_terminal != "/dev/null") std::remove(no_terminal.c_str());
}

// An adapter pulled and plugged back in behind the same link (as
// /dev/serial/by-id/ names it), perhaps at another node: the poll goes on
// through the failures and opens the port again once it is back.
TEST(LineProgram, PollOpensThePortAgainOnceAPulledAdapterIsBack) {
    const std::string link = ScratchFile("morvane-replugged");
    const plcsim::LinkSettings plc_link = FastLink(false);
    std::string out;
    int code = -1;
    std::thread poll;
    bool served = false;
    {
        SimFixture first(plc_link);
        ASSERT_TRUE(first.ok()) << first.error();
        std::filesystem::remove(link);
        std::filesystem::create_symlink(first.device(), link);
        poll = std::thread([&] {
            code = RunCommand(
                kProgram + "poll --json --every 20 --times 50 --port " + link + " 001002 2>&1",
                &out);
        });
        served = first.WaitForTrace("rx STX", 1, 5000);
    }  // pulled: its device is gone
    SimFixture second(plc_link);
    second->SetWord(1, 2, 0x1234);
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.device(), link);
    poll.join();
    ASSERT_TRUE(served) << out;
    const size_t gone = out.find("line-failure-port-gone");
    const size_t back = out.find("morvane: the port is back (" + second.device() + ")");
    EXPECT_NE(gone, std::string::npos) << out;
    EXPECT_NE(back, std::string::npos) << out;
    EXPECT_NE(out.find("\"value\":4660", back), std::string::npos) << out;
    EXPECT_EQ(out.find("plug it in again"), std::string::npos) << out;  // it is back
    EXPECT_EQ(code, 5) << out;                                          // some samples failed
    std::filesystem::remove(link);
}

// Run as a user without access (root drops to nobody for it).
TEST(LineProgram, PermissionDeniedNamesTheGroupToJoin) {
    PtyPair pair;
    ASSERT_TRUE(pair.ok());
    std::string prefix;
    const group* dialout = getgrnam("dialout");
    if (geteuid() == 0) {
        if (dialout == nullptr || access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "no dialout group or setpriv to drop root";
        ASSERT_EQ(chown(pair.name().c_str(), 0, dialout->gr_gid), 0);
        ASSERT_EQ(chmod(pair.name().c_str(), 0660), 0);
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        std::string ignored;
        if (RunCommand(prefix + "test -x " + std::string(MORVANE_PROGRAM), &ignored) != 0)
            GTEST_SKIP() << "nobody cannot run the program where it was built";
    } else {
        ASSERT_EQ(chmod(pair.name().c_str(), 0), 0);
    }
    const std::string out = RunOnPort(pair.name(), prefix);
    EXPECT_NE(out.find("not open to this user (Permission denied)"), std::string::npos) << out;
    if (geteuid() == 0) {
        EXPECT_NE(out.find("belongs to group dialout; join it"), std::string::npos) << out;
    }
}

TEST(LineProgram, ParseSaysWhatAnAddressNamesOrWhyNot) {
    struct {
        const char* address;
        const char* said;
    } const cases[] = {
        {"001002", "data block 1, word 2 (1 word): 16-bit word"},
        {"25525515", "data block 255, word 255 (1 word): bit 15 of the word; single only"},
        {"001010f", "data block 1, words 10 to 11 (2 words): float, 32 bits"},
        {"002020S08", "data block 2, words 20 to 23 (4 words): string of 8 characters"},
        {"001011L", "refused: a float or long starts at an even word"},
        {"001010F7", "refused: a float or long takes no bit number"},
        {"256000", "refused: data block above 255"},
        {"001004S20", "refused: a string starts at a multiple of half its length"},
        {"00100216", "refused: bit number above 15"},
    };
    std::string command = kProgram + "parse";
    for (const auto& c : cases)
        command += std::string(" ") + c.address;
    std::string out;
    EXPECT_EQ(RunCommand(command + " 2>&1", &out), 3) << out;  // address refused
    std::istringstream lines(out);
    for (const auto& c : cases) {
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line.rfind(c.address, 0), 0u) << line;
        EXPECT_NE(line.find(c.said), std::string::npos) << line;
    }
    EXPECT_EQ(RunCommand(kProgram + "parse 001002 001010F 2>&1", &out), 0) << out;
    // Bytes a terminal would act on or garble, escaped in the address and in
    // the driver's reason that quotes it.
    const struct {
        const char *address, *shown, *raw;
    } escaped[] = {
        {"\x1B[31m001002", "\\x1B[31m001002  refused: ", "\x1B"},
        {"00100\xE9", "00100\\xE9   refused: ", "\xE9"},
    };
    for (const auto& c : escaped) {
        out.clear();
        EXPECT_EQ(RunCommand(kProgram + "parse '" + c.address + "' 2>&1", &out), 3) << out;
        EXPECT_EQ(out.rfind(c.shown, 0), 0u) << out;
        EXPECT_EQ(out.find(c.raw), std::string::npos) << out;
    }
}

}  // namespace
}  // namespace morvane::test
