#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "entry/driver_state.h"
#include "entry/tev_info.h"
#include "support/log_capture.h"

namespace morvane {
namespace {

std::string Repeat(unsigned char byte, size_t count) {
    return std::string(count, static_cast<char>(byte));
}

TEST(GetTevInfo, FillsEveryFieldBeforeAnyColdStart) {
    SetDriverEnded(false);
    test::LogCapture log;
    InfoBlock info;
    std::memset(&info, 0xA5, sizeof info);
    TevRequest request{nullptr, MORVANE_CMD_GET_TEV_INFO, 0, 0, &info};

    EXPECT_EQ(TevMain(&request), MORVANE_OK);
    EXPECT_EQ(info.first_word, 82u);
    EXPECT_STREQ(info.description, "Siemens 3964 with RK512");
    EXPECT_EQ(std::strlen(info.description), 23u);
    EXPECT_EQ(info.channel_area_size, 4135u);
    EXPECT_EQ(info.fifth_word, 4u);
    EXPECT_EQ(info.defaults.baud_rate, 9600);
    EXPECT_EQ(info.defaults.data_bits, 8);
    EXPECT_EQ(info.defaults.stop_bits, 0);
    EXPECT_EQ(info.defaults.parity, 2);
    EXPECT_EQ(info.last_word, 0x00D00023u);
    EXPECT_TRUE(log.Has(MORVANE_LOG_TRACE, "ZIDIV> GetTevInfo() exited")) << log.Dump();
    EXPECT_EQ(log.lines().size(), 1u);
}

TEST(GetTevInfo, BannerIsTheFramedCodePage437Text) {
    InfoBlock info{};
    TevRequest request{nullptr, MORVANE_CMD_GET_TEV_INFO, 0, 0, &info};
    ASSERT_EQ(GetTevInfo(&request), MORVANE_OK);

    const std::string expected =
        "\x08\n" + Repeat(0xC9, 1) + Repeat(0xCD, 63) + Repeat(0xBB, 1) + "\n" + Repeat(0xBA, 1) +
        "  ZIDIV: Siemens 3964(-R)protocol with RK512 messaging (32 bit)" + Repeat(0xBA, 1) + "\n" +
        Repeat(0xC8, 1) + Repeat(0xCD, 63) + Repeat(0xBC, 1);
    ASSERT_EQ(expected.size(), kBannerLength);
    EXPECT_EQ(std::strlen(info.banner), kBannerLength);
    EXPECT_EQ(std::string(info.banner), expected);
    // The texts are the driver's own constants: the same pointers every call.
    InfoBlock again{};
    request.parameter_block = &again;
    ASSERT_EQ(GetTevInfo(&request), MORVANE_OK);
    EXPECT_EQ(again.banner, info.banner);
    EXPECT_EQ(again.description, info.description);
}

}  // namespace
}  // namespace morvane
