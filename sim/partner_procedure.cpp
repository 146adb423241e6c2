// The simulator on the line: the 3964/3964R procedure in the passive role
// (accepting the driver's telegram) and the active role (sending its reply
// and telegrams of its own), with the injected faults.
#include <algorithm>
#include <chrono>
#include <thread>

#include "sim/simulator.h"

namespace plcsim {
namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kNak = 0x15;

constexpr uint32_t kSliceMs = 5;           // stop is checked at least this often
constexpr size_t kLongestBlock = 1024;     // framed bytes; a longer block is refused
constexpr uint32_t kBabbleIntervalMs = 2;  // one filler byte per interval
constexpr uint8_t kFiller = 0x55;

using Clock = std::chrono::steady_clock;

}  // namespace

bool Simulator::Await(uint8_t* byte, uint32_t timeout_ms, bool* damaged) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (Stopping()) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) return false;
        const int slice = static_cast<int>(std::min<int64_t>(left.count(), kSliceMs));
        if (line_->ReadByte(byte, slice, damaged)) return true;
        if (slice == 0) return false;
    }
}

bool Simulator::Take(uint32_t Faults::*count) {
    std::lock_guard lock(mutex_);
    uint32_t& left = faults_.*count;
    if (left == 0) return false;
    if (left != kAlways) --left;
    return true;
}

void Simulator::SendControl(uint8_t byte) {
    line_->Write(&byte, 1);
    trace_.Control(Direction::kSent, byte);
}

void Simulator::SendFramed(const Bytes& framed, int bcc) {
    Bytes wire = framed;
    if (bcc >= 0) wire.push_back(static_cast<uint8_t>(bcc));
    line_->Write(wire.data(), wire.size());
    trace_.Block(Direction::kSent, framed, bcc);
}

// One transmission of a framed block: the line faults hit a reply each time
// it goes on the line, so a repetition after NAK may get through.
void Simulator::Transmit(Bytes framed, bool is_reply) {
    int bcc = link().is_3964r ? BlockCheck(framed) : -1;
    if (is_reply) {
        const uint32_t index = faults().byte_index;
        if (bcc >= 0 && Take(&Faults::corrupt_bcc)) bcc ^= 0xFF;
        if (index < framed.size() && Take(&Faults::corrupt_byte)) framed[index] ^= 0xFF;
        if (index < framed.size() && Take(&Faults::drop_byte)) framed.erase(framed.begin() + index);
    }
    SendFramed(framed, bcc);
}

// after_conflict: we answered a request that crossed our own STX. A partner
// that saw our STX may repeat its request before it reads our DLE; that DLE
// answers the repetition too, so one leading STX is not part of the block.
Simulator::RxResult Simulator::ReceiveBlock(bool after_conflict, Bytes* telegram, Bytes* framed) {
    const LinkSettings link = this->link();
    bool after_dle = false;
    bool malformed = false;
    // Per framed byte (and the BCC): flagged by the UART. A damaged
    // character is never taken for DLE or ETX.
    std::vector<bool> damaged;
    line_->Overran();  // only characters lost from here on spoil the block
    uint8_t byte = 0;
    bool hit = false;
    for (;;) {
        if (!Await(&byte, link.char_delay_ms, &hit)) {
            trace_.Block(Direction::kReceived, *framed, -1, damaged);
            if (!Stopping()) trace_.Note("character delay ran out");
            return RxResult::kTimeout;
        }
        if (after_conflict && framed->empty() && byte == kStx) {
            after_conflict = false;
            trace_.Control(Direction::kReceived, byte);
            trace_.Note("repeated request: our DLE answers it");
            continue;
        }
        framed->push_back(byte);
        damaged.push_back(hit);
        if (framed->size() > kLongestBlock) return RxResult::kTooLong;
        const bool dle = byte == kDle && !hit;
        if (after_dle) {
            after_dle = false;
            if (byte == kEtx && !hit) break;
            if (dle)
                telegram->push_back(kDle);
            else
                malformed = true;  // a lone DLE inside the block
        } else if (dle) {
            after_dle = true;
        } else {
            telegram->push_back(byte);
        }
    }
    int bcc = -1;
    if (link.is_3964r) {
        if (!Await(&byte, link.char_delay_ms, &hit)) {
            trace_.Block(Direction::kReceived, *framed, -1, damaged);
            trace_.Note("no BCC within the character delay");
            return RxResult::kTimeout;
        }
        bcc = byte;
        damaged.push_back(hit);
    }
    trace_.Block(Direction::kReceived, *framed, bcc, damaged);
    // Refused as a PLC refuses a bad block check, whatever the check says.
    const bool overran = line_->Overran();
    const bool spoiled =
        overran || std::find(damaged.begin(), damaged.end(), true) != damaged.end();
    if (spoiled) trace_.Note(overran ? "characters lost (overrun)" : "damaged character");
    if (bcc >= 0) {
        const bool good = BlockCheck(*framed) == bcc;
        framed->push_back(static_cast<uint8_t>(bcc));
        if (!good && !spoiled) return RxResult::kBadBcc;
    }
    if (spoiled) return RxResult::kDamaged;
    return malformed ? RxResult::kMalformed : RxResult::kOk;
}

