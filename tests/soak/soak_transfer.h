// One transfer of the soak: a random command on a random value kind, range
// and data, with what the host's buffer and the PLC's words must hold
// afterwards. The soak keeps its own model of the data block's words; the
// expectations here are worked out from that model and the host's values.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace morvane::soak {

using Words = std::vector<uint16_t>;
using HostBytes = std::vector<uint8_t>;

// Data block the soak works on, and its length: every range of up to 2048
// words from a start word the telegram header can carry (0 to 255) fits.
constexpr uint8_t kSoakBlock = 10;
constexpr uint16_t kSoakBlockWords = 2048;
// The host's buffers before a call: a read that fails must leave them so.
constexpr uint8_t kUntouched = 0xEE;

enum class Op { kSingleRead, kBlockRead, kSingleWrite, kBlockWrite };
enum class Kind { kWord, kBit, kLong, kFloat, kString };

struct Transfer {
    Op op = Op::kSingleRead;
    Kind kind = Kind::kWord;
    std::string address;
    uint32_t gate_type = 0;
    int32_t count = 1;
    int bit = -1;
    uint8_t string_length = 0;
    uint16_t first_word = 0;  // the range on the PLC
    uint16_t words = 0;
    HostBytes host;  // the buffer handed to the driver: values, or kUntouched
};

bool IsWrite(Op op);
bool IsBlock(Op op);
uint32_t CommandCode(Op op);
// Data bytes on the line; the telegrams follow from them.
uint32_t LineBytes(const Transfer& transfer);
std::string Describe(const Transfer& transfer);

// A random transfer: mostly short ranges, some of many telegrams.
Transfer RandomTransfer(std::mt19937_64& random);

// What the host's buffer must hold after a good read of plc (the whole block).
HostBytes ExpectedReadBuffer(const Transfer& transfer, const Words& plc);
// What the range must hold after a good write, given the words before it.
Words ExpectedWrittenWords(const Transfer& transfer, const Words& before);

}  // namespace morvane::soak
