// Transfer commands given records they cannot work with: answered before
// anything reaches the line (the channel here has no port at all), the
// host's buffer as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "morvane/morvane.h"
#include "support/log_capture.h"

namespace morvane {
namespace {

using test::LogCapture;

constexpr uint32_t kTransferCommands[] = {MORVANE_CMD_SINGLE_READ, MORVANE_CMD_BLOCK_READ,
                                          MORVANE_CMD_SINGLE_WRITE, MORVANE_CMD_BLOCK_WRITE};

GateAddress WordGate() {
    return GateAddress{1, MORVANE_CLASS_WORD, 10 << 16, -1, 16};
}

int32_t Call(uint32_t command, ChannelArea* area, TransferBlock* block) {
    TevRequest request{};
    request.channel_area = area;
    request.command_code = command;
    request.channel_number = 1;
    request.parameter_block = block;
    return TevMain(&request);
}

TEST(TransferRecords, MissingAreaBlockOrBufferIsAnsweredWithTwo) {
    std::vector<uint8_t> area_bytes(MORVANE_CHANNEL_AREA_SIZE, 0);
    auto* area = reinterpret_cast<ChannelArea*>(area_bytes.data());
    uint8_t slot[4] = {};
    for (uint32_t command : kTransferCommands) {
        SCOPED_TRACE(command);
        LogCapture log;
        TransferBlock block{};
        block.gate = WordGate();
        block.count = 1;
        block.data = slot;
        EXPECT_EQ(Call(command, area, nullptr), MORVANE_LINE_FAILED);
        EXPECT_EQ(Call(command, nullptr, &block), MORVANE_LINE_FAILED);
        block.data = nullptr;
        EXPECT_EQ(Call(command, area, &block), MORVANE_LINE_FAILED);
        EXPECT_TRUE(log.lines().empty()) << log.Dump();
    }
}

TEST(TransferRecords, BlockReadOfAnUnknownClassIsRefusedWithOneTraceLine) {
    std::vector<uint8_t> area_bytes(MORVANE_CHANNEL_AREA_SIZE, 0);
    std::vector<uint8_t> host(16, 0xEE);
    for (uint32_t class_letter : {uint32_t{'X'}, uint32_t{'i'}, uint32_t{0}}) {
        SCOPED_TRACE(class_letter);
        LogCapture log;
        TransferBlock block{};
        block.gate = WordGate();
        block.gate.class_letter = class_letter;
        block.count = 4;
        block.data = host.data();
        EXPECT_EQ(
            Call(MORVANE_CMD_BLOCK_READ, reinterpret_cast<ChannelArea*>(area_bytes.data()), &block),
            MORVANE_REQUEST_FAILED);
        ASSERT_EQ(log.lines().size(), 1u) << log.Dump();
        EXPECT_EQ(log.lines()[0].level, MORVANE_LOG_TRACE);
        EXPECT_EQ(host, std::vector<uint8_t>(16, 0xEE));
    }
}

}  // namespace
}  // namespace morvane
