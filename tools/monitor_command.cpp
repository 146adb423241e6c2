// morvane monitor: watch a line between a host and a PLC, decoded to RK512
// transfers, from two ports in the line, one or two listening ports, or a
// capture written earlier.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>

#include "commands.h"
#include "host_platform.h"
#include "monitor/capture.h"
#include "monitor/detached_output.h"
#include "monitor/line_watch.h"
#include "monitor/monitor.h"
#include "serial/line_settings_posix.h"
#include "sim/printable.h"

namespace morvane::tool {
namespace {

using monitor::Side;

const char kMonitorUsage[] =
    "usage: morvane monitor (--between HOST_PORT PLC_PORT | --tap PORT [--tap PORT] |\n"
    "                        --tap-plc PORT | --replay FILE) [OPTIONS]\n"
    "  --between A B      in the line: every byte read on A goes on to B and back\n"
    "                     (A faces the host, B the PLC)\n"
    "  --tap PORT         listen only; the first tap hears the host, a second the PLC\n"
    "  --tap-plc PORT     listen only, to the PLC's side (alone, or with one --tap)\n"
    "                     (one tap alone: that side's requests, or replies, only)\n"
    "  --replay FILE      decode a capture written earlier\n"
    "  --capture FILE     write what crosses the line as a capture (.mcap);\n"
    "                     a FILE that exists is written over\n"
    "  --baud N, --frame F   the line's settings, for both ports (default 9600 8E1;\n"
    "                     a replay: the capture's own, each unless given)\n"
    "  --char-delay MS    longest gap inside a block (default 220)\n"
    "  --ack-delay MS     longest wait for an answer (default 550, 2000 in 3964R)\n"
    "  --json             one JSON object per event;  --csv  one row per transfer\n"
    "  --filter TERM      only transfers with TERM: DB1, FETCH, SEND, ok, failed\n"
    "                     (terms joined by commas, or repeated --filter: all must match)\n"
    "  -v                 every handshake and block too\n"
    "A summary follows at the end and on SIGUSR1.\n";

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_summary = 0;

struct MonitorRequest {
    std::vector<std::string> between, taps;
    std::string plc_tap;
    std::string replay, capture;
    LineChoice line;
    monitor::MonitorOptions options;
};

constexpr char kWho[] = "morvane monitor";

bool Parse(const Arguments& args, MonitorRequest* r, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // An empty value is none: a port, file, rate or filter term left out.
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) return (*error = a + " needs a value"), false;
            if (args[i + 1].empty()) return (*error = "empty value for " + a), false;
            *out = args[++i];
            return true;
        };
        std::string v;
        long number = 0;
        if (a == "monitor") continue;
        if (a == "-h" || a == "--help") return (*error = ""), false;
        if (a == "--between") {
            if (!r->between.empty()) return (*error = "a second --between: one line"), false;
            if (i + 2 >= args.size()) return (*error = "--between needs two ports"), false;
            if (args[i + 1].empty() || args[i + 2].empty())
                return (*error = "empty value for --between: give two ports"), false;
            r->between = {args[i + 1], args[i + 2]};
            i += 2;
        } else if (a == "--tap") {
            if (!value(&v)) return false;
            r->taps.push_back(v);
        } else if (a == "--tap-plc") {
            if (!r->plc_tap.empty()) return (*error = "one --tap-plc port"), false;
            if (!value(&r->plc_tap)) return false;
        } else if (a == "--replay" || a == "--capture") {
            std::string& file = a == "--replay" ? r->replay : r->capture;
            if (!file.empty()) return (*error = "a second " + a + ": one file"), false;
            if (!value(&file)) return false;
        } else if (a == "--baud" || a == "--frame") {
            if (!value(&v) || !TakeLineOption(a, v, &r->line, error) || !error->empty())
                return false;
        } else if (a == "--char-delay" || a == "--ack-delay") {
            if (!value(&v) || !TakeNumber(v, 1, 600000, &number))
                return (*error = "bad value for " + a + ": milliseconds from 1"), false;
            (a == "--char-delay" ? r->options.times.char_delay_us : r->options.times.ack_delay_us) =
                uint64_t(number) * 1000;
        } else if (a == "--json" || a == "--csv") {
            const auto form =
                a == "--json" ? monitor::OutputForm::kJson : monitor::OutputForm::kCsv;
            if (r->options.form != monitor::OutputForm::kText && r->options.form != form)
                return (*error = "--json and --csv conflict: one output form"), false;
            r->options.form = form;
        } else if (a == "--filter") {
            if (!value(&v)) return false;
            if (v.front() == ',' || v.back() == ',' || v.find(",,") != std::string::npos)
                return (*error = "an empty term in --filter " + v +
                                 ": terms are DB1, FETCH, SEND, ok, failed, joined by commas"),
                       false;
            // Terms of every --filter add up, as terms joined by commas do.
            std::stringstream terms(v);
            std::string contradiction;
            for (std::string term; std::getline(terms, term, ',');)
                if (!r->options.filter.Add(term, &contradiction))
                    return (*error = contradiction.empty()
                                         ? "bad filter " + term + ": DB1, FETCH, SEND, ok, failed"
                                         : "filter " + contradiction + ", so none would show"),
                           false;
        } else if (a == "-v" || a == "--verbose") {
            r->options.verbose = true;
        } else {
            return (*error = "unknown argument " + a), false;
        }
    }
    const bool tapped = !r->taps.empty() || !r->plc_tap.empty();
    const int inputs = !r->between.empty() + tapped + !r->replay.empty();
    if (inputs != 1) return (*error = "give one of --between, --tap, --tap-plc, --replay"), false;
    if (!r->replay.empty() && !r->capture.empty())
        return (*error = "--capture records a line watched now: with --between or --tap"), false;
    if (r->taps.size() + !r->plc_tap.empty() > 2)
        return (*error = "at most two tap ports, one a side"), false;
    if (tapped && r->taps.size() + !r->plc_tap.empty() == 1)
        r->options.heard = r->taps.empty() ? monitor::Heard::kPlc : monitor::Heard::kHost;
    return true;
}

