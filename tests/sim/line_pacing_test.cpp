// A paced Line on its pseudo-terminal against a plain other end: however
// late its wake-ups come, no block crosses faster than the line allows, in
// either direction, also when it follows an idle line. Only lower bounds on
// time are checked: they hold on a busy machine too.
#include <gtest/gtest.h>

#include <chrono>

#include "sim/line.h"
#include "slave_end.h"

namespace plcsim {
namespace {

using Clock = std::chrono::steady_clock;
using test::SlaveEnd;

constexpr uint32_t kBaud = 115200;
constexpr uint32_t kBits = 11;
constexpr size_t kBlock = 200;  // 19.1 ms on the line

Bytes Block() {
    Bytes block(kBlock);
    for (size_t i = 0; i < kBlock; ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    return block;
}

// The line's end reads count bytes as the simulator does, one at a time.
Bytes ReadBytes(Line& line, size_t count) {
    Bytes got;
    uint8_t byte = 0;
    while (got.size() < count && line.ReadByte(&byte, 500))
        got.push_back(byte);
    return got;
}

TEST(PacedLine, BlockNeverCrossesFasterThanTheLine) {
    const struct {
        const char* name;
        bool send;        // from the Line, else towards it
        bool idle_first;  // one character, then the line idles for longer than the block takes
    } cases[] = {
        {"send", true, false},
        {"send after an idle line", true, true},
        {"receive", false, false},
        {"receive after an idle line", false, true},
    };
    const auto line_time = kBlock * LineTimetable::CharacterTime(kBaud, kBits);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        const auto line = Line::OpenPty(&error);
        ASSERT_TRUE(line) << error;
        SlaveEnd end(line->path());
        ASSERT_TRUE(end.ok());
        line->SetPacing(kBaud, kBits);
        if (c.idle_first) {
            const uint8_t first = 0x55;
            if (c.send) {
                line->Write(&first, 1);
                ASSERT_EQ(end.Read(1), "55");
            } else {
                end.Send("55");
                ASSERT_EQ(ReadBytes(*line, 1), Bytes{first});
            }
            // The line idles as the simulator's does, its thread waiting for
            // input: only that tells the line its thread is no longer running
            // late from the wake-up that sent or took the first character.
            uint8_t none = 0;
            ASSERT_FALSE(line->ReadByte(&none, 25));
        }
        const Bytes block = Block();
        const auto start = Clock::now();
        if (c.send) {
            line->Write(block.data(), block.size());
            EXPECT_EQ(end.Read(kBlock), morvane::test::ToHex(block));
        } else {
            end.Send(block);
            EXPECT_EQ(ReadBytes(*line, kBlock), block);
        }
        EXPECT_GE(Clock::now() - start, line_time);
    }
}

// The simulator reads bytes seen waiting without waiting for each: an answer
// after part of a block must still not leave before that part has crossed.
TEST(PacedLine, AnswerLeavesOnlyAfterTheReceivedBlockCrossed) {
    std::string error;
    const auto line = Line::OpenPty(&error);
    ASSERT_TRUE(line) << error;
    SlaveEnd end(line->path());
    ASSERT_TRUE(end.ok());
    line->SetPacing(kBaud, kBits);
    const Bytes block = Block();
    const auto start = Clock::now();
    end.Send(block);
    const size_t taken = kBlock / 2;
    ASSERT_EQ(ReadBytes(*line, taken), Bytes(block.begin(), block.begin() + taken));
    const Bytes answer = {0x10, 0x02, 0x10};
    line->Write(answer.data(), answer.size());
    EXPECT_EQ(end.Read(answer.size()), "10 02 10");
    EXPECT_GE(Clock::now() - start,
              (taken + answer.size()) * LineTimetable::CharacterTime(kBaud, kBits));
}

}  // namespace
}  // namespace plcsim
