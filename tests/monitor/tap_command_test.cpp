// `morvane monitor --tap` as a program, listening on pseudo-terminals as on
// the two receive lines of a Y-cable: the test plays a 3964R FETCH into the
// far ends, host's bytes on one pair and the PLC's on the other, a step at a
// time as the line would carry it, then stops the monitor with Ctrl-C.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "support/hex_bytes.h"
#include "support/pty_pair.h"
#include "support/run_command.h"
#include "support/temp_directory.h"

namespace morvane::test {
namespace {

// The bytes a process has read so far, from all it reads.
uint64_t BytesRead(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string name;
    uint64_t count = 0;
    while (io >> name >> count)
        if (name == "rchar:") return count;
    return 0;
}

// Waits (bounded) until the monitor has read a step that was sent: its
// count of bytes read has grown by as many and nothing waits on the tap. A
// step is taken in before the next is sent, as on a line where each side
// waits for the other's answer.
bool WaitTakenIn(pid_t pid, uint64_t before, size_t count, const PtyPair& tap) {
    const int64_t deadline = PtyPair::NowMs() + 2000;
    for (;;) {
        while (BytesRead(pid) < before + count || tap.Queued() != 0) {
            if (PtyPair::NowMs() >= deadline) return false;
            const timespec pause{0, 200000};
            nanosleep(&pause, nullptr);
        }
        // Bytes still on their way into the slave's queue show as none
        // queued, and the count of bytes read also grows with the program's
        // other reads: taken in only once nothing arrives for a moment.
        const timespec settle{0, 3000000};
        nanosleep(&settle, nullptr);
        if (tap.Queued() == 0) return true;
    }
}

// Appends what the pipe holds until its text ends with until (bounded), or
// until it closes when until is empty.
bool ReadUntil(int fd, const std::string& until, std::string* text) {
    char chunk[4096];
    for (pollfd ready{fd, POLLIN, 0}; poll(&ready, 1, 5000) > 0;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) return until.empty();
        text->append(chunk, static_cast<size_t>(n));
        if (!until.empty() && text->size() >= until.size() &&
            text->compare(text->size() - until.size(), until.size(), until) == 0)
            return true;
    }
    return false;
}

struct Ran {
    int code = -1;  // exit status; minus the signal when one ended it
    std::string out;
    int taps_writable = -1;  // the tap descriptors open for writing, once it listened
};

// How many of the process's descriptors on the taps are open for writing.
int TapsWritable(pid_t pid, const std::vector<const PtyPair*>& taps) {
    const std::string proc = "/proc/" + std::to_string(pid);
    int writable = 0;
    for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd")) {
        std::error_code failed;
        const auto target = std::filesystem::read_symlink(entry.path(), failed);
        bool on_tap = false;
        for (const PtyPair* tap : taps)
            on_tap = on_tap || (!failed && target == tap->name());
        if (!on_tap) continue;
        std::ifstream info(proc + "/fdinfo/" + entry.path().filename().string());
        std::string key;
        int flags = 0;
        while (info >> key && key != "flags:")
            info.ignore(256, '\n');
        info >> std::oct >> flags;
        writable += (flags & O_ACCMODE) != O_RDONLY;
    }
    return writable;
}

// Starts `morvane monitor -v` on the taps, waits until it says it listens,
// plays the steps (a step for an untapped side goes nowhere), and
// interrupts it once it has read them all. With plc_alone the one tap is
// the PLC's side.
Ran MonitorTaps(const std::vector<const PtyPair*>& taps,
                const std::vector<std::pair<size_t, const char*>>& steps, bool plc_alone = false,
                int stop = SIGINT) {
    std::vector<std::string> words = {MORVANE_PROGRAM, "monitor", "-v"};
    for (const PtyPair* tap : taps)
        words.insert(words.end(), {plc_alone ? "--tap-plc" : "--tap", tap->name()});
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t child = fork();
    if (child < 0) return {};
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    Ran ran;
    bool played = ReadUntil(out[0], "; Ctrl-C ends\n", &ran.out);
    if (played) ran.taps_writable = TapsWritable(child, taps);
    for (const auto& [side, bytes] : steps) {
        const size_t tap = plc_alone ? (side == 1 ? 0 : taps.size()) : side;
        if (!played || tap >= taps.size()) continue;
        const Wire wire = Hex(bytes);
        const uint64_t before = BytesRead(child);
        played = taps[tap]->Send(wire) && WaitTakenIn(child, before, wire.size(), *taps[tap]);
    }
    kill(child, played ? stop : SIGKILL);
    ReadUntil(out[0], "", &ran.out);
    close(out[0]);
    kill(child, SIGKILL);  // nothing when it has ended
    int status = 0;
    waitpid(child, &status, 0);
    ran.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    if (!played) ran.out += "\n(the monitor did not take the line in)";
    return ran;
}

