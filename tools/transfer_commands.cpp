// morvane read / write / poll / browse: gates read and written through
// TevMain as a host does, on a port or the embedded simulator. Several steps
// run on one channel when joined by "then":
//   morvane write 001010F 3.25 then read 001010F
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "driver_log.h"
#include "exit_codes.h"
#include "gate_values.h"
#include "host_platform.h"
#include "line_session.h"
#include "output_format.h"
#include "poll_statistics.h"
#include "progress.h"
#include "step_check.h"
#include "step_plan.h"
#include "transfer_outcome.h"

namespace morvane::tool {

struct StepContext {
    HostChannel& channel;
    const SessionOptions& options;
    bool line_proven = false;  // a transfer went through: the line settings fit
};

namespace {

constexpr uint32_t kDefaultBaud = 9600;

// One transfer, with a progress line while it takes long, judged from its
// result and the driver's lines.
TransferOutcome Transfer(StepContext& context, uint32_t command, const std::string& what,
                         const GateAddress& gate, int32_t count, std::vector<uint8_t>* buffer) {
    TransferBlock transfer{};
    transfer.gate = gate;
    transfer.count = count;
    transfer.data = buffer->data();
    const uint32_t baud = context.options.line.baud != 0 ? context.options.line.baud : kDefaultBaud;
    const uint32_t words = WordsPerItem(gate) * static_cast<uint32_t>(count > 0 ? count : 1);
    const TransferProgress progress(what, ExpectedLineTime(words, baud));
    const LogWindow window;
    const int32_t code = context.channel.Call(command, &transfer);
    const TransferOutcome outcome = JudgeTransfer(code, window.Lines());
    if (outcome.kind == FailureKind::kNone) context.line_proven = true;
    return outcome;
}

void PrintHint(const StepContext& context, const TransferOutcome& outcome) {
    if (outcome.kind == FailureKind::kLineFailed && !context.line_proven)
        WriteErrorLine(std::string("morvane: ") + kLineHint);
}

// The failure message of a read or write: what failed, the kind in the exit
// table's words, the attempts, the driver's reason, and a hint for a line
// that never answered.
int ReportFailure(const StepContext& context, const std::string& what,
                  const TransferOutcome& outcome) {
    const int attempts = outcome.attempts;
    WriteErrorLine("morvane: " + what + ": " + Describe(outcome) + " (" + std::to_string(attempts) +
                   " attempt" + (attempts == 1 ? "" : "s") + ")");
    if (!outcome.reason.empty()) WriteErrorLine("morvane: the driver said: " + outcome.reason);
    PrintHint(context, outcome);
    return ExitCodeOf(outcome);
}

std::string Describing(const char* verb, const std::string& address, bool block, int32_t count) {
    return std::string(verb) + " " + address +
           (block ? " (" + std::to_string(count) + " values)" : std::string());
}

// Reads address (count values as a block, or one) and prints the values.
int ReadAndPrint(StepContext& context, const std::string& address, int32_t count, bool block) {
    GateAddress gate{};
    if (!ParseGate(context.channel, address, block, &gate)) return kExitRefused;
    std::vector<uint8_t> buffer = HostBuffer(gate, count, block);
    const uint32_t command = block ? MORVANE_CMD_BLOCK_READ : MORVANE_CMD_SINGLE_READ;
    const std::string what = Describing("reading", address, block, count);
    Sample sample{std::chrono::system_clock::now(), address, gate, block, count, &buffer, {}, -1};
    sample.outcome = Transfer(context, command, what, gate, count, &buffer);
    const bool machine = context.options.display.form == OutputForm::kJson ||
                         context.options.display.form == OutputForm::kCsv;
    if (sample.outcome.kind == FailureKind::kNone || machine)
        PrintSample(context.options.display, sample);
    if (sample.outcome.kind != FailureKind::kNone)
        return ReportFailure(context, what, sample.outcome);
    return kExitOk;
}

// Ctrl-C during the steps: the running transfer finishes, the steps stop,
// and the session still closes its port and saves the simulator's blocks.
class InterruptStopsSteps {
  public:
    InterruptStopsSteps() { CatchInterrupt(); }
    ~InterruptStopsSteps() { ReleaseInterrupt(); }
    InterruptStopsSteps(const InterruptStopsSteps&) = delete;
    InterruptStopsSteps& operator=(const InterruptStopsSteps&) = delete;
};

// Waits ms, or less when interrupted; false once interrupted.
bool WaitUnlessInterrupted(long ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!Interrupted() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms < 20 ? ms : 20));
    return !Interrupted();
}

// Checks the steps and opens the channel with the driver's start-up lines
// held back; 0, or the exit code of what failed (printed).
int Prepare(const DriverLibrary& driver, const SessionOptions& options,
            const std::vector<Step>& steps, LineSession* session) {
    BeginStartUp();
    InfoBlock info{};
    QueryInfo(driver, &info);
    // The parse commands need no started channel: nothing opens the port yet.
    HostChannel not_started(driver, info.channel_area_size, 1);
    const int refused = CheckSteps(not_started, steps);
    if (refused != 0) {
        EndStartUp(false);  // the refusal names the driver's reason
        return refused;
    }
    std::string error;
    const bool opened = session->Open(options, &error);
    EndStartUp(!opened);
    if (opened) return kExitOk;
    std::fprintf(stderr, "morvane: %s\n", error.c_str());
    return session->open_failure();
}

}  // namespace

