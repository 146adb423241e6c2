// The 18 command slots of TevMain, filled from the areas that implement them.
#include "entry/command_table.h"

#include "browse/browse_command.h"
#include "entry/lifecycle.h"
#include "entry/tev_info.h"
#include "gates/parse_commands.h"
#include "gates/read_commands.h"
#include "gates/write_commands.h"

namespace morvane {

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
