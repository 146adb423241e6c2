// TevMain's command table: the handler behind each of the 18 command slots.
// Each handler takes the host's request and returns a host return code
// (0, 1, 2 or 53).
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

using CommandHandler = int32_t (*)(TevRequest* request);

// The handler in a command slot, or nullptr for an empty slot or a code above 17.
CommandHandler HandlerFor(uint32_t command_code);

// The four commands that move values over the line (5, 6, 7 and 10).
constexpr bool IsTransferCommand(uint32_t command_code) {
    return command_code == MORVANE_CMD_SINGLE_READ || command_code == MORVANE_CMD_BLOCK_READ ||
           command_code == MORVANE_CMD_SINGLE_WRITE || command_code == MORVANE_CMD_BLOCK_WRITE;
}

}  // namespace morvane
