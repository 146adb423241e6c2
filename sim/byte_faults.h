// Seeded random faults on the bytes of a 3964/3964R line, decided one byte
// at a time for each direction: a bit flipped, the byte dropped, doubled or
// made late. Follows the blocks on the line (from the sender's set-up to its
// block check) so that a fault can be kept to one per block, and judges each
// block as the receiver would: altered, and if so whether its block check
// (3964R) or its framing alone (3964) still lets it through.
#pragma once

#include <array>
#include <cstdint>
#include <random>

#include "sim/rk512_server.h"

namespace plcsim {

enum class ByteFaultMode {
    kOnePerBlock,  // no two faults between a block's first byte and its check
    kIndependent,  // every byte at the rate, whatever came before
};

enum class ByteFaultKind { kFlip, kDrop, kDouble, kLate, kCount };

// The two directions of the line.
enum Side { kFromDriver = 0, kFromPartner = 1 };

struct ByteFaultSettings {
    bool is_3964r = true;
    ByteFaultMode mode = ByteFaultMode::kOnePerBlock;
    double rate = 0.0;  // probability of a fault per byte
    uint64_t seed = 1;
};

// What goes on to the receiver for one byte the sender put on the line.
struct Delivery {
    std::array<uint8_t, 2> bytes{};
    uint8_t count = 0;
    bool late = false;        // held back past the receiver's character delay
    bool block_byte = false;  // part of a block, not a control character
};

struct ByteFaultCounts {
    uint64_t bytes = 0;
    std::array<uint64_t, static_cast<size_t>(ByteFaultKind::kCount)> faults{};
    uint64_t blocks = 0;
    uint64_t altered_blocks = 0;  // delivered otherwise than sent
    uint64_t blind_blocks = 0;    // altered, yet framed and checked as good
};

class ByteFaulter {
  public:
    explicit ByteFaulter(const ByteFaultSettings& settings);

    // Decides the fault for one byte from side; never more than one per byte.
    Delivery Pass(Side from, uint8_t byte);
    // As Pass, with the fault (or none) given instead of drawn: for tests.
    Delivery PassWith(Side from, uint8_t byte, const ByteFaultKind* fault, uint8_t flip_mask = 1);

    // A control character from side has reached its receiver (a late one
    // only after its delay): a DLE answers the receiver's STX, so the
    // receiver's next bytes are its block.
    void Delivered(Side from, uint8_t byte);

    const ByteFaultCounts& counts(Side side) const { return watch_[side].counts; }
    // The last whole block side sent, as it sent it (block check included).
    const Bytes& last_block(Side side) const { return last_block_[side]; }

  private:
    struct Watch {
        bool stx_sent = false;  // the last byte outside a block was STX
        bool armed = false;     // the other side answered it with DLE: a block follows
        bool in_block = false;
        bool after_dle = false;
        bool await_bcc = false;
        bool faulted = false;
        Bytes sent;
        Bytes delivered;
        ByteFaultCounts counts;
    };
    void OpenBlockIfArmed(Watch& watch);
    bool Draw(const Watch& watch);
    Delivery Apply(Watch& watch, uint8_t byte, const ByteFaultKind* fault, uint8_t flip_mask);
    void Follow(Watch& watch, uint8_t byte, const Delivery& delivery);
    void Judge(Watch& watch);

    ByteFaultSettings settings_;
    std::mt19937_64 random_;
    std::array<Watch, 2> watch_;
    std::array<Bytes, 2> last_block_;
};

// True when a receiver takes delivered as a whole block: a closing DLE ETX
// (DLE pairs skipped), and in 3964R the byte behind it matching the XOR of
// everything up to it. *framed_end is the index just past the ETX.
bool ReceiverAccepts(const Bytes& delivered, bool is_3964r, size_t* framed_end);

}  // namespace plcsim