// The summary goes beside CSV rows, not among them.
FILE* SummaryOut(const monitor::MonitorOptions& options, FILE* out) {
    return options.form == monitor::OutputForm::kCsv ? stderr : out;
}

constexpr std::chrono::seconds kFinishWait{2};

// The rate and frame a capture was taken at ("19200 8E1"), which its busy
// shares are measured by, each unless the command line gives its own; left
// as they are when the header has none.
void TakeRecordedLine(const std::string& text, LineChoice given, monitor::MonitorOptions* options) {
    const size_t blank = text.find(' ');
    long baud = 0;
    LineChoice frame;
    std::string refused;
    if (blank == std::string::npos || !TakeNumber(text.substr(0, blank), 1, 4000000, &baud) ||
        !TakeLineOption("--frame", text.substr(blank + 1), &frame, &refused) || !refused.empty())
        return;
    options->baud = given.baud != 0 ? given.baud : static_cast<uint32_t>(baud);
    given.baud = 0;
    options->bits_per_char = BitsPerCharacter(ChosenLine(given, ChosenLine(frame, {})));
}

extern "C" void OnStopSignal(int number) {
    if (g_stop == 0) g_stop = number;
}
extern "C" void OnSummarySignal(int) {
    g_summary = 1;
}

// Stop signals set g_stop; they interrupt a read that waits (a capture
// still being written into a pipe), so that the watch ends as it should.
void WatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;  // no SA_RESTART
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaction(number, &action, nullptr);
    std::signal(SIGUSR1, OnSummarySignal);
}

// A capture's line is one read of the line, some thousands of characters at
// the most: a longer one is no capture (a device, a binary file).
constexpr size_t kMaxCaptureLine = 1 << 16;

