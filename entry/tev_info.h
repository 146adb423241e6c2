// GetTevInfo and the texts it reports; they live as long as the driver is loaded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

inline constexpr char kTevDescription[] = "Siemens 3964 with RK512";
inline constexpr size_t kBannerLength = 199;  // bytes of code page 437 before the NUL

int32_t GetTevInfo(TevRequest* request);

}  // namespace morvane
