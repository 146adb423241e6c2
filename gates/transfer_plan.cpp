#include "gates/transfer_plan.h"

#include "entry/log.h"
#include "gates/gate_address.h"
#include "link/rk512_exchange.h"

namespace morvane {
namespace {

constexpr uint8_t kShortestString = 2;
constexpr uint8_t kLongestString = 80;

}  // namespace

TransferBlock* UsableTransfer(TevRequest* request) {
    if (request->channel_area == nullptr) return nullptr;
    TransferBlock* block = TransferOf(request);
    if (block == nullptr || (block->count > 0 && block->data == nullptr)) return nullptr;
    return block;
}

uint32_t ItemBytes(const GateAddress& gate) {
    if (gate.class_letter == MORVANE_CLASS_WORD) return 2;
    if (gate.class_letter == MORVANE_CLASS_STRING) return StringLengthOf(gate);
    return 4;
}

int64_t TransferBytes(const TransferBlock& block) {
    return int64_t{block.count} * ItemBytes(block.gate);
}

uint32_t TelegramsFor(uint32_t bytes) {
    return bytes == 0 ? 1 : (bytes - 1) / kTelegramDataBytes + 1;
}

int RefuseCount(const char* command, int32_t count) {
    err(kLogTrace, "ZIDIV> %s() error, count %d out of range", command, count);
    return MORVANE_REQUEST_FAILED;
}

bool TransferAcceptable(const char* command, const TransferBlock& block, int32_t min_count,
                        int64_t max_bytes) {
    if (block.gate.class_letter == MORVANE_CLASS_STRING) {
        // A length the parser never gives would overrun the host's string slots.
        const uint8_t length = StringLengthOf(block.gate);
        if (length < kShortestString || length > kLongestString || length % 2 != 0) {
            err(kLogTrace, "ZIDIV> %s() error, string length %d out of range", command,
                static_cast<int>(length));
            return false;
        }
    }
    const int64_t bytes = TransferBytes(block);
    if (block.count < min_count || bytes < 0 || bytes > max_bytes) {
        RefuseCount(command, block.count);
        return false;
    }
    return true;
}

int RunPass(TevRequest* request, uint32_t telegrams, TelegramExchange exchange,
            uint32_t* failed_at) {
    for (uint32_t index = 0; index < telegrams; ++index) {
        const int code = exchange(request, index);
        if (code != 0) {
            *failed_at = index;
            return code;
        }
    }
    return 0;
}

}  // namespace morvane
