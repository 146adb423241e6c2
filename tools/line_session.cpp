#include "line_session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host_platform.h"

namespace morvane::tool {
namespace {

constexpr int32_t kChannelNumber = 1;
constexpr int32_t kExternalTimeout = 1000;  // 10 s: the driver's floor of 500 ms per byte

}  // namespace

LineSession::LineSession(const DriverLibrary& driver) : driver_(driver) {}

LineSession::~LineSession() {
    Close();
}

bool LineSession::Close() {
    if (channel_) channel_->Call(MORVANE_CMD_CLOSE_COM, nullptr);
    channel_.reset();
    if (!plc_) return true;
    std::string error;
    const bool saved = plc_->Stop(&error);
    if (!saved) std::fprintf(stderr, "morvane: %s\n", error.c_str());
    plc_.reset();
    return saved;
}

// A protocol asked for on the command line reaches the driver as a host's
// would: through the channel's configuration file, here in a scratch
// directory that is the current one while ColdStart reads it.
int32_t LineSession::ColdStartWithProtocol(StartBlock* start) {
    if (options_.protocol.empty()) return channel_->Call(MORVANE_CMD_COLD_START, start);
    std::string scratch;
    if (!MakeScratchDirectory(&scratch)) return MORVANE_REQUEST_FAILED;
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
    if (options_.port.empty()) {
        plc_ = StartEmbeddedPlc(options_, error);
        if (!plc_) return false;
        options_.port = plc_->PortName();
    }

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
    // The simulated PLC speaks what the channel's configuration chose.
    if (plc_) plc_->SetProcedure(channel_->area()->port_settings.is_3964r == 1);
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
