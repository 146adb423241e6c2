#include "host_platform.h"

#include <cstdio>
#include <ctime>

#include "frame_option.h"

namespace morvane::tool {
namespace {
// The time in format, then its milliseconds and tail. Time stamps are made
// on the thread that calls the driver only, so the shared result of the
// standard functions is safe here.
std::string Stamp(WallTime time, bool utc, const char* format, const char* tail) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    const std::time_t whole = static_cast<std::time_t>(ms.count() / 1000);
    char text[64];
    const size_t length = std::strftime(text, sizeof text, format,
                                        utc ? std::gmtime(&whole) : std::localtime(&whole));
    std::snprintf(text + length, sizeof text - length, ".%03d%s",
                  static_cast<int>(ms.count() % 1000), tail);
    return text;
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

std::string LocalClock(WallTime time, bool with_date) {
    return Stamp(time, false, with_date ? "%Y-%m-%d %H:%M:%S" : "%H:%M:%S", "");
}

std::string IsoUtc(WallTime time) {
    return Stamp(time, true, "%Y-%m-%dT%H:%M:%S", "Z");
}

}  // namespace morvane::tool
