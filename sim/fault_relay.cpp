#include "sim/fault_relay.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace plcsim {
namespace {

constexpr int kIdleWaitMs = 5;  // stop is checked at least this often
constexpr size_t kTraceEntries = 8192;
constexpr size_t kReadChunk = 512;
constexpr size_t kDriverBlocksKept = 512;

const char* Arrow(Side from) {
    return from == kFromDriver ? "d>p" : "p>d";
}

}  // namespace

std::unique_ptr<FaultRelay> FaultRelay::Open(const std::string& partner_path,
                                             const RelaySettings& settings, std::string* error) {
    auto driver_line = Line::OpenPty(error);
    if (!driver_line) return nullptr;
    auto partner_line = Line::OpenSlave(partner_path, error);
    if (!partner_line) return nullptr;
    return std::unique_ptr<FaultRelay>(
        new FaultRelay(std::move(driver_line), std::move(partner_line), settings));
}

FaultRelay::FaultRelay(std::unique_ptr<Line> driver_line, std::unique_ptr<Line> partner_line,
                       const RelaySettings& settings)
    : driver_line_(std::move(driver_line)),
      partner_line_(std::move(partner_line)),
      settings_(settings),
      faulter_(settings.faults),
      trace_(kTraceEntries) {}

FaultRelay::~FaultRelay() {
    Stop();
}

void FaultRelay::Start() {
    if (thread_.joinable()) return;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void FaultRelay::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

ByteFaultCounts FaultRelay::counts(Side side) const {
    std::lock_guard lock(mutex_);
    return counts_copy_[side];
}

FaultRelay::Clock::time_point FaultRelay::NextRelease() const {
    auto next = Clock::time_point::max();
    for (const auto& queue : towards_)
        if (!queue.empty()) next = std::min(next, queue.front().release);
    return next;
}

void FaultRelay::Run() {
    while (!stop_.load()) {
        const auto now = Clock::now();
        const auto next = NextRelease();
        int wait_ms = kIdleWaitMs;
        if (next != Clock::time_point::max())
            wait_ms = static_cast<int>(std::clamp<int64_t>(
                std::chrono::ceil<std::chrono::milliseconds>(next - now).count(), 0, kIdleWaitMs));
        const int readable = Line::WaitReadable(*driver_line_, *partner_line_, wait_ms);
        if (readable & 1) Take(kFromDriver, *driver_line_);
        if (readable & 2) Take(kFromPartner, *partner_line_);
        Release(kFromDriver, *partner_line_);
        Release(kFromPartner, *driver_line_);
    }
}

void FaultRelay::Take(Side from, Line& line) {
    uint8_t bytes[kReadChunk];
    const size_t count = line.ReadAvailable(bytes, sizeof bytes);
    if (count == 0) return;
    const auto now = Clock::now();
    last_activity_ = now.time_since_epoch().count();
    const auto late = std::chrono::milliseconds(from == kFromDriver ? settings_.late_to_partner_ms
                                                                    : settings_.late_to_driver_ms);
    std::deque<Queued>& queue = towards_[from];
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < count; ++i) {
        const uint64_t blocks_before = faulter_.counts(from).blocks;
        const Delivery delivery = faulter_.Pass(from, bytes[i]);
        if (from == kFromDriver && faulter_.counts(from).blocks != blocks_before) {
            if (driver_blocks_.size() >= kDriverBlocksKept)
                driver_blocks_.erase(driver_blocks_.begin());
            driver_blocks_.push_back(faulter_.last_block(from));
        }
        // Bytes keep their order: none overtakes a late one before it.
        auto release = queue.empty() ? now : std::max(now, queue.back().release);
        if (delivery.late) release += late;
        for (uint8_t k = 0; k < delivery.count; ++k)
            queue.push_back({release, delivery.bytes[k], !delivery.block_byte,
                             k == 0 && delivery.flag != UartFlag::kNone});
        const bool faulted = delivery.late || delivery.count != 1 ||
                             delivery.bytes[0] != bytes[i] || delivery.flag != UartFlag::kNone;
        trace_[trace_next_] = {now, from, bytes[i], delivery, faulted};
        trace_next_ = (trace_next_ + 1) % trace_.size();
    }
    counts_copy_[from] = faulter_.counts(from);
    blind_blocks_[from] = counts_copy_[from].blind_blocks;
}

void FaultRelay::Release(Side from, Line& line) {
    std::deque<Queued>& queue = towards_[from];
    const auto now = Clock::now();
    uint8_t out[3 * kReadChunk];  // room for every byte as a mark
    size_t count = 0;
    while (!queue.empty() && queue.front().release <= now && count + 3 <= sizeof out) {
        const Queued& next = queue.front();
        if (settings_.marks && next.flagged) {
            out[count++] = 0xFF;
            out[count++] = 0x00;
        } else if (settings_.marks && next.byte == 0xFF) {
            out[count++] = 0xFF;
        }
        out[count++] = next.byte;
        // A receiver that honours the flags takes a flagged DLE for none.
        if (next.control && !(settings_.marks && next.flagged)) faulter_.Delivered(from, next.byte);
        queue.pop_front();
    }
    if (count == 0) return;
    line.Write(out, count);
    last_activity_ = Clock::now().time_since_epoch().count();
}

std::vector<Bytes> FaultRelay::TakeDriverBlocks() {
    std::lock_guard lock(mutex_);
    return std::exchange(driver_blocks_, {});
}

std::chrono::milliseconds FaultRelay::IdleFor() const {
    const Clock::time_point last{Clock::duration(last_activity_.load())};
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last);
}

std::string FaultRelay::RecentTrace() const {
    std::lock_guard lock(mutex_);
    std::string text;
    char buffer[64];
    bool line_open = false;
    Side last_side = kFromDriver;
    for (size_t k = 0; k < trace_.size(); ++k) {
        const TraceEntry& entry = trace_[(trace_next_ + k) % trace_.size()];
        if (entry.at == Clock::time_point{}) continue;
        if (!line_open || entry.from != last_side || entry.faulted) {
            const double ms = std::chrono::duration<double, std::milli>(entry.at - start_).count();
            std::snprintf(buffer, sizeof buffer, "%s%10.3f %s", text.empty() ? "" : "\n", ms,
                          Arrow(entry.from));
            text += buffer;
            line_open = true;
            last_side = entry.from;
        }
        std::snprintf(buffer, sizeof buffer, " %02X", entry.sent);
        text += buffer;
        if (entry.faulted) {
            text += entry.delivery.late ? "(late" : "(";
            for (uint8_t i = 0; i < entry.delivery.count; ++i) {
                std::snprintf(buffer, sizeof buffer, "%s%02X", i || entry.delivery.late ? " " : "",
                              entry.delivery.bytes[i]);
                text += buffer;
                if (i == 0 && entry.delivery.flag != UartFlag::kNone) text += "!";  // flagged
            }
            text += entry.delivery.count == 0 ? "dropped)" : ")";
            line_open = false;  // the bytes behind a fault start a new line
        }
    }
    return text + "\n";
}

}  // namespace plcsim
