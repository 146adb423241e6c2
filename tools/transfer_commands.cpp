// morvane read / write / poll / browse: gates read and written through
// TevMain as a host does, on a port or the embedded simulator. Several steps
// run on one channel when joined by "then":
//   morvane write 001010F 3.25 then read 001010F
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "driver_log.h"
#include "gate_values.h"
#include "host_platform.h"
#include "line_session.h"
#include "transfer_report.h"

namespace morvane::tool {
namespace {

// One transfer of a step, ready for the line.
struct PreparedTransfer {
    GateAddress gate{};
    bool block = false;
    int32_t count = 1;            // values of the gate (1 for a single transfer)
    std::vector<uint8_t> buffer;  // a write's values in the host's layout
};

std::string Plural(int32_t count, const std::string& kind) {
    return std::to_string(count) + " " + kind + (count == 1 ? "" : "s");
}

// Parses address for a single or block transfer; false, with the refusal
// and the driver's reason on standard error, when the driver refuses it.
bool ParseGate(HostChannel& channel, const std::string& address, bool block, GateAddress* gate) {
    // A typo past what the driver reads would go unseen and another gate be used.
    if (const std::string tail = IgnoredTail(address); !tail.empty()) {
        Fail("address " + address + " refused: the driver would ignore \"" + tail + "\" at its end",
             0);
        return false;
    }
    const LogWindow window;
    if (ParseAddress(channel, address, block, gate)) return true;
    const std::vector<std::string> lines = window.Lines();
    Fail("address " + address + " refused" + (lines.empty() ? "" : ": " + lines.back()), 0);
    return false;
}

// Prepares one read (--hex: the words the address covers, as the line
// carries them) or write; 0, or the exit code of its refusal (printed).
int PrepareTransfer(HostChannel& channel, const Step& step, PreparedTransfer* transfer) {
    const bool write = step.kind == StepKind::kWrite;
    transfer->count = std::max(write ? static_cast<int32_t>(step.values.size()) : step.count, 1);
    transfer->block = write ? transfer->count > 1 : step.count > 0;
    if (!ParseGate(channel, step.address, transfer->block, &transfer->gate)) return kExitRefused;
    const GateAddress& gate = transfer->gate;
    const int32_t most = MaxCount(gate, write);
    if (transfer->block && transfer->count > most)
        return Fail(
            std::string(write ? "write " : "read ") + step.address + ": " +
                Plural(transfer->count, KindName(gate)) + " in one transfer; at most " +
                std::to_string(most) + " (" +
                std::to_string(write ? MORVANE_MAX_TRANSFER_BYTES : MORVANE_REPLY_DATA_SIZE) +
                " bytes)",
            write ? kExitRefused : kExitUsage);
    if (!write && step.display.form != OutputForm::kHexDump) return 0;
    if (!write) {  // the words the values cover, as a word block
        char address[16];
        std::snprintf(address, sizeof address, "%03u%03u", DataBlockOf(gate),
                      ItemIndexOf(gate) * WordsPerItem(gate));
        transfer->count *= WordsPerItem(gate);
        transfer->block = true;
        return ParseGate(channel, address, true, &transfer->gate) ? 0 : kExitRefused;
    }
    if (transfer->block && gate.class_letter == MORVANE_CLASS_STRING)
        return Fail(
            "write " + step.address + ": strings are not written as a block; write one at a time",
            kExitRefused);
    transfer->buffer = HostBuffer(gate, transfer->count, transfer->block);
    for (int32_t i = 0; i < transfer->count; ++i) {
        std::string error;
        if (!StoreValue(gate, transfer->block, static_cast<size_t>(i),
                        ArgumentInUtf8(step.values[i]), &transfer->buffer, &error))
            return Fail("value refused: " + step.address + ": " + error, kExitRefused);
    }
    return 0;
}

using SteadyClock = std::chrono::steady_clock;

struct StepContext {
    LineSession& session;
    bool line_proven = false;  // a transfer went through: the line settings fit
    bool port_lost = false;    // opened again before the next transfer, once it is back
};

// One transfer, with a progress line while it takes long, judged from its
// result and the driver's lines.
TransferOutcome Transfer(StepContext& context, uint32_t command, const std::string& what,
                         const PreparedTransfer& prepared, std::vector<uint8_t>* buffer) {
    if (context.port_lost && context.session.Reopen()) {
        context.port_lost = false;
        WriteErrorLine("morvane: the port is back (" + context.session.device() +
                       "): the channel is open again");
    }
    TransferBlock transfer{};
    transfer.gate = prepared.gate;
    transfer.count = prepared.count;
    transfer.data = buffer->data();
    const uint32_t words = WordsPerItem(prepared.gate) * static_cast<uint32_t>(prepared.count);
    const TransferProgress progress(what, ExpectedLineTime(words, context.session.line()));
    const LogWindow window;
    MarkTransfer(true);
    const int32_t code = context.session.channel().Call(command, &transfer);
    MarkTransfer(false);
    TransferOutcome outcome = JudgeTransfer(code, window.Lines());
    if (outcome.kind == FailureKind::kNone) context.line_proven = true;
    if (outcome.kind == FailureKind::kLineFailed &&
        (context.port_lost || context.session.PortGone()))
        outcome.fault = LineFault::kPortGone;
    context.port_lost = outcome.fault == LineFault::kPortGone;
    return outcome;
}

void PrintHint(const StepContext& context, const TransferOutcome& outcome) {
    if (outcome.kind == FailureKind::kLineFailed &&
        (!context.line_proven || (outcome.fault == LineFault::kPortGone && context.port_lost)))
        WriteErrorLine("morvane: " + Hint(outcome));
}

// The failure message of a read or write: what failed, the kind in the exit
// table's words, the attempts, the driver's reason, and a hint for a line
// that never answered.
int ReportFailure(const StepContext& context, const std::string& what,
                  const TransferOutcome& outcome) {
    WriteErrorLine("morvane: " + what + ": " + Describe(outcome) + " (" +
                   Plural(outcome.attempts, "attempt") + ")");
    if (!outcome.reason.empty()) WriteErrorLine("morvane: the driver said: " + outcome.reason);
    PrintHint(context, outcome);
    return ExitCodeOf(outcome);
}

std::string Describing(const char* verb, const Step& step, const PreparedTransfer& prepared) {
    const int32_t values = step.kind == StepKind::kWrite ? prepared.count : step.count;
    return std::string(verb) + " " + step.address +
           (prepared.block && values > 0 ? " (" + std::to_string(values) + " values)" : "");
}

// Reads the step's values (or words, --hex) into a sample.
Sample ReadSample(StepContext& context, const Step& step, const PreparedTransfer& prepared,
                  long number) {
    std::vector<uint8_t> buffer = HostBuffer(prepared.gate, prepared.count, prepared.block);
    const uint32_t command = prepared.block ? MORVANE_CMD_BLOCK_READ : MORVANE_CMD_SINGLE_READ;
    Sample sample{std::chrono::system_clock::now(), step.address, prepared.gate, prepared.block,
                  number};
    sample.outcome =
        Transfer(context, command, Describing("reading", step, prepared), prepared, &buffer);
    if (sample.outcome.kind == FailureKind::kNone)
        for (int32_t i = 0; i < prepared.count; ++i)
            sample.values.push_back(
                ValueAt(prepared.gate, prepared.block, static_cast<size_t>(i), buffer));
    return sample;
}

bool Machine(const DisplayOptions& display) {
    return display.form == OutputForm::kJson || display.form == OutputForm::kCsv;
}

// A line that is no value (a write's confirmation, the chosen address, the
// statistics): on standard output for people, beside a machine-readable
// stream (which holds values only) or output that failed, on standard error.
void SayBeside(const DisplayOptions& display, const std::string& line) {
    if (Machine(display) || std::ferror(stdout)) {
        WriteErrorLine(line);
        return;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int RunRead(StepContext& context, const Step& step, const PreparedTransfer& prepared) {
    const Sample sample = ReadSample(context, step, prepared, -1);
    if (sample.outcome.kind == FailureKind::kNone || Machine(step.display))
        PrintSample(step.display, sample);
    if (sample.outcome.kind == FailureKind::kNone) return kExitOk;
    return ReportFailure(context, Describing("reading", step, prepared), sample.outcome);
}

int RunWrite(StepContext& context, const Step& step, const PreparedTransfer& prepared) {
    std::vector<uint8_t> buffer = prepared.buffer;
    const uint32_t command = prepared.block ? MORVANE_CMD_BLOCK_WRITE : MORVANE_CMD_SINGLE_WRITE;
    const std::string what = Describing("writing", step, prepared);
    const TransferOutcome outcome = Transfer(context, command, what, prepared, &buffer);
    if (outcome.kind != FailureKind::kNone) return ReportFailure(context, what, outcome);
    SayBeside(step.display,
              step.address + " <- " + Plural(prepared.count, "value") +
                  (outcome.attempts > 1 ? "  (" + Plural(outcome.attempts, "attempt") + ")" : ""));
    // The driver puts what it sent in place of what it changed on the way.
    for (int32_t i = 0; i < prepared.count; ++i) {
        const auto index = static_cast<size_t>(i);
        const Value sent = ValueAt(prepared.gate, prepared.block, index, buffer);
        const uint32_t given = ValueAt(prepared.gate, prepared.block, index, prepared.buffer).bits;
        if (sent.bits != given && ((sent.bits | given) & 0x7FFFFFFFu) != 0)  // -0 is 0
            WriteErrorLine("morvane: note: " + step.address + ": " + step.values[index] +
                           " went to the PLC as " + ValueNumber(sent, false) +
                           " (the driver writes a first float between -1e-19 and 1e-20 as 0)");
    }
    return kExitOk;
}

// Waits until the time, or less when interrupted; false once interrupted.
bool WaitUntil(SteadyClock::time_point until) {
    while (!Interrupted() && SteadyClock::now() < until)
        std::this_thread::sleep_for(std::min<SteadyClock::duration>(until - SteadyClock::now(),
                                                                    std::chrono::milliseconds(20)));
    return !Interrupted();
}

// Reads again and again, on through failures, until --times or a stop; then
// a statistics line. Samples keep a fixed rate: each is due at a multiple of
// the period from the first, and one a transfer overran is left out.
int RunPoll(StepContext& context, const Step& step, const PreparedTransfer& prepared) {
    const std::chrono::milliseconds period(step.every_ms);
    const SteadyClock::time_point first = SteadyClock::now();
    PollStatistics statistics;
    TransferOutcome last_failure;  // on the line
    long due = 0;                  // periods from the first sample
    for (long round = 0; step.times == 0 || round < step.times; ++round) {
        if (round > 0) {
            const long passed = static_cast<long>((SteadyClock::now() - first) / period);
            statistics.LeaveOut(std::max(0L, passed - due));
            due = std::max(due, passed) + 1;
            if (!WaitUntil(first + due * period)) break;
        }
        const auto start = SteadyClock::now();
        const Sample sample = ReadSample(context, step, prepared, round + 1);
        statistics.Add(sample.outcome, SteadyClock::now() - start);
        PrintSample(step.display, sample);
        if (sample.outcome.kind == FailureKind::kLineFailed) last_failure = sample.outcome;
        if (Interrupted() || std::ferror(stdout)) break;
    }
    SayBeside(step.display, statistics.Line());
    PrintHint(context, last_failure);
    return statistics.exit_code();
}

// browse: the Tag Format dialog composes an address; its value is read.
int RunBrowse(StepContext& context, const Step& step) {
    char address[32] = {};
    BrowseBlock browse{address, nullptr};
    MarkDialog(true);
    const int32_t code = context.session.channel().Call(MORVANE_CMD_BROWSE_ADDRESS, &browse);
    MarkDialog(false);
    if (code != MORVANE_OK)
        return Fail("no address chosen (" + std::to_string(code) +
                        "): the dialog was cancelled, stood idle for 10 minutes (Linux), or could "
                        "not be shown",
                    kExitUsage);
    SayBeside(step.display, std::string("address: ") + address);
    Step read = step;
    read.kind = StepKind::kRead;
    read.address = address;
    PreparedTransfer prepared;
    const int refused = PrepareTransfer(context.session.channel(), read, &prepared);
    return refused != 0 ? refused : RunRead(context, read, prepared);
}

int RunStep(StepContext& context, const Step& step, const PreparedTransfer& prepared) {
    switch (step.kind) {  // no default: a new kind of step is a compile warning here
        case StepKind::kWrite:
            return RunWrite(context, step, prepared);
        case StepKind::kPoll:
            return RunPoll(context, step, prepared);
        case StepKind::kBrowse:
            return RunBrowse(context, step);
        case StepKind::kRead:
            break;
    }
    return RunRead(context, step, prepared);
}

// Checks every step (browse's address comes later), then opens the channel,
// the driver's start-up lines held back; 0, or the exit code of what failed
// (printed).
int Prepare(const DriverLibrary& driver, const Invocation& invocation, LineSession* session,
            std::vector<PreparedTransfer>* prepared) {
    BeginStartUp();
    InfoBlock info{};
    QueryInfo(driver, &info);
    // The parse commands need no started channel: nothing opens the port yet.
    HostChannel not_started(driver, info.channel_area_size, 1);
    prepared->assign(invocation.steps.size(), {});
    for (size_t i = 0; i < invocation.steps.size(); ++i) {
        const Step& step = invocation.steps[i];
        int refused = 0;
        if (step.kind != StepKind::kBrowse)
            refused = PrepareTransfer(not_started, step, &(*prepared)[i]);
        else if (const std::string why = DialogImpossible(); !why.empty())
            refused = Fail("browse cannot show its dialog: " + why, kExitUsage);
        if (refused != 0) {
            EndStartUp(false);  // the refusal names the driver's reason
            return refused;
        }
    }
    std::string error;
    const bool opened = session->Open(invocation.session, &error);
    EndStartUp(!opened);
    return opened ? kExitOk : Fail(error, session->open_failure());
}

}  // namespace

int RunSteps(const DriverLibrary& driver, const Invocation& invocation) {
    // Ctrl-C, SIGTERM, SIGHUP, SIGPIPE: the session still ends as it should.
    WatchStopSignals(true);
    LineSession session(driver);
    std::vector<PreparedTransfer> prepared;
    int code = Prepare(driver, invocation, &session, &prepared);
    StepContext context{session};
    for (size_t i = 0; code == kExitOk && i < prepared.size() && !Interrupted(); ++i) {
        code = RunStep(context, invocation.steps[i], prepared[i]);
        // Values that could not be written out are lost: no later step runs.
        if (code == kExitOk && std::ferror(stdout) && !Interrupted())
            code = Fail("standard output could not be written", kExitToolFailed);
    }
    if (!session.Close() && code == kExitOk) code = kExitToolFailed;  // blocks not saved
    WatchStopSignals(false);
    // As a shell reports a signal.
    return Interrupted() ? Fail(InterruptName(), 128 + InterruptSignal()) : code;
}

}  // namespace morvane::tool
