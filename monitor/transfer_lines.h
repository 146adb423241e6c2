// A transfer as the monitor shows it: a text line (after its time, which
// the monitor writes), a JSON object or a CSV row, each appended to the
// line the monitor reuses and ended with its newline.
#pragma once

#include <string>

#include "monitor/events.h"

namespace morvane::monitor {

inline constexpr char kTransferCsvHeader[] =
    "time_us,kind,db,start,words,result,error,attempts,retries,ms,data\n";

void AddTransferText(std::string* line, const Transfer& t);
void AddTransferJson(std::string* line, const Transfer& t);
void AddTransferCsv(std::string* line, const Transfer& t);

}  // namespace morvane::monitor