// The events between the line that says it listens and the summary,
// without their times and durations.
std::vector<std::string> Events(const std::string& out) {
    static const std::regex kTime(R"(^[0-9:.]+ +)"), kTook(R"(  [0-9.]+ ms$)");
    std::vector<std::string> events;
    std::istringstream lines(out);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line) && line.rfind("summary:", 0) != 0)
        events.push_back(std::regex_replace(std::regex_replace(line, kTime, ""), kTook, ""));
    return events;
}

constexpr size_t kHost = 0, kPlc = 1;
const std::vector<std::pair<size_t, const char*>> kFetch = {
    {kHost, "02"},
    {kPlc, "10"},
    {kHost, "00 00 45 44 01 02 00 01 FF FF 10 03 10"},
    {kPlc, "10"},
    {kPlc, "02"},
    {kHost, "10"},
    {kPlc, "00 00 00 00 12 34 10 03 35"},
    {kHost, "10"},
};

TEST(MonitorTap, TwoTapsDecodeTheTransferEachByteFromItsSide) {
    PtyPair host, plc;
    ASSERT_TRUE(host.ok() && plc.ok());
    const Ran ran = MonitorTaps({&host, &plc}, kFetch);
    EXPECT_EQ(ran.code, 130) << ran.out;  // ended by Ctrl-C, as the other commands
    EXPECT_EQ(ran.out.rfind("morvane monitor: listening on " + host.name() + " (host's side) and " +
                                plc.name() + " (PLC's side); Ctrl-C ends\n",
                            0),
              0u)
        << ran.out;
    const std::vector<std::string> expected = {
        "host > PLC  STX",
        "PLC > host  DLE (accept)",
        "host > PLC  block 00 00 45 44 01 02 00 01 FF FF BCC ok",
        "PLC > host  DLE (ack)",
        "PLC > host  STX",
        "host > PLC  DLE (accept)",
        "PLC > host  block 00 00 00 00 12 34 BCC ok",
        "FETCH DB1 W2 x1 -> 0x1234  ok",
        "host > PLC  DLE (ack)",
    };
    EXPECT_EQ(Events(ran.out), expected) << ran.out;
    EXPECT_NE(ran.out.find("summary: 1 transfers, 0 retries"), std::string::npos) << ran.out;
    EXPECT_NE(ran.out.find("FETCH  ok 1 "), std::string::npos) << ran.out;
    EXPECT_NE(ran.out.find("(16 and 12 characters)"), std::string::npos) << ran.out;
    // A tap listens only: opened for reading, nothing goes back towards either sender.
    EXPECT_EQ(ran.taps_writable, 0);
    EXPECT_EQ(ToHex(host.Receive(1, 20)), "");
    EXPECT_EQ(ToHex(plc.Receive(1, 20)), "");
}

// SIGTERM (a service manager), SIGHUP (its terminal closed) and SIGPIPE (a
// reader such as head(1) gone) end the watch as Ctrl-C does, the summary
// still written, with the status a shell reports for the signal.
TEST(MonitorTap, StopSignalsEndTheWatchWithTheirOwnStatus) {
    for (const auto& [stop, code] :
         {std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}, std::pair{SIGPIPE, 141}}) {
        PtyPair host, plc;
        ASSERT_TRUE(host.ok() && plc.ok());
        const Ran ran = MonitorTaps({&host, &plc}, kFetch, false, stop);
        EXPECT_EQ(ran.code, code) << ran.out;
        EXPECT_NE(ran.out.find("summary: 1 transfers, 0 retries"), std::string::npos) << ran.out;
    }
}

