#include "monitor/transfer_lines.h"

#include <cstdint>

#include "monitor/text_format.h"

namespace morvane::monitor {
namespace {

void AddWords(std::string* line, const std::vector<uint16_t>& data, size_t most) {
    for (size_t i = 0; i < data.size() && i < most; ++i) {
        if (i != 0) line->push_back(' ');
        AppendWord(line, data[i]);
    }
    if (data.size() > most) line->append(" ...");
}

void AddResultText(std::string* line, const Transfer& t) {
    *line += TransferResultName(t.result);
    if (t.result == TransferResult::kPlcError) {
        *line += " 0x";
        AppendHexByte(line, t.error_byte);
        if (const char* meaning = PlcErrorMeaning(t.error_byte)) {
            *line += ' ';
            *line += meaning;
        }
    } else if (t.result != TransferResult::kOk) {
        *line += " (";
        *line += t.failure;
        *line += ')';
    }
}

}  // namespace

void AddTransferText(std::string* line, const Transfer& t) {
    if (t.heard == Heard::kPlc) {
        *line += "  reply";
    } else if (t.kind == TransferKind::kConnect) {
        *line += "  CONNECT";
    } else {
        *line += "  ";
        *line += TransferKindName(t.kind);
        *line += " DB";
        AppendDecimal(line, t.data_block);
        *line += " W";
        AppendDecimal(line, t.start_word);
        *line += " x";
        AppendDecimal(line, t.words);
    }
    if (!t.data.empty()) {
        *line += t.kind == TransferKind::kFetch ? " -> " : " <- ";
        AddWords(line, t.data, 8);
    }
    *line += "  ";
    if (t.heard == Heard::kHost) {
        *line += "request only, no reply heard\n";
        return;
    }
    AddResultText(line, t);
    if (t.heard == Heard::kPlc) {
        *line += '\n';
        return;
    }
    if (t.retries != 0) {
        *line += "  ";
        AppendSigned(line, t.retries);
        *line += " retries";
    }
    *line += "  ";
    AppendMillis(line, t.end_us - t.time_us, 1);
    *line += " ms\n";
}

void AddTransferJson(std::string* line, const Transfer& t) {
    *line += "{\"event\":\"transfer\",\"time_us\":";
    AppendDecimal(line, t.time_us);
    if (t.heard != Heard::kBoth) {
        *line += ",\"heard\":\"";
        *line += SideName(HeardSide(t.heard));
        *line += '"';
    }
    if (t.kind == TransferKind::kConnect) {
        *line += ",\"kind\":\"CONNECT\"";  // no telegram: no address
    } else if (t.heard != Heard::kPlc) {
        *line += ",\"kind\":\"";
        *line += TransferKindName(t.kind);
        *line += "\",\"db\":";
        AppendDecimal(line, t.data_block);
        *line += ",\"start\":";
        AppendDecimal(line, t.start_word);
        *line += ",\"words\":";
        AppendDecimal(line, t.words);
    }
    *line += ",\"data\":[";
    for (size_t i = 0; i < t.data.size(); ++i) {
        if (i != 0) *line += ',';
        AppendDecimal(line, t.data[i]);
    }
    *line += ']';
    if (t.heard != Heard::kHost) {
        *line += ",\"result\":\"";
        *line += TransferResultName(t.result);
        *line += "\",\"error\":";
        AppendDecimal(line, t.error_byte);
    }
    if (t.heard == Heard::kBoth) {
        *line += ",\"attempts\":";
        AppendSigned(line, t.attempts);
        *line += ",\"retries\":";
        AppendSigned(line, t.retries);
        *line += ",\"ms\":";
        AppendMillis(line, t.end_us - t.time_us, 3);
    }
    *line += "}\n";
}

// A side heard alone leaves the cells it cannot know empty.
void AddTransferCsv(std::string* line, const Transfer& t) {
    AppendDecimal(line, t.time_us);
    *line += ',';
    if (t.kind == TransferKind::kConnect) {
        *line += "CONNECT,,,";
    } else if (t.heard != Heard::kPlc) {
        *line += TransferKindName(t.kind);
        for (uint64_t number :
             {uint64_t{t.data_block}, uint64_t{t.start_word}, uint64_t{t.words}}) {
            *line += ',';
            AppendDecimal(line, number);
        }
    } else {
        *line += ",,,";
    }
    *line += ',';
    if (t.heard != Heard::kHost) {
        *line += TransferResultName(t.result);
        *line += ',';
        AppendDecimal(line, t.error_byte);
    } else {
        *line += ',';
    }
    *line += ',';
    if (t.heard == Heard::kBoth) {
        AppendSigned(line, t.attempts);
        *line += ',';
        AppendSigned(line, t.retries);
        *line += ',';
        AppendMillis(line, t.end_us - t.time_us, 3);
    } else {
        *line += ",,";
    }
    *line += ',';
    AddWords(line, t.data, SIZE_MAX);
    *line += '\n';
}

}  // namespace morvane::monitor
