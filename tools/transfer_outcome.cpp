#include "transfer_outcome.h"

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <set>
#include <utility>

#include "sim/rk512_server.h"

namespace morvane::tool {
namespace {

// The driver logs one line per failed attempt of a telegram exchange,
// naming the telegram and the attempt: "ZIDIV> DoRead() error RX fetch
// header ack, retry 2". Repeats of a whole follow-on sequence start the
// counting again.
const std::regex kAttemptLine(
    R"(^ZIDIV> Do(Read|Write)\(\) .*(fetch|follow-on \d+).*retry (\d+)$)");
const std::regex kPlcError(R"(recv err 0x([0-9A-Fa-f]{2}))");
const std::regex kMalformed(R"(short reply|ill\. length)");
const std::regex kSequenceRepeat(R"(whole follow-on retry)");
const std::regex kExitLine(R"(^ZIDIV> exit \w+\(\) , ret val)");

}  // namespace

TransferOutcome JudgeTransfer(int32_t code, const std::vector<std::string>& lines) {
    TransferOutcome outcome;
    std::set<std::pair<std::string, int>> failed;  // telegram, attempt
    int failed_attempts = 0;
    bool malformed = false;
    for (const std::string& line : lines) {
        std::smatch match;
        if (std::regex_search(line, kSequenceRepeat)) {
            failed_attempts += static_cast<int>(failed.size());
            failed.clear();
        }
        if (std::regex_search(line, match, kAttemptLine))
            failed.insert({match[2].str(), std::atoi(match[3].str().c_str())});
        if (std::regex_search(line, match, kPlcError))
            outcome.plc_error = static_cast<int>(std::strtol(match[1].str().c_str(), nullptr, 16));
        if (std::regex_search(line, kMalformed)) malformed = true;
        if (!std::regex_search(line, kExitLine) && !std::regex_search(line, kSequenceRepeat))
            outcome.reason = line;
    }
    failed_attempts += static_cast<int>(failed.size());
    if (code == 0) {
        outcome.attempts = failed_attempts + 1;
        outcome.reason.clear();
        return outcome;
    }
    outcome.attempts = failed_attempts > 0 ? failed_attempts : 1;
    if (code == 1 && outcome.plc_error >= 0 && !malformed) {
        outcome.kind = FailureKind::kPlcRefused;
    } else if (code == 1 && failed_attempts == 0) {
        outcome.kind = FailureKind::kRefused;  // nothing went on the line
    } else {
        outcome.kind = FailureKind::kLineFailed;
    }
    return outcome;
}

std::string PlcErrorText(int error) {
    const char* meaning = plcsim::Rk512ErrorMeaning(static_cast<uint8_t>(error));
    char text[120];
    std::snprintf(text, sizeof text, "error 0x%02X: %s", static_cast<unsigned>(error),
                  meaning != nullptr ? meaning : "a number this tool does not know");
    return text;
}

std::string Describe(const TransferOutcome& outcome) {
    switch (outcome.kind) {
        case FailureKind::kNone:
            return "done";
        case FailureKind::kRefused:
            return "address or value refused by the driver";
        case FailureKind::kPlcRefused:
            return "PLC refused: " + PlcErrorText(outcome.plc_error);
        case FailureKind::kLineFailed:
            return "line failure: no valid exchange";
    }
    return "";
}

std::string StatusName(const TransferOutcome& outcome) {
    switch (outcome.kind) {
        case FailureKind::kNone:
            return "ok";
        case FailureKind::kRefused:
            return "refused";
        case FailureKind::kPlcRefused: {
            char name[24];
            std::snprintf(name, sizeof name, "plc-error-0x%02X",
                          static_cast<unsigned>(outcome.plc_error));
            return name;
        }
        case FailureKind::kLineFailed:
            return "line-failure";
    }
    return "";
}

ExitCode ExitCodeOf(const TransferOutcome& outcome) {
    switch (outcome.kind) {
        case FailureKind::kNone:
            return kExitOk;
        case FailureKind::kRefused:
            return kExitRefused;
        case FailureKind::kPlcRefused:
            return kExitPlcRefused;
        case FailureKind::kLineFailed:
            return kExitLineFailed;
    }
    return kExitToolFailed;
}

}  // namespace morvane::tool
