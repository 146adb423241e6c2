// SingleRead (5) and BlockRead (6): size the transfer, run one FETCH per
// telegram, repeat a broken sequence, copy staged values to the host.
#include "gates/read_commands.h"

#include <cstring>

#include "gates/gate_address.h"
#include "gates/log_texts.h"
#include "gates/reply_decoder.h"
#include "gates/transfer_plan.h"
#include "link/rk512_fetch.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {
namespace {

// A single read decodes into the host's one value slot only when the reply
// comes in one telegram; a larger one would report success with a stale slot.
constexpr int64_t kMaxSingleBytes = MORVANE_TELEGRAM_DATA_SIZE;
constexpr int64_t kStagingBytes = MORVANE_REPLY_DATA_SIZE;

// A new pass follows a failure at a later telegram, whatever its code; a
// failure of telegram 0 ends the read.
int RunReadSequence(TevRequest* request, uint32_t telegrams) {
    int code = 0;
    for (int pass = 1; pass <= kMaxPasses; ++pass) {
        uint32_t failed_at = 0;
        code = RunPass(request, telegrams, DoRead, &failed_at);
        if (code == 0) return 0;
        if (code == MORVANE_REQUEST_FAILED)
            err(MORVANE_LOG_TRACE, log_text::kReadSequenceRepeat, pass);
        if (failed_at == 0) return code;
    }
    return code;
}

void CopyStagedValues(const ChannelArea& area, const TransferBlock& block, uint32_t bytes) {
    if (block.gate.class_letter != MORVANE_CLASS_STRING) {
        std::memcpy(block.data, area.reply_data, bytes);
        return;
    }
    UnpackStringSlots(block.data, area.reply_data, StringLengthOf(block.gate),
                      static_cast<uint32_t>(block.count));
}

}  // namespace

int32_t SingleRead(TevRequest* request) {
    if (UsableTransfer(request) == nullptr) return MORVANE_LINE_FAILED;
    const TransferBlock& block = *TransferOf(request);
    if (!GateRecordAcceptable("SingleRead", block.gate) ||
        !TransferAcceptable("SingleRead", block, 1, kMaxSingleBytes))
        return MORVANE_REQUEST_FAILED;
    const int code = DoRead(request, 0);
    if (code != 0) err(MORVANE_LOG_TRACE, log_text::kSingleReadExit, code);
    return code;
}

int32_t BlockRead(TevRequest* request) {
    if (UsableTransfer(request) == nullptr) return MORVANE_LINE_FAILED;
    const TransferBlock& block = *TransferOf(request);
    if (!GateRecordAcceptable("BlockRead", block.gate)) return MORVANE_REQUEST_FAILED;
    const int64_t bytes = TransferBytes(block);
    // Operators see every read too large to stage, also one refused for its count.
    const bool too_large = bytes > kStagingBytes;
    if (too_large) err(MORVANE_LOG_OPERATOR, "%s", log_text::kReadTooLarge);
    if (!TransferAcceptable("BlockRead", block, 0, kMaxTransferBytes) || too_large)
        return MORVANE_REQUEST_FAILED;

    int code = 0;
    if (bytes <= MORVANE_TELEGRAM_DATA_SIZE) {
        code = DoRead(request, 0);  // decoded straight into the host's buffer
    } else {
        code = RunReadSequence(request, TelegramsFor(static_cast<uint32_t>(bytes)));
        if (code == 0)
            CopyStagedValues(*request->channel_area, block, static_cast<uint32_t>(bytes));
    }
    if (code != 0) err(MORVANE_LOG_TRACE, log_text::kBlockReadExit, code);
    return code;
}

}  // namespace morvane
