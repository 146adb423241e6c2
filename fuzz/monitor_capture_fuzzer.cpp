// Capture text into the monitor: whatever the input, no crash, memory kept
// to the monitor's bounds, and every character read accounted for in
// exactly one link event.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "monitor/capture.h"
#include "monitor/monitor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace morvane::monitor;
    std::vector<LineChar> chars;
    std::string error;
    ReadCapture(std::string_view(reinterpret_cast<const char*>(data), size), nullptr, &chars,
                &error);
    char* text = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&text, &length);
    uint64_t accounted = 0;
    {
        MonitorOptions options;
        options.verbose = true;
        Monitor watcher(options, out);
        for (const LineChar& c : chars)
            watcher.Feed(c);
        watcher.Flush();
        accounted = watcher.accounted();
    }
    std::fclose(out);
    std::free(text);
    if (accounted != chars.size()) std::abort();
    return 0;
}
