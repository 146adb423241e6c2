#include "step_check.h"

#include <cstdio>

#include "driver_log.h"
#include "exit_codes.h"
#include "gate_values.h"
#include "host_platform.h"

namespace morvane::tool {
namespace {

int Refuse(const std::string& text, int code) {
    std::fprintf(stderr, "morvane: %s\n", text.c_str());
    return code;
}

std::string Plural(int32_t count, const std::string& kind) {
    return std::to_string(count) + " " + kind + (count == 1 ? "" : "s");
}

// The words a read of count values at gate covers, as a word block.
int WordsOf(HostChannel& channel, PreparedTransfer* transfer) {
    const unsigned first = ItemIndexOf(transfer->gate) * WordsPerItem(transfer->gate);
    const int32_t words = WordsPerItem(transfer->gate) * transfer->count;
    char address[16];
    std::snprintf(address, sizeof address, "%03u%03u", DataBlockOf(transfer->gate), first);
    if (!ParseGate(channel, address, true, &transfer->gate)) return kExitRefused;
    transfer->block = true;
    transfer->count = words;
    return 0;
}

}  // namespace

bool ParseGate(HostChannel& channel, const std::string& address, bool block, GateAddress* gate) {
    ParseBlock parse{};
    parse.address = address.c_str();
    parse.gate_type = GateTypeForAddress(address);
    const uint32_t command =
        block ? MORVANE_CMD_BLOCK_ADDRESS_PARSER : MORVANE_CMD_SINGLE_ADDRESS_PARSER;
    const LogWindow window;
    if (channel.Call(command, &parse) != MORVANE_OK) {
        const std::vector<std::string> lines = window.Lines();
        std::fprintf(stderr, "morvane: address %s refused%s%s\n", address.c_str(),
                     lines.empty() ? "" : ": ", lines.empty() ? "" : lines.back().c_str());
        return false;
    }
    *gate = parse.gate;
    return true;
}

int PrepareTransfer(HostChannel& channel, const Step& step, PreparedTransfer* transfer) {
    const bool write = step.kind == StepKind::kWrite;
    transfer->count = write ? static_cast<int32_t>(step.values.size()) : step.count;
    transfer->block = write ? transfer->count > 1 : step.count > 0;
    if (transfer->count == 0) transfer->count = 1;
    if (!ParseGate(channel, step.address, transfer->block, &transfer->gate)) return kExitRefused;
    const GateAddress& gate = transfer->gate;
    const int32_t most = MaxCount(gate, write);
    if (transfer->block && transfer->count > most)
        return Refuse(std::string(write ? "write " : "read ") + step.address + ": " +
                          Plural(transfer->count, KindName(gate)) + " in one transfer; at most " +
                          std::to_string(most) + " (" +
                          std::to_string(write ? MORVANE_MAX_TRANSFER_BYTES
                                               : MORVANE_REPLY_DATA_SIZE) +
                          " bytes)",
                      write ? kExitRefused : kExitUsage);
    if (!write)
        return step.display.form == OutputForm::kHexDump ? WordsOf(channel, transfer) : 0;
    if (transfer->block && gate.class_letter == MORVANE_CLASS_STRING)
        return Refuse("write " + step.address +
                          ": strings are not written as a block; write one at a time",
                      kExitRefused);
    transfer->buffer = HostBuffer(gate, transfer->count, transfer->block);
    for (int32_t i = 0; i < transfer->count; ++i) {
        std::string error;
        if (!StoreValue(gate, transfer->block, static_cast<size_t>(i), step.values[i],
                        &transfer->buffer, &error))
            return Refuse("value refused: " + step.address + ": " + error, kExitRefused);
    }
    return 0;
}

int PrepareSteps(HostChannel& channel, const std::vector<Step>& steps,
                 std::vector<PreparedStep>* prepared) {
    prepared->clear();
    for (const Step& step : steps) {
        PreparedStep ready{&step, {}};
        if (step.kind == StepKind::kBrowse && !DialogPossible())
            return Refuse("browse needs a terminal: its dialog reads the keyboard on standard "
                          "input, which is not one here",
                          kExitUsage);
        if (step.kind != StepKind::kBrowse) {
            const int code = PrepareTransfer(channel, step, &ready.transfer);
            if (code != 0) return code;
        }
        prepared->push_back(std::move(ready));
    }
    return 0;
}

}  // namespace morvane::tool
