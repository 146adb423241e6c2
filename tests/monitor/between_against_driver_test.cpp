// The monitor in the line between the driver and the simulator, each on a
// pseudo-terminal of its own, through a run of transfers with the
// simulator's faults: what the monitor decodes must agree with the driver's
// results and log, transfer for transfer, and with the telegrams the
// simulator received. MONITOR_TRANSFERS sets the run's length (default 60);
// the faults' time-outs make a transfer last about 75 ms with little CPU, so
// a long run says how far it got every 100 transfers.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <regex>
#include <thread>
#include <tuple>

#include "e2e/host.h"
#include "monitor/capture.h"
#include "monitor/line_watch.h"
#include "monitor/monitor.h"
#include "support/log_capture.h"
#include "support/pty_pair.h"
#include "support/sim_fixture.h"
#include "support/temp_directory.h"

namespace morvane::test {
namespace {

using monitor::Transfer;
using monitor::TransferResult;

// The driver's count of tries from its log lines of one transfer.
int DriverTries(const LogCapture& log, int32_t result) {
    static const std::regex kRetry("retry ([0-9]+)$");
    int most = 0;
    for (const LogLine& line : log.lines()) {
        std::smatch match;
        if (std::regex_search(line.text, match, kRetry)) most = std::max(most, std::stoi(match[1]));
    }
    return result == MORVANE_OK ? most + 1 : most;
}

int CountLines(const LogCapture& log, const char* part) {
    int count = 0;
    for (const LogLine& line : log.lines())
        count += line.text.find(part) != std::string::npos ? 1 : 0;
    return count;
}

class MonitorBetween : public ::testing::TestWithParam<bool> {};

TEST_P(MonitorBetween, AgreesWithDriverAndSimulatorOverFaultedRun) {
    const bool is_3964r = GetParam();
    TempCurrentDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    TempCurrentDirectory::Write("ZIDIV01.INT", is_3964r ? "PROTOCOL=3964R\n" : "PROTOCOL=3964\n");
    SimFixture sim(FastLink(is_3964r));
    ASSERT_TRUE(sim.ok()) << sim.error();
    PtyPair host_line;
    ASSERT_TRUE(host_line.ok());
    const int plc_fd = open(sim.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(plc_fd, 0);
    termios raw{};
    tcgetattr(plc_fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(plc_fd, TCSANOW, &raw);

    std::vector<Transfer> decoded;
    std::atomic<bool> watching{true};
    monitor::MonitorOptions options;
    options.times.ack_delay_us = 150000;  // the driver's and simulator's short time-outs
    options.times.char_delay_us = 150000;
    options.on_transfer = [&](const Transfer& t) { decoded.push_back(t); };
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    auto watcher = std::make_unique<monitor::Monitor>(options, out);
    // The reads whole, as a capture writes them, beside the characters one by one.
    char* capture_text = nullptr;
    size_t capture_size = 0;
    FILE* capture_out = open_memstream(&capture_text, &capture_size);
    monitor::CaptureWriter capture(capture_out);
    std::vector<monitor::LineChar> seen;
    std::string failure;
    std::atomic<bool> watch_ended{false};
    std::thread watch([&] {
        std::vector<monitor::WatchEnd> ends(2);
        ends[0] = {host_line.master(), monitor::Side::kHost, false, plc_fd, "host side"};
        ends[1] = {plc_fd, monitor::Side::kPlc, false, host_line.master(), "PLC side"};
        monitor::WatchCalls calls;
        calls.on_read = [&](uint64_t time_us, monitor::Side from, const std::vector<uint8_t>& chars,
                            const std::vector<bool>& damaged) {
            capture.Write(time_us, from, chars, damaged);
        };
        calls.on_char = [&](const monitor::LineChar& c) {
            seen.push_back(c);
            watcher->Feed(c);
        };
        calls.on_tick = [&](uint64_t now) { watcher->Tick(now); };
        calls.keep_going = [&] { return watching.load(); };
        failure = monitor::WatchLine(ends, monitor::MonotonicMicros(), calls);
        watch_ended = true;
    });
    // Every way out of the test, an assertion's included, stops the watch
    // and waits for it: its own waits are bounded, so this join is too.
    struct StopWatch {
        std::atomic<bool>& watching;
        std::thread& watch;
        ~StopWatch() {
            watching = false;
            if (watch.joinable()) watch.join();
        }
    } stop_watch{watching, watch};

    LogCapture log;
    Host host;
    ASSERT_EQ(host.Start(host_line.port_name(), 20), MORVANE_OK) << log.Dump();
    const GateAddress word = host.Parse("001000", MORVANE_GATE_WORD);  // DB1, a 16-bit word
    ASSERT_EQ(word.parsed, 1u);
    const char* env = std::getenv("MONITOR_TRANSFERS");
    const int transfers = env ? std::atoi(env) : 60;
    std::mt19937 dice(is_3964r ? 20 : 64);
    struct Expected {
        bool write;
        uint8_t start;
        int32_t result;
        int tries;
    };
    std::vector<Expected> expected;
    int plc_errors = 0, bad_lengths = 0, bcc_errors = 0;
    // A watch that failed forwards nothing more: the run stops there instead
    // of spending every later transfer on the driver's time-outs.
    for (int i = 0; i < transfers && !watch_ended; ++i) {
        plcsim::Faults faults;
        switch (dice() % 10) {
            case 0:
                faults.nak_telegrams = 1;
                break;
            case 1:
                faults.no_reply = 1;
                break;
            case 2:
                faults.corrupt_bcc = 1;
                break;
            case 3:
                faults.error_replies = 1 + dice() % 4, faults.error_byte = 0x34;
                break;
            case 4:
                faults.length_replies = 1, faults.length_delta = 2;
                break;
            case 5:
                faults.conflict = 1;
                break;
            case 6:
                faults.ignore_requests = 2;
                break;
            case 7:
                faults.corrupt_byte = 1, faults.byte_index = 5;
                break;
            default:
                break;
        }
        sim.SetFaults(faults);
        GateAddress gate = word;
        gate.packed_address = (1u << 16) | static_cast<uint32_t>(i % 7);
        const bool write = i % 3 == 2;
        uint8_t slot[4] = {0, 0, static_cast<uint8_t>(i), 0x10};  // the value 0x10ii
        log.clear();
        const int32_t result = host.Transfer(
            write ? MORVANE_CMD_SINGLE_WRITE : MORVANE_CMD_SINGLE_READ, gate, 1, slot);
        expected.push_back({write, static_cast<uint8_t>(i % 7), result, DriverTries(log, result)});
        plc_errors += CountLines(log, "recv err 0x");
        bad_lengths += CountLines(log, "ill. length");
        bcc_errors += CountLines(log, "BCC error!");
        if (transfers > 60 && (i + 1) % 100 == 0)
            std::fprintf(stderr, "%d of %d transfers\n", i + 1, transfers);
    }
    // The driver's last acknowledgement may still be on its way to the
    // watch: stop watching once both ends have been read empty for a while
    // (the terminal layer hands bytes on from a work queue), within 2 s.
    auto pending = [](int fd) {
        int count = 0;
        return ioctl(fd, FIONREAD, &count) == 0 ? count : 0;
    };
    for (int i = 0, quiet = 0; i < 400 && quiet < 4; ++i) {
        quiet = pending(host_line.master()) > 0 || pending(plc_fd) > 0 ? 0 : quiet + 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    watching = false;
    host.Stop();
    watch.join();
    EXPECT_EQ(failure, "");
    watcher->Flush();
    const monitor::Summary summary = watcher->summary();
    watcher.reset();
    std::fclose(out);
    std::string shown(text, size);
    std::free(text);
    close(plc_fd);
    std::fclose(capture_out);
    std::vector<monitor::LineChar> captured;
    std::string capture_error;
    EXPECT_TRUE(monitor::ReadCapture(std::string(capture_text, capture_size), nullptr, &captured,
                                     &capture_error))
        << capture_error;
    std::free(capture_text);
    auto fields = [](const std::vector<monitor::LineChar>& chars) {
        std::vector<std::tuple<uint64_t, monitor::Side, uint8_t, bool>> all;
        for (const monitor::LineChar& c : chars)
            all.emplace_back(c.time_us, c.from, c.byte, c.damaged);
        return all;
    };
    EXPECT_TRUE(fields(captured) == fields(seen)) << "the capture lost or changed characters";

    if (std::getenv("MONITOR_DEBUG")) {
        for (const Expected& e : expected)
            std::fprintf(stderr, "driver %s W%u result %d tries %d\n", e.write ? "SEND" : "FETCH",
                         e.start, e.result, e.tries);
        std::fprintf(stderr, "%s\n", shown.c_str());
    }
    ASSERT_EQ(decoded.size(), expected.size())
        << shown << failure << "\nfirst result " << expected[0].result;
    int sent = 0;
    for (size_t i = 0; i < decoded.size(); ++i) {
        SCOPED_TRACE("transfer " + std::to_string(i));
        const Transfer& t = decoded[i];
        sent += t.sent;
        EXPECT_EQ(t.kind,
                  expected[i].write ? monitor::TransferKind::kSend : monitor::TransferKind::kFetch);
        EXPECT_EQ(t.start_word, expected[i].start);
        const TransferResult want = expected[i].result == MORVANE_OK ? TransferResult::kOk
                                    : expected[i].result == 2        ? TransferResult::kLineFailed
                                                                     : t.result;
        EXPECT_EQ(t.result, want);
        if (expected[i].result == 1) {
            EXPECT_TRUE(t.result == TransferResult::kPlcError ||
                        t.result == TransferResult::kBadLength);
        }
        EXPECT_EQ(t.attempts, expected[i].tries);
    }
    EXPECT_EQ(static_cast<size_t>(sent), sim->received().size());
    EXPECT_EQ(summary.anomalies(monitor::AnomalyClass::kPlcError), uint64_t(plc_errors));
    EXPECT_EQ(summary.anomalies(monitor::AnomalyClass::kLengthMismatch), uint64_t(bad_lengths));
    EXPECT_EQ(summary.anomalies(monitor::AnomalyClass::kBccFailed), uint64_t(bcc_errors));
}

INSTANTIATE_TEST_SUITE_P(BothProcedures, MonitorBetween, ::testing::Values(false, true));

}  // namespace
}  // namespace morvane::test
