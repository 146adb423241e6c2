#include "output_format.h"

#include <cstdio>

namespace morvane::tool {
namespace {

constexpr int kDumpWordsPerLine = 8;

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
    return finite ? ValueNumber(value, signed_words) : "null";
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
    if (ok)
        row += CsvField(ValueNumber(s.values[index], display.signed_words)) + "," +
               RawText(s.values[index], " ");
    else
        row += ",";
    return row + "," + StatusName(s.outcome) + "," + std::to_string(s.outcome.attempts) + "," +
           CsvField(s.outcome.reason);
}

// Words with their numbers, eight to a line: "DB1 W0040  0007 1010 ...".
void PrintHexDump(const Sample& s) {
    const unsigned first = WordOf(s.gate, 0);
    for (size_t at = 0; at < s.values.size(); at += kDumpWordsPerLine) {
        std::printf("DB%u W%04u ", DataBlockOf(s.gate), first + static_cast<unsigned>(at));
        for (size_t i = at; i < s.values.size() && i < at + kDumpWordsPerLine; ++i)
            std::printf(" %s", RawText(s.values[i], " ").c_str());
        std::printf("\n");
    }
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
        PrintHexDump(s);
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
        if (!header_printed)
            std::printf(
                "time,sample,address,index,db,word,kind,bit,value,raw,status,attempts,reason\n");
        header_printed = true;
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
    return "poll: " + std::to_string(transfers_) + " transfers, " + std::to_string(good_) +
           " good, " + std::to_string(transfers_ - good_) + " failed" + kinds + ", " +
           std::to_string(retries_) + " retries" + times;
}

}  // namespace morvane::tool
