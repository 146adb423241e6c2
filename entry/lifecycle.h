// The lifecycle commands: starting, closing, re-opening and reconfiguring a
// channel's port, and ending the driver.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

int32_t ColdStart(TevRequest* request);
int32_t WarmStart(TevRequest* request);
int32_t EndTev(TevRequest* request);
int32_t CloseCom(TevRequest* request);
int32_t ReOpenCom(TevRequest* request);
int32_t ChangeTevParams(TevRequest* request);

}  // namespace morvane
