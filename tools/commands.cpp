#include "commands.h"

namespace morvane::tool {
namespace {

constexpr Command kCommands[] = {
    {.name = "info",
     .arguments = "",
     .summary = "print what the driver reports to its host (GetTevInfo)",
     .run = RunInfo},
    {.name = "read",
     .arguments = "ADDRESS [COUNT]",
     .summary = "read a gate (a block of COUNT values)",
     .step = {.run = StepRead,
              .usage = "read ADDRESS [COUNT]",
              .operands = Operands::kAddressCount,
              .fewest = 1,
              .most = 2}},
    {.name = "write",
     .arguments = "ADDRESS VALUE...",
     .summary = "write a gate (several values: a block)",
     .step = {.run = StepWrite,
              .usage = "write ADDRESS VALUE [VALUE...]",
              .operands = Operands::kAddressValues,
              .fewest = 2,
              .most = kMaxCount + 1}},
    {.name = "poll",
     .arguments = "ADDRESS [COUNT]",
     .summary = "read again and again (--every MS, --times N)",
     .step = {.run = StepPoll,
              .usage = "poll ADDRESS [COUNT] [--every MS] [--times N]",
              .operands = Operands::kPolled,
              .fewest = 1,
              .most = 2}},
    {.name = "browse",
     .arguments = "",
     .summary = "compose an address in the Tag Format dialog and read it",
     .step = {.run = StepBrowse, .usage = "browse", .operands = Operands::kNone}},
    {.name = "parse",
     .arguments = "ADDRESS...",
     .summary = "what each address names, or why it is refused",
     .run = RunParse},
};

}  // namespace

std::span<const Command> Commands() {
    return kCommands;
}

const Command* FindCommand(const std::string& name) {
    for (const Command& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

}  // namespace morvane::tool
