#include "host_channel.h"

namespace morvane::tool {

HostChannel::HostChannel(const DriverLibrary& driver, uint32_t area_size, int32_t channel_number)
    : driver_(driver),
      area_((area_size < sizeof(ChannelArea) ? sizeof(ChannelArea) : area_size) / 8 + 1, 0),
      channel_number_(channel_number) {}

int32_t HostChannel::Call(uint32_t command_code, void* parameter_block) {
    TevRequest request{area(), command_code, channel_number_, 0, parameter_block};
    return driver_.Call(&request);
}

int32_t QueryInfo(const DriverLibrary& driver, InfoBlock* info) {
    *info = InfoBlock{};
    TevRequest request{nullptr, MORVANE_CMD_GET_TEV_INFO, 0, 0, info};
    return driver.Call(&request);
}

}  // namespace morvane::tool
