// Sizing and sequencing shared by the read and write commands: bytes of a
// transfer, the refusals made before anything goes on the line, and one pass
// over the telegrams of a transfer.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

constexpr int kMaxPasses = 3;
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

// Telegrams of a transfer of bytes: at least one, 128 data bytes each.
uint32_t TelegramsFor(uint32_t bytes);

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

using TelegramExchange = int (*)(TevRequest* request, uint32_t telegram_index);

// Runs the exchange for telegrams 0, 1, ... until one fails. Returns 0 when
// all passed, else the failing code with its index in *failed_at.
int RunPass(TevRequest* request, uint32_t telegrams, TelegramExchange exchange,
            uint32_t* failed_at);

}  // namespace morvane
