#include "link/transfer_policy.h"

namespace morvane {

int32_t HostCode(TelegramResult result) {
    switch (result) {
        case TelegramResult::kDone:
            return 0;
        case TelegramResult::kRefused:
            return MORVANE_REQUEST_FAILED;
        case TelegramResult::kLineFailed:
            break;
    }
    return MORVANE_LINE_FAILED;
}

// A telegram that never went out is tried again, whatever its place. Once a
// follow-on telegram is on the line the PLC may have taken it even when its
// acknowledgement or reply was lost: it carries no address and the PLC
// applies it at its running position, so sent again a SEND would write its
// words over the next ones and a FETCH would return the next words in this
// one's place. Only the first telegram, which names its address, is sent again.
AttemptVerdict JudgeAttempt(TransferKind kind, uint32_t telegram_index, AttemptEnd end) {
    const bool follow_on = telegram_index != 0;
    switch (end) {
        case AttemptEnd::kDone:
            return {TelegramResult::kDone, false};
        case AttemptEnd::kNotSent:
            return {TelegramResult::kLineFailed, true};
        case AttemptEnd::kLineFailed:
            return {TelegramResult::kLineFailed, !follow_on};
        case AttemptEnd::kNoAnswer:
            // A FETCH follow-on left unanswered ends as a refusal, as hosts have always seen it.
            return {kind == TransferKind::kFetch && follow_on ? TelegramResult::kRefused
                                                              : TelegramResult::kLineFailed,
                    !follow_on};
        case AttemptEnd::kRefused:
            break;
    }
    return {TelegramResult::kRefused, !follow_on};
}

// A NAK can be the PLC's way to say it has a telegram of its own to send.
// FETCH takes the PLC's pending telegram after any missing acknowledgement.
bool DrainsAfterNoAcknowledgement(TransferKind kind, bool nak) {
    return kind == TransferKind::kFetch || nak;
}

// A read starts over after any failure at a later telegram and ends at a
// failure of its first one; it logs the repeat line for refusals only (also
// the last one). A write starts over after a refusal at any telegram, and
// after any failure at a follow-on telegram, which the exchange never sends
// twice; a line failure at its first telegram ends it.
PassVerdict JudgePass(TransferKind kind, TelegramResult result, uint32_t failed_at) {
    const bool refused = result == TelegramResult::kRefused;
    if (kind == TransferKind::kFetch) return {failed_at != 0, refused};
    const bool again = refused || failed_at != 0;
    return {again, again};
}

int32_t InternalTimeoutFor(int32_t external_timeout) {
    const int32_t quotient = external_timeout / 20;
    return quotient > 50 ? quotient : 50;
}

uint32_t ReadTimeoutMs(int32_t internal_timeout) {
    if (internal_timeout <= 0) return 0;
    const uint64_t ms = uint64_t{10} * static_cast<uint32_t>(internal_timeout);
    return ms > kLongestReadTimeoutMs ? kLongestReadTimeoutMs : static_cast<uint32_t>(ms);
}

}  // namespace morvane
