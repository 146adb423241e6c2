// One channel as the host keeps it: the area the driver asked for and the
// channel number, with a call per command.
#pragma once

#include <cstdint>
#include <vector>

#include "driver_library.h"

namespace morvane::tool {

class HostChannel {
  public:
    // The area is allocated with the size GetTevInfo reported, as a host does.
    HostChannel(const DriverLibrary& driver, uint32_t area_size, int32_t channel_number);

    int32_t Call(uint32_t command_code, void* parameter_block);
    ChannelArea* area() { return reinterpret_cast<ChannelArea*>(area_.data()); }
    int32_t channel_number() const { return channel_number_; }

  private:
    const DriverLibrary& driver_;
    std::vector<uint64_t> area_;  // 8-byte aligned storage of at least the reported size
    int32_t channel_number_;
};

// Asks the driver for its InfoBlock (works before any channel exists).
int32_t QueryInfo(const DriverLibrary& driver, InfoBlock* info);

}  // namespace morvane::tool
