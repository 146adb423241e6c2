// SingleWrite (7) and BlockWrite (10): size the transfer, refuse what the
// PLC cannot take, run one SEND per telegram in passes.
#include "gates/write_commands.h"

#include <cstring>

#include "gates/gate_address.h"
#include "gates/log_texts.h"
#include "gates/plc_float.h"
#include "gates/transfer_plan.h"
#include "link/rk512_send.h"
#include "morvane/morvane.h"
#include "morvane/ostrel.h"

namespace morvane {
namespace {

// A single write travels in one telegram: the exchange sends no follow-on.
constexpr int64_t kMaxSingleBytes = MORVANE_TELEGRAM_DATA_SIZE;

// The PLC float has no NaN; every value is checked before the first telegram leaves, so a
// NaN deep in a block cannot leave the PLC with half a block written.
bool FloatsEncodable(const char* command, const TransferBlock& block) {
    if (block.gate.class_letter != MORVANE_CLASS_FLOAT) return true;
    const uint8_t* values = static_cast<const uint8_t*>(block.data);
    for (int32_t i = 0; i < block.count; ++i) {
        uint32_t bits;
        std::memcpy(&bits, values + 4 * i, sizeof bits);
        if (!PlcFloatCanEncode(bits)) {
            err(MORVANE_LOG_TRACE, log_text::kNotANumber, command, i);
            return false;
        }
    }
    return true;
}

}  // namespace

int32_t SingleWrite(TevRequest* request) {
    if (UsableTransfer(request) == nullptr) return MORVANE_LINE_FAILED;
    const TransferBlock& block = *TransferOf(request);
    if (!GateRecordAcceptable("SingleWrite", block.gate)) return MORVANE_REQUEST_FAILED;
    if (!TransferAcceptable("SingleWrite", block, 1, kMaxSingleBytes))
        return MORVANE_REQUEST_FAILED;
    // A string or a bit is one value: more would send words the host never gave.
    const bool one_value_only =
        block.gate.class_letter == MORVANE_CLASS_STRING || block.gate.bit_number != -1;
    if (one_value_only && block.count != 1) return RefuseCount("SingleWrite", block.count);
    if (!FloatsEncodable("SingleWrite", block)) return MORVANE_REQUEST_FAILED;

    const int32_t code =
        HostCode(DoWrite(*request->channel_area, block, 0, ValueLayout::kValueSlot));
    if (code != 0) err(MORVANE_LOG_TRACE, log_text::kSingleWriteExit, code);
    return code;
}

int32_t BlockWrite(TevRequest* request) {
    if (UsableTransfer(request) == nullptr) return MORVANE_LINE_FAILED;
    const TransferBlock& block = *TransferOf(request);
    if (!GateRecordAcceptable("BlockWrite", block.gate)) return MORVANE_REQUEST_FAILED;
    if (block.gate.class_letter == MORVANE_CLASS_STRING) {
        err(MORVANE_LOG_TRACE, "%s", log_text::kStringsNotAsBlock);
        return MORVANE_REQUEST_FAILED;
    }
    if (!TransferAcceptable("BlockWrite", block, 0, kMaxTransferBytes))
        return MORVANE_REQUEST_FAILED;
    // A bit write reads a single value slot, which a block buffer is not.
    if (block.gate.width == 16 && block.gate.bit_number != -1) {
        err(MORVANE_LOG_TRACE, log_text::kBitInABlock, block.gate.bit_number);
        return MORVANE_REQUEST_FAILED;
    }
    if (!FloatsEncodable("BlockWrite", block)) return MORVANE_REQUEST_FAILED;

    const int32_t code = HostCode(RunTransfer(TransferKind::kSend, *request->channel_area, block,
                                              ValueLayout::kBlock, log_text::kWriteSequenceRepeat));
    if (code != 0) err(MORVANE_LOG_TRACE, log_text::kBlockWriteExit, code);
    return code;
}

}  // namespace morvane
