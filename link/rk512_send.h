// DoWrite: the RK512 SEND exchange of one telegram of a transfer, its
// attempts at raised thread priority. A single bit is written as its whole
// word, read from the PLC first.
#pragma once

#include <cstdint>

#include "gates/gate_address.h"
#include "link/transfer_policy.h"
#include "morvane/morvane.h"

namespace morvane {

// SEND telegram index of the transfer of block on the channel, its values
// taken from block.data in layout. Values that cannot be packed are a refusal.
TelegramResult DoWrite(ChannelArea& area, const TransferBlock& block, uint32_t telegram_index,
                       ValueLayout layout);

}  // namespace morvane
