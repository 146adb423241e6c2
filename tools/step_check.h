// The steps checked before the channel opens, with the driver's own parse
// commands (on a channel not yet started, which they do not need) and
// everything the driver would refuse without touching the line: counts,
// values, string and bit blocks. A mistake in a later step is found before
// an earlier one writes anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"
#include "host_channel.h"

namespace morvane::tool {

// One transfer of a step, ready for the line.
struct PreparedTransfer {
    GateAddress gate{};
    bool block = false;
    int32_t count = 1;            // values of the gate (1 for a single transfer)
    std::vector<uint8_t> buffer;  // a write's values in the host's layout
};

struct PreparedStep {
    const Step* step = nullptr;
    PreparedTransfer transfer;  // browse: none yet
};

// Parses address for a single or block transfer; false, with the refusal
// and the driver's reason on standard error, when the driver refuses it.
bool ParseGate(HostChannel& channel, const std::string& address, bool block, GateAddress* gate);

// Prepares one read (--hex: the words the address covers, as the line
// carries them) or write; 0, or the exit code of its refusal (printed).
int PrepareTransfer(HostChannel& channel, const Step& step, PreparedTransfer* transfer);

// Every step; 0, or the exit code of the first refusal (printed).
int PrepareSteps(HostChannel& channel, const std::vector<Step>& steps,
                 std::vector<PreparedStep>* prepared);

}  // namespace morvane::tool