bool Simulator::Stopping() const {
    return stop_->load() || line_->gone();
}

void Simulator::Serve(const std::atomic<bool>& stop) {
    stop_ = &stop;
    while (!Stopping()) {
        if (withdrawn_) {
            withdrawn_ = false;  // the driver's STX that made us withdraw is answered now
            AcceptRequest(true);
            continue;
        }
        uint8_t byte = 0;
        bool damaged = false;
        if (!Await(&byte, kSliceMs, &damaged)) {
            SendPending();
            continue;
        }
        trace_.Control(Direction::kReceived, byte, damaged);
        if (byte == kStx && !damaged) ServeRequest();
    }
    if (line_->gone()) trace_.Note(line_->GoneReason());
}

// The driver asks for the connection (its STX has been read).
void Simulator::ServeRequest() {
    if (Take(&Faults::ignore_requests)) {
        trace_.Note("connection request ignored");
        return;
    }
    if (!Take(&Faults::conflict)) {
        AcceptRequest(false);
        return;
    }
    // Our own request crosses the driver's: both sent STX at once.
    const LinkSettings link = this->link();
    SendControl(kStx);
    if (link.priority == Priority::kHigh) {
        // We insist: the driver must give way with DLE; its request is lost.
        SendActive({link.own_telegram, false}, true);
        return;
    }
    // We give way at once, as if the driver's STX had reached us after ours:
    // our telegram goes after the driver's exchange.
    trace_.Note("initialization conflict: withdrawn");
    QueueTelegram(link.own_telegram);
    AcceptRequest(true);
}

void Simulator::AcceptRequest(bool after_conflict) {
    const uint32_t delay = faults().answer_delay_ms;
    if (delay) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    SendControl(kDle);
    Bytes telegram;
    Bytes framed;
    const RxResult result = ReceiveBlock(after_conflict, &telegram, &framed);
    if (result == RxResult::kOk) {
        std::lock_guard lock(mutex_);
        if (telegram_hook_) telegram_hook_(telegram, &faults_);
    }
    const bool refuse = result != RxResult::kOk || Take(&Faults::nak_telegrams);
    if (result != RxResult::kTimeout && result != RxResult::kTooLong) {
        std::lock_guard lock(mutex_);
        if (received_.size() >= kReceivedKept) received_.erase(received_.begin());
        received_.push_back({telegram, framed, !refuse});
    }
    if (refuse) {
        SendControl(kNak);
        return;
    }
    SendControl(kDle);
    Reply(telegram);
    if (!withdrawn_) SendPending();
    if (!withdrawn_ && faults().babble) Babble();
    if (!withdrawn_ && faults().endless_telegrams) OfferEndlessly();
}

