#include "line_session.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "host_platform.h"

namespace morvane::tool {

constexpr int32_t kChannelNumber = 1;
constexpr int32_t kExternalTimeout = 1000;  // 10 s: the driver's floor of 500 ms per byte

bool LineSession::PortGone() const {
    return !plc_ && DeviceGone(options_.device);
}

bool LineSession::Reopen() {
    std::string device, port, error;
    if (plc_ || relay_ || !channel_ || !ResolvePort(options_.given_port, &device, &port, &error) ||
        port.size() >= MORVANE_PORT_NAME_SIZE || DeviceGone(device))
        return false;
    channel_->Call(MORVANE_CMD_CLOSE_COM, nullptr);
    ChangeBlock change{};  // a time-out and baud rate of 0 keep the channel's
    std::memcpy(change.port_name, port.c_str(), port.size());
    if (channel_->Call(MORVANE_CMD_CHANGE_TEV_PARAMS, &change) != MORVANE_OK) return false;
    options_.device = device;
    options_.port = port;
    return true;
}

bool LineSession::Close() {
    if (channel_) channel_->Call(MORVANE_CMD_CLOSE_COM, nullptr);
    channel_.reset();
    std::string error;
    // Passes on what is still crossing, then ends the trace.
    bool done = !relay_ || relay_->End(&error) ||
                Fail("the line trace: " + error, kExitToolFailed) == kExitOk;
    relay_.reset();
    if (!plc_) return done;
    if (!plc_->Stop(&error)) done = Fail(error, kExitToolFailed) == kExitOk;
    plc_.reset();
    return done;
}

// Why the port did not open, in the user's terms: the name given, the line
// asked for, and what the system says about the device.
std::string LineSession::OpenFailure(const LineParameters& line) const {
    if (plc_) return "cannot open the simulator's line " + options_.port;
    return "cannot open port " + options_.device + " at " + DescribeLine(line) + ": " +
           DiagnosePort(options_.device, line);
}

// A protocol asked for on the command line reaches the driver as a host's
// would: through the channel's configuration file, here in a scratch
// directory that is the current one while ColdStart reads it. Empty, or why
// the file could not be put there (the driver is then not called).
std::string LineSession::ColdStartWithProtocol(StartBlock* start, int32_t* code) {
    *code = MORVANE_REQUEST_FAILED;
    if (options_.line.protocol.empty()) {
        *code = channel_->Call(MORVANE_CMD_COLD_START, start);
        return "";
    }
    // The current directory is left only when it can be found again: the
    // block file may be named relative to it.
    std::error_code error;
    const std::filesystem::path previous = std::filesystem::current_path(error);
    if (error) return "cannot hand --protocol to the driver: the current directory is gone";
    // A new directory of this user's alone for the file.
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    std::filesystem::path scratch;
    std::random_device random;
    for (bool made = false; !error && !made;)
        made = std::filesystem::create_directory(
            scratch = temp / ("morvane-" + std::to_string(random())), error);
    if (!error) std::filesystem::permissions(scratch, std::filesystem::perms::owner_all, error);
    if (!error) std::filesystem::current_path(scratch, error);
    char name[16];
    std::snprintf(name, sizeof name, "ZIDIV%02d.INT", kChannelNumber);
    if (!error && !(std::ofstream(name) << "PROTOCOL=" << options_.line.protocol << "\n"))
        error = std::make_error_code(std::errc::io_error);
    if (!error) *code = channel_->Call(MORVANE_CMD_COLD_START, start);
    const std::string reason = error ? error.message() : "";
    std::filesystem::current_path(previous, error);
    std::filesystem::remove_all(scratch, error);
    return reason.empty() ? ""
                          : "cannot hand --protocol " + options_.line.protocol +
                                " to the driver in a scratch directory: " + reason;
}

bool LineSession::Open(const SessionOptions& options, std::string* error) {
    options_ = options;
    InfoBlock info{};
    QueryInfo(driver_, &info);
    const LineParameters line = line_ = ChosenLine(options_.line, info.defaults);
    if (options_.port.empty()) {
        plc_ = StartEmbeddedPlc(options_, line, error);
        if (!plc_) return false;
        options_.port = plc_->PortName();
    }
    open_failure_ = kExitPortUnavailable;  // what fails from here on, but for the trace
    if (options_.trace) {
        // The driver opens the relay's line; the relay opens the port or the simulator's.
        std::string reason;
        relay_ = StartTraceRelay(plc_ ? "/dev/" + options_.port : options_.device,
                                 plc_ ? nullptr : &line, options_.trace_file, &reason);
        if (!relay_) {
            // The port is to blame unless the platform or the trace's own file is.
            const bool file =
                !options_.trace_file.empty() && reason.rfind(options_.trace_file, 0) == 0;
            const bool port = !plc_ && !file && reason.find("Linux only") == std::string::npos;
            *error = port ? OpenFailure(line) : "cannot trace the line: " + reason;
            if (!port) open_failure_ = kExitToolFailed;
            return false;
        }
        options_.port = relay_->DriverPortName();
    }
    if (options_.port.size() >= MORVANE_PORT_NAME_SIZE) {  // only a device that is not there
        *error = OpenFailure(line);
        return false;
    }

    channel_ = std::make_unique<HostChannel>(driver_, info.channel_area_size, kChannelNumber);
    StartBlock start{};
    std::strncpy(start.port_name, options_.port.c_str(), sizeof start.port_name - 1);
    start.open_now = 1;
    start.external_timeout = kExternalTimeout;
    start.line = line;
    int32_t started = MORVANE_REQUEST_FAILED;
    *error = ColdStartWithProtocol(&start, &started);
    if (!error->empty()) open_failure_ = kExitToolFailed;
    if (started != MORVANE_OK) {
        // With a trace the device itself is open already: the relay's end failed.
        if (error->empty())
            *error = relay_ ? "cannot open the trace's line " + options_.port : OpenFailure(line);
        return false;
    }
    const bool is_3964r = channel_->area()->port_settings.is_3964r == 1;
    // The simulated PLC speaks what the channel's configuration chose.
    if (plc_) plc_->SetProcedure(is_3964r);
    if (relay_) {
        relay_->SetBlockCheck(is_3964r);
        relay_->WriteComment(
            "# line trace of " + (plc_ ? std::string("the embedded simulator") : options_.device) +
            ", " + DescribeLine(line) + ", " + (is_3964r ? "3964R" : "3964") + ", from " +
            LocalClock(std::chrono::system_clock::now(), true) + "; times in ms since then");
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
