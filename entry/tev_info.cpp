// GetTevInfo: what the host learns before it starts a channel.
#include "entry/tev_info.h"

#include <array>
#include <cstddef>

#include "morvane/ostrel.h"

namespace morvane {
namespace {

constexpr size_t kFrameWidth = 63;
constexpr char kFrameText[] = "  ZIDIV: Siemens 3964(-R)protocol with RK512 messaging (32 bit)";
static_assert(sizeof kFrameText - 1 == kFrameWidth);

// Backspace, line feed, then a double-line box (code page 437) of three lines.
constexpr std::array<char, kBannerLength + 1> MakeBanner() {
    std::array<char, kBannerLength + 1> banner{};
    size_t at = 0;
    auto put = [&](unsigned char byte) { banner[at++] = static_cast<char>(byte); };
    auto edge = [&](unsigned char left, unsigned char right) {
        put(left);
        for (size_t i = 0; i < kFrameWidth; ++i)
            put(0xCD);
        put(right);
    };
    put(0x08);
    put('\n');
    edge(0xC9, 0xBB);
    put('\n');
    put(0xBA);
    for (size_t i = 0; i < kFrameWidth; ++i)
        put(static_cast<unsigned char>(kFrameText[i]));
    put(0xBA);
    put('\n');
    edge(0xC8, 0xBC);
    banner[at] = '\0';
    return banner;
}

constexpr std::array<char, kBannerLength + 1> kBanner = MakeBanner();
static_assert(kBanner[kBannerLength] == '\0' && kBanner[kBannerLength - 1] != '\0');

}  // namespace

int32_t GetTevInfo(TevRequest* request) {
    InfoBlock* info =
        request != nullptr ? static_cast<InfoBlock*>(request->parameter_block) : nullptr;
    if (info == nullptr) return MORVANE_LINE_FAILED;  // nothing to fill
    info->first_word = 82;
    info->description = kTevDescription;
    info->banner = kBanner.data();
    info->channel_area_size = MORVANE_CHANNEL_AREA_SIZE;
    info->fifth_word = 4;
    info->defaults = LineParameters{9600, 8, 0, 2};
    info->last_word = 0x00D00023u;
    err(MORVANE_LOG_TRACE, "ZIDIV> GetTevInfo() exited");
    return MORVANE_OK;
}

}  // namespace morvane
