#include "wall_clock.h"

#include <cstdio>
#include <ctime>

namespace morvane::tool {
namespace {

struct Split {
    std::tm fields{};
    int milliseconds = 0;
};

Split SplitTime(WallTime time, bool utc) {
    const auto since_epoch = time.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch);
    Split split;
    split.milliseconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch - seconds).count());
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    // Time stamps are made on the thread that calls the driver only, so the
    // shared result of the standard functions is safe here.
    split.fields = *(utc ? std::gmtime(&whole) : std::localtime(&whole));
    return split;
}

}  // namespace

std::string LocalClock(WallTime time, bool with_date) {
    const Split s = SplitTime(time, false);
    char text[64];
    const int date =
        with_date ? std::snprintf(text, sizeof text, "%04d-%02d-%02d ", s.fields.tm_year + 1900,
                                  s.fields.tm_mon + 1, s.fields.tm_mday)
                  : 0;
    std::snprintf(text + date, sizeof text - static_cast<size_t>(date), "%02d:%02d:%02d.%03d",
                  s.fields.tm_hour, s.fields.tm_min, s.fields.tm_sec, s.milliseconds);
    return text;
}

std::string IsoUtc(WallTime time) {
    const Split s = SplitTime(time, true);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", s.fields.tm_year + 1900,
                  s.fields.tm_mon + 1, s.fields.tm_mday, s.fields.tm_hour, s.fields.tm_min,
                  s.fields.tm_sec, s.milliseconds);
    return text;
}

}  // namespace morvane::tool
