#include "progress.h"

#include <cstdio>
#include <ctime>

#include "frame_option.h"

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

constexpr uint32_t kWordsPerTelegram = 64;

}  // namespace

std::chrono::milliseconds ExpectedLineTime(uint32_t words, const LineParameters& line) {
    const uint32_t telegrams = words == 0 ? 1 : (words + kWordsPerTelegram - 1) / kWordsPerTelegram;
    // Per telegram: STX, DLE, header, DLE ETX, DLE; STX, DLE, reply header,
    // DLE ETX, DLE. The data bytes ride in the telegram or in the reply.
    const uint32_t framing = telegrams * (1 + 1 + 2 + 1 + 1 + 1 + 4 + 2 + 1);
    const uint32_t headers = 10 + (telegrams - 1) * 4;
    const uint64_t characters = framing + headers + 2ull * words;
    const uint64_t bits = characters * BitsPerCharacter(line);
    return std::chrono::milliseconds(line.baud_rate == 0 ? 0 : bits * 1000 / line.baud_rate);
}

std::string ProgressText(const std::string& what, std::chrono::duration<double> spent,
                         std::chrono::duration<double> expected) {
    char text[200];
    if (spent < expected) {
        std::snprintf(text, sizeof text, "%s: %.1f s of about %.1f s (%d%%)", what.c_str(),
                      spent.count(), expected.count(),
                      static_cast<int>(100 * spent.count() / expected.count()));
    } else {
        std::snprintf(text, sizeof text, "%s: %.1f s (the line alone takes about %.1f s)",
                      what.c_str(), spent.count(), expected.count());
    }
    return text;
}

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
