// The attempt loop FETCH and SEND share: one framed telegram out, the PLC's
// reply block in, at time-critical priority. What an attempt's end means is
// the transfer policy's to say.
#pragma once

#include <cstdint>

#include "link/transfer_policy.h"
#include "morvane/morvane.h"

namespace morvane {

// Log formats of one exchange; each takes the label and the attempt counter
// unless said otherwise.
struct ExchangeTexts {
    const char* synchronising;
    const char* input_waiting;
    const char* tx_header;
    const char* rx_header_ack;
    const char* rx_reply_sync;
    const char* tx_reply_sync_ack;
    const char* rx_reply;
    const char* tx_reply_ack;
    const char* quiet_line_resend;
    const char* short_reply;     // label, reply bytes, attempt
    const char* error_byte;      // error byte, label, attempt
    const char* wrong_length;    // label, received, expected, attempt
    const char* other_reply;     // label, the reply's first byte, attempt
    const char* set_priority;    // the call's result
    const char* reset_priority;  // no arguments
};

struct Exchange {
    ChannelArea* area;
    TransferKind kind;
    const ExchangeTexts* texts;
    uint32_t telegram_index;
    const char* label;
    const uint8_t* framed;  // the telegram as it goes on the line
    uint16_t framed_length;
    // The data bytes the reply must carry behind its header (0 for SEND),
    // and where the reply goes after un-doubling (kLinkBufferSize bytes).
    uint16_t expected_data_bytes;
    uint8_t* plain_reply;
    uint16_t* plain_reply_length;
};

// Raises the thread's priority (saved in the ChannelArea), runs the attempts
// the transfer policy allows and restores the priority.
TelegramResult RunExchange(const Exchange& exchange);

}  // namespace morvane
