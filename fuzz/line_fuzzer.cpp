// Arbitrary partner bytes into the link procedure and the RK512 exchanges,
// through TevMain: ColdStart in 3964 or 3964R, then a few transfers of every
// kind, their records made by the address parser. The partner is the
// virtual line (virtual_line.h), the waits run on its clock.
//
// Input: a setup byte (bit 0: 3964R; bits 1-2: the time-out; bits 3-4: one
// less than the number of transfers), six bytes per transfer (command and
// form, data block, word, bit number or string length, two count bytes),
// then the partner's script.
//
// Checked after every call: the result is 0, 1 or 2; a failed read left the
// host's buffer as it was; a write changed none of its values; every block
// the driver wrote is a control character or a well-formed telegram of this
// transfer; the thread's priority is back; the call's virtual time is within
// the bound its limits give. AddressSanitizer and UndefinedBehaviorSanitizer
// catch the rest: every host buffer has exactly the size its layout gives.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/call_bound.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/line_check.h"
#include "fuzz/scratch_directory.h"
#include "fuzz/virtual_line.h"
#include "gates/gate_address.h"
#include "gates/value_encoding.h"
#include "ostrel/ostrel_control.h"

namespace {

using morvane::fuzz::TheLine;

constexpr size_t kTransferBytes = 6;
constexpr int32_t kChannel3964R = 1;
constexpr int32_t kChannel3964 = 2;
constexpr int32_t kExternalTimeouts[] = {1000, 2000, 6000, 200};

enum class Form { kWord, kBit, kFloat, kLong, kString };

struct Transfer {
    uint32_t command;
    Form form;
    int data_block;
    int word;
    int detail;  // bit number or string length
    int32_t count;
    uint32_t value_seed;
};

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

Transfer DecodeTransfer(const uint8_t* b) {
    static constexpr uint32_t kCommands[] = {MORVANE_CMD_SINGLE_READ, MORVANE_CMD_BLOCK_READ,
                                             MORVANE_CMD_SINGLE_WRITE, MORVANE_CMD_BLOCK_WRITE};
    static constexpr Form kForms[] = {Form::kWord,   Form::kBit,  Form::kFloat, Form::kLong,
                                      Form::kString, Form::kWord, Form::kBit,   Form::kFloat};
    Transfer t{};
    t.command = kCommands[b[0] & 3];
    t.form = kForms[b[0] >> 2 & 7];
    t.data_block = b[1];
    t.word = b[2];
    t.detail = b[3];
    const int raw_count = b[4] << 8 | b[5];
    const bool single =
        t.command == MORVANE_CMD_SINGLE_READ || t.command == MORVANE_CMD_SINGLE_WRITE;
    // Mostly one value for the single commands; blocks up to past 4096 bytes.
    t.count = single ? (b[0] & 0x80 ? raw_count % 70 : 1) : raw_count % 2200;
    t.value_seed = static_cast<uint32_t>(b[0] << 24 | b[3] << 16 | raw_count) | 1;
    if (!single && t.form == Form::kBit) t.form = Form::kWord;  // a block has no bit form
    return t;
}

// The address text of the transfer as an operator would type it.
std::string AddressText(Transfer& t, uint32_t* gate_type) {
    char text[16];
    switch (t.form) {
        case Form::kWord:
            std::snprintf(text, sizeof text, "%03d%03d", t.data_block, t.word);
            *gate_type = 0;
            break;
        case Form::kBit:
            std::snprintf(text, sizeof text, t.detail & 0x10 ? "%03d%03d%2d" : "%03d%03d%02d",
                          t.data_block, t.word, t.detail % 16);
            *gate_type = 6;
            break;
        case Form::kFloat:
        case Form::kLong:
            t.word &= ~1;
            std::snprintf(text, sizeof text, "%03d%03d%c", t.data_block, t.word,
                          t.form == Form::kFloat ? 'F' : 'L');
            *gate_type = t.form == Form::kFloat ? 3 : 4;
            break;
        case Form::kString: {
            const int length = 2 * (1 + t.detail % 40);
            t.word -= t.word % (length / 2);
            std::snprintf(text, sizeof text, "%03d%03dS%02d", t.data_block, t.word, length);
            *gate_type = 7;
            break;
        }
    }
    return text;
}

void ParseAddress(ChannelArea* area, Transfer& t, GateAddress* gate) {
    uint32_t gate_type = 0;
    const std::string text = AddressText(t, &gate_type);
    ParseBlock parse{};
    parse.address = text.c_str();
    parse.gate_type = gate_type;
    const bool single =
        t.command == MORVANE_CMD_SINGLE_READ || t.command == MORVANE_CMD_SINGLE_WRITE;
    TevRequest request{
        area, single ? MORVANE_CMD_SINGLE_ADDRESS_PARSER : MORVANE_CMD_BLOCK_ADDRESS_PARSER,
        kChannel3964R, 0, &parse};
    // Every text made here is a valid address: a refusal would leave the
    // transfer untried.
    FUZZ_CHECK(TevMain(&request) == 0);
    *gate = parse.gate;
}

// Bytes of the host's buffer for this command and record.
size_t HostBufferSize(uint32_t command, const GateAddress& gate, int32_t count) {
    const size_t items = static_cast<size_t>(count);
    const size_t length = morvane::StringLengthOf(gate);
    const bool is_string = gate.class_letter == MORVANE_CLASS_STRING;
    switch (command) {
        case MORVANE_CMD_SINGLE_READ:
            return is_string ? length + 1 : 4;
        case MORVANE_CMD_SINGLE_WRITE:
            return is_string ? length + 1 : 4 * (items > 0 ? items : 1);
        default:
            if (is_string) return morvane::kStringSlotSize * items;
            return (gate.width == 32 ? 4 : 2) * items;
    }
}

// Values from the seed: 256 bytes of a xorshift sequence, repeated (a
// block of thousands of values needs no more variety, and stays cheap).
void FillValues(std::vector<uint8_t>& bytes, uint32_t seed) {
    constexpr size_t kPattern = 256;
    uint32_t x = seed;
    const size_t own = std::min(bytes.size(), kPattern);
    for (size_t i = 0; i < own; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<uint8_t>(x);
    }
    for (size_t done = own; done < bytes.size();) {
        const size_t part = std::min(done, bytes.size() - done);
        std::memcpy(bytes.data() + done, bytes.data(), part);
        done += part;
    }
}

// The one change a write may make to the host's values: a first float too
// close to zero for the PLC is sent, and kept, as 0.0 once the write runs.
void ApplyTinyFloatRule(const GateAddress& gate, int32_t count, std::vector<uint8_t>& values) {
    if (gate.class_letter != MORVANE_CLASS_FLOAT || count < 1 || values.size() < 4) return;
    float value;
    std::memcpy(&value, values.data(), sizeof value);
    if (value < 1e-20f && value > -1e-19f) {
        value = 0.0f;
        std::memcpy(values.data(), &value, sizeof value);
    }
}

bool SameBytes(const uint8_t* host, const std::vector<uint8_t>& before) {
    return before.empty() || std::memcmp(host, before.data(), before.size()) == 0;
}

morvane::fuzz::TransferOnLine LineRules(bool is_3964r, uint32_t command, const GateAddress& gate,
                                        int32_t count) {
    const bool read = command == MORVANE_CMD_SINGLE_READ || command == MORVANE_CMD_BLOCK_READ;
    const bool is_bit = gate.class_letter == MORVANE_CLASS_WORD && gate.bit_number != -1;
    const uint32_t words = morvane::WordsPerItem(gate) * static_cast<uint32_t>(count);
    const uint16_t total = static_cast<uint16_t>(words);
    return {is_3964r,
            read || is_bit,
            !read,
            morvane::DataBlockOf(gate),
            static_cast<uint16_t>(morvane::ItemIndexOf(gate) * morvane::WordsPerItem(gate)),
            total,
            is_bit && !read ? uint16_t{1} : total};
}

void RunTransfer(ChannelArea* area, bool is_3964r, Transfer t) {
    GateAddress gate{};
    ParseAddress(area, t, &gate);
    const size_t size = HostBufferSize(t.command, gate, t.count);
    std::vector<uint8_t> before(size);
    FillValues(before, t.value_seed);
    // Exactly the layout's size on the heap: AddressSanitizer sees every stray byte.
    std::unique_ptr<uint8_t[]> host(new uint8_t[size]);
    if (size > 0) std::memcpy(host.get(), before.data(), size);

    TransferBlock block{};
    block.gate = gate;
    block.count = t.count;
    block.data = host.get();
    TevRequest request{area, t.command, is_3964r ? kChannel3964R : kChannel3964, 0, &block};

    auto& line = TheLine();
    line.ForgetWritten();
    const uint64_t started = line.NowMs();
    const int32_t result = TevMain(&request);
    const uint64_t took = line.NowMs() - started;

    FUZZ_CHECK(result == 0 || result == 1 || result == 2);
    static const bool trace = std::getenv("LINE_FUZZER_TRACE") != nullptr;  // to check a seed
    if (trace)
        std::fprintf(stderr, "command %u count %d: result %d in %llu ms\n", t.command, t.count,
                     result, static_cast<unsigned long long>(took));
    FUZZ_CHECK(morvane::fuzz::CurrentPriority() == 0);
    const uint64_t bound =
        morvane::fuzz::CallBoundMs(t.command, gate, t.count, line.ReadTimeoutMs());
    if (took > bound) {
        std::fprintf(stderr, "command %u took %llu ms of virtual time, bound %llu ms\n", t.command,
                     static_cast<unsigned long long>(took), static_cast<unsigned long long>(bound));
        std::abort();
    }
    if (took > g_longest.ms) g_longest = {took, bound};

    const bool read = t.command == MORVANE_CMD_SINGLE_READ || t.command == MORVANE_CMD_BLOCK_READ;
    if (read && result != 0) FUZZ_CHECK(SameBytes(host.get(), before));
    if (!read && !SameBytes(host.get(), before)) {
        ApplyTinyFloatRule(gate, t.count, before);
        FUZZ_CHECK(SameBytes(host.get(), before));
    }

    const auto rules = LineRules(is_3964r, t.command, gate, t.count);
    for (const auto& written : line.WrittenBlocks()) {
        const char* wrong = morvane::fuzz::CheckWrittenBlock(line.Written().data() + written.offset,
                                                             written.length, rules);
        if (wrong != nullptr) {
            std::fprintf(stderr, "driver wrote a bad block (%s) in command %u\n", wrong, t.command);
            std::abort();
        }
    }
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
    if (size < 1) return 0;
    const uint8_t setup = data[0];
    const bool is_3964r = (setup & 1) != 0;
    const size_t transfers = (setup >> 3 & 3) + 1;
    size_t at = 1;
    const size_t script_at = std::min(size, at + transfers * kTransferBytes);
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

    for (size_t i = 0; i < transfers && at + kTransferBytes <= script_at; ++i, at += kTransferBytes)
        RunTransfer(area.get(), is_3964r, DecodeTransfer(data + at));

    // The port the start opened is the one the driver still holds.
    TevRequest close{area.get(), MORVANE_CMD_CLOSE_COM, kChannel3964R, 0, nullptr};
    FUZZ_CHECK(TevMain(&close) == 0);
    FUZZ_CHECK(!TheLine().IsOpen());
    return 0;
}
