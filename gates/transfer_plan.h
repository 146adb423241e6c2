// Sizing and sequencing shared by the read and write commands: bytes of a
// transfer, the refusals made before anything goes on the line, and the
// passes over the telegrams of a transfer.
#pragma once

#include <cstdint>

#include "gates/gate_address.h"
#include "link/transfer_policy.h"
#include "morvane/morvane.h"

namespace morvane {

// The RK512 word count is 16 bits wide; the byte count of a transfer is too.
constexpr int64_t kMaxTransferBytes = 65535;

// The request's TransferBlock when the request carries what a transfer
// needs (a channel area, a block, and a buffer when there are values);
// nullptr otherwise, which the commands answer with 2.
TransferBlock* UsableTransfer(TevRequest* request);

// Bytes one item takes on the line: 2 for 'I', the string length for 'S', 4 otherwise.
uint32_t ItemLineBytes(const GateAddress& gate);

// Count times item size, wide enough never to wrap.
int64_t TransferBytes(const TransferBlock& block);

// The first refusal of every transfer command, with 1 and a log line naming
// the command, before anything goes on the line: a gate record the parse
// commands never produce. Classes 'I' and 'S' are 16 bits wide, 'F' and 'L'
// 32; only 'I' carries a bit number (0 to 15, else -1); a string's length
// is even and 2 to 80; the start word (item index times words per item)
// fits the telegram header's byte.
bool GateRecordAcceptable(const char* command, const GateAddress& gate);

// The count refusal every transfer command makes with 1 and the line
// "ZIDIV> <command>() error, count %d out of range", when the transfer's
// bytes are negative or above max_bytes, or the count is below min_count.
bool TransferAcceptable(const char* command, const TransferBlock& block, int32_t min_count,
                        int64_t max_bytes);

// Logs "ZIDIV> <command>() error, count %d out of range" and answers 1.
int RefuseCount(const char* command, int32_t count);

// Runs the telegrams of a transfer, FETCH or SEND, in passes from its first
// telegram as the transfer policy allows, each repeat logged with
// repeat_text. A transfer of one telegram (a single read or write) takes
// DoRead or DoWrite directly.
TelegramResult RunTransfer(TransferKind kind, ChannelArea& area, const TransferBlock& block,
                           ValueLayout layout, const char* repeat_text);

}  // namespace morvane