// What a side heard alone shows: the events, the summary's head and that
// no anomaly was made up for want of the other side's answers.
void ExpectOneSide(const Ran& ran, const PtyPair& tap, const char* side,
                   const std::vector<std::string>& events, const std::string& summary,
                   const std::string& chars) {
    EXPECT_EQ(ran.code, 130) << ran.out;
    EXPECT_EQ(ran.out.rfind(
                  "morvane monitor: listening on " + tap.name() + " (" + side + "'s side) only", 0),
              0u)
        << ran.out;
    EXPECT_EQ(Events(ran.out), events) << ran.out;
    EXPECT_NE(ran.out.find(summary), std::string::npos) << ran.out;
    EXPECT_NE(ran.out.find("  anomalies: bcc-failed 0 nak 0 no-ack 0 char-gap 0 conflict 0 retry 0 "
                           "damaged 0 stray 0 length-mismatch 0 plc-error 0\n"),
              std::string::npos)
        << ran.out;
    EXPECT_NE(ran.out.find(chars), std::string::npos) << ran.out;
    EXPECT_EQ(ToHex(tap.Receive(1, 20)), "");
}

// One tap hears the host alone: its request is read without the PLC's
// answers (the STX in its start word stays data), and nothing is made up
// for the PLC. Its block check is DLE, which a 3964 host could send next
// as well: it does not settle the procedure.
TEST(MonitorTap, OneTapShowsOnlyTheHostsSide) {
    PtyPair host;
    ASSERT_TRUE(host.ok());
    ExpectOneSide(MonitorTaps({&host}, kFetch), host, "host",
                  {
                      "host > PLC  STX",
                      "host > PLC  block 00 00 45 44 01 02 00 01 FF FF BCC ok",
                      "FETCH DB1 W2 x1  request only, no reply heard",
                      "host > PLC  DLE (accept or ack)",
                      "host > PLC  DLE (accept or ack)",
                  },
                  "summary: the host's side only heard, procedure unknown\n"
                  "  1 requests:  FETCH 1  SEND 0  (no replies heard)\n",
                  "(16 and 0 characters)");
}

TEST(MonitorTap, OneTapOnThePlcsSideShowsItsReply) {
    PtyPair plc;
    ASSERT_TRUE(plc.ok());
    ExpectOneSide(MonitorTaps({&plc}, kFetch, true), plc, "PLC",
                  {
                      "PLC > host  DLE (accept or ack)",
                      "PLC > host  DLE (accept or ack)",
                      "PLC > host  STX",
                      "PLC > host  block 00 00 00 00 12 34 BCC ok",
                      "reply -> 0x1234  ok",
                  },
                  "summary: the PLC's side only heard, procedure 3964R\n"
                  "  1 replies:  ok 1  plc-error 0  bad-length 0  line-failed 0  (no requests "
                  "heard)\n",
                  "(0 and 12 characters)");
}

// A port that cannot be had is named on one line, with why: missing, held
// by another program (the driver, another monitor), or given twice: a
// second reader would split the port's bytes with the first.
TEST(MonitorTap, APortItCannotHaveIsNamedOnOneLine) {
    PtyPair host, held;
    ASSERT_TRUE(host.ok() && held.ok());
    const int holder = open(held.name().c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    const std::string missing = ::testing::TempDir() + "morvane-no-such-port";
    const struct {
        std::string port, said;
    } cases[] = {
        {missing, "at 9600 8E1: no such device (No such file or directory)"},
        {held.name(), "at 9600 8E1: in use by process " + std::to_string(getpid())},
    };
    std::string out;
    EXPECT_EQ(RunCommand("timeout 5 " + std::string(MORVANE_PROGRAM) + " monitor --between " +
                             host.name() + " " + host.port_name() + " 2>&1",
                         &out),
              2);
    EXPECT_EQ(out, "morvane monitor: " + host.port_name() + " is the same port as " + host.name() +
                       ": give two ports\n");
    // A capture into a watched port would go onto the line. The port is
    // named by a link whose name is too long to be kept inside its string.
    TempDirectory links;
    const std::string link = (links.path() / "the-host-side-of-the-line-under-watch").string();
    ASSERT_EQ(symlink(host.name().c_str(), link.c_str()), 0);
    std::string captured;
    EXPECT_EQ(RunCommand("timeout 5 " + std::string(MORVANE_PROGRAM) + " monitor --tap " + link +
                             " --capture " + host.name() + " 2>&1",
                         &captured),
              2);
    EXPECT_EQ(captured, "morvane monitor: --capture " + host.name() + " is the port " + link +
                            ": the capture would go onto the line\n");
    EXPECT_EQ(ToHex(host.Receive(1, 20)), "");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        std::string out;
        // Bounded: a monitor that took the port would listen until stopped.
        EXPECT_EQ(RunCommand("timeout 5 " + std::string(MORVANE_PROGRAM) + " monitor --tap " +
                                 host.name() + " --tap " + c.port + " 2>&1",
                             &out),
                  6);  // the port cannot be opened
        EXPECT_EQ(out.rfind("morvane monitor: cannot open port " + c.port + " " + c.said, 0), 0u)
            << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    }
    close(holder);
}

