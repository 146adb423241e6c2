#include "sim/byte_faults.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace plcsim {
namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;
// A block longer than any telegram on this line is no block being followed:
// the watch gives it up rather than grow without end.
constexpr size_t kLongestFollowedBlock = 2048;

constexpr uint8_t kNak = 0x15;

size_t Index(ByteFaultKind kind) {
    return static_cast<size_t>(kind);
}

size_t Index(UartFlag flag) {
    return static_cast<size_t>(flag);
}

}  // namespace

UartFlag FlipVerdict(uint16_t mask) {
    if (mask & kStopBit) return UartFlag::kFraming;
    const int data_and_parity = std::popcount(static_cast<uint16_t>(mask & (kParityBit | 0xFF)));
    return data_and_parity % 2 ? UartFlag::kParity : UartFlag::kNone;
}

ByteFaulter::ByteFaulter(const ByteFaultSettings& settings)
    : settings_(settings), random_(settings.seed) {}

bool ByteFaulter::Draw(const Watch& watch) {
    if (settings_.rate <= 0.0) return false;
    if (settings_.mode == ByteFaultMode::kOnePerBlock && watch.in_block && watch.faulted)
        return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < settings_.rate;
}

// The sender got its DLE: the byte it sends now opens its block.
void ByteFaulter::OpenBlockIfArmed(Watch& watch) {
    if (watch.in_block || !watch.armed) return;
    watch = Watch{.in_block = true, .sent = {}, .delivered = {}, .counts = watch.counts};
}

Delivery ByteFaulter::Pass(Side from, uint8_t byte) {
    Watch& watch = watch_[from];
    OpenBlockIfArmed(watch);
    if (!Draw(watch)) return PassWith(from, byte, nullptr);
    const auto kind = static_cast<ByteFaultKind>(
        std::uniform_int_distribution<int>(0, Index(ByteFaultKind::kCount) - 1)(random_));
    return PassWith(from, byte, &kind, DrawFlipMask());
}

// One bit of the frame, or at the given share two different ones.
uint16_t ByteFaulter::DrawFlipMask() {
    const int first = std::uniform_int_distribution<int>(0, kFrameBits - 1)(random_);
    auto mask = static_cast<uint16_t>(1u << first);
    if (std::uniform_real_distribution<double>(0.0, 1.0)(random_) < kTwoBitFlipShare) {
        int second = std::uniform_int_distribution<int>(0, kFrameBits - 2)(random_);
        second += second >= first ? 1 : 0;
        mask = static_cast<uint16_t>(mask | 1u << second);
    }
    return mask;
}

Delivery ByteFaulter::PassWith(Side from, uint8_t byte, const ByteFaultKind* fault,
                               uint16_t flip_mask) {
    Watch& watch = watch_[from];
    OpenBlockIfArmed(watch);
    Delivery delivery = Apply(from, byte, fault, flip_mask);
    delivery.block_byte = watch.in_block;
    if (delivery.flag != UartFlag::kNone) {
        ++watch.counts.flagged[Index(delivery.flag)];
        if (watch.in_block) watch.flagged = true;
    }
    Follow(from, byte, delivery);
    return delivery;
}

Delivery ByteFaulter::Apply(Side from, uint8_t byte, const ByteFaultKind* fault,
                            uint16_t flip_mask) {
    Watch& watch = watch_[from];
    ++watch.counts.bytes;
    Delivery delivery;
    delivery.bytes[0] = byte;
    delivery.count = 1;
    // The overrun of a character lost before shows on the next one delivered.
    if (std::exchange(overrun_pending_[from], false)) delivery.flag = UartFlag::kOverrun;
    if (fault == nullptr) return delivery;
    ++watch.counts.faults[Index(*fault)];
    if (watch.in_block) {
        watch.faulted = true;
        watch.fault = *fault;
    }
    switch (*fault) {
        case ByteFaultKind::kFlip:
            delivery.bytes[0] = static_cast<uint8_t>(byte ^ (flip_mask & 0xFF));
            if (FlipVerdict(flip_mask) != UartFlag::kNone) delivery.flag = FlipVerdict(flip_mask);
            if (std::popcount(flip_mask) > 1) ++watch.counts.two_bit_flips;
            break;
        case ByteFaultKind::kDrop:
            delivery.count = 0;
            overrun_pending_[from] =
                delivery.flag == UartFlag::kOverrun ||
                (settings_.overrun_share > 0.0 && std::uniform_real_distribution<double>(
                                                      0.0, 1.0)(random_) < settings_.overrun_share);
            delivery.flag = UartFlag::kNone;
            break;
        case ByteFaultKind::kDouble:
            delivery.bytes[1] = byte;
            delivery.count = 2;
            break;
        case ByteFaultKind::kLate:
        case ByteFaultKind::kCount:
            delivery.late = true;
            break;
    }
    return delivery;
}

