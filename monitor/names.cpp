// The words the monitor prints for what it found.
#include "monitor/events.h"

namespace morvane::monitor {

const char* SideName(Side side) {
    return side == Side::kHost ? "host" : "PLC";
}

const char* LinkKindName(LinkKind kind) {
    switch (kind) {
        case LinkKind::kRequest:
            return "STX";
        case LinkKind::kAccept:
            return "DLE (accept)";
        case LinkKind::kAck:
            return "DLE (ack)";
        case LinkKind::kNak:
            return "NAK";
        case LinkKind::kBlock:
            return "block";
        case LinkKind::kStray:
            return "stray";
        case LinkKind::kAnswer:
            return "DLE (accept or ack)";
    }
    return "?";
}

const char* AnomalyName(AnomalyClass anomaly) {
    static const char* const kNames[] = {"bcc-failed",      "nak",      "no-ack",  "char-gap",
                                         "conflict",        "retry",    "damaged", "stray",
                                         "length-mismatch", "plc-error"};
    const int at = static_cast<int>(anomaly);
    return at >= 0 && at < static_cast<int>(AnomalyClass::kCount) ? kNames[at] : "?";
}

const char* TransferKindName(TransferKind kind) {
    return kind == TransferKind::kFetch  ? "FETCH"
           : kind == TransferKind::kSend ? "SEND"
                                         : "CONNECT";
}

const char* TransferResultName(TransferResult result) {
    switch (result) {
        case TransferResult::kOk:
            return "ok";
        case TransferResult::kPlcError:
            return "plc-error";
        case TransferResult::kBadLength:
            return "bad-length";
        case TransferResult::kLineFailed:
            return "line-failed";
    }
    return "?";
}

// The error numbers a PLC's RK512 module answers with, as commonly met.
const char* PlcErrorMeaning(uint8_t error) {
    switch (error) {
        case 0x00:
            return "no error";
        case 0x0A:
            return "receiver not ready or busy";
        case 0x0C:
            return "data do not match the word count";
        case 0x10:
            return "follow-on telegram out of order";
        case 0x14:
            return "data block missing or not accessible";
        case 0x16:
            return "unknown command or data type";
        case 0x2A:
            return "PLC not in run or stopped";
        case 0x32:
            return "telegram header malformed";
        case 0x34:
            return "start word plus count beyond the data block";
        case 0x36:
            return "coordination flag in use";
    }
    return nullptr;
}

}  // namespace morvane::monitor