// A tap whose port goes away (an adapter pulled) and comes back behind the
// same link, perhaps at another node: the monitor says so, waits, and
// listens on instead of ending.
TEST(MonitorTap, APortThatComesBackIsListenedToAgain) {
    const std::string link = ScratchFile("morvane-monitor-tap");
    const std::string capture = ScratchFile("morvane-monitor-tap.mcap");
    auto first = std::make_unique<PtyPair>();
    ASSERT_TRUE(first->ok());
    std::filesystem::remove(link);
    std::filesystem::create_symlink(first->name(), link);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        execl(MORVANE_PROGRAM, MORVANE_PROGRAM, "monitor", "-v", "--tap", link.c_str(), "--capture",
              capture.c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string said;
    bool listened = ReadUntil(out[0], "; Ctrl-C ends\n", &said);
    first.reset();
    listened = listened && ReadUntil(out[0], "until the ports open again\n", &said);
    // A NAK that waited in the port while it was gone belongs to no exchange.
    PtyPair second;
    ASSERT_TRUE(second.Send(Hex("15")));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.name(), link);
    listened = listened && ReadUntil(out[0], "watching on\n", &said);
    const uint64_t before = BytesRead(child);
    listened = listened && second.Send(Hex("02")) && WaitTakenIn(child, before, 1, second);
    kill(child, listened ? SIGINT : SIGKILL);
    ReadUntil(out[0], "", &said);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(listened) << said;
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 130) << said;
    EXPECT_NE(said.find("host > PLC  STX", said.find("watching on")), std::string::npos) << said;
    EXPECT_EQ(said.find("NAK"), std::string::npos) << said;
    // The replay ends what was begun where the live view ended it.
    std::ifstream written(capture);
    EXPECT_NE(std::string(std::istreambuf_iterator<char>(written), {}).find("\n#cut\n"),
              std::string::npos);
    std::filesystem::remove(link);
    std::filesystem::remove(capture);
}

// A device under any path is watched: the driver's limit on a port name's
// length is not the monitor's. The node (the null device's numbers, made in
// scratch) is no serial line, so it is refused for that.
TEST(MonitorTap, ADeviceAtALongPathIsNoTooLongPortName) {
    TempDirectory scratch;
    const std::string node = (scratch.path() / "a-device-node-at-a-long-path").string();
    if (mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0)
        GTEST_SKIP() << "making a device node needs root";
    std::string out;
    EXPECT_EQ(
        RunCommand("timeout 5 " + std::string(MORVANE_PROGRAM) + " monitor --tap " + node + " 2>&1",
                   &out),
        6)
        << out;
    EXPECT_EQ(out.find("too long"), std::string::npos) << out;
}

