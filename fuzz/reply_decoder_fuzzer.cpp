// Arbitrary reply data and gate records through both decoders. Every buffer
// is allocated with exactly the size its layout gives, so AddressSanitizer
// reports any byte read or written beyond it.
//
// Input: layout selector (even: the value slot, odd: a block), class selector, width selector,
// string length, bit number, count (2 bytes), telegram index (4 bytes), byte count (2 bytes), then
// the reply bytes (repeated as needed).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "gates/gate_address.h"
#include "gates/reply_decoder.h"

namespace {

constexpr uint8_t kMarker = 0xA5;
constexpr size_t kHeaderSize = 13;

struct Input {
    morvane::ValueLayout layout;
    GateAddress gate;
    int32_t count;
    uint32_t telegram_index;
    uint16_t byte_count;
    const uint8_t* reply;
    size_t reply_size;
};

uint32_t ClassOf(uint8_t selector) {
    static constexpr char kClasses[] = {'I', 'F', 'L', 'S'};
    return selector < 0xC0 ? static_cast<uint32_t>(kClasses[selector % 4]) : selector;
}

Input Decode(const uint8_t* data, size_t size) {
    Input in{};
    in.layout = data[0] % 2 == 0 ? morvane::ValueLayout::kValueSlot : morvane::ValueLayout::kBlock;
    in.gate.parsed = 1;
    in.gate.class_letter = ClassOf(data[1]);
    in.gate.width = data[2] < 0xC0 ? (data[2] % 2 == 0 ? 16 : 32) : static_cast<int8_t>(data[2]);
    in.gate.packed_address = static_cast<int32_t>(static_cast<uint32_t>(data[3]) << 24);
    in.gate.bit_number = static_cast<int8_t>(data[4]);
    in.count = static_cast<int16_t>(data[5] << 8 | data[6]);
    in.telegram_index =
        static_cast<uint32_t>(data[7]) << 24 | data[8] << 16 | data[9] << 8 | data[10];
    in.byte_count = static_cast<uint16_t>(data[11] << 8 | data[12]);
    in.reply = data + kHeaderSize;
    in.reply_size = size - kHeaderSize;
    return in;
}

// Exactly size bytes: the reply bytes of the input, repeated.
std::unique_ptr<uint8_t[]> Bytes(const Input& in, size_t size) {
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);
    if (in.reply_size == 0) {
        std::memset(bytes.get(), 0, size);
        return bytes;
    }
    size_t done = std::min(in.reply_size, size);
    std::memcpy(bytes.get(), in.reply, done);
    while (done < size) {  // doubling keeps long buffers cheap
        const size_t part = std::min(done, size - done);
        std::memcpy(bytes.get() + done, bytes.get(), part);
        done += part;
    }
    return bytes;
}

bool AllMarker(const uint8_t* bytes, size_t size) {
    static const std::vector<uint8_t> markers(sizeof(ChannelArea), kMarker);
    for (size_t done = 0; done < size; done += markers.size()) {
        const size_t part = std::min(markers.size(), size - done);
        if (std::memcmp(bytes + done, markers.data(), part) != 0) return false;
    }
    return true;
}

// A string as decoded: NUL at position n, and only NULs behind the first one.
void CheckString(const uint8_t* text, size_t length) {
    FUZZ_CHECK(text[length] == 0);
    bool ended = false;
    for (size_t i = 0; i < length; ++i) {
        ended = ended || text[i] == 0;
        if (ended) FUZZ_CHECK(text[i] == 0);
    }
}

// The host buffer the layout gives for this record.
size_t HostBufferSize(const Input& in) {
    const bool is_string = in.gate.class_letter == MORVANE_CLASS_STRING;
    const size_t length = morvane::StringLengthOf(in.gate);
    if (in.layout == morvane::ValueLayout::kValueSlot) return is_string ? length + 1 : 4;
    const size_t count = static_cast<size_t>(in.count);
    if (is_string) return MORVANE_STRING_SLOT_SIZE * count;
    return in.gate.width == 32 ? 4 * count : 2 * count;
}

