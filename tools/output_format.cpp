#include "output_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "gate_values.h"

namespace morvane::tool {
namespace {

constexpr int kDumpWordsPerLine = 8;

const char* KindName(const GateAddress& gate) {
    switch (gate.class_letter) {
        case MORVANE_CLASS_FLOAT:
            return "float";
        case MORVANE_CLASS_LONG:
            return "long";
        case MORVANE_CLASS_STRING:
            return "string";
        default:
            return IsBit(gate) ? "bit" : "word";
    }
}

// The data word where value index starts: the parsed item index counts
// whole values of the gate's kind.
unsigned WordOf(const GateAddress& gate, size_t index) {
    return (ItemIndexOf(gate) + static_cast<unsigned>(index)) * WordsPerItem(gate);
}

std::string Hex4(uint16_t word) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(word));
    return text;
}

std::string RawText(const std::vector<uint16_t>& words, const char* separator) {
    std::string text;
    for (size_t i = 0; i < words.size(); ++i)
        text += (i == 0 ? "" : separator) + Hex4(words[i]);
    return text;
}

std::string Label(const Sample& s, size_t index) {
    return s.block ? s.address + "[" + std::to_string(index) + "]" : s.address;
}

// The value as a JSON value: a number, a string, or null for a float the
// PLC holds but JSON cannot (infinities).
std::string JsonValue(const DisplayOptions& display, const Sample& s, size_t index) {
    const std::vector<uint8_t>& buffer = *s.buffer;
    if (s.gate.class_letter == MORVANE_CLASS_STRING)
        return JsonString(StringValue(s.gate, s.block, index, buffer));
    if (s.gate.class_letter == MORVANE_CLASS_WORD && !IsBit(s.gate)) {
        const uint16_t word = RawWords(s.gate, s.block, index, buffer)[0];
        return std::to_string(display.signed_words ? static_cast<int16_t>(word) : word);
    }
    const std::string text = FormatValue(s.gate, s.block, index, buffer);
    return std::isfinite(std::strtod(text.c_str(), nullptr)) ? text : "null";
}

std::string JsonObject(const DisplayOptions& display, const Sample& s, size_t index, bool value) {
    std::string json = "{\"time\":" + JsonString(IsoUtc(s.time));
    if (s.number >= 0) json += ",\"sample\":" + std::to_string(s.number);
    json += ",\"address\":" + JsonString(s.address);
    if (s.block && value) json += ",\"index\":" + std::to_string(index);
    json += ",\"decoded\":{\"db\":" + std::to_string(DataBlockOf(s.gate)) +
            ",\"word\":" + std::to_string(WordOf(s.gate, index)) + ",\"kind\":\"" +
            KindName(s.gate) + "\"";
    if (IsBit(s.gate)) json += ",\"bit\":" + std::to_string(s.gate.bit_number);
    if (s.gate.class_letter == MORVANE_CLASS_STRING)
        json += ",\"length\":" + std::to_string(StringLengthOf(s.gate));
    json += "}";
    if (value) {
        json += ",\"value\":" + JsonValue(display, s, index);
        const std::vector<uint16_t> raw = RawWords(s.gate, s.block, index, *s.buffer);
        json += IsBit(s.gate) ? ",\"raw\":null" : ",\"raw\":[\"" + RawText(raw, "\",\"") + "\"]";
    }
    json += ",\"status\":" + JsonString(StatusName(s.outcome)) +
            ",\"attempts\":" + std::to_string(s.outcome.attempts);
    if (!s.outcome.reason.empty()) json += ",\"reason\":" + JsonString(s.outcome.reason);
    return json + "}";
}

std::string CsvRow(const DisplayOptions& display, const Sample& s, size_t index, bool value) {
    std::string row = IsoUtc(s.time) + "," + (s.number >= 0 ? std::to_string(s.number) : "") + "," +
                      CsvField(s.address) + "," + (s.block && value ? std::to_string(index) : "") +
                      "," + std::to_string(DataBlockOf(s.gate)) + "," +
                      std::to_string(WordOf(s.gate, index)) + "," + KindName(s.gate) + "," +
                      (IsBit(s.gate) ? std::to_string(s.gate.bit_number) : "") + ",";
    if (value) {
        std::string text =
            s.gate.class_letter == MORVANE_CLASS_STRING
                ? StringValue(s.gate, s.block, index, *s.buffer)
                : FormatValue(s.gate, s.block, index, *s.buffer, display.signed_words);
        const size_t hex = text.find(" (0x");  // words: the number alone
        if (s.gate.class_letter == MORVANE_CLASS_WORD && hex != std::string::npos) text.resize(hex);
        row += CsvField(text) + "," + RawText(RawWords(s.gate, s.block, index, *s.buffer), " ");
    } else {
        row += ",";
    }
    return row + "," + StatusName(s.outcome) + "," + std::to_string(s.outcome.attempts) + "," +
           CsvField(s.outcome.reason);
}

