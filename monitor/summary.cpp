#include "monitor/summary.h"

#include <algorithm>
#include <cinttypes>

namespace morvane::monitor {
namespace {

constexpr TransferKind kKinds[] = {TransferKind::kFetch, TransferKind::kSend,
                                   TransferKind::kConnect};
constexpr TransferResult kResults[] = {TransferResult::kOk, TransferResult::kPlcError,
                                       TransferResult::kBadLength, TransferResult::kLineFailed};

}  // namespace

void Summary::Add(const Transfer& transfer) {
    if (transfer.heard == Heard::kHost) {
        ++requests_[static_cast<int>(transfer.kind)];
        return;
    }
    if (transfer.heard == Heard::kPlc) {
        ++replies_[static_cast<int>(transfer.result)];
        return;
    }
    ++transfers_[static_cast<int>(transfer.kind)][static_cast<int>(transfer.result)];
    retries_ += static_cast<uint64_t>(transfer.retries);
    if (transfer.result != TransferResult::kOk) return;
    ResponseTimes& t = times_[static_cast<int>(transfer.kind)];
    const uint64_t took = transfer.end_us - transfer.time_us;
    t.min_us = t.count == 0 || took < t.min_us ? took : t.min_us;
    t.max_us = took > t.max_us ? took : t.max_us;
    t.total_us += took;
    ++t.count;
}

// Transfers whose telegram never went out are listed only once there was one.
bool Summary::Unseen(TransferKind kind) const {
    return kind == TransferKind::kConnect && transfers(kind, TransferResult::kLineFailed) == 0;
}

uint64_t Summary::transfers() const {
    uint64_t all = 0;
    for (const auto& kind : transfers_)
        for (uint64_t count : kind)
            all += count;
    return all;
}

double Summary::BusyShare(Side side, uint32_t baud, uint32_t bits_per_char) const {
    if (last_us_ == 0 || baud == 0) return 0.0;
    const double busy_us = static_cast<double>(chars(side)) * bits_per_char * 1e6 / baud;
    return busy_us / static_cast<double>(last_us_);
}

void Summary::PrintText(FILE* out, uint32_t baud, uint32_t bits_per_char,
                        const char* procedure) const {
    if (heard_ != Heard::kBoth) {
        PrintOneSideText(out, procedure);
        return PrintAnomaliesText(out, baud, bits_per_char);
    }
    std::fprintf(out, "summary: %" PRIu64 " transfers, %" PRIu64 " retries\n", transfers(),
                 retries_);
    for (TransferKind kind : kKinds) {
        if (Unseen(kind)) continue;
        std::fprintf(out, "  %-5s", TransferKindName(kind));
        for (TransferResult result : kResults)
            std::fprintf(out, "  %s %" PRIu64, TransferResultName(result), transfers(kind, result));
        const ResponseTimes& t = times(kind);
        if (t.count != 0)
            std::fprintf(out, "  response ms min %.1f mean %.1f max %.1f", t.min_us / 1000.0,
                         t.total_us / 1000.0 / static_cast<double>(t.count), t.max_us / 1000.0);
        std::fputc('\n', out);
    }
    PrintAnomaliesText(out, baud, bits_per_char);
}

void Summary::PrintOneSideText(FILE* out, const char* procedure) const {
    std::fprintf(out, "summary: the %s's side only heard, procedure %s\n",
                 SideName(HeardSide(heard_)), procedure);
    if (heard_ == Heard::kHost) {
        std::fprintf(out, "  %" PRIu64 " requests:", requests_[0] + requests_[1]);
        for (TransferKind kind : kKinds)
            if (!Unseen(kind))
                std::fprintf(out, "  %s %" PRIu64, TransferKindName(kind),
                             requests_[static_cast<int>(kind)]);
        std::fputs("  (no replies heard)\n", out);
        return;
    }
    uint64_t all = 0;
    for (uint64_t count : replies_)
        all += count;
    std::fprintf(out, "  %" PRIu64 " replies:", all);
    for (TransferResult result : kResults)
        std::fprintf(out, "  %s %" PRIu64, TransferResultName(result),
                     replies_[static_cast<int>(result)]);
    std::fputs("  (no requests heard)\n", out);
}

void Summary::PrintAnomaliesText(FILE* out, uint32_t baud, uint32_t bits_per_char) const {
    std::fprintf(out, "  anomalies:");
    for (int i = 0; i < static_cast<int>(AnomalyClass::kCount); ++i)
        std::fprintf(out, " %s %" PRIu64, AnomalyName(static_cast<AnomalyClass>(i)), anomalies_[i]);
    const double host = BusyShare(Side::kHost, baud, bits_per_char);
    const double plc = BusyShare(Side::kPlc, baud, bits_per_char);
    std::fprintf(
        out,
        "\n  busy: host > PLC %.1f %%, PLC > host %.1f %% (%" PRIu64 " and %" PRIu64
        " characters)%s\n",
        100 * std::min(host, 1.0), 100 * std::min(plc, 1.0), chars(Side::kHost), chars(Side::kPlc),
        host > 1.0 || plc > 1.0 ? "; more than the line carries at this rate: is --baud right?"
                                : "");
}

void Summary::PrintJson(FILE* out, uint32_t baud, uint32_t bits_per_char,
                        const char* procedure) const {
    if (heard_ != Heard::kBoth) {
        PrintOneSideJson(out, procedure);
        return PrintAnomaliesJson(out, baud, bits_per_char);
    }
    std::fprintf(out, "{\"event\":\"summary\",\"transfers\":%" PRIu64 ",\"retries\":%" PRIu64,
                 transfers(), retries_);
    for (TransferKind kind : kKinds) {
        if (Unseen(kind)) continue;
        std::fprintf(out, ",\"%s\":{", TransferKindName(kind));
        for (TransferResult result : kResults)
            std::fprintf(out, "\"%s\":%" PRIu64 ",", TransferResultName(result),
                         transfers(kind, result));
        const ResponseTimes& t = times(kind);
        if (t.count == 0) {  // no response to time: none, not 0 ms
            std::fputs("\"min_ms\":null,\"mean_ms\":null,\"max_ms\":null}", out);
            continue;
        }
        std::fprintf(out, "\"min_ms\":%.3f,\"mean_ms\":%.3f,\"max_ms\":%.3f}", t.min_us / 1000.0,
                     t.total_us / 1000.0 / static_cast<double>(t.count), t.max_us / 1000.0);
    }
    PrintAnomaliesJson(out, baud, bits_per_char);
}

void Summary::PrintOneSideJson(FILE* out, const char* procedure) const {
    std::fprintf(out, "{\"event\":\"summary\",\"heard\":\"%s\",\"procedure\":\"%s\"",
                 SideName(HeardSide(heard_)), procedure);
    if (heard_ == Heard::kHost) {
        std::fprintf(out, ",\"requests\":{");
        for (TransferKind kind : kKinds)
            if (!Unseen(kind))
                std::fprintf(out, "%s\"%s\":%" PRIu64, kind == kKinds[0] ? "" : ",",
                             TransferKindName(kind), requests_[static_cast<int>(kind)]);
    } else {
        std::fprintf(out, ",\"replies\":{");
        for (TransferResult result : kResults)
            std::fprintf(out, "%s\"%s\":%" PRIu64, result == kResults[0] ? "" : ",",
                         TransferResultName(result), replies_[static_cast<int>(result)]);
    }
    std::fputc('}', out);
}

void Summary::PrintAnomaliesJson(FILE* out, uint32_t baud, uint32_t bits_per_char) const {
    std::fprintf(out, ",\"anomalies\":{");
    for (int i = 0; i < static_cast<int>(AnomalyClass::kCount); ++i)
        std::fprintf(out, "%s\"%s\":%" PRIu64, i ? "," : "",
                     AnomalyName(static_cast<AnomalyClass>(i)), anomalies_[i]);
    std::fprintf(out, "},\"busy_host\":%.4f,\"busy_plc\":%.4f}\n",
                 std::min(BusyShare(Side::kHost, baud, bits_per_char), 1.0),
                 std::min(BusyShare(Side::kPlc, baud, bits_per_char), 1.0));
}

}  // namespace morvane::monitor