// A transfer of at most 64 words, as the FETCH exchange hands it over.
void FuzzReply(const Input& in) {
    const uint32_t words = static_cast<uint32_t>(in.count) * morvane::WordsPerItem(in.gate);
    // At most 64 items: no item is shorter than one word (a string length
    // below 2 gives none, and the decoder refuses it).
    if (in.count < 0 || in.count > 64 || words > 64) return;
    const auto reply = Bytes(in, 2 * words);
    const size_t host_size = HostBufferSize(in);
    const std::unique_ptr<uint8_t[]> host(new uint8_t[host_size]);
    std::memset(host.get(), kMarker, host_size);
    TransferBlock block{};
    block.gate = in.gate;
    block.count = in.count;
    block.data = host.get();

    const int result = morvane::UnpackReply(&block, reply.get(), in.layout);
    FUZZ_CHECK(result == 0 || result == 1);
    if (result != 0 || in.count == 0) {
        FUZZ_CHECK(AllMarker(host.get(), host_size));
        return;
    }
    const bool single = in.layout == morvane::ValueLayout::kValueSlot;
    const size_t length = morvane::StringLengthOf(in.gate);
    const size_t items = single ? 1 : static_cast<size_t>(in.count);
    for (size_t i = 0; i < items; ++i) {
        if (in.gate.class_letter == MORVANE_CLASS_STRING) {
            CheckString(host.get() + MORVANE_STRING_SLOT_SIZE * i, length);
        } else if (in.gate.width == 32 && in.gate.class_letter == MORVANE_CLASS_FLOAT) {
            float value;
            std::memcpy(&value, host.get() + 4 * i, sizeof value);
            FUZZ_CHECK(std::isfinite(value));
        }
    }
    if (single && in.gate.class_letter != MORVANE_CLASS_STRING && in.gate.width == 16)
        FUZZ_CHECK(host[0] == kMarker && host[1] == kMarker);
}

// One telegram staged at 128 * index, whatever index and byte count say.
void FuzzChunk(const Input& in) {
    const auto data = Bytes(in, in.byte_count);
    const auto area = std::make_unique<ChannelArea>();
    std::memset(area.get(), kMarker, sizeof *area);
    const int result = morvane::UnpackChunk(area.get(), data.get(), in.byte_count,
                                            in.gate.class_letter, in.telegram_index);
    const uint64_t start = uint64_t{MORVANE_TELEGRAM_DATA_SIZE} * in.telegram_index;
    const uint64_t end = start + in.byte_count;
    const uint32_t c = in.gate.class_letter;
    const bool known = c == 'I' || c == 'F' || c == 'L' || c == 'S';
    FUZZ_CHECK(result == (known && in.byte_count <= MORVANE_TELEGRAM_DATA_SIZE &&
                                  end <= MORVANE_REPLY_DATA_SIZE
                              ? 0
                              : 1));

    // Nothing outside the telegram's place in the reply data has changed.
    const auto* bytes = reinterpret_cast<const uint8_t*>(area.get());
    const size_t from = offsetof(ChannelArea, reply_data) + (result == 0 ? start : 0);
    const size_t to = result == 0 ? offsetof(ChannelArea, reply_data) + end : from;
    FUZZ_CHECK(AllMarker(bytes, from));
    FUZZ_CHECK(AllMarker(bytes + to, sizeof *area - to));
    if (result != 0 || c == 'S') return;

    // Staged values are the block layout of the same data.
    const uint32_t item_bytes = c == 'I' ? 2 : 4;
    std::vector<uint8_t> block_layout(in.byte_count, kMarker);
    TransferBlock block{};
    block.gate.class_letter = c;
    block.gate.width = c == 'I' ? 16 : 32;
    block.count = in.byte_count / item_bytes;
    block.data = block_layout.data();
    FUZZ_CHECK(morvane::UnpackReply(&block, data.get(), morvane::ValueLayout::kBlock) == 0);
    const size_t decoded = block.count * item_bytes;
    if (decoded > 0)
        FUZZ_CHECK(std::memcmp(area->reply_data + start, block_layout.data(), decoded) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderSize) return 0;
    const Input in = Decode(data, size);
    FuzzReply(in);
    FuzzChunk(in);
    return 0;
}
