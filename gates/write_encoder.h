// Packs the host's values into the data of one SEND telegram.
#pragma once

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

// Writes this telegram's data bytes (at most 128) to data_area: 0, 1, or the
// code of the FETCH of a single-bit write.
int PackData(TevRequest* request, uint8_t* data_area, uint32_t command_code,
             uint32_t telegram_index);

// The single-bit write: reads the word, changes the bit, packs the word.
// Restores the request's command code and the bit number on every path.
int ReadModifyWrite(TevRequest* request, uint8_t* data_area);

}  // namespace morvane
