// A host as the SCADA system drives the driver: every call goes through
// TevMain with the host's own records, nothing reaches into the driver.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "morvane/morvane.h"

namespace morvane::test {

class Host {
  public:
    // channel names the channel's configuration file (ZIDIV01.INT for 1).
    explicit Host(int32_t channel = 1) : area_(MORVANE_CHANNEL_AREA_SIZE, 0), channel_(channel) {}

    ChannelArea* area() { return reinterpret_cast<ChannelArea*>(area_.data()); }

    int32_t Call(uint32_t command_code, void* parameter_block) {
        TevRequest request{area(), command_code, channel_, 0, parameter_block};
        return TevMain(&request);
    }

    // Starts the channel on port and sets the internal time-out (hundredths
    // of a second) to keep failing exchanges short.
    int32_t Start(const std::string& port, int32_t timeout_hundredths) {
        InfoBlock info{};
        Call(MORVANE_CMD_GET_TEV_INFO, &info);
        StartBlock start{};
        std::strncpy(start.port_name, port.c_str(), sizeof start.port_name - 1);
        start.open_now = 0;
        start.external_timeout = 1000;
        start.line = info.defaults;
        const int32_t started = Call(MORVANE_CMD_COLD_START, &start);
        if (started != MORVANE_OK) return started;
        port_ = port;
        return SetTimeout(timeout_hundredths);
    }

    // Re-opens the channel's port with another internal time-out.
    int32_t SetTimeout(int32_t hundredths) {
        ChangeBlock change{};
        std::strncpy(change.port_name, port_.c_str(), sizeof change.port_name - 1);
        change.timeout = hundredths;
        return Call(MORVANE_CMD_CHANGE_TEV_PARAMS, &change);
    }

    void Stop() { Call(MORVANE_CMD_CLOSE_COM, nullptr); }

    // The gate the parse command makes of address, or a record with parsed 0.
    GateAddress Parse(const char* address, uint32_t gate_type, bool block = false) {
        ParseBlock parse{};
        parse.address = address;
        parse.gate_type = gate_type;
        if (Call(block ? MORVANE_CMD_BLOCK_ADDRESS_PARSER : MORVANE_CMD_SINGLE_ADDRESS_PARSER,
                 &parse) != MORVANE_OK)
            parse.gate.parsed = 0;
        return parse.gate;
    }

    int32_t Transfer(uint32_t command_code, TransferBlock* block) {
        return Call(command_code, block);
    }
    int32_t Transfer(uint32_t command_code, const GateAddress& gate, int32_t count, void* data) {
        TransferBlock block{};
        block.gate = gate;
        block.count = count;
        block.data = data;
        return Call(command_code, &block);
    }

  private:
    std::vector<uint8_t> area_;
    std::string port_;
    int32_t channel_;
};

}  // namespace morvane::test