// Decoded as it is read, so that a capture of any length, or one still
// being written into a pipe, takes little memory; a stop signal ends it
// with what was decoded so far and the summary.
int Replay(MonitorRequest& r) {
    std::error_code ignored;
    if (std::filesystem::is_directory(r.replay, ignored))
        return Fail(r.replay + " is a directory, not a capture", kExitToolFailed, kWho);
    const int fd = open(r.replay.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail("cannot read " + r.replay + ": " + std::strerror(errno), kExitToolFailed, kWho);
    WatchStopSignals();
    monitor::CaptureReader reader;
    std::unique_ptr<monitor::Monitor> watcher;
    // The monitor starts at the first character, once the header is read.
    auto start = [&] {
        r.options.start_utc_us = reader.header().start_utc_us;
        r.options.heard = reader.header().heard;
        TakeRecordedLine(reader.header().line, r.line, &r.options);
        watcher = std::make_unique<monitor::Monitor>(r.options, stdout);
    };
    std::string pending, error;
    std::vector<monitor::LineChar> chars;
    size_t number = 0, cuts = 0;
    // Each whole line of pending, and at the end the last one unended.
    auto decode = [&](bool at_end) {
        size_t from = 0;
        for (size_t end = pending.find('\n'); end != std::string::npos || at_end;
             end = pending.find('\n', from)) {
            if (end == std::string::npos) end = pending.size();  // the last line
            if (end == from && end == pending.size()) break;
            chars.clear();
            if (!reader.Line(std::string_view(pending).substr(from, end - from), &chars, &error))
                return false;
            ++number;
            if (reader.cuts() != cuts && watcher) watcher->Flush();  // as the live view did
            cuts = reader.cuts();
            if (!chars.empty() && !watcher) start();
            for (const monitor::LineChar& c : chars)
                watcher->Feed(c);
            from = std::min(end + 1, pending.size());
        }
        pending.erase(0, from);
        if (pending.size() <= kMaxCaptureLine) return true;
        error = "line " + std::to_string(number + 1) + ": longer than " +
                std::to_string(kMaxCaptureLine) + " characters: not a capture";
        return false;
    };
    char chunk[1 << 14];
    ssize_t got = 0;
    while (g_stop == 0 && (got = read(fd, chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        pending.append(chunk, static_cast<size_t>(got));
        if (!decode(false)) break;
    }
    const int read_error = got < 0 && g_stop == 0 ? errno : 0;
    close(fd);
    if (error.empty() && read_error == 0 && g_stop == 0) decode(true);
    // The reason quotes the line, which may be any bytes at all.
    if (!error.empty())
        return Fail(r.replay + ": " + plcsim::Printable(error), kExitToolFailed, kWho);
    if (read_error != 0)
        return Fail("cannot read " + r.replay + " to its end: " + std::strerror(read_error),
                    kExitToolFailed, kWho);
    if (!watcher) start();
    watcher->Flush();
    watcher->PrintSummary(SummaryOut(r.options, stdout));
    return g_stop ? 128 + g_stop : kExitOk;
}

// The watched end on the character device status names, if any.
const monitor::WatchEnd* EndOn(const struct stat& status,
                               const std::vector<monitor::WatchEnd>& ends) {
    struct stat port {};
    for (const monitor::WatchEnd& end : ends)
        if (S_ISCHR(status.st_mode) && fstat(end.fd, &port) == 0 && port.st_rdev == status.st_rdev)
            return &end;
    return nullptr;
}

// Opens a port as the other commands do, and says why when it does not. A
// tap is opened for reading only: it can never put a byte on the line. A
// port is held as the driver holds its own: a second reader, the driver
// itself or another monitor, would take bytes this one never sees.
int OpenPort(const std::string& option, const std::string& given, const LineParameters& line,
             bool listen_only, const std::vector<monitor::WatchEnd>& opened, bool quiet,
             bool* marked, int* fd) {
    const auto refuse = [quiet](const std::string& text, int code) {
        return quiet ? code : Fail(text, code, kWho);
    };
    std::string device, port, error;
    // The driver's limit on a port name's length is not the monitor's: it
    // opens the device itself.
    if (!ResolvePort(given, &device, &port, &error, option) && device.empty())
        return refuse(error, kExitUsage);
    *fd =
        open(device.c_str(), (listen_only ? O_RDONLY : O_RDWR) | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat mine {};
    if (*fd >= 0 && fstat(*fd, &mine) == 0) {
        if (const monitor::WatchEnd* end = EndOn(mine, opened)) {
            close(*fd);
            return refuse(given + " is the same port as " + end->name + ": give two ports",
                          kExitUsage);
        }
    }
    termios held{};
    if (*fd < 0 || flock(*fd, LOCK_EX | LOCK_NB) != 0 || !SetLine(*fd, line, 0, &held)) {
        if (*fd >= 0) close(*fd);
        return refuse("cannot open port " + device + " at " + DescribeLine(line) + ": " +
                          (quiet ? "" : DiagnosePort(device, line)),
                      kExitPortUnavailable);
    }
    *marked = (held.c_iflag & PARMRK) != 0;
    return kExitOk;
}

void CloseEnds(std::vector<monitor::WatchEnd>* ends) {
    for (const monitor::WatchEnd& end : *ends)
        close(end.fd);
    ends->clear();
}

// Opens the ports in the order given; kExitOk, or the status of the first
// that did not open (said, unless quiet), none left open.
int OpenEnds(const MonitorRequest& r, const LineParameters& line, bool quiet,
             std::vector<monitor::WatchEnd>* ends) {
    std::vector<std::string> names = r.between.empty() ? r.taps : r.between;
    if (!r.plc_tap.empty()) names.push_back(r.plc_tap);
    for (size_t i = 0; i < names.size(); ++i) {
        monitor::WatchEnd end;
        end.name = names[i];
        end.from = i == 0 && r.options.heard != monitor::Heard::kPlc ? Side::kHost : Side::kPlc;
        const char* option = !r.between.empty()  ? "--between"
                             : i < r.taps.size() ? "--tap"
                                                 : "--tap-plc";
        const int status =
            OpenPort(option, names[i], line, r.between.empty(), *ends, quiet, &end.marked, &end.fd);
        if (status != kExitOk) {
            CloseEnds(ends);
            return status;
        }
        ends->push_back(end);
    }
    if (!r.between.empty()) {
        (*ends)[0].forward_to = (*ends)[1].fd;
        (*ends)[1].forward_to = (*ends)[0].fd;
    }
    return kExitOk;
}

// After a port failed (an adapter pulled, a far end closed): waits until
// every port opens again, their names followed anew; false once stopped.
bool Reopen(const MonitorRequest& r, const LineParameters& line,
            std::vector<monitor::WatchEnd>* ends) {
    while (g_stop == 0) {
        const timespec pause{0, 500'000'000};
        nanosleep(&pause, nullptr);  // a stop signal cuts it short
        if (g_stop == 0 && OpenEnds(r, line, true, ends) == kExitOk) {
            // What built up while the line was cut belongs to exchanges given
            // up long since: sent on now, it would land inside the next one.
            for (const monitor::WatchEnd& end : *ends)
                tcflush(end.fd, TCIFLUSH);
            return true;
        }
    }
    return false;
}

int Live(MonitorRequest& r, const LineParameters& line) {
    std::vector<monitor::WatchEnd> ends;
    auto close_ends = [&ends] { CloseEnds(&ends); };
    if (const int status = OpenEnds(r, line, false, &ends); status != kExitOk) return status;
    // The output and the capture are written by threads of their own: a
    // reader that stops reading must never stop the forwarding.
    monitor::DetachedOutput out(monitor::DescriptorSink(STDOUT_FILENO));
    std::unique_ptr<monitor::DetachedOutput> capture_out;
    std::unique_ptr<monitor::CaptureWriter> capture;
    std::unique_ptr<FILE, int (*)(FILE*)> capture_file(nullptr, std::fclose);
    monitor::CaptureHeader header = monitor::HeaderStartingNow(DescribeLine(line));
    header.heard = r.options.heard;
    if (!r.capture.empty()) {
        // A capture into one of the ports would go onto the line.
        struct stat file {};
        const monitor::WatchEnd* port =
            stat(r.capture.c_str(), &file) == 0 ? EndOn(file, ends) : nullptr;
        if (port != nullptr) {
            const std::string refusal = "--capture " + r.capture + " is the port " + port->name +
                                        ": the capture would go onto the line";
            close_ends();  // which frees the port's name
            return Fail(refusal, kExitUsage, kWho);
        }
        std::string why;
        capture_file.reset(OpenStreamFile(r.capture, false, &why));
        if (!capture_file) {
            close_ends();
            return Fail("cannot write the capture: " + why, kExitToolFailed, kWho);
        }
        capture_out = std::make_unique<monitor::DetachedOutput>(
            monitor::DescriptorSink(fileno(capture_file.get())));
        capture = std::make_unique<monitor::CaptureWriter>(capture_out->stream());
        capture->Header(header);
    }
    r.options.start_utc_us = header.start_utc_us;
    FILE* summary_out = SummaryOut(r.options, out.stream());
    monitor::Monitor watcher(r.options, out.stream());
    // A reader of the output that goes (| head) ends the watch as Ctrl-C
    // does: the capture is closed whole and the ports let go.
    WatchStopSignals();
    monitor::WatchCalls calls;
    if (capture)
        calls.on_read = [&](uint64_t time_us, Side from, const std::vector<uint8_t>& chars,
                            const std::vector<bool>& damaged) {
            capture->Write(time_us, from, chars, damaged);
        };
    calls.on_char = [&](const monitor::LineChar& c) { watcher.Feed(c); };
    calls.on_tick = [&](uint64_t now_us) { watcher.Tick(now_us); };
    calls.keep_going = [&] {
        if (g_summary) {
            g_summary = 0;
            watcher.PrintSummary(summary_out);
        }
        return g_stop == 0;
    };
    // Which port is which side, since the order given decides it; from here
    // on every byte that arrives is read.
    std::string sides;
    for (const monitor::WatchEnd& end : ends)
        sides += (sides.empty() ? "" : " and ") + end.name + " (" + SideName(end.from) + "'s side)";
    std::fprintf(stderr, "morvane monitor: %s %s%s; Ctrl-C ends\n",
                 r.between.empty() ? "listening on" : "between", sides.c_str(),
                 ends.size() == 1 ? " only" : "");
    // A port that fails is waited for, the line cut meanwhile, rather than
    // left cut for good: the monitor may stand in a line nobody watches.
    const uint64_t start_us = monitor::MonotonicMicros();
    for (;;) {
        const std::string failure = monitor::WatchLine(ends, start_us, calls);
        close_ends();
        if (failure.empty() || g_stop != 0) break;
        watcher.Flush();
        if (capture) capture->Cut();
        std::fprintf(stderr, "morvane monitor: port failed: %s; %s until the ports open again\n",
                     failure.c_str(), r.between.empty() ? "not listening" : "the line is cut");
        if (!Reopen(r, line, &ends)) break;
        std::fprintf(stderr, "morvane monitor: the ports are open again; watching on\n");
    }
    watcher.Flush();
    watcher.PrintSummary(summary_out);
    // What is still queued gets a moment; a reader that stopped does not
    // hold up the end.
    std::string lost;
    int code = g_stop ? 128 + g_stop : kExitOk;  // as a shell reports it
    if (capture_out && !capture_out->Finish(kFinishWait, &lost)) {
        (void)capture_file.release();  // its writer may still wait on it
        code = Fail("the capture " + r.capture + ": " + lost, kExitToolFailed, kWho);
    }
    if (!out.Finish(kFinishWait, &lost) && g_stop != SIGPIPE)
        code = Fail("the output: " + lost, g_stop ? code : kExitToolFailed, kWho);
    return code;
}

}  // namespace

int RunMonitor(const Arguments& arguments) {
    MonitorRequest request;
    std::string error;
    if (!Parse(arguments, &request, &error)) {
        // A mistake on the command line: one line, as the tool's other commands say it.
        if (!error.empty()) return Fail(error + " (see morvane monitor -h)", kExitUsage, kWho);
        std::fputs(kMonitorUsage, stdout);
        return kExitOk;
    }
    const LineParameters line = ChosenLine(request.line, LineParameters{9600, 8, 0, 2});
    request.options.baud = line.baud_rate;
    request.options.bits_per_char = BitsPerCharacter(line);
    return request.replay.empty() ? Live(request, line) : Replay(request);
}

}  // namespace morvane::tool
