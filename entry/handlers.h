// The command handlers behind TevMain's table. Each takes the host's request
// and returns a host return code (0, 1, 2 or 53).
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

using CommandHandler = int32_t (*)(TevRequest* request);

// Lifecycle (entry/)
int32_t ColdStart(TevRequest* request);
int32_t WarmStart(TevRequest* request);
int32_t EndTev(TevRequest* request);
int32_t CloseCom(TevRequest* request);
int32_t ReOpenCom(TevRequest* request);
int32_t GetTevInfo(TevRequest* request);
int32_t ChangeTevParams(TevRequest* request);

// Addresses (gates/)
int32_t SingleAddressParser(TevRequest* request);
int32_t BlockAddressParser(TevRequest* request);

// Transfers (gates/)
int32_t SingleRead(TevRequest* request);
int32_t BlockRead(TevRequest* request);
int32_t SingleWrite(TevRequest* request);
int32_t BlockWrite(TevRequest* request);

// Address dialog (browse/)
int32_t BrowseAddress0(TevRequest* request);

// The handler in a command slot, or nullptr for an empty slot or a code above 17.
CommandHandler HandlerFor(uint32_t command_code);

}  // namespace morvane
