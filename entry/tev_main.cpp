#include <atomic>

#include "entry/driver_state.h"
#include "entry/handlers.h"

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

CommandHandler HandlerFor(uint32_t command_code) {
    static constexpr CommandHandler kTable[MORVANE_CMD_SLOT_COUNT] = {
        nullptr,              // 0
        ColdStart,            // 1
        WarmStart,            // 2
        SingleAddressParser,  // 3
        BlockAddressParser,   // 4
        SingleRead,           // 5
        BlockRead,            // 6
        SingleWrite,          // 7
        nullptr,              // 8
        nullptr,              // 9
        BlockWrite,           // 10
        EndTev,               // 11
        CloseCom,             // 12
        ReOpenCom,            // 13
        GetTevInfo,           // 14
        ChangeTevParams,      // 15
        BrowseAddress0,       // 16
        nullptr,              // 17
    };
    if (command_code >= MORVANE_CMD_SLOT_COUNT) return nullptr;
    return kTable[command_code];
}

}  // namespace morvane

extern "C" MORVANE_API int32_t MORVANE_CALL TevMain(TevRequest* request) {
    // Once the driver has ended every request is answered with 0 without
    // running, except ColdStart: it clears the ended flag and so starts the
    // driver again, rather than answer success for a start that never ran.
    if (morvane::DriverEnded() &&
        (request == nullptr || request->command_code != MORVANE_CMD_COLD_START)) {
        return MORVANE_OK;
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
