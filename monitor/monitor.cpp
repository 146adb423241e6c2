#include "monitor/monitor.h"

#include <ctime>

#include "monitor/text_format.h"
#include "monitor/transfer_lines.h"

namespace morvane::monitor {
std::string HexBytes(const std::vector<uint8_t>& bytes) {
    std::string text;
    AppendHexBytes(&text, bytes);
    return text;
}

namespace {

// The term a filter already holds in field, as the usage names it.
std::string TermOf(const Filter& filter, int Filter::*field) {
    if (field == &Filter::data_block) return "DB" + std::to_string(filter.data_block);
    if (field == &Filter::kind)
        return filter.kind == static_cast<int>(TransferKind::kFetch) ? "FETCH" : "SEND";
    return filter.failed ? "failed" : "ok";
}

}  // namespace

bool Filter::Add(const std::string& term, std::string* contradiction) {
    int Filter::*field = nullptr;
    int value = -1;
    if (term.size() > 2 && (term[0] == 'D' || term[0] == 'd') &&
        (term[1] == 'B' || term[1] == 'b')) {
        const std::string number = term.substr(2);
        if (number.size() > 3 || number.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(number) > 255)
            return false;
        field = &Filter::data_block;
        value = std::stoi(number);
    } else if (term == "FETCH" || term == "fetch" || term == "SEND" || term == "send") {
        field = &Filter::kind;
        value = static_cast<int>(term[0] == 'F' || term[0] == 'f' ? TransferKind::kFetch
                                                                  : TransferKind::kSend);
    } else if (term == "ok" || term == "failed") {
        field = &Filter::failed;
        value = term == "failed" ? 1 : 0;
    } else {
        return false;
    }
    if (this->*field >= 0 && this->*field != value) {
        const char* why = field == &Filter::data_block ? "a transfer is of one data block"
                          : field == &Filter::kind     ? "a transfer is a FETCH or a SEND"
                                                       : "a transfer is ok or failed";
        if (contradiction) *contradiction = TermOf(*this, field) + " and " + term + ": " + why;
        return false;
    }
    this->*field = value;
    return true;
}

bool Filter::Shows(const Transfer& t) const {
    // A side heard alone leaves some terms unknown: they match nothing.
    if (t.heard == Heard::kHost && failed >= 0) return false;
    if (t.heard == Heard::kPlc && (data_block >= 0 || kind >= 0)) return false;
    if (t.kind == TransferKind::kConnect && data_block >= 0) return false;
    return (data_block < 0 || data_block == t.data_block) &&
           (kind < 0 || kind == static_cast<int>(t.kind)) &&
           (failed < 0 || failed == (t.result != TransferResult::kOk ? 1 : 0));
}

Monitor::Monitor(const MonitorOptions& options, FILE* out)
    : options_(options),
      out_(out),
      decoder_(options.times, this, options.heard),
      assembler_([this](const Transfer& t) { OnTransfer(t); },
                 [this](const Anomaly& a) { OnAnomaly(a); }, options.heard) {
    summary_.Hear(options.heard);
}

void Monitor::Feed(const LineChar& c) {
    summary_.Char(c);
    assembler_.Tick(c.time_us, 3 * 2000000);
    decoder_.Feed(c);
}

void Monitor::Tick(uint64_t now_us) {
    summary_.Until(now_us);
    decoder_.Tick(now_us);
    assembler_.Tick(now_us, 3 * 2000000);
}

void Monitor::Flush() {
    decoder_.Flush();
    assembler_.Flush();
    // CSV without a transfer is still CSV: its header row.
    if (options_.form == OutputForm::kCsv && !csv_header_) {
        line_ = kTransferCsvHeader;
        csv_header_ = true;
        WriteLine();
    }
    std::fflush(out_);
}

void Monitor::AddTime(uint64_t time_us) {
    if (options_.start_utc_us == 0) {
        AppendDecimal(&line_, time_us / 1000000);
        line_.push_back('.');
        AppendPadded(&line_, time_us % 1000000, 6);
        return;
    }
    const uint64_t at = options_.start_utc_us + time_us;
    const time_t seconds = static_cast<time_t>(at / 1000000);
    if (seconds != shown_second_) {
        tm local{};
        localtime_r(&seconds, &local);
        std::snprintf(shown_clock_, sizeof shown_clock_, "%02d:%02d:%02d", local.tm_hour,
                      local.tm_min, local.tm_sec);
        shown_second_ = seconds;
    }
    line_.append(shown_clock_);
    line_.push_back('.');
    AppendPadded(&line_, at % 1000000, 6);
}

void Monitor::WriteLine() {
    std::fwrite(line_.data(), 1, line_.size(), out_);
}

void Monitor::OnLink(const LinkEvent& e) {
    accounted_ += e.chars;
    if (options_.verbose && options_.form != OutputForm::kCsv) Print(e);
    assembler_.Link(e);
}

void Monitor::Print(const LinkEvent& e) {
    std::string what = LinkKindName(e.kind);
    if (e.kind == LinkKind::kBlock) {
        what += ' ';
        AppendHexBytes(&what, e.payload);
        if (!e.complete) what += " (cut short)";
        if (e.has_bcc) what += e.bcc_ok ? " BCC ok" : " BCC failed";
    } else if (e.kind == LinkKind::kStray) {
        what += ' ';
        AppendHexBytes(&what, e.raw);
    }
    if (e.damaged) what += " (damaged)";
    line_.clear();
    if (options_.form == OutputForm::kJson) {
        line_ += "{\"event\":\"link\",\"time_us\":";
        AppendDecimal(&line_, e.time_us);
        line_ += ",\"from\":\"";
        line_ += SideName(e.from);
        line_ += "\",\"what\":";
        AppendJsonText(&line_, what);
        line_ += "}\n";
    } else {
        AddTime(e.time_us);
        line_ += "    ";
        line_ += SideName(e.from);
        line_ += " > ";
        line_ += SideName(Other(e.from));
        line_ += "  ";
        line_ += what;
        line_ += '\n';
    }
    WriteLine();
}

void Monitor::OnAnomaly(const Anomaly& a) {
    summary_.Add(a);
    if (options_.form == OutputForm::kCsv) return;
    line_.clear();
    if (options_.form == OutputForm::kJson) {
        line_ += "{\"event\":\"anomaly\",\"time_us\":";
        AppendDecimal(&line_, a.time_us);
        line_ += ",\"class\":\"";
        line_ += AnomalyName(a.what);
        line_ += "\",\"from\":\"";
        line_ += SideName(a.from);
        line_ += "\",\"detail\":";
        AppendJsonText(&line_, a.detail);
        line_ += "}\n";
    } else {
        AddTime(a.time_us);
        line_ += "  ! ";
        line_ += AnomalyName(a.what);
        line_ += ": ";
        line_ += a.detail;
        line_ += '\n';
    }
    WriteLine();
}

void Monitor::OnTransfer(const Transfer& t) {
    summary_.Add(t);
    if (options_.on_transfer) options_.on_transfer(t);
    if (!options_.filter.Shows(t)) return;
    line_.clear();
    if (options_.form == OutputForm::kCsv) {
        if (!csv_header_) line_ += kTransferCsvHeader;
        csv_header_ = true;
        AddTransferCsv(&line_, t);
    } else if (options_.form == OutputForm::kJson) {
        AddTransferJson(&line_, t);
    } else {
        AddTime(t.time_us);
        AddTransferText(&line_, t);
    }
    WriteLine();
}

void Monitor::PrintSummary(FILE* out) const {
    const LineDecoder::Procedure procedure = decoder_.procedure();
    const char* name = procedure == LineDecoder::Procedure::k3964R  ? "3964R"
                       : procedure == LineDecoder::Procedure::k3964 ? "3964"
                                                                    : "unknown";
    if (options_.form == OutputForm::kJson)
        summary_.PrintJson(out, options_.baud, options_.bits_per_char, name);
    else
        summary_.PrintText(out, options_.baud, options_.bits_per_char, name);
    std::fflush(out);
}

}  // namespace morvane::monitor
