#include "step_check.h"

#include <cstdio>

#include "driver_log.h"
#include "exit_codes.h"
#include "gate_values.h"

namespace morvane::tool {

bool ParseGate(HostChannel& channel, const std::string& address, bool block, GateAddress* gate) {
    ParseBlock parse{};
    parse.address = address.c_str();
    parse.gate_type = GateTypeForAddress(address);
    const uint32_t command =
        block ? MORVANE_CMD_BLOCK_ADDRESS_PARSER : MORVANE_CMD_SINGLE_ADDRESS_PARSER;
    const LogWindow window;
    if (channel.Call(command, &parse) != MORVANE_OK) {
        const std::vector<std::string> lines = window.Lines();
        std::fprintf(stderr, "morvane: address %s refused%s%s\n", address.c_str(),
                     lines.empty() ? "" : ": ", lines.empty() ? "" : lines.back().c_str());
        return false;
    }
    *gate = parse.gate;
    return true;
}

int PrepareWrite(HostChannel& channel, const Arguments& arguments, PreparedWrite* write) {
    const std::string& address = arguments[0];
    write->block = arguments.size() > 2;
    write->count = static_cast<int32_t>(arguments.size() - 1);
    if (!ParseGate(channel, address, write->block, &write->gate)) return kExitRefused;
    write->buffer = HostBuffer(write->gate, write->count, write->block);
    for (int32_t i = 0; i < write->count; ++i) {
        std::string error;
        if (!StoreValue(write->gate, write->block, static_cast<size_t>(i), arguments[1 + i],
                        &write->buffer, &error)) {
            std::fprintf(stderr, "morvane: value refused: %s: %s\n", address.c_str(),
                         error.c_str());
            return kExitRefused;
        }
    }
    return 0;
}

int CheckSteps(HostChannel& channel, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        switch (step.command->step.operands) {
            case Operands::kAddressValues: {
                PreparedWrite write;
                const int code = PrepareWrite(channel, step.arguments, &write);
                if (code != 0) return code;
                break;
            }
            case Operands::kAddressCount:
            case Operands::kPolled: {
                PollArguments poll;
                TakePollArguments(step.arguments, &poll);  // read's arguments hold no poll options
                GateAddress gate{};
                if (!ParseGate(channel, poll.positional[0], poll.positional.size() == 2, &gate))
                    return kExitRefused;
                break;
            }
            case Operands::kNone:  // browse asks at run time
                break;
        }
    }
    return 0;
}

}  // namespace morvane::tool
