// The driver as a host sees it: a shared library with one export, TevMain.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "morvane/morvane.h"

namespace morvane::tool {

using TevMainFunction = int32_t(MORVANE_CALL*)(TevRequest*);

class DriverLibrary {
  public:
    // False with error() set.
    bool Load(const std::string& path);
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

    int32_t Call(TevRequest* request) const { return tev_main_(request); }

  private:
    std::unique_ptr<void, void (*)(void*)> library_{nullptr, nullptr};  // unloads it
    TevMainFunction tev_main_ = nullptr;
    std::string path_;
    std::string error_;
};

// The driver library to load: the explicit path if given, else the one
// built beside this program (its directory, then the directory above).
std::string DefaultDriverPath();

// One channel as the host keeps it: the area the driver asked for (its
// size from GetTevInfo, 8-byte aligned) and the channel number.
class HostChannel {
  public:
    HostChannel(const DriverLibrary& driver, uint32_t area_size, int32_t channel_number)
        : driver_(driver),
          area_((area_size < sizeof(ChannelArea) ? sizeof(ChannelArea) : area_size) / 8 + 1, 0),
          channel_number_(channel_number) {}

    int32_t Call(uint32_t command_code, void* parameter_block) {
        TevRequest request{area(), command_code, channel_number_, 0, parameter_block};
        return driver_.Call(&request);
    }
    ChannelArea* area() { return reinterpret_cast<ChannelArea*>(area_.data()); }

  private:
    const DriverLibrary& driver_;
    std::vector<uint64_t> area_;
    int32_t channel_number_;
};

// Works before any channel exists.
inline int32_t QueryInfo(const DriverLibrary& driver, InfoBlock* info) {
    *info = InfoBlock{};
    TevRequest request{nullptr, MORVANE_CMD_GET_TEV_INFO, 0, 0, info};
    return driver.Call(&request);
}

}  // namespace morvane::tool
