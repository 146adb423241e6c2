#include "soak/soak_channel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "morvane/ostrel.h"
#include "ostrel/ostrel_control.h"
#include "soak/soak_bound.h"
#include "soak/soak_check.h"
#include "support/read_seam.h"

namespace morvane::soak {
namespace {

// The driver's log lines of the running call, per thread.
constexpr size_t kCallLogLines = 300;
thread_local std::vector<std::string> t_call_log;

void KeepLogLine(int, const char* line, void*) {
    if (t_call_log.size() < kCallLogLines) t_call_log.emplace_back(line);
}

bool AttemptFailed(const std::vector<std::string>& log) {
    for (const std::string& line : log)
        if (line.find("retry") != std::string::npos) return true;
    return false;
}

// Blocks the driver refused for a damaged character: it acknowledges them
// as it does a bad block check, so only its log tells.
uint64_t DamagedBlocksRefused(const std::vector<std::string>& log) {
    uint64_t count = 0;
    for (const std::string& line : log)
        count += line.find("damaged character") != std::string::npos ? 1 : 0;
    return count;
}

std::mutex g_report_mutex;
std::atomic<int> g_reports{0};

std::string PortName(const std::string& device) {
    const std::string prefix = "/dev/";
    return device.rfind(prefix, 0) == 0 ? device.substr(prefix.size()) : device;
}

// Short delays: a silent driver is given up within a few hundred ms.
plcsim::LinkSettings SoakLink(const Options& o) {
    plcsim::LinkSettings link;
    link.is_3964r = o.is_3964r;
    link.char_delay_ms = o.char_delay_ms;
    link.ack_delay_ms = 2 * o.char_delay_ms;
    link.connect_attempts = 2;
    link.send_attempts = 2;
    return link;
}

// A late byte comes after its receiver has given up waiting for it.
constexpr uint32_t kLateMarginMs = 30;
// Quiet for longer than the simulator's character delay: nothing is on its way.
constexpr auto kQuietLine = std::chrono::milliseconds(150);
constexpr auto kQuietWaitLimit = std::chrono::milliseconds(2000);

}  // namespace

SoakChannel::SoakChannel(const Options& options, int index)
    : options_(options), index_(index), random_(options.seed * 1000003u + index) {}

SoakChannel::~SoakChannel() {
    Stop();
}

bool SoakChannel::Start(std::string* error) {
    OstrelSetLogSink(KeepLogLine, nullptr);
    auto line = plcsim::Line::OpenPty(error);
    if (!line) return false;
    line->SetMarkedInput(options_.uart_check);
    sim_ = std::make_unique<plcsim::Simulator>(std::move(line));
    sim_->set_link(SoakLink(options_));
    sim_->DeclareBlock(kSoakBlock, kSoakBlockWords);
    model_.resize(kSoakBlockWords);
    for (uint16_t i = 0; i < kSoakBlockWords; ++i) {
        model_[i] = static_cast<uint16_t>(random_());
        sim_->SetWord(kSoakBlock, i, model_[i]);
    }
    dice_ = std::make_unique<plcsim::PlcFaultDice>(options_.plc_rate, random_(), options_.is_3964r);
    dice_->Install(*sim_);

    plcsim::RelaySettings relay;
    relay.faults = {options_.is_3964r, options_.mode, options_.rate, random_(),
                    options_.overrun_share};
    relay.marks = options_.uart_check;
    relay.late_to_driver_ms = 10u * options_.timeout_hundredths + kLateMarginMs;
    relay.late_to_partner_ms = options_.char_delay_ms + kLateMarginMs;
    relay_ = plcsim::FaultRelay::Open(sim_->path(), relay, error);
    if (!relay_) return false;
    if (options_.uart_check && !test::MarkPortReads(relay_->path())) {
        *error = "the read seam cannot mark " + relay_->path();
        return false;
    }
    sim_->Start();
    relay_->Start();
    if (host_.Start(PortName(relay_->path()), options_.timeout_hundredths) != MORVANE_OK) {
        *error = "the driver's channel did not open " + relay_->path();
        return false;
    }
    return true;
}

void SoakChannel::Stop() {
    host_.Stop();
    if (relay_) relay_->Stop();
    if (sim_) sim_->Stop();
}

void SoakChannel::Run(uint64_t transfers) {
    for (uint64_t number = 0; number < transfers; ++number)
        RunOne(number);
}

void SoakChannel::RunOne(uint64_t number) {
    Transfer transfer = RandomTransfer(random_);
    const GateAddress gate =
        host_.Parse(transfer.address.c_str(), transfer.gate_type, IsBlock(transfer.op));
    if (gate.parsed != 1) {
        std::fprintf(stderr, "soak: the driver refused the address \"%s\"\n",
                     transfer.address.c_str());
        std::exit(3);
    }
    // Now and then the PLC has a telegram of its own when the call begins.
    if (std::uniform_real_distribution<double>(0, 1)(random_) < options_.plc_rate / 4) {
        sim_->QueueTelegram(sim_->link().own_telegram);
        ++tally_.pending_telegrams;
    }
    HostBytes buffer = transfer.host;
    t_call_log.clear();
    sim_->ClearReceived();
    relay_->TakeDriverBlocks();
    const uint64_t to_host_before = relay_->blind_blocks(plcsim::kFromPartner);
    const BlindBlocks blind_before = BlindSoFar();
    const auto start = std::chrono::steady_clock::now();
    const int32_t result =
        host_.Transfer(CommandCode(transfer.op), gate, transfer.count, buffer.data());
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (result != 0) AwaitQuietLine();
    // A value can go wrong on either way; a word the host did not name is
    // written only through a telegram altered on its way, or, in a bit
    // write, through the word its read brought back altered.
    const bool altered_taken = PlcTookAlteredTelegram();
    const uint64_t blind_replies = relay_->blind_blocks(plcsim::kFromPartner) - to_host_before;
    const uint64_t blind = (altered_taken ? 1 : 0) + blind_replies;
    const bool bit_write = transfer.kind == Kind::kBit && IsWrite(transfer.op);
    const bool foreign_by_line = altered_taken || (bit_write && blind_replies > 0);
    // Parity-visible: every block that got past its check in this call
    // carried a character the UART flagged; mixed: some did.
    const BlindBlocks blind_after = BlindSoFar();
    const uint64_t blind_flagged = blind_after.flagged - blind_before.flagged;
    const uint64_t blind_all = blind_after.all - blind_before.all;
    const bool visible = blind_flagged > 0 && blind_flagged == blind_all;
    const bool mixed = blind_flagged > 0 && blind_flagged < blind_all;
    const size_t cause = BlindCause(blind_before, blind_after);

    Words after(kSoakBlockWords);
    for (uint16_t i = 0; i < kSoakBlockWords; ++i)
        after[i] = sim_->Word(kSoakBlock, i);
    const Verdict verdict = Judge(transfer, result, model_, after, buffer);

    ++tally_.transfers;
    tally_.damaged_refused_by_driver += DamagedBlocksRefused(t_call_log);
    if (result == 0)
        ++(AttemptFailed(t_call_log) ? tally_.good_retried : tally_.good_first);
    else
        ++tally_.failed[result];
    const double bound = CallBoundMs(transfer, 10.0 * options_.timeout_hundredths);
    if (ms > tally_.longest_ms) {
        tally_.longest_ms = ms;
        tally_.longest_bound_ms = bound;
        tally_.longest_what = Describe(transfer);
    }
    Tally call;  // this call's breaks alone
    std::string what;
    if (verdict.wrong_values) {
        ++(blind ? call.corrupt_blind : call.corrupt_seen);
        call.corrupt_visible += blind && visible ? 1 : 0;
        call.corrupt_mixed += blind && mixed ? 1 : 0;
        call.corrupt_blind_cause[cause] += blind && blind_flagged == 0 ? 1 : 0;
        what += blind ? " silent corruption (check-blind block)" : " silent corruption";
    }
    if (verdict.foreign_words) {
        ++(foreign_by_line ? call.foreign_blind : call.foreign_driver);
        call.foreign_visible += foreign_by_line && visible ? 1 : 0;
        call.foreign_mixed += foreign_by_line && mixed ? 1 : 0;
        call.foreign_blind_cause[cause] += foreign_by_line && blind_flagged == 0 ? 1 : 0;
        what += foreign_by_line ? " foreign-word write (through a block altered on the line)"
                                : " foreign-word write";
    }
    if (verdict.buffer_touched) {
        ++call.buffer_touched;
        what += " host buffer changed";
    }
    if (ms > bound) {
        ++call.past_bound;
        what += " call past its bound";
    }
    tally_.Merge(call);
    if (visible && !what.empty()) what += " (the UART flagged the fault)";
    if (!what.empty())
        Report(number, transfer, result, ms, what, verdict.detail, blind, Broken(call, options_));
    model_ = std::move(after);  // whatever happened, the PLC's words go on from here
}

SoakChannel::BlindBlocks SoakChannel::BlindSoFar() const {
    BlindBlocks blind;
    for (const plcsim::Side side : {plcsim::kFromDriver, plcsim::kFromPartner}) {
        const plcsim::ByteFaultCounts counts = relay_->counts(side);
        blind.all += counts.blind_blocks;
        blind.flagged += counts.blind_flagged_blocks;
        for (size_t k = 0; k < blind.unflagged.size(); ++k)
            blind.unflagged[k] += counts.blind_unflagged[k];
    }
    return blind;
}

size_t SoakChannel::BlindCause(const BlindBlocks& before, const BlindBlocks& after) {
    size_t cause = kNoCause;
    for (size_t k = 0; k < after.unflagged.size(); ++k)
        if (after.unflagged[k] != before.unflagged[k])
            cause = cause == kNoCause ? k : kSeveralCauses;
    return cause;
}

// After a failed call the PLC may still be busy with what the driver gave
// up on: the words are looked at once the line has been quiet for a while
// and the simulator has read all it was sent.
void SoakChannel::AwaitQuietLine() {
    const auto deadline = std::chrono::steady_clock::now() + kQuietWaitLimit;
    while ((relay_->IdleFor() < kQuietLine || sim_->InputQueued() > 0) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// True when the PLC carried out a telegram the driver never sent as such:
// one altered on the line that its receiver's check let through.
bool SoakChannel::PlcTookAlteredTelegram() {
    const std::vector<plcsim::Bytes> sent = relay_->TakeDriverBlocks();
    for (const plcsim::ReceivedTelegram& taken : sim_->received()) {
        if (!taken.applied) continue;
        if (std::find(sent.begin(), sent.end(), taken.framed) == sent.end()) return true;
    }
    return false;
}

void SoakChannel::Report(uint64_t number, const Transfer& transfer, int32_t result, double ms,
                         const std::string& what, const std::string& detail, uint64_t blind,
                         bool breaks) {
    std::lock_guard lock(g_report_mutex);
    // In full: the first breaks of what the mode promises; the rest one line each.
    const bool full = (breaks || options_.report_all) && g_reports++ < options_.reports;
    std::fprintf(stderr, "soak: channel %d transfer %llu: %s -> %d in %.1f ms:%s\n", index_,
                 static_cast<unsigned long long>(number), Describe(transfer).c_str(), result, ms,
                 what.c_str());
    if (!full) return;
    std::fprintf(stderr, "%s  %llu block(s) altered yet passing the check in this call\n",
                 detail.c_str(), static_cast<unsigned long long>(blind));
    std::fprintf(stderr, "  driver log of the call:\n");
    for (const std::string& line : t_call_log)
        std::fprintf(stderr, "    %s\n", line.c_str());
    std::fprintf(stderr,
                 "  the relay's last bytes (time in ms, d>p driver to PLC, "
                 "faults in parentheses as delivered, ! flagged by the UART):\n%s",
                 relay_->RecentTrace().c_str());
}

void SoakChannel::AddLineCounts(LineCounts* counts) const {
    for (const plcsim::Side side : {plcsim::kFromDriver, plcsim::kFromPartner}) {
        const plcsim::ByteFaultCounts c = relay_->counts(side);
        counts->bytes += c.bytes;
        for (int k = 0; k < 4; ++k)
            counts->faults[k] += c.faults[k];
        counts->blocks += c.blocks;
        counts->altered_blocks += c.altered_blocks;
        counts->blind_blocks += c.blind_blocks;
        counts->two_bit_flips += c.two_bit_flips;
        for (size_t k = 0; k < c.flagged.size(); ++k)
            counts->flagged[k] += c.flagged[k];
        counts->flagged_blocks[side] += c.flagged_blocks;
        counts->flagged_refused[side] += c.flagged_refused;
        counts->flagged_taken[side] += c.flagged_taken;
    }
    for (int k = 0; k < 5; ++k)
        counts->plc_faults[k] += dice_->count(static_cast<plcsim::PlcFaultKind>(k));
}

}  // namespace morvane::soak
