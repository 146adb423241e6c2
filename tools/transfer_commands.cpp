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
#include "gate_values.h"
#include "host_platform.h"
#include "line_session.h"
#include "step_check.h"
#include "step_plan.h"

namespace morvane::tool {
namespace {

using StepFunction = int (*)(HostChannel& channel, const Arguments& arguments);

// What the code of a failed transfer tells its user.
const char* Meaning(int32_t code) {
    if (code == MORVANE_REQUEST_FAILED) return "refused by the driver or the PLC";
    if (code == MORVANE_LINE_FAILED) return "no valid exchange on the line";
    return "unexpected result";
}

int32_t Transfer(HostChannel& channel, uint32_t command, const GateAddress& gate, int32_t count,
                 std::vector<uint8_t>* buffer) {
    TransferBlock transfer{};
    transfer.gate = gate;
    transfer.count = count;
    transfer.data = buffer->data();
    return channel.Call(command, &transfer);
}

// Reads address (count values as a block, or one) and prints the values.
int ReadAndPrint(HostChannel& channel, const std::string& address, int32_t count, bool block,
                 const char* prefix) {
    GateAddress gate{};
    if (!ParseGate(channel, address, block, &gate)) return 1;
    std::vector<uint8_t> buffer = HostBuffer(gate, count, block);
    const uint32_t command = block ? MORVANE_CMD_BLOCK_READ : MORVANE_CMD_SINGLE_READ;
    const int32_t code = Transfer(channel, command, gate, count, &buffer);
    if (code != MORVANE_OK) {
        std::fprintf(stderr, "morvane: reading %s failed with %d: %s\n", address.c_str(),
                     static_cast<int>(code), Meaning(code));
        return 1;
    }
    if (!block) {
        std::printf("%s%s = %s\n", prefix, address.c_str(),
                    FormatValue(gate, false, 0, buffer).c_str());
        return 0;
    }
    for (int32_t i = 0; i < count; ++i)
        std::printf("%s%s[%d] = %s\n", prefix, address.c_str(), static_cast<int>(i),
                    FormatValue(gate, true, static_cast<size_t>(i), buffer).c_str());
    return 0;
}

// The steps' arguments have the shapes PlanSteps checked.

// read ADDRESS [COUNT]
int StepRead(HostChannel& channel, const Arguments& arguments) {
    int32_t count = 1;
    if (arguments.size() == 2) TakeCount(arguments[1], &count);
    return ReadAndPrint(channel, arguments[0], count, arguments.size() == 2, "");
}

// write ADDRESS VALUE [VALUE...]: one value as a single write, more as a block.
int StepWrite(HostChannel& channel, const Arguments& arguments) {
    const std::string& address = arguments[0];
    PreparedWrite write;
    const int refused = PrepareWrite(channel, arguments, &write);
    if (refused != 0) return refused;
    const uint32_t command = write.block ? MORVANE_CMD_BLOCK_WRITE : MORVANE_CMD_SINGLE_WRITE;
    const int32_t code = Transfer(channel, command, write.gate, write.count, &write.buffer);
    if (code != MORVANE_OK) {
        std::fprintf(stderr, "morvane: writing %s failed with %d: %s\n", address.c_str(),
                     static_cast<int>(code), Meaning(code));
        return 1;
    }
    std::printf("%s <- %d value%s\n", address.c_str(), static_cast<int>(write.count),
                write.count == 1 ? "" : "s");
    return 0;
}

// Ctrl-C while polling ends the poll, not the process, so that the session
// still closes its port and saves the simulator's blocks.
class InterruptEndsPoll {
  public:
    InterruptEndsPoll() { CatchInterrupt(); }
    ~InterruptEndsPoll() { ReleaseInterrupt(); }
    InterruptEndsPoll(const InterruptEndsPoll&) = delete;
    InterruptEndsPoll& operator=(const InterruptEndsPoll&) = delete;

    // Waits ms, or less when interrupted; false once interrupted.
    static bool Wait(long ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!Interrupted() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms < 20 ? ms : 20));
        return !Interrupted();
    }
};

// poll ADDRESS [COUNT] [--every MS] [--times N]: reads again and again.
int StepPoll(HostChannel& channel, const Arguments& arguments) {
    PollArguments poll;
    TakePollArguments(arguments, &poll);
    int32_t count = 1;
    if (poll.positional.size() == 2) TakeCount(poll.positional[1], &count);
    const Arguments& positional = poll.positional;
    const long every_ms = poll.every_ms;
    const long times = poll.times;
    const InterruptEndsPoll interrupt;
    const auto start = std::chrono::steady_clock::now();
    for (long round = 0; times == 0 || round < times; ++round) {
        if (round > 0 && !InterruptEndsPoll::Wait(every_ms)) break;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "%9.3f s  ", seconds);
        const int code =
            ReadAndPrint(channel, positional[0], count, positional.size() == 2, prefix);
        if (code != 0) return code;
        std::fflush(stdout);
    }
    return 0;
}

// browse: the Tag Format dialog composes an address; its value is read.
int StepBrowse(HostChannel& channel, const Arguments&) {
    char address[32] = {};
    BrowseBlock browse{address, nullptr};
    const int32_t code = channel.Call(MORVANE_CMD_BROWSE_ADDRESS, &browse);
    if (code != MORVANE_OK) {
        std::fprintf(stderr, "morvane: no address chosen (%d)\n", static_cast<int>(code));
        return 1;
    }
    std::printf("address: %s\n", address);
    return ReadAndPrint(channel, address, 1, false, "");
}

StepFunction FindStep(const std::string& name) {
    if (name == "read") return StepRead;
    if (name == "write") return StepWrite;
    if (name == "poll") return StepPoll;
    if (name == "browse") return StepBrowse;
    return nullptr;
}

int RunSteps(const DriverLibrary& driver, const std::string& first, const Arguments& given) {
    Arguments arguments = given;
    SessionOptions options;
    std::string error;
    if (!TakeSessionOptions(&arguments, &options, &error)) {
        std::fprintf(stderr, "morvane: %s (see morvane --help)\n", error.c_str());
        return 2;
    }
    std::vector<Step> steps;
    if (!PlanSteps(first, arguments, &steps, &error)) {
        std::fprintf(stderr, "morvane: %s\n", error.c_str());
        return 2;
    }
    InfoBlock info{};
    QueryInfo(driver, &info);
    // The parse commands need no started channel: nothing opens the port yet.
    HostChannel not_started(driver, info.channel_area_size, 1);
    const int refused = CheckSteps(not_started, steps);
    if (refused != 0) return refused;
    LineSession session(driver);
    if (!session.Open(options, &error)) {
        std::fprintf(stderr, "morvane: %s\n", error.c_str());
        return 1;
    }
    for (const Step& step : steps) {
        const int code = FindStep(step.name)(session.channel(), step.arguments);
        if (code != 0) return code;
        if (Interrupted()) break;  // the user stopped a poll: the steps after it too
    }
    return 0;
}

}  // namespace

int RunRead(const DriverLibrary& driver, const Arguments& arguments) {
    return RunSteps(driver, "read", arguments);
}
int RunWrite(const DriverLibrary& driver, const Arguments& arguments) {
    return RunSteps(driver, "write", arguments);
}
int RunPoll(const DriverLibrary& driver, const Arguments& arguments) {
    return RunSteps(driver, "poll", arguments);
}
int RunBrowse(const DriverLibrary& driver, const Arguments& arguments) {
    return RunSteps(driver, "browse", arguments);
}

}  // namespace morvane::tool
