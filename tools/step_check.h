// Addresses and values of the steps, checked with the driver's own parse
// commands. They run again before the line opens (on a channel not yet
// started, which the parse commands do not need), so that a mistake in a
// later step is found before an earlier one writes anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_channel.h"
#include "step_plan.h"

namespace morvane::tool {

// Parses address for a single (count 0) or block transfer; false, with the
// refusal and the driver's reason on standard error, when the driver
// refuses it.
bool ParseGate(HostChannel& channel, const std::string& address, bool block, GateAddress* gate);

// A write step (ADDRESS VALUE...) parsed and its values in the host's buffer
// layout: one value as a single write, more as a block.
struct PreparedWrite {
    GateAddress gate{};
    bool block = false;
    int32_t count = 0;
    std::vector<uint8_t> buffer;
};

// 0, or kExitRefused after printing the refusal.
int PrepareWrite(HostChannel& channel, const Arguments& arguments, PreparedWrite* write);

// Every read, write and poll step's address and every value written, of
// steps PlanSteps accepted; 0, or
// the exit code of the first refusal (printed).
int CheckSteps(HostChannel& channel, const std::vector<Step>& steps);

}  // namespace morvane::tool