// A replay decodes as it reads: what is no capture (a directory, a line no
// capture writes, as a device's endless bytes make) ends it with the reason
// on one line, after what came before; a last line without its newline
// still counts.
TEST(MonitorReplay, WhatIsNoCaptureEndsItWithTheReason) {
    TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    const std::string good = "#start-utc-us 0\n5 H 02\n9 P 10";
    const struct {
        const char* name;
        std::string text;  // empty: a directory
        int code;
        bool decoded;      // the good lines' handshake shown
        std::string said;  // on a line of its own
    } cases[] = {
        {"a directory", "", 1, false, "morvane monitor: a directory is a directory, not a capture"},
        {"an endless line", std::string(70000, '0'), 1, false,
         "morvane monitor: an endless line: line 1: longer than 65536 characters: not a capture"},
        {"a bad line after good ones", good + "\n12 X 02\n", 1, true,
         "morvane monitor: a bad line after good ones: line 4: side must be H or P"},
        {"no newline at the end", good, 0, true, "summary: 0 transfers, 0 retries"},
        {"a binary file", std::string("\x1B[31m\0\xE9 H 02\n", 13), 1, false,
         "morvane monitor: a binary file: line 1: bad time \\x1B[31m\\x00\\xE9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path path = scratch.path() / c.name;
        if (c.text.empty())
            std::filesystem::create_directory(path);
        else
            std::ofstream(path) << c.text;
        std::string out;
        EXPECT_EQ(RunCommand("cd '" + scratch.path().string() + "' && timeout 10 " +
                                 std::string(MORVANE_PROGRAM) + " monitor -v --replay '" + c.name +
                                 "' 2>&1",
                             &out),
                  c.code);
        EXPECT_NE(("\n" + out).find("\n" + c.said + "\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("host > PLC  STX") != std::string::npos &&
                      out.find("PLC > host  DLE (accept)") != std::string::npos,
                  c.decoded)
            << out;
    }
    std::string out;
    EXPECT_EQ(RunCommand("cd '" + scratch.path().string() + "' && timeout 10 " +
                             std::string(MORVANE_PROGRAM) + " monitor --replay missing.mcap 2>&1",
                         &out),
              1);
    EXPECT_EQ(out, "morvane monitor: cannot read missing.mcap: No such file or directory\n");
}

// A capture still being written into a pipe: a stop signal ends the replay
// with what was decoded so far and the summary, as it ends a live watch.
TEST(MonitorReplay, ACaptureStillBeingWrittenEndsWholeOnAStopSignal) {
    TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    const std::string fifo = scratch.File("capture");
    std::string out;
    // The shell holds the FIFO open for writing, so the capture never ends.
    EXPECT_EQ(RunCommand("mkfifo " + fifo + " && exec 3<>" + fifo +
                             " && printf '#start-utc-us 0\\n5 H 02\\n9 P 10\\n' >&3 && " +
                             "timeout --preserve-status -s INT 1 " + MORVANE_PROGRAM +
                             " monitor -v --replay " + fifo + " 2>&1",
                         &out),
              130);
    EXPECT_NE(out.find("PLC > host  DLE (accept)"), std::string::npos) << out;
    EXPECT_NE(out.find("summary: 0 transfers, 0 retries"), std::string::npos) << out;
}

// A port failed at "#cut": the block begun before it ended there, not
// joined to what came after the port was back.
TEST(MonitorReplay, ACutEndsWhatWasBegunBeforeIt) {
    TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    std::ofstream(scratch.path() / "cut.mcap")
        << "1000 H 02\n2000 P 10\n3000 H 00 00 45 44\n#cut\n9000000 H 02\n9001000 P 10\n"
           "9002000 H 00 00 45 44 01 02 00 01 FF FF 10 03\n9003000 P 10\n9004000 P 02\n"
           "9005000 H 10\n9006000 P 00 00 00 00 12 34 10 03\n9007000 H 10\n";
    std::string out;
    EXPECT_EQ(RunCommand(std::string(MORVANE_PROGRAM) + " monitor --replay " +
                             (scratch.path() / "cut.mcap").string() + " 2>&1",
                         &out),
              0);
    EXPECT_NE(out.find("FETCH DB1 W2 x1 -> 0x1234  ok"), std::string::npos) << out;
    EXPECT_NE(out.find(" char-gap 0 "), std::string::npos) << out;
}

// A capture is measured at the rate it was taken at, as its header says,
// unless the command line says otherwise.
TEST(MonitorReplay, ACaptureIsMeasuredAtItsOwnRate) {
    TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    const std::string chars = "#start-utc-us 0\n0 H 02\n2000 P 10\n100000 H 02\n";
    std::ofstream(scratch.path() / "fast") << "#line 19200 8E1\n" << chars;
    std::ofstream(scratch.path() / "slow") << "#line 9600 8E1\n" << chars;
    const auto busy = [&scratch](const std::string& arguments) {
        std::string out;
        RunCommand("cd '" + scratch.path().string() + "' && " + std::string(MORVANE_PROGRAM) +
                       " monitor --replay " + arguments + " 2>&1",
                   &out);
        const size_t at = out.find("busy:");
        return at == std::string::npos ? out : out.substr(at);
    };
    EXPECT_EQ(busy("fast"), busy("slow --baud 19200"));
    EXPECT_NE(busy("fast"), busy("slow"));
    // Each option overrides its own part only.
    EXPECT_EQ(busy("fast"), busy("fast --frame 8E1"));
    EXPECT_EQ(busy("fast --frame 8N1"), busy("slow --baud 19200 --frame 8N1"));
    EXPECT_NE(busy("fast --frame 8N1"), busy("fast"));
}

}  // namespace
}  // namespace morvane::test
