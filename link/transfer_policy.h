// The transfer policy in one place: how often a telegram is tried, when a
// transfer of several telegrams starts over, which failure a transfer ends
// with, and how long the driver waits for one byte from the PLC.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

// Attempts per telegram, and passes over the telegrams of a block transfer.
constexpr int kMaxAttempts = MORVANE_ATTEMPTS;
constexpr int kMaxPasses = MORVANE_PASSES;

// How the exchange of one telegram ended, as the commands see it.
enum class TelegramResult {
    kDone,
    kRefused,     // the PLC refused, or its answer cannot be taken
    kLineFailed,  // the line failed: no answer, a write that failed, a partner that babbles
};

// The host's return code of a result: 0, MORVANE_REQUEST_FAILED or MORVANE_LINE_FAILED.
int32_t HostCode(TelegramResult result);

enum class TransferKind { kFetch, kSend };

// How one attempt of an exchange ended.
enum class AttemptEnd {
    kDone,
    kNotSent,     // the line was not ready: the telegram never went out
    kLineFailed,  // a write failed, or the PLC did not fall silent after its reply
    kNoAnswer,    // the PLC did not acknowledge the telegram or did not answer it
    kRefused,     // the PLC answered, but refused or with a reply that cannot be taken
};

struct AttemptVerdict {
    TelegramResult result;
    bool try_again;  // another attempt may follow, while attempts are left
};

AttemptVerdict JudgeAttempt(TransferKind kind, uint32_t telegram_index, AttemptEnd end);

// After a telegram the PLC did not acknowledge (nak: it answered NAK): true
// when the PLC's pending telegram is drained before the next attempt.
bool DrainsAfterNoAcknowledgement(TransferKind kind, bool nak);

struct PassVerdict {
    bool again;   // run the transfer again from its first telegram
    bool logged;  // log the repeat line with the pass number
};

// A pass over the telegrams of a block transfer failed with result at telegram failed_at.
PassVerdict JudgePass(TransferKind kind, TelegramResult result, uint32_t failed_at);

// The channel's internal time-out (hundredths of a second) from the host's
// request time-out: a twentieth of it, truncated toward zero, and never below 50.
int32_t InternalTimeoutFor(int32_t external_timeout);

// The longest read time-out: an hour. Beyond it a host's time-out can only be
// a mistake (a value in milliseconds, a wrapped counter), and a call would
// keep the host's thread for days.
constexpr uint32_t kLongestReadTimeoutMs = 3600000;

// The port's read time-out, the longest the driver waits for any one byte:
// 10 ms per hundredth of the internal time-out, at most an hour, 0 for none.
uint32_t ReadTimeoutMs(int32_t internal_timeout);

}  // namespace morvane
