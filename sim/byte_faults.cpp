#include "sim/byte_faults.h"

#include <algorithm>

namespace plcsim {
namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;
// A block longer than any telegram on this line is no block being followed:
// the watch gives it up rather than grow without end.
constexpr size_t kLongestFollowedBlock = 2048;

size_t Index(ByteFaultKind kind) {
    return static_cast<size_t>(kind);
}

}  // namespace

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
    const auto mask = static_cast<uint8_t>(1u << std::uniform_int_distribution<int>(0, 7)(random_));
    return PassWith(from, byte, &kind, mask);
}

Delivery ByteFaulter::PassWith(Side from, uint8_t byte, const ByteFaultKind* fault,
                               uint8_t flip_mask) {
    Watch& watch = watch_[from];
    OpenBlockIfArmed(watch);
    Delivery delivery = Apply(watch, byte, fault, flip_mask);
    delivery.block_byte = watch.in_block;
    Follow(watch, byte, delivery);
    return delivery;
}

Delivery ByteFaulter::Apply(Watch& watch, uint8_t byte, const ByteFaultKind* fault,
                            uint8_t flip_mask) {
    ++watch.counts.bytes;
    Delivery delivery;
    delivery.bytes[0] = byte;
    delivery.count = 1;
    if (fault == nullptr) return delivery;
    ++watch.counts.faults[Index(*fault)];
    if (watch.in_block) watch.faulted = true;
    switch (*fault) {
        case ByteFaultKind::kFlip:
            delivery.bytes[0] = static_cast<uint8_t>(byte ^ flip_mask);
            break;
        case ByteFaultKind::kDrop:
            delivery.count = 0;
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
void ByteFaulter::Follow(Watch& watch, uint8_t byte, const Delivery& delivery) {
    if (!watch.in_block) {
        watch.stx_sent = byte == kStx;
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
        Judge(watch);
        last_block_[&watch == &watch_[kFromDriver] ? kFromDriver : kFromPartner] = watch.sent;
    }
    if (watch.sent.size() > kLongestFollowedBlock) watch.in_block = false;
}

void ByteFaulter::Delivered(Side from, uint8_t byte) {
    Watch& receiver = watch_[1 - from];
    if (byte != kDle || !receiver.stx_sent || receiver.in_block) return;
    receiver.stx_sent = false;
    receiver.armed = true;
}

void ByteFaulter::Judge(Watch& watch) {
    watch.in_block = false;
    ++watch.counts.blocks;
    if (watch.delivered == watch.sent) return;
    ++watch.counts.altered_blocks;
    size_t end = 0;
    if (!ReceiverAccepts(watch.delivered, settings_.is_3964r, &end)) return;
    size_t sent_end = 0;
    ReceiverAccepts(watch.sent, false, &sent_end);
    const bool same_content =
        end == sent_end &&
        std::equal(watch.sent.begin(), watch.sent.begin() + sent_end, watch.delivered.begin());
    if (!same_content) ++watch.counts.blind_blocks;
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
