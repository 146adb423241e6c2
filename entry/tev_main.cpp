#include <atomic>

#include "entry/command_table.h"
#include "entry/driver_state.h"

namespace morvane {
namespace {
// Hosts run channels on threads of their own: EndTev on one thread is seen
// by transfers on the others.
std::atomic<bool> g_driver_ended{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

bool DriverEnded() {
    return g_driver_ended.load();
}
void SetDriverEnded(bool ended) {
    g_driver_ended.store(ended);
}

}  // namespace morvane

extern "C" MORVANE_API int32_t MORVANE_CALL TevMain(TevRequest* request) {
    // Once the driver has ended every request is answered with 0 without
    // running, except ColdStart: it clears the ended flag and so starts the
    // driver again, rather than answer success for a start that never ran.
    // A transfer, which moves nothing now, is answered as failed on the line:
    // a 0 would pass the host's untouched buffer off as the PLC's values.
    if (morvane::DriverEnded() &&
        (request == nullptr || request->command_code != MORVANE_CMD_COLD_START)) {
        const bool transfer =
            request != nullptr && morvane::IsTransferCommand(request->command_code);
        return transfer ? MORVANE_LINE_FAILED : MORVANE_OK;
    }
    if (request == nullptr) return MORVANE_LINE_FAILED;
    const morvane::CommandHandler handler = morvane::HandlerFor(request->command_code);
    if (handler == nullptr) return MORVANE_LINE_FAILED;
    // Handlers are written without exceptions and allocate nothing; the guard
    // keeps an unexpected one from unwinding into the host's frames.
    try {
        return handler(request);
    } catch (...) {
        return MORVANE_LINE_FAILED;
    }
}
