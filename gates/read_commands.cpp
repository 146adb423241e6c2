// SingleRead (5) and BlockRead (6): size the transfer, run one FETCH per
// telegram in passes, copy staged values to the host.
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
    const int32_t code =
        HostCode(DoRead(*request->channel_area, block, 0, ValueLayout::kValueSlot));
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

    ChannelArea& area = *request->channel_area;
    int32_t code = 0;
    if (bytes <= MORVANE_TELEGRAM_DATA_SIZE) {
        // decoded straight into the host's buffer
        code = HostCode(DoRead(area, block, 0, ValueLayout::kBlock));
    } else {
        code = HostCode(RunTransfer(TransferKind::kFetch, area, block, ValueLayout::kBlock,
                                    log_text::kReadSequenceRepeat));
        if (code == 0) CopyStagedValues(area, block, static_cast<uint32_t>(bytes));
    }
    if (code != 0) err(MORVANE_LOG_TRACE, log_text::kBlockReadExit, code);
    return code;
}

}  // namespace morvane