// Follows the sender's framing on the bytes it sent.
void ByteFaulter::Follow(Side from, uint8_t byte, const Delivery& delivery) {
    Watch& watch = watch_[from];
    if (!watch.in_block) {
        watch.stx_sent = byte == kStx;
        // The first byte after the other side's flagged block answers it.
        const Side other = from == kFromDriver ? kFromPartner : kFromDriver;
        if (std::exchange(answer_counted_[other], false)) {
            if (byte == kNak) ++watch_[other].counts.flagged_refused;
            if (byte == kDle) ++watch_[other].counts.flagged_taken;
        }
        return;
    }
    watch.sent.push_back(byte);
    watch.delivered.insert(watch.delivered.end(), delivery.bytes.begin(),
                           delivery.bytes.begin() + delivery.count);
    bool ended = false;
    if (watch.await_bcc) {
        ended = true;
    } else if (watch.after_dle) {
        watch.after_dle = false;
        if (byte == kEtx) {
            ended = !settings_.is_3964r;
            watch.await_bcc = settings_.is_3964r;
        }
    } else if (byte == kDle) {
        watch.after_dle = true;
    }
    if (ended) {
        Judge(from);
        last_block_[from] = watch.sent;
    }
    if (watch.sent.size() > kLongestFollowedBlock) watch.in_block = false;
}

void ByteFaulter::Delivered(Side from, uint8_t byte) {
    Watch& receiver = watch_[1 - from];
    if (byte != kDle || !receiver.stx_sent || receiver.in_block) return;
    receiver.stx_sent = false;
    receiver.armed = true;
}

void ByteFaulter::Judge(Side from) {
    Watch& watch = watch_[from];
    watch.in_block = false;
    ++watch.counts.blocks;
    if (watch.flagged) ++watch.counts.flagged_blocks;
    answer_counted_[from] = watch.flagged;
    if (watch.delivered == watch.sent) return;
    ++watch.counts.altered_blocks;
    size_t end = 0;
    if (!ReceiverAccepts(watch.delivered, settings_.is_3964r, &end)) return;
    size_t sent_end = 0;
    ReceiverAccepts(watch.sent, false, &sent_end);
    const bool same_content =
        end == sent_end &&
        std::equal(watch.sent.begin(), watch.sent.begin() + sent_end, watch.delivered.begin());
    if (!same_content) {
        ++watch.counts.blind_blocks;
        if (watch.flagged)
            ++watch.counts.blind_flagged_blocks;
        else if (watch.fault != ByteFaultKind::kCount)
            ++watch.counts.blind_unflagged[Index(watch.fault)];
    }
}

bool ReceiverAccepts(const Bytes& delivered, bool is_3964r, size_t* framed_end) {
    uint8_t marker = 0;
    for (size_t i = 0; i < delivered.size(); ++i) {
        const uint8_t byte = delivered[i];
        if (marker == kDle && byte == kEtx) {
            *framed_end = i + 1;
            if (!is_3964r) return true;
            if (i + 1 >= delivered.size()) return false;
            uint8_t bcc = 0;
            for (size_t j = 0; j <= i; ++j)
                bcc ^= delivered[j];
            return bcc == delivered[i + 1];
        }
        marker = marker == kDle && byte == kDle ? 0 : byte;
    }
    return false;
}

}  // namespace plcsim
