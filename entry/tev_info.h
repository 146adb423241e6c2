// The texts GetTevInfo reports; they live as long as the driver is loaded.
#pragma once

#include <cstddef>

namespace morvane {

inline constexpr char kTevDescription[] = "Siemens 3964 with RK512";
inline constexpr size_t kBannerLength = 199;  // bytes of code page 437 before the NUL

}  // namespace morvane
