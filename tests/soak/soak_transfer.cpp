#include "soak/soak_transfer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "e2e/host.h"
#include "gates/plc_float.h"
#include "morvane/morvane.h"

// The PLC float format is the one conversion taken from the driver: the
// soak checks where values land, the float tests check the conversion.
namespace morvane::soak {
namespace {

template <typename T>
void Put(HostBytes& bytes, size_t at, T value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}
template <typename T>
T Get(const HostBytes& bytes, size_t at) {
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

uint32_t WordsPerItem(const Transfer& t) {
    if (t.kind == Kind::kLong || t.kind == Kind::kFloat) return 2;
    if (t.kind == Kind::kString) return t.string_length / 2u;
    return 1;
}

bool IsSingle(const Transfer& t) {
    return !IsBlock(t.op);
}

// Host buffer bytes per item.
size_t ItemSize(const Transfer& t) {
    switch (t.kind) {
        case Kind::kWord:
            return IsSingle(t) ? MORVANE_VALUE_SLOT_SIZE : 2;
        case Kind::kBit:
            return MORVANE_VALUE_SLOT_SIZE;
        case Kind::kString:
            return IsSingle(t) ? t.string_length + 1u : MORVANE_STRING_SLOT_SIZE;
        default:
            return 4;
    }
}

uint32_t Pick(std::mt19937_64& random, uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(random);
}

// Items: most transfers short, some spanning many telegrams.
int32_t PickCount(std::mt19937_64& random, uint32_t most) {
    const uint32_t bucket = Pick(random, 0, 99);
    const uint32_t upper = bucket < 55 ? 16 : bucket < 85 ? 192 : most;
    return static_cast<int32_t>(Pick(random, 1, upper < most ? upper : most));
}

// A float both formats hold exactly and far from the range ends.
float RandomFloat(std::mt19937_64& random) {
    const int mantissa = static_cast<int>(Pick(random, 1, (1u << 20) - 1));
    const int exponent = static_cast<int>(Pick(random, 0, 40)) - 20;
    const float value = static_cast<float>(mantissa) * std::ldexp(1.0f, exponent - 10);
    return Pick(random, 0, 1) ? -value : value;
}

void FillValues(Transfer& t, std::mt19937_64& random) {
    t.host.assign(ItemSize(t) * t.count, 0);
    for (int32_t i = 0; i < t.count; ++i) {
        const size_t at = ItemSize(t) * i;
        switch (t.kind) {
            case Kind::kWord:
                Put<uint16_t>(t.host, at + (IsSingle(t) ? MORVANE_VALUE_SLOT_WORD_OFFSET : 0),
                              static_cast<uint16_t>(random()));
                break;
            case Kind::kBit:  // any non-zero value sets the bit
                Put<uint16_t>(
                    t.host, at + MORVANE_VALUE_SLOT_WORD_OFFSET,
                    Pick(random, 0, 1) ? static_cast<uint16_t>(Pick(random, 1, 0xFFFF)) : 0);
                break;
            case Kind::kLong:
                Put<uint32_t>(t.host, at, static_cast<uint32_t>(random()));
                break;
            case Kind::kFloat:
                Put<float>(t.host, at, RandomFloat(random));
                break;
            case Kind::kString: {
                const uint32_t length = Pick(random, 0, t.string_length);
                for (uint32_t c = 0; c < length; ++c)
                    t.host[at + c] = static_cast<uint8_t>(Pick(random, 0x20, 0x7E));
                break;
            }
        }
    }
}

std::string AddressOf(const Transfer& t) {
    char text[16];
    const int word = t.first_word;
    switch (t.kind) {
        case Kind::kBit:
            std::snprintf(text, sizeof text, "%03d%03d%02d", kSoakBlock, word, t.bit);
            break;
        case Kind::kLong:
            std::snprintf(text, sizeof text, "%03d%03dL", kSoakBlock, word);
            break;
        case Kind::kFloat:
            std::snprintf(text, sizeof text, "%03d%03dF", kSoakBlock, word);
            break;
        case Kind::kString:
            std::snprintf(text, sizeof text, "%03d%03dS%02d", kSoakBlock, word, t.string_length);
            break;
        case Kind::kWord:
            std::snprintf(text, sizeof text, "%03d%03d", kSoakBlock, word);
            break;
    }
    return text;
}

uint32_t GateTypeOf(Kind kind) {
    switch (kind) {
        case Kind::kBit:
            return MORVANE_GATE_DIGITAL;
        case Kind::kLong:
            return MORVANE_GATE_LONG;
        case Kind::kFloat:
            return MORVANE_GATE_FLOAT;
        case Kind::kString:
            return MORVANE_GATE_STRING;
        case Kind::kWord:
            break;
    }
    return MORVANE_GATE_WORD;
}

uint16_t HighWord(uint32_t value) {
    return static_cast<uint16_t>(value >> 16);
}

uint32_t LongAt(const Words& plc, size_t word) {
    return static_cast<uint32_t>(plc[word]) << 16 | plc[word + 1];
}

}  // namespace

bool IsWrite(Op op) {
    return op == Op::kSingleWrite || op == Op::kBlockWrite;
}
bool IsBlock(Op op) {
    return op == Op::kBlockRead || op == Op::kBlockWrite;
}

uint32_t CommandCode(Op op) {
    switch (op) {
        case Op::kSingleRead:
            return MORVANE_CMD_SINGLE_READ;
        case Op::kBlockRead:
            return MORVANE_CMD_BLOCK_READ;
        case Op::kSingleWrite:
            return MORVANE_CMD_SINGLE_WRITE;
        case Op::kBlockWrite:
            return MORVANE_CMD_BLOCK_WRITE;
    }
    return 0;
}

uint32_t LineBytes(const Transfer& t) {
    return 2u * t.words;
}

std::string Describe(const Transfer& t) {
    static const char* const kOps[] = {"SingleRead", "BlockRead", "SingleWrite", "BlockWrite"};
    char text[96];
    std::snprintf(text, sizeof text, "%s \"%s\" count %d (words %u..%u)",
                  kOps[static_cast<int>(t.op)], t.address.c_str(), t.count, t.first_word,
                  t.first_word + t.words - 1u);
    return text;
}

Transfer RandomTransfer(std::mt19937_64& random) {
    Transfer t;
    t.kind = static_cast<Kind>(Pick(random, 0, 4));
    t.op = static_cast<Op>(Pick(random, 0, 3));
    if (t.kind == Kind::kBit && IsBlock(t.op))
        t.op = IsWrite(t.op) ? Op::kSingleWrite : Op::kSingleRead;
    if (t.kind == Kind::kString && t.op == Op::kBlockWrite) t.op = Op::kSingleWrite;
    if (t.kind == Kind::kString) t.string_length = static_cast<uint8_t>(2 * Pick(random, 1, 40));
    const uint32_t per_item = WordsPerItem(t);

    // Items the command takes: a single read one, a single write one telegram's worth.
    uint32_t most = 1;
    if (t.op == Op::kSingleWrite &&
        (t.kind == Kind::kWord || t.kind == Kind::kLong || t.kind == Kind::kFloat))
        most = MORVANE_TELEGRAM_DATA_SIZE / (2 * per_item);
    if (IsBlock(t.op))
        most = (t.op == Op::kBlockRead ? MORVANE_REPLY_DATA_SIZE / 2 : kSoakBlockWords) / per_item;
    t.count = PickCount(random, most);
    t.words = static_cast<uint16_t>(t.count * per_item);
    if (t.op == Op::kSingleRead) t.words = static_cast<uint16_t>(per_item);

    // A start word the header carries, on an item boundary, with the range inside the block.
    const uint32_t last_start = std::min<uint32_t>(255, kSoakBlockWords - t.words);
    t.first_word = static_cast<uint16_t>(Pick(random, 0, last_start) / per_item * per_item);
    if (t.kind == Kind::kBit) t.bit = static_cast<int>(Pick(random, 0, 15));
    t.address = AddressOf(t);
    t.gate_type = GateTypeOf(t.kind);
    if (IsWrite(t.op))
        FillValues(t, random);
    else
        t.host.assign(ItemSize(t) * t.count, kUntouched);
    return t;
}

HostBytes ExpectedReadBuffer(const Transfer& t, const Words& plc) {
    HostBytes out(t.host.size(), kUntouched);
    const size_t first = t.first_word;
    const int32_t items = IsSingle(t) ? 1 : t.count;
    for (int32_t i = 0; i < items; ++i) {
        const size_t at = ItemSize(t) * i;
        const size_t word = first + WordsPerItem(t) * i;
        switch (t.kind) {
            case Kind::kWord:
                Put<uint16_t>(out, at + (IsSingle(t) ? MORVANE_VALUE_SLOT_WORD_OFFSET : 0),
                              plc[word]);
                break;
            case Kind::kBit:
                Put<uint16_t>(out, at + MORVANE_VALUE_SLOT_WORD_OFFSET,
                              static_cast<uint16_t>(plc[word] >> t.bit & 1));
                break;
            case Kind::kLong:
                Put<uint32_t>(out, at, LongAt(plc, word));
                break;
            case Kind::kFloat:
                Put<uint32_t>(out, at, PlcFloatToIeee(LongAt(plc, word)));
                break;
            case Kind::kString: {
                // The characters up to the first NUL, NUL behind them and at the end.
                bool ended = false;
                for (size_t c = 0; c < t.string_length; ++c) {
                    const uint16_t pair = plc[word + c / 2];
                    const uint8_t ch = static_cast<uint8_t>(c % 2 ? pair : pair >> 8);
                    ended = ended || ch == 0;
                    out[at + c] = ended ? 0 : ch;
                }
                out[at + t.string_length] = 0;
                break;
            }
        }
    }
    return out;
}

Words ExpectedWrittenWords(const Transfer& t, const Words& before) {
    Words words(before.begin() + t.first_word, before.begin() + t.first_word + t.words);
    for (int32_t i = 0; i < t.count; ++i) {
        const size_t at = ItemSize(t) * i;
        const size_t word = WordsPerItem(t) * i;
        switch (t.kind) {
            case Kind::kWord:
                words[word] =
                    Get<uint16_t>(t.host, at + (IsSingle(t) ? MORVANE_VALUE_SLOT_WORD_OFFSET : 0));
                break;
            case Kind::kBit: {
                const auto mask = static_cast<uint16_t>(1u << t.bit);
                const bool set = Get<uint16_t>(t.host, at + MORVANE_VALUE_SLOT_WORD_OFFSET) != 0;
                words[word] = static_cast<uint16_t>(set ? words[word] | mask : words[word] & ~mask);
                break;
            }
            case Kind::kLong:
            case Kind::kFloat: {
                uint32_t value = Get<uint32_t>(t.host, at);
                if (t.kind == Kind::kFloat) value = IeeeToPlcFloat(value);
                words[word] = HighWord(value);
                words[word + 1] = static_cast<uint16_t>(value);
                break;
            }
            case Kind::kString: {
                bool ended = false;
                for (size_t c = 0; c < t.string_length; ++c) {
                    ended = ended || t.host[at + c] == 0;
                    const uint8_t ch = ended ? 0 : t.host[at + c];
                    uint16_t& pair = words[word + c / 2];
                    pair = static_cast<uint16_t>(c % 2 ? (pair & 0xFF00) | ch
                                                       : (pair & 0x00FF) | ch << 8);
                }
                break;
            }
        }
    }
    return words;
}

}  // namespace morvane::soak
