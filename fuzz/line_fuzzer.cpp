// Arbitrary partner bytes into the link procedure and the RK512 exchanges,
// through TevMain: ColdStart in 3964 or 3964R, then a few transfers of every
// kind (line_transfer.h). The partner is the virtual line (virtual_line.h),
// the waits run on its clock.
//
// Input: a setup byte (bit 0: 3964R; bits 1-2: the time-out; bits 3-4: one
// less than the number of transfers; bit 5: raw gate records), six bytes
// per transfer, then the partner's script.
//
// Checked after every call: the result is 0, 1 or 2; a record the parser
// could not make is refused with 1 before anything goes on the line; a
// failed read left the host's buffer as it was; a write changed none of its
// values; every block the driver wrote is a control character or a
// well-formed telegram of this transfer, no follow-on twice, a SEND's data
// the host's values of its place; the thread's priority is back; the call's
// virtual time is within the bound its limits give. AddressSanitizer and
// UndefinedBehaviorSanitizer catch the rest: every host buffer has exactly
// the size its layout gives.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/call_bound.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/line_check.h"
#include "fuzz/line_transfer.h"
#include "fuzz/scratch_directory.h"
#include "fuzz/virtual_line.h"
#include "ostrel/ostrel_control.h"

namespace {

using morvane::fuzz::TheLine;
using morvane::fuzz::Transfer;

constexpr int32_t kChannel3964R = 1;
constexpr int32_t kChannel3964 = 2;
constexpr int32_t kExternalTimeouts[] = {1000, 2000, 6000, 200};

struct Longest {
    uint64_t ms = 0;
    uint64_t bound_ms = 0;
} g_longest;

void DropLogLine(int level, const char* line, void*) {
    FUZZ_CHECK(level == MORVANE_LOG_TRACE || level == MORVANE_LOG_OPERATOR);
    FUZZ_CHECK(std::strncmp(line, "ZIDIV> ", 7) == 0 || std::strncmp(line, "TEVYY> ", 7) == 0);
}

void ReportLongest() {
    std::fprintf(stderr, "line_fuzzer: longest transfer %llu ms of virtual time, bound %llu ms\n",
                 static_cast<unsigned long long>(g_longest.ms),
                 static_cast<unsigned long long>(g_longest.bound_ms));
}

bool SameBytes(const uint8_t* host, const std::vector<uint8_t>& before) {
    return before.empty() || std::memcmp(host, before.data(), before.size()) == 0;
}

void CheckTime(const Transfer& t, uint64_t took) {
    const uint64_t bound =
        morvane::fuzz::CallBoundMs(t.command, t.gate, t.count, TheLine().ReadTimeoutMs());
    if (took > bound) {
        std::fprintf(stderr, "command %u took %llu ms of virtual time, bound %llu ms\n", t.command,
                     static_cast<unsigned long long>(took), static_cast<unsigned long long>(bound));
        std::abort();
    }
    if (took > g_longest.ms) g_longest = {took, bound};
}

void CheckLine(bool is_3964r, const Transfer& t, const uint8_t* values) {
    const auto rules = morvane::fuzz::LineRules(is_3964r, t, values);
    morvane::fuzz::WrittenLineCheck check(rules);
    const auto& line = TheLine();
    for (const auto& written : line.WrittenBlocks()) {
        const char* wrong = check.Next(line.Written().data() + written.offset, written.length);
        if (wrong != nullptr) {
            std::fprintf(stderr, "driver wrote a bad block (%s) in command %u\n", wrong, t.command);
            std::abort();
        }
    }
}

void RunTransfer(ChannelArea* area, bool is_3964r, const Transfer& t) {
    const size_t size = morvane::fuzz::HostBufferSize(t.command, t.gate, t.count);
    std::vector<uint8_t> before(size);
    morvane::fuzz::FillValues(before, t.value_seed);
    // Exactly the layout's size on the heap: AddressSanitizer sees every stray byte.
    std::unique_ptr<uint8_t[]> host(new uint8_t[size]);
    if (size > 0) std::memcpy(host.get(), before.data(), size);

    TransferBlock block{};
    block.gate = t.gate;
    block.count = t.count;
    block.data = host.get();
    TevRequest request{area, t.command, is_3964r ? kChannel3964R : kChannel3964, 0, &block};

    auto& line = TheLine();
    line.ForgetWritten();
    const uint64_t started = line.NowMs();
    const int32_t result = TevMain(&request);
    const uint64_t took = line.NowMs() - started;

    static const bool trace = std::getenv("LINE_FUZZER_TRACE") != nullptr;  // to check a seed
    if (trace)
        std::fprintf(stderr, "command %u count %d: result %d in %llu ms\n", t.command, t.count,
                     result, static_cast<unsigned long long>(took));
    FUZZ_CHECK(result == 0 || result == 1 || result == 2);
    FUZZ_CHECK(morvane::fuzz::CurrentPriority() == 0);
    CheckTime(t, took);
    if (!morvane::fuzz::ParserCouldMake(t.gate)) {
        FUZZ_CHECK(result == 1 && line.Written().empty() && SameBytes(host.get(), before));
        return;
    }
    const bool read = morvane::fuzz::IsRead(t.command);
    if (read && result != 0) FUZZ_CHECK(SameBytes(host.get(), before));
    if (!read && !SameBytes(host.get(), before)) {
        morvane::fuzz::ApplyTinyFloatRule(t.gate, t.count, before);
        FUZZ_CHECK(SameBytes(host.get(), before));
    }
    CheckLine(is_3964r, t, host.get());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    OstrelSetLogSink(DropLogLine, nullptr);
    // The channel files the two procedures start from.
    morvane::fuzz::MakeScratchDirectory("morvane-line-fuzz");
    morvane::fuzz::WriteScratchFile("ZIDIV01.INT", "PROTOCOL=3964R\n");
    morvane::fuzz::WriteScratchFile("ZIDIV02.INT", "PROTOCOL=3964\n");
    std::atexit(ReportLongest);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using morvane::fuzz::kTransferBytes;
    if (size < 1) return 0;
    const uint8_t setup = data[0];
    const bool is_3964r = (setup & 1) != 0;
    const bool raw_records = (setup & 0x20) != 0;
    const size_t transfers = (setup >> 3 & 3) + 1;
    const size_t script_at = std::min(size, 1 + transfers * kTransferBytes);
    TheLine().Reset(data + script_at, size - script_at);

    auto area = std::make_unique<ChannelArea>();
    StartBlock start{};
    std::memcpy(start.port_name, "ttyFUZZ", 8);
    start.open_now = 1;
    start.external_timeout = kExternalTimeouts[setup >> 1 & 3];
    start.line = LineParameters{9600, 8, 0, 2};
    TevRequest cold{area.get(), MORVANE_CMD_COLD_START, is_3964r ? kChannel3964R : kChannel3964, 0,
                    &start};
    {
        const morvane::fuzz::InScratchDirectory in_scratch;
        FUZZ_CHECK(TevMain(&cold) == 0);
    }
    FUZZ_CHECK(area->port_settings.is_3964r == (is_3964r ? 1 : 0));

    for (size_t at = 1; at + kTransferBytes <= script_at; at += kTransferBytes) {
        const Transfer t = morvane::fuzz::DecodeTransfer(data + at, raw_records, area.get());
        RunTransfer(area.get(), is_3964r, t);
    }

    // The port the start opened is the one the driver still holds.
    TevRequest close{area.get(), MORVANE_CMD_CLOSE_COM, kChannel3964R, 0, nullptr};
    FUZZ_CHECK(TevMain(&close) == 0);
    FUZZ_CHECK(!TheLine().IsOpen());
    return 0;
}