// Builds, spoils as the faults say, and sends the RK512 reply.
void Simulator::Reply(const Bytes& telegram) {
    Bytes reply;
    {
        std::lock_guard lock(mutex_);
        reply = server_.Handle(telegram);
        if (!received_.empty() && received_.back().telegram == telegram)
            received_.back().applied = reply[3] == kRkOk;
    }
    if (Take(&Faults::no_reply)) {
        trace_.Note("reply withheld");
        return;
    }
    const Faults faults = this->faults();
    if (Take(&Faults::error_replies)) reply[3] = faults.error_byte;
    if (telegram.size() > 2 && telegram[2] == kCmdFetch && Take(&Faults::length_replies)) {
        if (faults.length_delta > 0) reply.insert(reply.end(), faults.length_delta, 0x00);
        const size_t cut = static_cast<size_t>(-std::min(faults.length_delta, 0));
        reply.resize(reply.size() - std::min(cut, reply.size() - 4));
    }
    if (faults.reply_delay_ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(faults.reply_delay_ms));
    const Outgoing block{reply, true};
    if (SendActive(block, false) == TxResult::kWithdrew) {
        // Kept, as a PLC keeps its job: it goes after the driver's exchange.
        trace_.Note("reply kept for after the driver's telegram");
        std::lock_guard lock(mutex_);
        pending_.push_front(block);
        withdrawn_ = true;
    }
}

// The active role: STX, wait for DLE, the block, wait for DLE; the set-up
// and the block are repeated as the attempt counts allow.
Simulator::TxResult Simulator::SendActive(const Outgoing& block, bool stx_sent) {
    const LinkSettings link = this->link();
    const Bytes framed = FrameTelegram(block.telegram);
    for (uint32_t attempt = 0; attempt < link.send_attempts; ++attempt) {
        bool connected = false;
        for (uint32_t tries = 0; tries < link.connect_attempts && !connected; ++tries) {
            if (!stx_sent) SendControl(kStx);
            stx_sent = false;
            const auto deadline = Clock::now() + std::chrono::milliseconds(link.AckDelayMs());
            uint8_t byte = 0;
            bool damaged = false;
            while (!connected) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                if (left.count() <= 0 ||
                    !Await(&byte, static_cast<uint32_t>(left.count()), &damaged))
                    break;
                trace_.Control(Direction::kReceived, byte, damaged);
                if (damaged) {
                    break;  // no character of the procedure: as a NAK
                } else if (byte == kDle) {
                    connected = true;
                } else if (byte == kStx) {
                    if (link.priority == Priority::kLow) {
                        trace_.Note("initialization conflict: withdrawn");
                        return TxResult::kWithdrew;
                    }
                    trace_.Note("initialization conflict: insisting");
                } else {
                    break;  // NAK or anything else: try the set-up again
                }
            }
            if (Stopping()) return TxResult::kFailed;
        }
        if (!connected) break;
        Transmit(framed, block.is_reply);
        uint8_t answer = 0;
        bool damaged = false;
        if (Await(&answer, link.AckDelayMs(), &damaged)) {
            trace_.Control(Direction::kReceived, answer, damaged);
            if (answer == kDle && !damaged) return TxResult::kDelivered;
        } else if (!Stopping()) {
            trace_.Note("acknowledgement delay ran out");
        }
        if (Stopping()) return TxResult::kFailed;
    }
    trace_.Note("block not delivered");
    return TxResult::kFailed;
}

// One pending telegram per call: the next goes after an idle slice, as a
// partner's next job does.
void Simulator::SendPending() {
    Outgoing block{};
    {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) return;
        block = pending_.front();
        pending_.pop_front();
    }
    if (SendActive(block, false) == TxResult::kWithdrew) {
        std::lock_guard lock(mutex_);
        pending_.push_front(block);
        withdrawn_ = true;
    }
}

void Simulator::Babble() {
    trace_.Note("sending filler bytes without end");
    while (!Stopping() && faults().babble) {
        line_->Write(&kFiller, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(kBabbleIntervalMs));
    }
}

void Simulator::OfferEndlessly() {
    trace_.Note("offering telegrams without end");
    while (!Stopping() && faults().endless_telegrams) {
        if (SendActive({link().own_telegram, false}, false) == TxResult::kWithdrew) {
            withdrawn_ = true;
            return;
        }
    }
}

}  // namespace plcsim