// Words with their numbers, eight to a line: "DB1 W0040  0007 1010 ...".
void PrintHexDump(const Sample& s) {
    std::vector<uint16_t> words;
    for (int32_t i = 0; i < s.count; ++i) {
        const std::vector<uint16_t> raw =
            RawWords(s.gate, s.block, static_cast<size_t>(i), *s.buffer);
        words.insert(words.end(), raw.begin(), raw.end());
    }
    const unsigned first = WordOf(s.gate, 0);
    for (size_t at = 0; at < words.size(); at += kDumpWordsPerLine) {
        std::printf("DB%u W%04u ", DataBlockOf(s.gate), first + static_cast<unsigned>(at));
        for (size_t i = at; i < words.size() && i < at + kDumpWordsPerLine; ++i)
            std::printf(" %s", Hex4(words[i]).c_str());
        std::printf("\n");
    }
}

void PrintText(const DisplayOptions& display, const Sample& s) {
    const std::string stamp = s.number >= 0 ? LocalClock(s.time, false) + "  " : "";
    if (s.outcome.kind != FailureKind::kNone) {
        std::printf("%s%s failed after %d attempt%s: %s%s%s\n", stamp.c_str(), s.address.c_str(),
                    s.outcome.attempts, s.outcome.attempts == 1 ? "" : "s",
                    Describe(s.outcome).c_str(), s.outcome.reason.empty() ? "" : " -- ",
                    s.outcome.reason.c_str());
        return;
    }
    const std::string retried =
        s.outcome.attempts > 1 ? "  (" + std::to_string(s.outcome.attempts) + " attempts)" : "";
    if (display.form == OutputForm::kHexDump && s.block && !IsBit(s.gate)) {
        if (!stamp.empty() || !retried.empty())
            std::printf("%s%s%s\n", stamp.c_str(), s.address.c_str(), retried.c_str());
        PrintHexDump(s);
        return;
    }
    for (int32_t i = 0; i < s.count; ++i)
        std::printf(
            "%s%s = %s%s\n", stamp.c_str(), Label(s, static_cast<size_t>(i)).c_str(),
            FormatValue(s.gate, s.block, static_cast<size_t>(i), *s.buffer, display.signed_words)
                .c_str(),
            retried.c_str());
}

}  // namespace

bool TakeDisplayOption(const std::string& option, DisplayOptions* display) {
    if (option == "--json") {
        display->form = OutputForm::kJson;
    } else if (option == "--csv") {
        display->form = OutputForm::kCsv;
    } else if (option == "--hex") {
        display->form = OutputForm::kHexDump;
    } else if (option == "--signed") {
        display->signed_words = true;
    } else {
        return false;
    }
    return true;
}

void PrintSample(const DisplayOptions& display, const Sample& s) {
    const bool ok = s.outcome.kind == FailureKind::kNone;
    const size_t values = ok ? static_cast<size_t>(s.count) : 1;
    switch (display.form) {
        case OutputForm::kJson:
            for (size_t i = 0; i < values; ++i)
                std::printf("%s\n", JsonObject(display, s, i, ok).c_str());
            break;
        case OutputForm::kCsv:
            static bool header_printed = false;
            if (!header_printed)
                std::printf(
                    "time,sample,address,index,db,word,kind,bit,value,raw,status,attempts,"
                    "reason\n");
            header_printed = true;
            for (size_t i = 0; i < values; ++i)
                std::printf("%s\n", CsvRow(display, s, i, ok).c_str());
            break;
        default:
            PrintText(display, s);
    }
    std::fflush(stdout);
}

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(byte));
            json += escape;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string field = "\"";
    for (const char c : text) {
        if (c == '"') field += '"';
        field += c;
    }
    return field + "\"";
}

}  // namespace morvane::tool
