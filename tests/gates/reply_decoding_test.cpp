// FETCH reply data into the host's buffer and into the staging area. Buffers
// are pre-filled with a marker so that every byte the decoders must leave
// alone, up to the end of the buffer, is checked.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

#include "gates/plc_float.h"
#include "gates/reply_decoder.h"
#include "tests/gates/plc_float_oracle.h"

namespace morvane {
namespace {

constexpr uint8_t kMarker = 0xEE;
constexpr ValueLayout kSingleRead = ValueLayout::kValueSlot;
constexpr ValueLayout kBlockRead = ValueLayout::kBlock;

GateAddress Gate(char class_letter, int width, int bit_number = -1, int string_length = 0) {
    GateAddress gate{};
    gate.parsed = 1;
    gate.class_letter = static_cast<uint32_t>(class_letter);
    gate.packed_address = string_length << 24 | 10 << 16;
    gate.bit_number = bit_number;
    gate.width = width;
    return gate;
}

struct HostBuffer {
    std::vector<uint8_t> bytes;
    TransferBlock block{};

    HostBuffer(const GateAddress& gate, int32_t count, size_t size) : bytes(size, kMarker) {
        block.gate = gate;
        block.count = count;
        block.data = bytes.data();
    }
    // Bytes from..to-1 still hold the marker.
    bool Untouched(size_t from, size_t to) const {
        for (size_t i = from; i < to; ++i)
            if (bytes[i] != kMarker) return false;
        return true;
    }
    template <typename T>
    T At(size_t offset) const {
        T value;
        std::memcpy(&value, bytes.data() + offset, sizeof value);
        return value;
    }
};

TEST(UnpackReply, SingleWordFillsTheSecondHalfOfTheValueSlot) {
    const uint8_t data[] = {0x12, 0x34};
    struct Case {
        int bit_number;
        uint16_t expected;
    };
    for (const Case& c : {Case{-1, 0x1234}, Case{4, 1}, Case{0, 0}, Case{12, 1}, Case{15, 0}}) {
        HostBuffer host(Gate('I', 16, c.bit_number), 1, 8);
        ASSERT_EQ(UnpackReply(&host.block, data, kSingleRead), 0);
        EXPECT_TRUE(host.Untouched(0, 2)) << "bit " << c.bit_number;
        EXPECT_EQ(host.At<uint16_t>(2), c.expected) << "bit " << c.bit_number;
        EXPECT_TRUE(host.Untouched(4, 8));
    }
}

TEST(UnpackReply, SingleLongAndFloatFillTheValueSlot) {
    const uint8_t long_data[] = {0x12, 0x34, 0x56, 0x78};
    HostBuffer long_host(Gate('L', 32), 1, 8);
    ASSERT_EQ(UnpackReply(&long_host.block, long_data, kSingleRead), 0);
    EXPECT_EQ(long_host.At<uint32_t>(0), 0x12345678u);
    EXPECT_TRUE(long_host.Untouched(4, 8));

    const uint8_t float_data[] = {0x07, 0x9C, 0x00, 0x00, 0x01, 0x40, 0x00, 0x00};
    HostBuffer float_host(Gate('F', 32), 2, 8);  // a single read takes the first value only
    ASSERT_EQ(UnpackReply(&float_host.block, float_data, kSingleRead), 0);
    EXPECT_EQ(float_host.At<float>(0), -100.0f);
    EXPECT_TRUE(float_host.Untouched(4, 8));
}

TEST(UnpackReply, SingleStringIsCutAtItsFirstNul) {
    const uint8_t data[] = {'A', 'B', 0, 'C'};
    HostBuffer host(Gate('S', 16, -1, 4), 1, 8);
    ASSERT_EQ(UnpackReply(&host.block, data, kSingleRead), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(host.bytes.data()), "AB");
    for (size_t i = 2; i <= 4; ++i)
        EXPECT_EQ(host.bytes[i], 0) << i;
    EXPECT_TRUE(host.Untouched(5, 8));
}

TEST(UnpackReply, BlockStringsFillSlotsOf81Bytes) {
    const uint8_t data[] = {'A', 'B', 'C', 'D', 'E', 0, 'G', 'H', 'I', 'J', 'K', 'L'};
    HostBuffer host(Gate('S', 16, -1, 4), 3, 3 * MORVANE_STRING_SLOT_SIZE);
    ASSERT_EQ(UnpackReply(&host.block, data, kBlockRead), 0);
    const char* expected[] = {"ABCD", "E", "IJKL"};
    for (size_t slot = 0; slot < 3; ++slot) {
        const size_t start = slot * MORVANE_STRING_SLOT_SIZE;
        EXPECT_STREQ(reinterpret_cast<const char*>(&host.bytes[start]), expected[slot]);
        EXPECT_EQ(host.bytes[start + 4], 0);
        EXPECT_TRUE(host.Untouched(start + 5, start + MORVANE_STRING_SLOT_SIZE)) << "slot " << slot;
    }
    EXPECT_EQ(host.bytes[MORVANE_STRING_SLOT_SIZE + 2], 0);  // behind the cut
    EXPECT_EQ(host.bytes[MORVANE_STRING_SLOT_SIZE + 3], 0);
}

TEST(UnpackReply, BlockValuesArePackedAndEndAtTheLastValue) {
    const uint8_t data[] = {0x00, 0x01, 0xAB, 0xCD, 0x01, 0x40, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78};
    HostBuffer words(Gate('I', 16, 3), 3, 10);  // the bit number plays no part in a block
    ASSERT_EQ(UnpackReply(&words.block, data, kBlockRead), 0);
    EXPECT_EQ(words.At<uint16_t>(0), 0x0001);
    EXPECT_EQ(words.At<uint16_t>(2), 0xABCD);
    EXPECT_EQ(words.At<uint16_t>(4), 0x0140);
    EXPECT_TRUE(words.Untouched(6, 10));

    HostBuffer longs(Gate('L', 32), 2, 12);
    ASSERT_EQ(UnpackReply(&longs.block, data + 4, kBlockRead), 0);
    EXPECT_EQ(longs.At<uint32_t>(0), 0x01400000u);
    EXPECT_EQ(longs.At<uint32_t>(4), 0x12345678u);
    EXPECT_TRUE(longs.Untouched(8, 12));

    HostBuffer floats(Gate('F', 32), 2, 12);
    ASSERT_EQ(UnpackReply(&floats.block, data + 4, kBlockRead), 0);
    EXPECT_EQ(floats.At<float>(0), 1.0f);
    EXPECT_EQ(floats.At<uint32_t>(4), PlcFloatToIeee(0x12345678));
    EXPECT_TRUE(floats.Untouched(8, 12));
}

TEST(UnpackReply, NoCountStoresNothing) {
    const uint8_t data[] = {0x12, 0x34, 0x56, 0x78};
    for (ValueLayout layout : {kSingleRead, kBlockRead}) {
        for (int32_t count : {0, -1}) {
            HostBuffer host(Gate('L', 32), count, 8);
            EXPECT_EQ(UnpackReply(&host.block, data, layout), 0);
            EXPECT_TRUE(host.Untouched(0, 8));
        }
    }
}

// Records the parser never produces would make the decoder read past the
// reply (which holds WordsPerItem words per item) or write past a slot.
TEST(UnpackReply, RefusesRecordsTheReplyCannotFill) {
    const uint8_t data[128] = {1, 2, 3, 4};
    struct Case {
        GateAddress gate;
        int32_t count;
        ValueLayout layout;
    };
    const Case cases[] = {
        {Gate('I', 24), 1, kSingleRead},       {Gate('L', 8), 1, kBlockRead},
        {Gate('I', 32), 1, kSingleRead},       {Gate('I', 32), 2, kBlockRead},
        {Gate('S', 16, -1, 3), 1, kBlockRead}, {Gate('S', 16, -1, 82), 1, kSingleRead},
        {Gate('S', 16, -1, 0), 1, kBlockRead}, {Gate('I', 16), 65, kBlockRead},
        {Gate('F', 32), 33, kBlockRead},       {Gate('S', 32, -1, 80), 2, kBlockRead},
    };
    for (const Case& c : cases) {
        HostBuffer host(c.gate, c.count, 2 * MORVANE_STRING_SLOT_SIZE);
        EXPECT_EQ(UnpackReply(&host.block, data, c.layout), 1)
            << char(c.gate.class_letter) << c.gate.width << " count " << c.count;
        EXPECT_TRUE(host.Untouched(0, host.bytes.size()));
    }
}

TEST(UnpackReply, LargestBlocksOfOneTelegram) {
    std::vector<uint8_t> data(128);
    std::iota(data.begin(), data.end(), uint8_t{0});
    HostBuffer words(Gate('I', 16), 64, 130);
    ASSERT_EQ(UnpackReply(&words.block, data.data(), kBlockRead), 0);
    EXPECT_EQ(words.At<uint16_t>(126), 0x7E7F);
    EXPECT_TRUE(words.Untouched(128, 130));

    HostBuffer strings(Gate('S', 16, -1, 80), 1, MORVANE_STRING_SLOT_SIZE + 1);
    ASSERT_EQ(UnpackReply(&strings.block, data.data() + 1, kBlockRead), 0);
    EXPECT_EQ(strings.bytes[79], 80);
    EXPECT_EQ(strings.bytes[80], 0);
    EXPECT_TRUE(strings.Untouched(MORVANE_STRING_SLOT_SIZE, MORVANE_STRING_SLOT_SIZE + 1));
}

struct Staging {
    std::unique_ptr<ChannelArea> area = std::make_unique<ChannelArea>();
    Staging() {
        std::memset(area.get(), kMarker, sizeof *area);
        area->saved_thread_priority = 0x5A5A5A5A;
    }
    bool Untouched(size_t from, size_t to) const {
        for (size_t i = from; i < to; ++i)
            if (area->reply_data[i] != kMarker) return false;
        return area->saved_thread_priority == 0x5A5A5A5A;
    }
    uint16_t WordAt(size_t offset) const {
        uint16_t value;
        std::memcpy(&value, area->reply_data + offset, sizeof value);
        return value;
    }
};

// 200 words travel as 128, 128, 128 and 16 bytes.
TEST(UnpackChunk, StagesEachTelegramAt128TimesItsIndex) {
    Staging staging;
    std::vector<uint8_t> line(400);
    for (size_t i = 0; i < line.size(); i += 2) {
        line[i] = static_cast<uint8_t>(i / 2 >> 8);
        line[i + 1] = static_cast<uint8_t>(i / 2);
    }
    for (uint32_t index = 0; index < 4; ++index) {
        const uint16_t bytes = index < 3 ? 128 : 16;
        ASSERT_EQ(UnpackChunk(staging.area.get(), line.data() + 128 * index, bytes, 'I', index), 0);
    }
    for (size_t word = 0; word < 200; ++word)
        ASSERT_EQ(staging.WordAt(2 * word), static_cast<uint16_t>(word));
    EXPECT_TRUE(staging.Untouched(400, MORVANE_REPLY_DATA_SIZE));
}

TEST(UnpackChunk, ConvertsByClassLetter) {
    const uint8_t data[] = {0x01, 0x40, 0x00, 0x00, 'a', 0, 'b', 'c'};
    Staging staging;
    ASSERT_EQ(UnpackChunk(staging.area.get(), data, 8, 'F', 1), 0);
    float first;
    std::memcpy(&first, staging.area->reply_data + 128, sizeof first);
    EXPECT_EQ(first, 1.0f);
    ASSERT_EQ(UnpackChunk(staging.area.get(), data, 8, 'L', 2), 0);
    uint32_t second;
    std::memcpy(&second, staging.area->reply_data + 260, sizeof second);
    EXPECT_EQ(second, 0x61006263u);
    ASSERT_EQ(UnpackChunk(staging.area.get(), data, 7, 'S', 3), 0);  // strings stay packed
    EXPECT_EQ(std::memcmp(staging.area->reply_data + 384, data, 7), 0);
    EXPECT_TRUE(staging.Untouched(391, MORVANE_REPLY_DATA_SIZE));
    EXPECT_TRUE(staging.Untouched(0, 128));
}

TEST(UnpackChunk, NeverWritesBeyondTheReplyData) {
    const uint8_t data[256] = {};
    struct Case {
        uint16_t bytes;
        uint32_t class_letter;
        uint32_t index;
        int result;
    };
    const Case cases[] = {
        {128, 'I', 31, 0},
        {0, 'I', 32, 0},
        {2, 'I', 32, 1},
        {1, 'S', 32, 1},
        {128, 'F', 0xFFFFFFFF, 1},
        {4, 'L', 0x2000000, 1},
        {129, 'S', 0, 1},
        {8, 'X', 0, 1},
        {8, 'i', 0, 1},
    };
    for (const Case& c : cases) {
        Staging staging;
        EXPECT_EQ(UnpackChunk(staging.area.get(), data, c.bytes, c.class_letter, c.index), c.result)
            << c.bytes << " bytes at index " << c.index;
        if (c.result != 0) {
            EXPECT_TRUE(staging.Untouched(0, MORVANE_REPLY_DATA_SIZE));
        }
    }
    Staging last;
    ASSERT_EQ(UnpackChunk(last.area.get(), data, 128, 'I', 31), 0);
    EXPECT_TRUE(last.Untouched(0, 3968));
}

TEST(UnpackStringSlots, SpreadsPackedStringsOverSlots) {
    const uint8_t packed[] = {'x', 'y', 0, 'z', 'u', 'v'};
    std::vector<uint8_t> slots(2 * MORVANE_STRING_SLOT_SIZE, kMarker);
    ASSERT_EQ(UnpackStringSlots(slots.data(), packed, 3, 2), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(slots.data()), "xy");
    EXPECT_STREQ(reinterpret_cast<const char*>(slots.data() + MORVANE_STRING_SLOT_SIZE), "zuv");
    EXPECT_EQ(slots[4], kMarker);
    EXPECT_EQ(UnpackStringSlots(slots.data(), packed, MORVANE_STRING_MAX_LENGTH + 1, 1), 1);
}

}  // namespace
}  // namespace morvane
