#include "monitor/monitor.h"

#include <cinttypes>
#include <ctime>

namespace morvane::monitor {
namespace {

std::string Words(const std::vector<uint16_t>& data, const char* separator, size_t most) {
    std::string text;
    char word[8];
    for (size_t i = 0; i < data.size() && i < most; ++i) {
        std::snprintf(word, sizeof word, "0x%04X", data[i]);
        text += (i ? separator : "") + std::string(word);
    }
    if (data.size() > most) text += separator + std::string("...");
    return text;
}

std::string JsonText(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    std::string text;
    char hex[4];
    for (uint8_t byte : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", byte);
        text += (text.empty() ? "" : " ") + std::string(hex);
    }
    return text;
}

bool Filter::Add(const std::string& term) {
    if (term.size() > 2 && (term[0] == 'D' || term[0] == 'd') &&
        (term[1] == 'B' || term[1] == 'b')) {
        const std::string number = term.substr(2);
        if (number.size() > 3 || number.find_first_not_of("0123456789") != std::string::npos)
            return false;
        data_block = std::stoi(number);
        return data_block <= 255;
    }
    if (term == "FETCH" || term == "fetch")
        kind = static_cast<int>(TransferKind::kFetch);
    else if (term == "SEND" || term == "send")
        kind = static_cast<int>(TransferKind::kSend);
    else if (term == "ok")
        failed = 0;
    else if (term == "failed")
        failed = 1;
    else
        return false;
    return true;
}

bool Filter::Shows(const Transfer& t) const {
    return (data_block < 0 || data_block == t.data_block) &&
           (kind < 0 || kind == static_cast<int>(t.kind)) &&
           (failed < 0 || failed == (t.result != TransferResult::kOk ? 1 : 0));
}

Monitor::Monitor(const MonitorOptions& options, FILE* out)
    : options_(options),
      out_(out),
      decoder_(options.times, this),
      assembler_([this](const Transfer& t) { OnTransfer(t); },
                 [this](const Anomaly& a) { OnAnomaly(a); }) {}

void Monitor::Feed(const LineChar& c) {
    summary_.Char(c);
    assembler_.Tick(c.time_us, 3 * 2000000);
    decoder_.Feed(c);
}

void Monitor::Tick(uint64_t now_us) {
    decoder_.Tick(now_us);
    assembler_.Tick(now_us, 3 * 2000000);
}

void Monitor::Flush() {
    decoder_.Flush();
    assembler_.Flush();
    std::fflush(out_);
}

std::string Monitor::Time(uint64_t time_us) const {
    char text[40];
    if (options_.start_utc_us == 0) {
        std::snprintf(text, sizeof text, "%" PRIu64 ".%06" PRIu64, time_us / 1000000,
                      time_us % 1000000);
        return text;
    }
    const uint64_t at = options_.start_utc_us + time_us;
    const time_t seconds = static_cast<time_t>(at / 1000000);
    tm local{};
    localtime_r(&seconds, &local);
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06" PRIu64, local.tm_hour, local.tm_min,
                  local.tm_sec, at % 1000000);
    return text;
}

void Monitor::OnLink(const LinkEvent& e) {
    accounted_ += e.chars;
    if (options_.verbose && options_.form != OutputForm::kCsv) Print(e);
    assembler_.Link(e);
}

void Monitor::Print(const LinkEvent& e) {
    std::string what = LinkKindName(e.kind);
    if (e.kind == LinkKind::kBlock) {
        what += " " + HexBytes(e.payload);
        if (!e.complete) what += " (cut short)";
        if (e.has_bcc) what += e.bcc_ok ? " BCC ok" : " BCC failed";
    } else if (e.kind == LinkKind::kStray) {
        what += " " + HexBytes(e.raw);
    }
    if (e.damaged) what += " (damaged)";
    if (options_.form == OutputForm::kJson) {
        std::fprintf(out_,
                     "{\"event\":\"link\",\"time_us\":%" PRIu64 ",\"from\":\"%s\",\"what\":%s}\n",
                     e.time_us, SideName(e.from), JsonText(what).c_str());
        return;
    }
    std::fprintf(out_, "%s    %s > %s  %s\n", Time(e.time_us).c_str(), SideName(e.from),
                 SideName(Other(e.from)), what.c_str());
}

void Monitor::OnAnomaly(const Anomaly& a) {
    summary_.Add(a);
    if (options_.form == OutputForm::kCsv) return;
    if (options_.form == OutputForm::kJson) {
        std::fprintf(out_,
                     "{\"event\":\"anomaly\",\"time_us\":%" PRIu64
                     ",\"class\":\"%s\",\"from\":\"%s\",\"detail\":%s}\n",
                     a.time_us, AnomalyName(a.what), SideName(a.from), JsonText(a.detail).c_str());
        return;
    }
    std::fprintf(out_, "%s  ! %s: %s\n", Time(a.time_us).c_str(), AnomalyName(a.what),
                 a.detail.c_str());
}

void Monitor::OnTransfer(const Transfer& t) {
    summary_.Add(t);
    if (options_.on_transfer) options_.on_transfer(t);
    if (!options_.filter.Shows(t)) return;
    const double ms = (t.end_us - t.time_us) / 1000.0;
    if (options_.form == OutputForm::kCsv) {
        if (!csv_header_)
            std::fprintf(out_,
                         "time_us,kind,db,start,words,result,error,attempts,retries,ms,data\n");
        csv_header_ = true;
        std::fprintf(out_, "%" PRIu64 ",%s,%u,%u,%u,%s,%u,%d,%d,%.3f,%s\n", t.time_us,
                     TransferKindName(t.kind), t.data_block, t.start_word, t.words,
                     TransferResultName(t.result), t.error_byte, t.attempts, t.retries, ms,
                     Words(t.data, " ", SIZE_MAX).c_str());
        return;
    }
    if (options_.form == OutputForm::kJson) {
        std::string data;
        for (uint16_t word : t.data)
            data += (data.empty() ? "" : ",") + std::to_string(word);
        std::fprintf(out_,
                     "{\"event\":\"transfer\",\"time_us\":%" PRIu64
                     ",\"kind\":\"%s\",\"db\":%u,\"start\":%u,\"words\":%u,\"data\":[%s],"
                     "\"result\":\"%s\",\"error\":%u,\"attempts\":%d,\"retries\":%d,\"ms\":%.3f}\n",
                     t.time_us, TransferKindName(t.kind), t.data_block, t.start_word, t.words,
                     data.c_str(), TransferResultName(t.result), t.error_byte, t.attempts,
                     t.retries, ms);
        return;
    }
    std::string line = Time(t.time_us) + "  " + TransferKindName(t.kind) + " DB" +
                       std::to_string(t.data_block) + " W" + std::to_string(t.start_word) + " x" +
                       std::to_string(t.words);
    if (!t.data.empty())
        line += (t.kind == TransferKind::kFetch ? " -> " : " <- ") + Words(t.data, " ", 8);
    line += "  " + std::string(TransferResultName(t.result));
    if (t.result == TransferResult::kPlcError) {
        char error[8];
        std::snprintf(error, sizeof error, " 0x%02X", t.error_byte);
        const char* meaning = PlcErrorMeaning(t.error_byte);
        line += error + std::string(meaning ? std::string(" ") + meaning : "");
    } else if (t.result != TransferResult::kOk) {
        line += " (" + t.failure + ")";
    }
    if (t.retries != 0) line += "  " + std::to_string(t.retries) + " retries";
    char took[32];
    std::snprintf(took, sizeof took, "  %.1f ms", ms);
    std::fprintf(out_, "%s%s\n", line.c_str(), took);
}

void Monitor::PrintSummary(FILE* out) const {
    if (options_.form == OutputForm::kJson)
        summary_.PrintJson(out, options_.baud, options_.bits_per_char);
    else
        summary_.PrintText(out, options_.baud, options_.bits_per_char);
    std::fflush(out);
}

}  // namespace morvane::monitor
