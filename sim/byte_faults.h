// Seeded random faults on the bytes of a 3964/3964R line, decided one byte
// at a time for each direction: a bit flipped, the byte dropped, doubled or
// made late. Follows the blocks on the line (from the sender's set-up to its
// block check) so that a fault can be kept to one per block, and judges each
// block as the receiver would: altered, and if so whether its block check
// (3964R) or its framing alone (3964) still lets it through.
//
// The receiving UART is modelled too: a flip hits the character's frame as
// sent (data, parity and stop bit), and the UART flags what its parity and
// stop-bit checks can see; a dropped character may be reported as an
// overrun on the next one. Whether a receiver honours the flags is the
// relay's business; the faulter says which characters carry one.
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

// The UART's verdict on a character it received.
enum class UartFlag : uint8_t { kNone, kParity, kFraming, kOverrun, kCount };

// A flip mask covers the character's frame: bits 0-7 the data, then the
// parity bit and the stop bit.
constexpr uint16_t kParityBit = 0x100;
constexpr uint16_t kStopBit = 0x200;
constexpr int kFrameBits = 10;
// Share of drawn flips that hit two bits of the frame; the rest hit one.
constexpr double kTwoBitFlipShare = 0.2;

// What the UART makes of a frame with the mask's bits flipped: a stop bit
// read as 0 is a framing error, an odd count of data and parity bits a
// parity error; an even count passes unseen.
UartFlag FlipVerdict(uint16_t mask);

// The two directions of the line.
enum Side { kFromDriver = 0, kFromPartner = 1 };

struct ByteFaultSettings {
    bool is_3964r = true;
    ByteFaultMode mode = ByteFaultMode::kOnePerBlock;
    double rate = 0.0;  // probability of a fault per byte
    uint64_t seed = 1;
    // Share of dropped characters the UART counts as an overrun, flagged on
    // the next character it delivers in that direction.
    double overrun_share = 0.0;
};

// What goes on to the receiver for one byte the sender put on the line.
struct Delivery {
    std::array<uint8_t, 2> bytes{};
    uint8_t count = 0;
    bool late = false;                // held back past the receiver's character delay
    bool block_byte = false;          // part of a block, not a control character
    UartFlag flag = UartFlag::kNone;  // the UART's verdict on bytes[0]
};

struct ByteFaultCounts {
    uint64_t bytes = 0;
    std::array<uint64_t, static_cast<size_t>(ByteFaultKind::kCount)> faults{};
    uint64_t blocks = 0;
    uint64_t altered_blocks = 0;  // delivered otherwise than sent
    uint64_t blind_blocks = 0;    // altered, yet framed and checked as good
    uint64_t two_bit_flips = 0;
    // Characters delivered with a flag, by UartFlag.
    std::array<uint64_t, static_cast<size_t>(UartFlag::kCount)> flagged{};
    uint64_t flagged_blocks = 0;        // with a flagged character
    uint64_t blind_flagged_blocks = 0;  // blind blocks the UART's flags give away
    // The other blind blocks, by the kind of their (last) fault: a flip
    // here is one the UART could not see, of an even count of bits.
    std::array<uint64_t, static_cast<size_t>(ByteFaultKind::kCount)> blind_unflagged{};
    // Flagged blocks as their receiver answered them.
    uint64_t flagged_refused = 0;  // NAK
    uint64_t flagged_taken = 0;    // DLE
};

class ByteFaulter {
  public:
    explicit ByteFaulter(const ByteFaultSettings& settings);

    // Decides the fault for one byte from side; never more than one per byte.
    Delivery Pass(Side from, uint8_t byte);
    // As Pass, with the fault (or none) given instead of drawn: for tests.
    Delivery PassWith(Side from, uint8_t byte, const ByteFaultKind* fault, uint16_t flip_mask = 1);

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
        ByteFaultKind fault = ByteFaultKind::kCount;  // the last in the block
        bool flagged = false;                         // a character of the block carries a flag
        Bytes sent;
        Bytes delivered;
        ByteFaultCounts counts;
    };
    void OpenBlockIfArmed(Watch& watch);
    bool Draw(const Watch& watch);
    uint16_t DrawFlipMask();
    Delivery Apply(Side from, uint8_t byte, const ByteFaultKind* fault, uint16_t flip_mask);
    void Follow(Side from, uint8_t byte, const Delivery& delivery);
    void Judge(Side from);

    ByteFaultSettings settings_;
    std::mt19937_64 random_;
    std::array<Watch, 2> watch_;
    std::array<Bytes, 2> last_block_;
    // By direction: a dropped character's overrun waits for the next one.
    std::array<bool, 2> overrun_pending_{};
    // By sender: its last block was flagged; the receiver's answer is counted.
    std::array<bool, 2> answer_counted_{};
};

// True when a receiver takes delivered as a whole block: a closing DLE ETX
// (DLE pairs skipped), and in 3964R the byte behind it matching the XOR of
// everything up to it. *framed_end is the index just past the ETX.
bool ReceiverAccepts(const Bytes& delivered, bool is_3964r, size_t* framed_end);

}  // namespace plcsim
