// What the monitor reads off a line, from the single character up to the
// whole transfer: the characters as captured, the procedure's handshakes
// and blocks, the telegrams joined to transfers, and the anomalies named on
// the way. Every character of the line ends up in exactly one link event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane::monitor {

// The two ends of the line: the host (the requester) and the PLC.
enum class Side : uint8_t { kHost = 0, kPlc = 1 };
inline Side Other(Side side) {
    return side == Side::kHost ? Side::kPlc : Side::kHost;
}
const char* SideName(Side side);  // "host", "PLC"

// Which directions of the line are heard: both, or one side alone (a single
// tap on one receive line). One side alone shows its own characters only:
// nothing that needs the other side's answer to judge is read into them.
enum class Heard : uint8_t { kBoth, kHost, kPlc };
inline Side HeardSide(Heard heard) {
    return heard == Heard::kPlc ? Side::kPlc : Side::kHost;
}

// One character as it crossed the line: time in microseconds since the
// capture began, who sent it, and whether the receiving UART flagged it.
struct LineChar {
    uint64_t time_us = 0;
    Side from = Side::kHost;
    uint8_t byte = 0;
    bool damaged = false;
};

enum class LinkKind {
    kRequest,  // STX: the sender asks for the line
    kAccept,   // DLE answering a request
    kAck,      // DLE answering a block
    kNak,      // NAK, whatever it answered
    kBlock,    // a block, DLE doubling removed
    kStray,    // characters outside any block or handshake
    kAnswer,   // DLE of one side heard alone: an accept or an ack, unknown which
};
const char* LinkKindName(LinkKind kind);

struct LinkEvent {
    LinkKind kind = LinkKind::kStray;
    Side from = Side::kHost;
    uint64_t time_us = 0;  // its first character
    uint64_t end_us = 0;   // its last character
    size_t chars = 0;      // characters of the line it accounts for
    bool damaged = false;  // one of them was flagged by the UART
    // Blocks only.
    std::vector<uint8_t> payload;  // DLE doubling removed, without DLE ETX and BCC
    bool complete = false;         // ended with DLE ETX
    bool has_bcc = false;          // a block check character followed (3964R)
    bool bcc_ok = false;
    bool acknowledged = false;  // the receiver answered DLE
    bool refused = false;       // the receiver answered NAK
    std::vector<uint8_t> raw;   // stray characters
    // NAKs only: what the NAK answered.
    enum class Answered { kNothing, kRequest, kOwnRequest, kBlock } answered = Answered::kNothing;
    // Blocks, and a NAK giving up its own request: the first connection
    // request that led to it.
    uint64_t request_us = 0;
};

enum class AnomalyClass {
    kBccFailed,
    kNak,
    kNoAck,
    kCharGap,
    kConflict,
    kRetry,
    kDamaged,
    kStray,
    kLengthMismatch,
    kPlcError,
    kCount
};
const char* AnomalyName(AnomalyClass anomaly);  // "bcc-failed", "nak", ...

struct Anomaly {
    AnomalyClass what = AnomalyClass::kStray;
    uint64_t time_us = 0;
    Side from = Side::kHost;
    std::string detail;  // what it answered, which telegram, ...
};

// kConnect: a transfer whose telegram never went out, every connection
// request of the host refused or unanswered; of unknown kind and address.
enum class TransferKind { kFetch, kSend, kConnect };
enum class TransferResult {
    kOk,
    kPlcError,    // the PLC answered with an error number
    kBadLength,   // the reply's data do not fit the request
    kLineFailed,  // no valid reply: no answer, NAK, block check, time-out
};
const char* TransferKindName(TransferKind kind);        // "FETCH", "SEND", "CONNECT"
const char* TransferResultName(TransferResult result);  // "ok", "plc-error", ...

struct Transfer {
    uint64_t time_us = 0;  // the first connection request of its first attempt
    uint64_t end_us = 0;   // the last character of its last reply
    TransferKind kind = TransferKind::kFetch;
    uint8_t data_block = 0;
    uint8_t start_word = 0;
    uint16_t words = 0;
    std::vector<uint16_t> data;  // words fetched or sent so far
    int telegrams = 0;           // telegrams of the transfer that got through
    int attempts = 0;            // first telegrams sent, repeats included
    int retries = 0;             // telegrams repeated and restarts
    int sent = 0;                // telegram blocks the host sent for it, all told
    TransferResult result = TransferResult::kLineFailed;
    uint8_t error_byte = 0;
    std::string failure;  // the last attempt's reason when not ok
    // Both: the whole transfer. Host: a request alone, its result unknown.
    // PLC: a reply alone, its request (kind, data block, words) unknown.
    Heard heard = Heard::kBoth;
};

// The PLC's error numbers in words; null for an unknown number.
const char* PlcErrorMeaning(uint8_t error);

}  // namespace morvane::monitor
