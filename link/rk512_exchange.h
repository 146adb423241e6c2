// The attempt loop FETCH and SEND share: one framed telegram out, the PLC's
// reply block in, up to four attempts, at time-critical priority.
#pragma once

#include <cstdint>

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

// Where the FETCH and the SEND exchange part ways.
struct ExchangeRules {
    // FETCH drains the PLC after any missing telegram acknowledgement, SEND
    // only after a NAK.
    bool drain_after_any_header_refusal;
    // A follow-on telegram the PLC did not acknowledge or answer is a
    // refusal (1) for FETCH and a line failure (2) for SEND.
    bool follow_on_no_answer_is_refusal;
};

struct Exchange {
    const TevRequest* request;
    const ExchangeTexts* texts;
    ExchangeRules rules;
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

// Raises the thread's priority (saved in the ChannelArea), runs up to four
// attempts and restores the priority. Returns 0, 1 or 2. A follow-on
// telegram goes on the line at most once: it carries no address and the PLC
// applies it at its running position, so after any failure once it was
// written the caller must start the transfer over from telegram 0.
int RunExchange(const Exchange& exchange);

}  // namespace morvane
