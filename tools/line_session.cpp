#include "line_session.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "sim/simulator.h"

namespace morvane::tool {
namespace {

constexpr int32_t kChannelNumber = 1;
constexpr int32_t kExternalTimeout = 1000;  // 10 s: the driver's floor of 500 ms per byte
constexpr uint32_t kPacedBaud = 9600;
constexpr uint32_t kBitsPer8E1 = 11;

}  // namespace

LineSession::LineSession(const DriverLibrary& driver) : driver_(driver) {}

LineSession::~LineSession() {
    Close();
}

bool LineSession::Close() {
    if (channel_) channel_->Call(MORVANE_CMD_CLOSE_COM, nullptr);
    channel_.reset();
    if (!sim_) return true;
    sim_->Stop();
    std::string error;
    const bool saved = !save_blocks_ || sim_->SaveBlocks(options_.sim_blocks, &error);
    if (!saved) std::fprintf(stderr, "morvane: %s\n", error.c_str());
    sim_.reset();
    return saved;
}

bool LineSession::StartSimulator(std::string* error) {
    auto line = plcsim::Line::OpenPty(error);
    if (!line) return false;
    if (options_.pace) line->SetPacing(kPacedBaud, kBitsPer8E1);
    sim_ = std::make_unique<plcsim::Simulator>(std::move(line));
    if (!options_.sim_blocks.empty() && std::filesystem::exists(options_.sim_blocks) &&
        !sim_->LoadBlocks(options_.sim_blocks, error))
        return false;  // a file that could not be read is never written over
    save_blocks_ = !options_.sim_blocks.empty();
    if (options_.sim_trace)
        sim_->SetTraceSink([](const std::string& text) { std::cerr << "plc " << text << '\n'; });
    sim_->Start();
    options_.port = PortNameOf(sim_->path());
    return true;
}

// A protocol asked for on the command line reaches the driver as a host's
// would: through the channel's configuration file, here in a scratch
// directory that is the current one while ColdStart reads it.
int32_t LineSession::ColdStartWithProtocol(StartBlock* start) {
    if (options_.protocol.empty()) return channel_->Call(MORVANE_CMD_COLD_START, start);
    char scratch[] = "/tmp/morvane-XXXXXX";
    if (mkdtemp(scratch) == nullptr) return MORVANE_REQUEST_FAILED;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(scratch);
    char name[16];
    std::snprintf(name, sizeof name, "ZIDIV%02d.INT", kChannelNumber);
    std::ofstream(name) << "PROTOCOL=" << options_.protocol << "\n";
    const int32_t code = channel_->Call(MORVANE_CMD_COLD_START, start);
    std::filesystem::current_path(previous);
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return code;
}

bool LineSession::Open(const SessionOptions& options, std::string* error) {
    options_ = options;
    if (options_.port.empty() && !StartSimulator(error)) return false;

    InfoBlock info{};
    QueryInfo(driver_, &info);
    channel_ = std::make_unique<HostChannel>(driver_, info.channel_area_size, kChannelNumber);
    StartBlock start{};
    std::strncpy(start.port_name, options_.port.c_str(), sizeof start.port_name - 1);
    start.open_now = 1;
    start.external_timeout = kExternalTimeout;
    start.line = info.defaults;
    if (options_.baud != 0) start.line.baud_rate = options_.baud;
    open_failure_ = kExitPortUnavailable;  // what can fail from here on
    if (ColdStartWithProtocol(&start) != MORVANE_OK) {
        *error = "cannot open port " + options_.port;
        if (options_.baud != 0) *error += " at " + std::to_string(options_.baud) + " baud";
        return false;
    }
    if (sim_) {
        // The simulated PLC speaks what the channel's configuration chose.
        plcsim::LinkSettings link = sim_->link();
        link.is_3964r = channel_->area()->port_settings.is_3964r == 1;
        sim_->set_link(link);
    }
    if (options_.timeout != 0) {
        ChangeBlock change{};
        std::memcpy(change.port_name, start.port_name, sizeof change.port_name);
        change.timeout = options_.timeout;
        if (channel_->Call(MORVANE_CMD_CHANGE_TEV_PARAMS, &change) != MORVANE_OK) {
            *error = "cannot reopen port " + options_.port + " with the new time-out";
            return false;
        }
    }
    return true;
}

}  // namespace morvane::tool
