#include "transfer_report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <utility>

#include "gates/log_texts.h"
#include "sim/rk512_server.h"

namespace morvane::tool {
namespace {

namespace text = log_text;

enum class Role {
    kAttempt,         // a failed attempt of a telegram: label, ..., attempt number
    kPlcError,        // the same, with the PLC's error number first
    kReceiveDetail,   // why the reply that follows was not taken
    kSequenceRepeat,  // a block transfer starts over: its telegrams count again
    kExit,            // the command's result: no reason
    kRefusal,         // refused before the line
};

// A text of FETCH and its twin of SEND (or a text alone) and what it means.
struct Interpretation {
    const char* format;
    const char* twin;
    Role role;
    LineFault fault;
};

constexpr Interpretation kTexts[] = {
    {text::kReadSynchronising, text::kWriteSynchronising, Role::kAttempt,
     LineFault::kConnectionRefused},
    {text::kReadInputWaiting, text::kWriteInputWaiting, Role::kAttempt, LineFault::kConflict},
    {text::kReadQuietLine, text::kWriteQuietLine, Role::kAttempt, LineFault::kConflict},
    {text::kReadTxHeader, text::kWriteTxHeader, Role::kAttempt, LineFault::kPortGone},
    {text::kReadTxReplySyncAck, text::kWriteTxReplySyncAck, Role::kAttempt, LineFault::kPortGone},
    {text::kReadTxReplyAck, text::kWriteTxReplyAck, Role::kAttempt, LineFault::kPortGone},
    {text::kReadRxHeaderAck, text::kWriteRxHeaderAck, Role::kAttempt, LineFault::kNoAck},
    {text::kReadRxReplySync, text::kWriteRxReplySync, Role::kAttempt, LineFault::kNoReply},
    // Refined by the Receive() line before it; a reply that never ended.
    {text::kReadRxReply, text::kWriteRxReply, Role::kAttempt, LineFault::kNoReply},
    {text::kReadShortReply, text::kWriteShortReply, Role::kAttempt, LineFault::kWrongLength},
    {text::kReadWrongLength, text::kWriteWrongLength, Role::kAttempt, LineFault::kWrongLength},
    {text::kReadOtherReply, text::kWriteOtherReply, Role::kAttempt, LineFault::kWrongLength},
    {text::kReadErrorByte, text::kWriteErrorByte, Role::kPlcError, LineFault::kUnknown},
    {text::kNotResponding, nullptr, Role::kReceiveDetail, LineFault::kConnectionRefused},
    {text::kReceiveTimeout, nullptr, Role::kReceiveDetail, LineFault::kNoReply},
    {text::kReceiveNak, nullptr, Role::kReceiveDetail, LineFault::kConnectionRefused},
    {text::kReceiveTooLong, nullptr, Role::kReceiveDetail, LineFault::kWrongLength},
    {text::kReceiveNoBcc, nullptr, Role::kReceiveDetail, LineFault::kNoBlockCheck},
    {text::kReceiveBadBcc, nullptr, Role::kReceiveDetail, LineFault::kBadBlock},
    {text::kReceiveDamaged, nullptr, Role::kReceiveDetail, LineFault::kBadBlock},
    {text::kReadSequenceRepeat, text::kWriteSequenceRepeat, Role::kSequenceRepeat,
     LineFault::kUnknown},
    {text::kSingleReadExit, text::kSingleWriteExit, Role::kExit, LineFault::kUnknown},
    {text::kBlockReadExit, text::kBlockWriteExit, Role::kExit, LineFault::kUnknown},
    {text::kNotANumber, text::kCountOutOfRange, Role::kRefusal, LineFault::kUnknown},
    {text::kReadTooLarge, text::kStringsNotAsBlock, Role::kRefusal, LineFault::kUnknown},
    {text::kBitInABlock, nullptr, Role::kRefusal, LineFault::kUnknown},
};

bool Match(const char* format, const char* line, std::vector<std::string>* fields) {
    for (; *format != '\0'; ++format, ++line) {
        if (*format != '%') {
            if (*format != *line) return false;
            continue;
        }
        ++format;
        while (std::isdigit(static_cast<unsigned char>(*format)))
            ++format;  // a width: "%02X"
        const char conversion = *format;
        const size_t kept = fields != nullptr ? fields->size() : 0;
        const char* end = line;
        if (conversion == 's') {
            // As short as the rest of the line allows.
            for (; *end != '\0'; ++end)
                if (end > line && Match(format + 1, end, nullptr)) break;
        } else if (conversion == 'c') {
            end = *line != '\0' ? line + 1 : line;
        } else {
            if (conversion == 'd' && *end == '-') ++end;
            while (conversion == 'X' ? std::isxdigit(static_cast<unsigned char>(*end))
                                     : std::isdigit(static_cast<unsigned char>(*end)))
                ++end;
        }
        if (end == line || (end[-1] == '-' && conversion == 'd')) return false;
        if (fields != nullptr) fields->emplace_back(line, end);
        if (!Match(format + 1, end, fields)) {
            if (fields != nullptr) fields->resize(kept);
            return false;
        }
        return true;
    }
    return *line == '\0';
}

struct FaultWords {
    const char* status;
    const char* what;
    const char* hint;
};

// In the order of LineFault.
constexpr FaultWords kFaultWords[] = {
    {"", "no valid exchange",
     "nothing valid came back; check the protocol (3964 or 3964R: --protocol), the baud rate "
     "(--baud) and the cable"},
    {"nak", "no answer to the connection request, or a NAK",
     "the PLC took no telegram: is it on and the cable in, or is it busy or set to another "
     "procedure or frame? check --protocol, --baud and --frame; --trace shows what came "
     "instead of its DLE"},
    {"no-ack", "no acknowledgement of the telegram",
     "check the protocol (3964 or 3964R: --protocol), the baud rate (--baud), the frame "
     "(--frame) and the cable"},
    {"no-reply", "no reply after the acknowledgement",
     "the PLC took the telegram and answered nothing in time: is its RK512 partner running? a "
     "longer --timeout may help; or the protocol differs (--protocol 3964 or 3964R)"},
    {"block-check", "the reply failed its block check, or arrived with damaged characters",
     "characters are spoiled on the line: check --baud and --frame against the PLC's, the cable "
     "and its screen; --trace marks the damaged ones"},
    {"no-block-check", "the reply came without its block check character",
     "the protocol may be wrong: the PLC seems to speak 3964, not 3964R (--protocol 3964)"},
    {"length", "a reply of the wrong length, or of another telegram",
     "characters were lost or added on the line, an earlier reply came late, or the partner is "
     "no RK512 PLC; --trace shows the reply"},
    {"conflict", "a conflict: the PLC sent when it should have listened",
     "the PLC sends on its own or babbles: check its configuration, and that no other master "
     "shares the line"},
    {"port-gone", "the port vanished",
     "the device is gone or takes no more characters (an adapter pulled?): plug it in again; a "
     "poll opens it again by itself"},
};

const FaultWords& WordsOf(LineFault fault) {
    return kFaultWords[static_cast<int>(fault)];
}

}  // namespace

bool MatchesFormat(const char* format, const std::string& line, std::vector<std::string>* fields) {
    if (fields != nullptr) fields->clear();
    return Match(format, line.c_str(), fields);
}

std::span<const char* const> InterpretedTexts() {
    static const std::vector<const char*> formats = [] {
        std::vector<const char*> all;
        for (const Interpretation& known : kTexts) {
            all.push_back(known.format);
            if (known.twin != nullptr) all.push_back(known.twin);
        }
        return all;
    }();
    return formats;
}

TransferOutcome JudgeTransfer(int32_t code, const std::vector<std::string>& lines) {
    TransferOutcome outcome;
    std::set<std::pair<std::string, int>> failed;  // telegram, attempt
    int failed_attempts = 0;
    bool malformed = false;
    bool every_unacknowledged = true;
    LineFault detail = LineFault::kUnknown;  // of the reply that failed next
    for (const std::string& line : lines) {
        std::vector<std::string> fields;
        const auto known = std::ranges::find_if(kTexts, [&](const Interpretation& text) {
            return MatchesFormat(text.format, line, &fields) ||
                   (text.twin != nullptr && MatchesFormat(text.twin, line, &fields));
        });
        const Role role = known != std::end(kTexts) ? known->role : Role::kRefusal;
        if (role != Role::kExit && role != Role::kSequenceRepeat) outcome.reason = line;
        if (known == std::end(kTexts)) continue;
        if (role == Role::kSequenceRepeat) {
            failed_attempts += static_cast<int>(failed.size());
            failed.clear();
        } else if (role == Role::kReceiveDetail) {
            detail = known->fault;
        } else if (role == Role::kPlcError) {
            outcome.plc_error = static_cast<int>(std::strtol(fields[0].c_str(), nullptr, 16));
            failed.insert({fields[1], std::atoi(fields[2].c_str())});
            every_unacknowledged = false;
        } else if (role == Role::kAttempt) {
            const LineFault fault = known->fault;
            const bool refined =
                fault == LineFault::kNoReply && detail != LineFault::kUnknown &&
                (known->format == text::kReadRxReply || known->format == text::kWriteRxReply);
            outcome.fault = refined ? detail : fault;
            malformed = malformed || outcome.fault == LineFault::kWrongLength;
            every_unacknowledged = every_unacknowledged && fault == LineFault::kNoAck;
            failed.insert({fields[0], std::atoi(fields.back().c_str())});
            detail = LineFault::kUnknown;
        }
    }
    failed_attempts += static_cast<int>(failed.size());
    if (code == 0) return {.attempts = failed_attempts + 1};
    outcome.attempts = failed_attempts > 0 ? failed_attempts : 1;
    outcome.every_attempt_unacknowledged = every_unacknowledged && failed_attempts > 1;
    // A failure that put nothing on the line is the driver's refusal.
    outcome.kind = code == 1 && outcome.plc_error >= 0 && !malformed ? FailureKind::kPlcRefused
                   : code == 1 && failed_attempts == 0               ? FailureKind::kRefused
                                                                     : FailureKind::kLineFailed;
    if (outcome.kind != FailureKind::kLineFailed) outcome.fault = LineFault::kUnknown;
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
    if (outcome.kind == FailureKind::kPlcRefused)
        return "PLC refused: " + PlcErrorText(outcome.plc_error);
    if (outcome.kind == FailureKind::kLineFailed)
        return std::string("line failure: ") + WordsOf(outcome.fault).what;
    return outcome.kind == FailureKind::kNone ? "done" : "address or value refused by the driver";
}

std::string Hint(const TransferOutcome& outcome) {
    if (outcome.kind != FailureKind::kLineFailed) return "";
    if (outcome.every_attempt_unacknowledged && outcome.fault == LineFault::kNoAck)
        return "hint: no telegram was acknowledged on any attempt: the protocol may be wrong (a "
               "3964R block check the PLC does not wait for, or one it misses: --protocol), or "
               "the baud rate or frame (--baud, --frame)";
    return std::string("hint: ") + WordsOf(outcome.fault).hint;
}

std::string StatusName(const TransferOutcome& outcome) {
    if (outcome.kind == FailureKind::kNone) return "ok";
    if (outcome.kind == FailureKind::kRefused) return "refused";
    char name[24];
    std::snprintf(name, sizeof name, "plc-error-0x%02X", static_cast<unsigned>(outcome.plc_error));
    const std::string fault = WordsOf(outcome.fault).status;
    if (outcome.kind == FailureKind::kPlcRefused) return name;
    return fault.empty() ? "line-failure" : "line-failure-" + fault;
}

ExitCode ExitCodeOf(const TransferOutcome& outcome) {
    constexpr ExitCode kByKind[] = {kExitOk, kExitRefused, kExitPlcRefused, kExitLineFailed};
    return kByKind[static_cast<int>(outcome.kind)];
}

namespace {

// The data word where value index starts: the parsed item index counts
// whole values of the gate's kind.
unsigned WordOf(const GateAddress& gate, size_t index) {
    return (ItemIndexOf(gate) + static_cast<unsigned>(index)) * WordsPerItem(gate);
}

std::string RawText(const Value& value, const char* separator) {
    std::string text;
    char word[8];
    for (const uint16_t raw : value.raw) {
        std::snprintf(word, sizeof word, "%04X", static_cast<unsigned>(raw));
        text += (text.empty() ? "" : separator) + std::string(word);
    }
    return text;
}

// The value as a JSON value: a number, a string, or null for a float the
// PLC holds but JSON cannot (its largest magnitude may come back infinite).
std::string JsonValue(const Value& value, bool signed_words) {
    if (value.kind == Value::Kind::kString) return JsonString(value.text);
    const bool finite =
        value.kind != Value::Kind::kFloat || (value.bits & 0x7F800000u) != 0x7F800000u;
    return finite ? ValueNumber(value, signed_words, true) : "null";
}

std::string JsonObject(const DisplayOptions& display, const Sample& s, size_t index) {
    const bool ok = s.outcome.kind == FailureKind::kNone;
    std::string json = "{\"time\":" + JsonString(IsoUtc(s.time));
    if (s.number >= 0) json += ",\"sample\":" + std::to_string(s.number);
    json += ",\"address\":" + JsonString(s.address);
    if (s.block && ok) json += ",\"index\":" + std::to_string(index);
    json += ",\"decoded\":{\"db\":" + std::to_string(DataBlockOf(s.gate)) +
            ",\"word\":" + std::to_string(WordOf(s.gate, index)) + ",\"kind\":\"" +
            KindName(s.gate) + "\"";
    if (IsBit(s.gate)) json += ",\"bit\":" + std::to_string(s.gate.bit_number);
    if (s.gate.class_letter == MORVANE_CLASS_STRING)
        json += ",\"length\":" + std::to_string(StringLengthOf(s.gate));
    json += "}";
    if (ok) {
        const Value& value = s.values[index];
        json += ",\"value\":" + JsonValue(value, display.signed_words);
        json +=
            value.raw.empty() ? ",\"raw\":null" : ",\"raw\":[\"" + RawText(value, "\",\"") + "\"]";
    }
    json += ",\"status\":" + JsonString(StatusName(s.outcome)) +
            ",\"attempts\":" + std::to_string(s.outcome.attempts);
    if (!s.outcome.reason.empty()) json += ",\"reason\":" + JsonString(s.outcome.reason);
    return json + "}";
}

std::string CsvRow(const DisplayOptions& display, const Sample& s, size_t index) {
    const bool ok = s.outcome.kind == FailureKind::kNone;
    std::string row = IsoUtc(s.time) + "," + (s.number >= 0 ? std::to_string(s.number) : "") + "," +
                      CsvField(s.address) + "," + (s.block && ok ? std::to_string(index) : "") +
                      "," + std::to_string(DataBlockOf(s.gate)) + "," +
                      std::to_string(WordOf(s.gate, index)) + "," + KindName(s.gate) + "," +
                      (IsBit(s.gate) ? std::to_string(s.gate.bit_number) : "") + ",";
    row += ok ? CsvField(ValueNumber(s.values[index], display.signed_words, true)) + "," +
                    RawText(s.values[index], " ")
              : ",";
    return row + "," + StatusName(s.outcome) + "," + std::to_string(s.outcome.attempts) + "," +
           CsvField(s.outcome.reason);
}

void PrintText(const DisplayOptions& display, const Sample& s) {
    const std::string stamp = s.number >= 0 ? LocalClock(s.time, false) + "  " : "";
    const int attempts = s.outcome.attempts;
    if (s.outcome.kind != FailureKind::kNone) {
        std::printf("%s%s failed after %d attempt%s: %s%s%s\n", stamp.c_str(), s.address.c_str(),
                    attempts, attempts == 1 ? "" : "s", Describe(s.outcome).c_str(),
                    s.outcome.reason.empty() ? "" : " -- ", s.outcome.reason.c_str());
        return;
    }
    const std::string retried = attempts > 1 ? "  (" + std::to_string(attempts) + " attempts)" : "";
    if (display.form == OutputForm::kHexDump) {
        if (!stamp.empty() || !retried.empty())
            std::printf("%s%s%s\n", stamp.c_str(), s.address.c_str(), retried.c_str());
        // Words with their numbers, eight to a line: "DB1 W0040  0007 1010 ...".
        for (size_t at = 0; at < s.values.size(); at += 8) {
            std::printf("DB%u W%04u ", DataBlockOf(s.gate),
                        WordOf(s.gate, 0) + static_cast<unsigned>(at));
            for (size_t i = at; i < s.values.size() && i < at + 8; ++i)
                std::printf(" %s", RawText(s.values[i], " ").c_str());
            std::printf("\n");
        }
        return;
    }
    for (size_t i = 0; i < s.values.size(); ++i) {
        const std::string label = s.block ? s.address + "[" + std::to_string(i) + "]" : s.address;
        std::printf("%s%s = %s%s\n", stamp.c_str(), label.c_str(),
                    ValueText(s.values[i], display.signed_words).c_str(), retried.c_str());
    }
}

}  // namespace

void PrintSample(const DisplayOptions& display, const Sample& s) {
    const size_t rows = s.outcome.kind == FailureKind::kNone ? s.values.size() : 1;
    if (display.form == OutputForm::kJson) {
        for (size_t i = 0; i < rows; ++i)
            std::printf("%s\n", JsonObject(display, s, i).c_str());
    } else if (display.form == OutputForm::kCsv) {
        static bool header_printed = false;
        if (!std::exchange(header_printed, true))
            std::printf(
                "time,sample,address,index,db,word,kind,bit,value,raw,status,attempts,reason\n");
        for (size_t i = 0; i < rows; ++i)
            std::printf("%s\n", CsvRow(display, s, i).c_str());
    } else {
        PrintText(display, s);
    }
    std::fflush(stdout);
}

std::string JsonString(const std::string& text) {
    return "\"" + Escaped(text, "\\u%04X", 0xFF) + "\"";
}

std::string CsvField(const std::string& text) {
    const std::string utf8 = Latin1ToUtf8(text);
    if (utf8.find_first_of(",\"\r\n") == std::string::npos) return utf8;
    std::string field = "\"";
    for (const char c : utf8) {
        if (c == '"') field += '"';
        field += c;
    }
    return field + "\"";
}

void PollStatistics::Add(const TransferOutcome& outcome, std::chrono::duration<double> time) {
    const double ms = time.count() * 1000;
    min_ms_ = transfers_ == 0 || ms < min_ms_ ? ms : min_ms_;
    max_ms_ = ms > max_ms_ ? ms : max_ms_;
    total_ms_ += ms;
    ++transfers_;
    retries_ += outcome.attempts - 1;
    if (outcome.kind == FailureKind::kNone) {
        ++good_;
        return;
    }
    ++failed_[StatusName(outcome)];
    exit_code_ = ExitCodeOf(outcome);
}

std::string PollStatistics::Line() const {
    std::string kinds;
    for (const auto& [name, count] : failed_)
        kinds += (kinds.empty() ? " (" : ", ") + name + " " + std::to_string(count);
    if (!kinds.empty()) kinds += ")";
    char times[96] = "";
    if (transfers_ > 0)
        std::snprintf(times, sizeof times, ", time min/mean/max %.1f/%.1f/%.1f ms", min_ms_,
                      total_ms_ / static_cast<double>(transfers_), max_ms_);
    const std::string left_out =
        left_out_ == 0
            ? ""
            : ", " + std::to_string(left_out_) + " samples left out (transfers outlasted --every)";
    return "poll: " + std::to_string(transfers_) + " transfers, " + std::to_string(good_) +
           " good, " + std::to_string(transfers_ - good_) + " failed" + kinds + ", " +
           std::to_string(retries_) + " retries" + times + left_out;
}

}  // namespace morvane::tool
