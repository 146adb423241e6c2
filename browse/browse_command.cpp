// BrowseAddress0: shows the address dialog once per loaded driver and hands
// the composed address to the host.
#include "browse/browse_command.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "browse/tag_format_front.h"
#include "browse/tag_format_model.h"
#include "morvane/ostrel.h"

namespace morvane {

unsigned HostVersion() {
    char name[32];
    std::snprintf(name, sizeof name, "ZidIVBr%02lu", CurrentThreadNumber());
    uint8_t client = 32;
    uint16_t version = 0;
    if (OstMkClient(name, 1, 0, &client) == 0) {
        char details[100];
        OstGetOstrelVer(client, &version, details);
        OstRmClient(client);
    }
    return version;
}

void* DialogOwner(const BrowseBlock& block) {
    return HostVersion() < kOwnedDialogVersion ? nullptr : block.owner_window;
}

int32_t BrowseAddress0(TevRequest* request) {
    TagFormatState& state = DriverTagFormatState();
    // Without a buffer for the address there is nothing the dialog could
    // give: such a call shows nothing, and leaves the one dialog to a call
    // that can take its address.
    const auto* block = static_cast<const BrowseBlock*>(request->parameter_block);
    if (block == nullptr || block->address_buffer == nullptr) return MORVANE_NO_ADDRESS;
    // A host runs the dialog from its user-interface thread alone. Should two
    // threads ask at once all the same, the exchange lets exactly one of them
    // past, and the rest of the dialog's process-wide state is then touched
    // by that thread only.
    if (std::atomic_ref<int32_t>(state.browse_once).exchange(1) != 0) return MORVANE_NO_ADDRESS;

    if (ShowTagFormatDialog(DialogOwner(*block)) != kDialogOk) return MORVANE_NO_ADDRESS;
    // The host's buffer holds 9 characters and the NUL; the checks keep the
    // address within that, and the copy never goes past it.
    size_t length = 0;
    while (length < kComposedAddressLength && state.composed_address[length] != '\0')
        ++length;
    std::memcpy(block->address_buffer, state.composed_address, length);
    block->address_buffer[length] = '\0';
    return MORVANE_OK;
}

}  // namespace morvane
