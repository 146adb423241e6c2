#include "trace_relay.h"

namespace morvane::tool {

std::unique_ptr<TraceRelay> StartTraceRelay(const std::string&, const LineParameters*,
                                            std::string* error) {
    *error = "--trace relays the line through a pseudo-terminal: Linux only";
    return nullptr;
}

}  // namespace morvane::tool