int RunSteps(const DriverLibrary& driver, const std::string& first, const Arguments& given) {
    Arguments arguments = given;
    SessionOptions options;
    std::string error;
    if (!TakeSessionOptions(&arguments, &options, &error)) {
        std::fprintf(stderr, "morvane: %s\nsession options:\n%s%s", error.c_str(),
                     kSessionOptionsUsage, kDisplayOptionsUsage);
        return kExitUsage;
    }
    std::vector<Step> steps;
    if (!PlanSteps(first, arguments, &steps, &error)) {
        std::fprintf(stderr, "morvane: %s\n", error.c_str());
        return kExitUsage;
    }
    const InterruptStopsSteps interrupt;
    int code = kExitOk;
    {
        LineSession session(driver);
        code = Prepare(driver, options, steps, &session);
        if (code == kExitOk) {
            StepContext context{session.channel(), options};
            for (size_t i = 0; code == kExitOk && i < steps.size() && !Interrupted(); ++i)
                code = steps[i].command->step.run(context, steps[i].arguments);
        }
        if (!session.Close() && code == kExitOk) code = kExitToolFailed;  // blocks not saved
    }
    if (!Interrupted()) return code;
    std::fprintf(stderr, "morvane: interrupted\n");
    return kExitInterrupted;
}

// The steps' arguments have the shapes PlanSteps checked.

// read ADDRESS [COUNT]
int StepRead(StepContext& context, const Arguments& arguments) {
    int32_t count = 1;
    if (arguments.size() == 2) TakeCount(arguments[1], &count);
    return ReadAndPrint(context, arguments[0], count, arguments.size() == 2);
}

// write ADDRESS VALUE [VALUE...]: one value as a single write, more as a block.
int StepWrite(StepContext& context, const Arguments& arguments) {
    const std::string& address = arguments[0];
    PreparedWrite write;
    const int refused = PrepareWrite(context.channel, arguments, &write);
    if (refused != 0) return refused;
    const uint32_t command = write.block ? MORVANE_CMD_BLOCK_WRITE : MORVANE_CMD_SINGLE_WRITE;
    const std::string what = Describing("writing", address, write.block, write.count);
    const TransferOutcome outcome =
        Transfer(context, command, what, write.gate, write.count, &write.buffer);
    if (outcome.kind != FailureKind::kNone) return ReportFailure(context, what, outcome);
    std::printf("%s <- %d value%s\n", address.c_str(), static_cast<int>(write.count),
                write.count == 1 ? "" : "s");
    return kExitOk;
}

// poll ADDRESS [COUNT] [--every MS] [--times N]: reads again and again, on
// through failures, until --times or Ctrl-C; then a statistics line.
int StepPoll(StepContext& context, const Arguments& arguments) {
    PollArguments poll;
    TakePollArguments(arguments, &poll);
    int32_t count = 1;
    const bool block = poll.positional.size() == 2;
    if (block) TakeCount(poll.positional[1], &count);
    const std::string& address = poll.positional[0];
    GateAddress gate{};
    if (!ParseGate(context.channel, address, block, &gate)) return kExitRefused;
    const uint32_t command = block ? MORVANE_CMD_BLOCK_READ : MORVANE_CMD_SINGLE_READ;
    const std::string what = Describing("reading", address, block, count);
    PollStatistics statistics;
    bool line_failed = false;
    for (long round = 0; poll.times == 0 || round < poll.times; ++round) {
        if (round > 0 && !WaitUnlessInterrupted(poll.every_ms)) break;
        std::vector<uint8_t> buffer = HostBuffer(gate, count, block);
        Sample sample{
            std::chrono::system_clock::now(), address, gate, block, count, &buffer, {}, round + 1};
        const auto start = std::chrono::steady_clock::now();
        sample.outcome = Transfer(context, command, what, gate, count, &buffer);
        statistics.Add(sample.outcome, std::chrono::steady_clock::now() - start);
        line_failed = line_failed || sample.outcome.kind == FailureKind::kLineFailed;
        PrintSample(context.options.display, sample);
        if (Interrupted()) break;
    }
    const std::string line = statistics.Line();
    if (context.options.display.form == OutputForm::kJson ||
        context.options.display.form == OutputForm::kCsv) {
        WriteErrorLine(line);  // the machine-readable stream stays uniform
    } else {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    if (line_failed && !context.line_proven) WriteErrorLine(std::string("morvane: ") + kLineHint);
    return statistics.exit_code();
}

// browse: the Tag Format dialog composes an address; its value is read.
int StepBrowse(StepContext& context, const Arguments&) {
    char address[32] = {};
    BrowseBlock browse{address, nullptr};
    const int32_t code = context.channel.Call(MORVANE_CMD_BROWSE_ADDRESS, &browse);
    if (code != MORVANE_OK) {
        std::fprintf(stderr, "morvane: no address chosen (%d)\n", static_cast<int>(code));
        return kExitUsage;
    }
    std::printf("address: %s\n", address);
    return ReadAndPrint(context, address, 1, false);
}

}  // namespace morvane::tool
