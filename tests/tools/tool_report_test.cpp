// The morvane program says what went wrong: exit status and message agree,
// the driver's reason and the PLC's error number in words, poll through
// failures with its statistics, machine-readable output, progress only on a
// terminal, quiet start-up. Real program, simulator on a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/pty_pair.h"
#include "support/run_command.h"
#include "support/sim_fixture.h"
#include "support/temp_directory.h"

namespace morvane::test {
namespace {

constexpr uint32_t kEvery = 1000000;  // a fault on every occasion

struct Ran {
    int code;
    std::string out;
    std::string err;
};

std::string Contents(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Ran RunTool(const std::string& arguments) {
    // ctest runs the cases of this file side by side: a file per process.
    const std::string err_path = ScratchFile("morvane_report_stderr");
    Ran ran{0, "", ""};
    ran.code =
        RunCommand(std::string(MORVANE_PROGRAM) + " " + arguments + " 2>" + err_path, &ran.out);
    ran.err = Contents(err_path);
    std::remove(err_path.c_str());
    return ran;
}

std::string PortOf(const SimFixture& sim) {
    return "--port " + sim.device() + " --protocol 3964 ";
}

TEST(ToolReport, ExitStatusAndMessageAgree) {
    plcsim::Faults plc_error;
    plc_error.error_replies = kEvery;
    plc_error.error_byte = 0x14;
    plcsim::Faults naks;
    naks.nak_telegrams = kEvery;
    const struct {
        const char* arguments;  // "PORT " is replaced by the simulator's port
        plcsim::Faults faults;
        int code;
        std::vector<std::string> messages;
    } cases[] = {
        {"read", {}, 2, {"usage: read ADDRESS"}},
        {"read 00100X", {}, 3, {"address 00100X refused: ZIDIV> Parse() Illegal character X"}},
        {"write 001002 abc", {}, 3, {"value refused: 001002: not a 16-bit word: abc"}},
        // What the driver would refuse is refused before the line opens.
        {"write 001010F nan", {}, 3, {"value refused: 001010F: not a number: nan"}},
        {"write 001010F inf", {}, 3, {"value refused: 001010F: floating-point value out of range"}},
        {"read 001000 2049", {}, 2, {"read 001000: 2049 words in one transfer; at most 2048"}},
        {"read 001000F 1025", {}, 2, {"read 001000F: 1025 floats in one transfer; at most 1024"}},
        {"read 001000S80 52", {}, 2, {"read 001000S80: 52 strings in one transfer; at most 51"}},
        {"read PORT 001002",
         plc_error,
         4,
         {"reading 001002: PLC refused: error 0x14: data block does not exist (4 attempts)",
          "the driver said: ZIDIV> DoRead() recv err 0x14 in reply fetch, retry 4"}},
        {"write PORT 001002 1 2",
         naks,
         5,
         {"writing 001002 (2 values): line failure: no acknowledgement of the telegram (4 "
          "attempts)",
          "hint: no telegram was acknowledged on any attempt: the protocol may be wrong"}},
        {"read --port nosuchtty 001002", {}, 6, {}},
        {"--driver /nonexistent/libmorvane.so read 001002", {}, 1, {"/nonexistent/libmorvane.so"}},
        {"write --sim-blocks /nonexistent/blocks 001002 1", {}, 1, {"/nonexistent/blocks"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        SimFixture sim;
        ASSERT_TRUE(sim.ok()) << sim.error();
        sim.SetFaults(c.faults);
        std::string arguments = c.arguments;
        const size_t port = arguments.find("PORT ");
        if (port != std::string::npos) arguments.replace(port, 5, PortOf(sim));
        const Ran ran = RunTool(arguments);
        EXPECT_EQ(ran.code, c.code) << ran.err;
        for (const std::string& message : c.messages)
            EXPECT_NE(ran.err.find(message), std::string::npos) << ran.err;
        EXPECT_EQ(ran.err.find("bytes requested"), std::string::npos) << ran.err;
        // Quiet by default: the driver's normal start-up lines stay out.
        EXPECT_EQ(ran.err.find("ColdStart() port"), std::string::npos) << ran.err;
    }
}

// Each kind of line failure in its own words, from the simulator's faults.
TEST(ToolReport, LineFailuresSayWhatWentWrong) {
    // (A conflict the driver resolves on its own; its lines are judged in
    // the log contract's test.)
    plcsim::Faults ignore, no_reply, bad_bcc, length;
    ignore.ignore_requests = kEvery;
    no_reply.no_reply = kEvery;
    bad_bcc.corrupt_bcc = kEvery;
    length.length_replies = kEvery;
    length.length_delta = 2;
    const struct {
        plcsim::Faults faults;
        bool is_3964r;
        const char* said;
        const char* status;
    } cases[] = {
        {ignore, false, "no answer to the connection request, or a NAK", "line-failure-nak"},
        {no_reply, false, "no reply after the acknowledgement", "line-failure-no-reply"},
        {bad_bcc, true, "the reply failed its block check, or arrived with damaged characters",
         "line-failure-block-check"},
        {length, false, "a reply of the wrong length", "line-failure-length"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        plcsim::LinkSettings link;
        link.is_3964r = c.is_3964r;
        SimFixture sim(link);
        ASSERT_TRUE(sim.ok()) << sim.error();
        sim.SetFaults(c.faults);
        const std::string port = "--port " + sim.device() + " --timeout 5 --protocol " +
                                 (c.is_3964r ? "3964R " : "3964 ");
        Ran ran = RunTool("read " + port + "001002");
        EXPECT_EQ(ran.code, 5) << ran.err;
        EXPECT_NE(ran.err.find(std::string("reading 001002: line failure: ") + c.said),
                  std::string::npos)
            << ran.err;
        EXPECT_NE(ran.err.find("morvane: hint: "), std::string::npos) << ran.err;
        ran = RunTool("read --json " + port + "001002");
        EXPECT_NE(ran.out.find(std::string("\"status\":\"") + c.status + "\""), std::string::npos)
            << ran.out;
    }
}

// The words as they came off the line: a float's are read as words, never
// made again from the decoded value (a fresh zero would show as 8000 0000).
TEST(ToolReport, RawWordsOfFloatsAreThePlcsOwn) {
    SimFixture sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    sim->SetWord(1, 0, 0x1234);
    sim->SetWord(1, 1, 0x5678);
    const std::string port = PortOf(sim);
    const struct {
        std::string arguments;
        std::string out;
    } cases[] = {
        {"read --hex " + port + "001000F 2", "DB1 W0000  1234 5678 0000 0000\n"},
        {"read " + port + "--hex 001002F", "DB1 W0002  0000 0000\n"},
        {"read --json " + port + "001000F", "\"raw\":null"},
        {"read --csv " + port + "001000F", ",float,,"},
        {"write " + port + "001002 7 then read --hex 001001 2", "DB1 W0001  5678 0007\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Ran ran = RunTool(c.arguments);
        EXPECT_EQ(ran.code, 0) << ran.err;
        EXPECT_NE(ran.out.find(c.out), std::string::npos) << ran.out;
        EXPECT_EQ(ran.out.find("1274"), std::string::npos) << ran.out;
    }
}

// A write's confirmation among JSON objects or CSV rows broke every parser
// of the stream: there it goes to standard error. A float goes to machines
// exactly (seven digits made 16777216 read 16777220).
TEST(ToolReport, MachineOutputHoldsOnlyItsObjectsOrRowsAndExactValues) {
    for (const auto& [form, first] : {std::pair{"--json", "{"}, std::pair{"--csv", "time,"}}) {
        SCOPED_TRACE(form);
        const Ran ran = RunTool(std::string(form) + " write 001002F 16777216 then read 001002F");
        EXPECT_NE(ran.out.find(form[2] == 'j' ? ":16777216," : ",16777216,"), std::string::npos)
            << ran.out;
        EXPECT_EQ(ran.code, 0) << ran.err;
        std::istringstream lines(ran.out);
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line.rfind(first, 0), 0u) << ran.out;
        EXPECT_NE(ran.err.find("001002F <- 1 value"), std::string::npos) << ran.err;
    }
}

// A poll on a fixed rate: the samples keep to their times however long
// each transfer takes (here a paced one of about 30 ms every 50 ms).
// The driver writes a first float near zero as 0 and says so only in the
// host's buffer: the tool says it aloud; -0 for 0, or a later value, is no news.
TEST(ToolReport, AValueTheDriverChangesOnTheWayIsNoted) {
    const Ran tiny = RunTool("--log-level 33 write 001010F 1e-25 then read 001010F");
    EXPECT_EQ(tiny.code, 0) << tiny.err;
    EXPECT_NE(tiny.out.find("001010F = 0\n"), std::string::npos) << tiny.out;
    EXPECT_EQ(tiny.err,
              "morvane: note: 001010F: 1e-25 went to the PLC as 0 (the driver writes a first "
              "float between -1e-19 and 1e-20 as 0)\n");
    const Ran same = RunTool("--log-level 33 write 001010F -0 1e-25");
    EXPECT_EQ(same.code, 0) << same.err;
    EXPECT_EQ(same.err, "");
}

TEST(ToolReport, PollKeepsItsRateWithoutDrift) {
    const Ran ran = RunTool("poll --pace --json 001002 --every 50 --times 6");
    ASSERT_EQ(ran.code, 0) << ran.err;
    std::vector<double> seconds;
    const std::regex stamp(R"("time":"[^"]*T\d\d:(\d\d):(\d\d\.\d{3})Z")");
    for (std::sregex_iterator at(ran.out.begin(), ran.out.end(), stamp), end; at != end; ++at)
        seconds.push_back(std::stod((*at)[1]) * 60 + std::stod((*at)[2]));
    ASSERT_EQ(seconds.size(), 6u) << ran.out;
    const double span_ms = (seconds.back() - seconds.front()) * 1000;
    if (span_ms < 0) GTEST_SKIP() << "the hour turned";
    EXPECT_GE(span_ms, 245);
    EXPECT_LE(span_ms, 290);  // with the transfers added up: about 400
}

// Mistakes found before the line, each on one line with what is valid.
TEST(ToolReport, MistakesAreOneLineWithWhatIsValid) {
    const std::string input = ScratchFile("morvane_not_a_terminal");
    std::FILE* file = std::fopen(input.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    const struct {
        std::string arguments;
        int code;
        const char* said;
    } cases[] = {
        {"browse < " + input, 2, "browse cannot show its dialog: its dialog reads the keyboard"},
        {"browse then browse", 2, "a second browse step: the dialog shows once per loaded driver"},
        {"read 001000 0", 2, "bad COUNT 0 for 001000: a number of values from 1 (see morvane -h)"},
        {"read --timeout 0 001000", 2, "for --timeout: 1 to 100000"},
        {"read 001000 --frame 9E1", 2, "bad value 9E1 for --frame: data bits 5 to 8"},
        {"parse --port x 001000", 2, "--port is not an option of parse"},
        {"read --json 001000 --csv", 2, "--csv conflicts with the output form"},
        {"--bogus read 001000", 2, "unknown option --bogus (see morvane -h)"},
        {"monitor --tap a --tap b --tap c", 2,
         "at most two tap ports, one a side (see morvane monitor -h)"},
        {"monitor --replay a --capture b", 2, "--capture records a line watched now"},
        // An empty value is no value, and a repeated one no second choice.
        {"info --driver ''", 2, "empty value for --driver: give a path"},
        {"read 001000 --sim-blocks ''", 2, "empty value for --sim-blocks: give a path"},
        {"monitor --tap x --capture ''", 2, "empty value for --capture (see"},
        {"monitor --tap ''", 2, "empty value for --tap (see"},
        {"monitor --between '' b", 2, "empty value for --between: give two ports"},
        {"monitor --tap-plc /dev/", 2, "bad value /dev/ for --tap-plc: a serial device"},
        {"monitor --replay a --replay b", 2, "a second --replay: one file"},
        {"read 001000 --log a --log b", 2, "a second --log: one file"},
        {"parse --json 001000", 2, "--json is not an option of parse"},
        {"monitor --replay a --json --csv", 2, "--json and --csv conflict: one output form"},
        {"monitor --between a b --between c d", 2, "a second --between: one line"},
        {"monitor --replay a --filter SEND --filter FETCH", 2,
         "filter SEND and FETCH: a transfer is a FETCH or a SEND, so none would show"},
        {"monitor --replay a --filter DB1,", 2, "an empty term in --filter DB1,"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Ran ran = RunTool(c.arguments);
        EXPECT_EQ(ran.code, c.code) << ran.err;
        EXPECT_NE(ran.err.find(c.said), std::string::npos) << ran.err;
        EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
    }
    std::remove(input.c_str());
}

TEST(ToolReport, PollGoesOnThroughFailuresAndCountsThem) {
    SimFixture sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    sim->SetWord(1, 2, 0x1234);
    plcsim::Faults first_fails;  // the first read's four attempts
    first_fails.error_replies = 4;
    first_fails.error_byte = 0x14;
    const std::string poll = "poll " + PortOf(sim);

    sim.SetFaults(first_fails);
    Ran ran = RunTool(poll + "001002 --times 3 --every 1");
    EXPECT_EQ(ran.code, 4) << ran.err;
    const std::regex text(
        R"(\d\d:\d\d:\d\d\.\d{3}  001002 failed after 4 attempts: PLC refused: error 0x14: data )"
        R"(block does not exist -- ZIDIV> DoRead\(\) recv err 0x14 in reply fetch, retry 4
(\d\d:\d\d:\d\d\.\d{3}  001002 = 4660 \(0x1234\)
){2}poll: 3 transfers, 2 good, 1 failed \(plc-error-0x14 1\), 3 retries, time min/mean/max [0-9.]+/[0-9.]+/[0-9.]+ ms)"
        // The failing transfer outlasts the period of 1 ms.
        R"((, \d+ samples left out \(transfers outlasted --every\))?
)");
    EXPECT_TRUE(std::regex_match(ran.out, text)) << ran.out;

    sim.SetFaults(first_fails);
    ran = RunTool(poll.substr(0, 5) + "--json " + poll.substr(5) + "001002 --times 2 --every 1");
    EXPECT_EQ(ran.code, 4) << ran.err;
    const std::regex json(
        R"(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z","sample":1,"address":"001002",)"
        R"("decoded":\{"db":1,"word":2,"kind":"word"\},"status":"plc-error-0x14","attempts":4,)"
        R"("reason":"ZIDIV> DoRead\(\) recv err 0x14 in reply fetch, retry 4"\}
\{"time":"[^"]+","sample":2,"address":"001002","decoded":\{"db":1,"word":2,"kind":"word"\},)"
        R"("value":4660,"raw":\["1234"\],"status":"ok","attempts":1\}
)");
    EXPECT_TRUE(std::regex_match(ran.out, json)) << ran.out;
    EXPECT_NE(ran.err.find("poll: 2 transfers, 1 good, 1 failed"), std::string::npos) << ran.err;
}

TEST(ToolReport, StringsWithAnyByteSurviveJsonAndCsv) {
    SimFixture sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    const uint16_t words[] = {0x2241, 0x2C5C, 0x0AE9, 0x0000, 0x0000, 0xFFFD};  // "A,\ LF é
    for (uint16_t i = 0; i < 6; ++i)
        sim->SetWord(1, i, words[i]);
    const std::string port = PortOf(sim);
    const struct {
        std::string arguments;
        std::string out;
    } cases[] = {
        // A string's raw words are not kept past its first NUL: none shown.
        {"read --json " + port + "001000S08",
         R"("value":"\"A,\\\u000A\u00E9","raw":null,"status":"ok")"},
        {"read --csv " + port + "001000S08", ",1,0,string,,\"\"\"A,\\\n\xC3\xA9\",,ok,1,\n"},
        {"read " + port + "001000S08", "001000S08 = \"\\\"A,\\\\\\x0A\xC3\xA9\"\n"},
        {"read --csv --signed " + port + "001005", ",1,5,word,,-3,FFFD,ok,1,\n"},
        {"read --signed " + port + "001005", "001005 = -3 (0xFFFD)\n"},
        {"read --hex " + port + "001000 10",
         "DB1 W0000  2241 2C5C 0AE9 0000 0000 FFFD 0000 0000\nDB1 W0008  0000 0000\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Ran ran = RunTool(c.arguments);
        EXPECT_EQ(ran.code, 0) << ran.err;
        EXPECT_NE(ran.out.find(c.out), std::string::npos) << ran.out;
    }
}

TEST(ToolReport, LogLinesAreQuietUnlessAskedThenStampedAndNamed) {
    Ran ran = RunTool("read 001002");
    EXPECT_EQ(ran.err, "");
    ran = RunTool("-v read 001002");
    EXPECT_TRUE(std::regex_search(
        ran.err, std::regex(R"(\n\d\d:\d\d:\d\d\.\d{3} operator ZIDIV> ColdStart\(\) port )")))
        << ran.err;
    EXPECT_TRUE(std::regex_search(
        ran.err, std::regex(R"(\n\d\d:\d\d:\d\d\.\d{3} trace    TEVYY> version compiled)")))
        << ran.err;
    ran = RunTool("--version");
    EXPECT_EQ(ran.code, 0);
    EXPECT_TRUE(std::regex_search(
        ran.out, std::regex(R"(^morvane \d+\.\d+\.\d+ \(\w+ build, \w+ [0-9.]+\)\n(.*\n)*)"
                            R"(driver's description: +\S.*\n(.*\n)*driver's version line: +)"
                            R"(TEVYY> version compiled)")))
        << ran.out;
}

// Runs the program with standard error on a terminal; what the terminal got.
// With interrupts, that many Ctrl-Cs once its progress line shows.
std::string StderrOnTerminal(const std::string& arguments, int* code, int interrupts = 0) {
    PtyPair terminal;
    if (!terminal.ok()) return "no terminal";
    const std::string command =
        "exec " + std::string(MORVANE_PROGRAM) + " " + arguments + " >/dev/null";
    const pid_t child = fork();
    if (child == 0) {
        const int slave = open(terminal.name().c_str(), O_RDWR | O_NOCTTY);
        dup2(slave, STDERR_FILENO);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string seen;
    int status = 0;
    const int64_t deadline = PtyPair::NowMs() + 20000;
    while (waitpid(child, &status, WNOHANG) == 0 && PtyPair::NowMs() < deadline) {
        const std::vector<uint8_t> bytes = terminal.Receive(4096, 50);
        seen.append(bytes.begin(), bytes.end());
        if (interrupts > 0 && seen.find("reading") != std::string::npos) {
            kill(child, SIGINT);
            --interrupts;
        }
    }
    const std::vector<uint8_t> rest = terminal.Receive(4096, 50);
    seen.append(rest.begin(), rest.end());
    *code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return seen;
}

TEST(ToolReport, ProgressOfALongTransferOnlyOnATerminal) {
    // 512 words paced as 9600 baud: about 1.4 s on the line.
    const std::string blocks = ScratchFile("morvane_progress_blocks");
    std::ofstream(blocks) << "DB1 512:\n";
    const std::string arguments = "read --pace --sim-blocks " + blocks + " 001000 512";
    int code = -1;
    const std::string terminal = StderrOnTerminal(arguments, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(std::regex_search(
        terminal,
        std::regex(R"(\rreading 001000 \(512 values\): [0-9.]+ s of about 1\.\d s \(\d+%\))")))
        << terminal;
    EXPECT_EQ(terminal.substr(terminal.size() < 4 ? 0 : terminal.size() - 4), "\r\033[K")
        << "the progress line is wiped at the end";
    const Ran piped = RunTool(arguments);
    EXPECT_EQ(piped.code, 0);
    EXPECT_EQ(piped.err, "");
    std::remove(blocks.c_str());
}

// The first Ctrl-C during a long transfer says the tool stops after it, on
// a line of its own; a second one ends the program at once and leaves the
// terminal's line clean, the progress line wiped.
TEST(ToolReport, ASecondCtrlCEndsAtOnceOnACleanLine) {
    int code = -1;
    const std::string terminal = StderrOnTerminal("read --pace --baud 2400 001000 200", &code, 2);
    EXPECT_EQ(code, 128 + SIGINT);
    EXPECT_NE(terminal.find("\r\033[Kmorvane: stopping after this transfer"), std::string::npos)
        << terminal;
    EXPECT_EQ(terminal.substr(terminal.size() < 4 ? 0 : terminal.size() - 4), "\r\033[K")
        << terminal;
}

}  // namespace
}  // namespace morvane::test
