// DoRead: the RK512 FETCH exchange of one telegram of a transfer, its
// attempts at raised thread priority, its reply decoded into the host's
// buffer or the channel's staging area.
#pragma once

#include <cstdint>

#include "gates/gate_address.h"
#include "link/transfer_policy.h"
#include "morvane/morvane.h"

namespace morvane {

// FETCH telegram index of the transfer of block on the channel. A transfer of
// one telegram is decoded into block.data in layout; a larger one is staged
// in the ChannelArea's reply data. A reply the decoders refuse fails the
// telegram as a refusal: nothing reported good is left stale.
TelegramResult DoRead(ChannelArea& area, const TransferBlock& block, uint32_t telegram_index,
                      ValueLayout layout);

}  // namespace morvane
