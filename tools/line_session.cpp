#include "line_session.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "port_diagnosis.h"
#include "sim/simulator.h"

namespace morvane::tool {
namespace {

constexpr int32_t kChannelNumber = 1;
constexpr int32_t kExternalTimeout = 1000;  // 10 s: the driver's floor of 500 ms per byte

// Start, data, parity and stop bits of one character (1.5 stop bits: 2).
uint32_t BitsPerCharacter(const LineParameters& line) {
    return 1 + line.data_bits + (line.parity != 0 ? 1 : 0) + (line.stop_bits == 0 ? 1 : 2);
}

std::string WallClockNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(ms));
    return text;
}

}  // namespace

LineSession::LineSession(const DriverLibrary& driver) : driver_(driver) {}

LineSession::~LineSession() {
    if (channel_) channel_->Call(MORVANE_CMD_CLOSE_COM, nullptr);
    relay_.reset();
    if (trace_) trace_->Flush();
    if (!sim_) return;
    sim_->Stop();
    std::string error;
    if (save_blocks_ && !sim_->SaveBlocks(options_.sim_blocks, &error))
        std::fprintf(stderr, "morvane: %s\n", error.c_str());
}

bool LineSession::StartSimulator(const LineParameters& settings, std::string* error) {
    auto line = plcsim::Line::OpenPty(error);
    if (!line) return false;
    if (options_.pace) line->SetPacing(settings.baud_rate, BitsPerCharacter(settings));
    sim_ = std::make_unique<plcsim::Simulator>(std::move(line));
    if (!options_.sim_blocks.empty() && std::filesystem::exists(options_.sim_blocks) &&
        !sim_->LoadBlocks(options_.sim_blocks, error))
        return false;  // a file that could not be read is never written over
    save_blocks_ = !options_.sim_blocks.empty();
    if (options_.sim_trace)
        // One write per line: the line trace writes from another thread.
        sim_->SetTraceSink(
            [](const std::string& text) { std::fprintf(stderr, "plc %s\n", text.c_str()); });
    sim_->Start();
    options_.port = PortNameOf(sim_->path());
    return true;
}

bool LineSession::StartTrace(const LineParameters& line, std::string* error) {
    trace_ = std::make_unique<LineTrace>(
        [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); },
        LineTrace::Clock::now());
    std::string reason;
    relay_ = sim_ ? TraceRelay::ToPseudoTerminal(sim_->path(), trace_.get(), &reason)
                  : TraceRelay::ToDevice(options_.device, line, trace_.get(), &reason);
    if (!relay_) {
        *error = sim_ ? "cannot trace the simulator's line: " + reason : OpenFailure(line);
        return false;
    }
    options_.port = PortNameOf(relay_->driver_path());
    return true;
}

// Why the port did not open, in the user's terms: the name given, the line
// asked for, and what the system says about the device.
std::string LineSession::OpenFailure(const LineParameters& line) const {
    if (sim_) return "cannot open the simulator's line " + options_.port;
    return "cannot open port " + options_.device + " at " + DescribeLine(line) + ": " +
           DiagnosePort(options_.device, line);
}

// A protocol asked for on the command line reaches the driver as a host's
// would: through the channel's configuration file, here in a scratch
// directory that is the current one while ColdStart reads it.
int32_t LineSession::ColdStartWithProtocol(StartBlock* start) {
    if (options_.line.protocol.empty()) return channel_->Call(MORVANE_CMD_COLD_START, start);
    char scratch[] = "/tmp/morvane-XXXXXX";
    if (mkdtemp(scratch) == nullptr) return MORVANE_REQUEST_FAILED;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(scratch);
    char name[16];
    std::snprintf(name, sizeof name, "ZIDIV%02d.INT", kChannelNumber);
    std::ofstream(name) << "PROTOCOL=" << options_.line.protocol << "\n";
    const int32_t code = channel_->Call(MORVANE_CMD_COLD_START, start);
    std::filesystem::current_path(previous);
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return code;
}

bool LineSession::Open(const SessionOptions& options, std::string* error) {
    options_ = options;
    InfoBlock info{};
    QueryInfo(driver_, &info);
    const LineParameters line = ChosenLine(options_.line, info.defaults);
    if (options_.port.empty() && !StartSimulator(line, error)) return false;
    if (options_.trace && !StartTrace(line, error)) return false;
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
    if (ColdStartWithProtocol(&start) != MORVANE_OK) {
        // With a trace the device itself is open already: the relay's end failed.
        *error = relay_ ? "cannot open the trace's line " + options_.port : OpenFailure(line);
        return false;
    }
    const bool is_3964r = channel_->area()->port_settings.is_3964r == 1;
    if (sim_) {
        // The simulated PLC speaks what the channel's configuration chose.
        plcsim::LinkSettings link = sim_->link();
        link.is_3964r = is_3964r;
        sim_->set_link(link);
    }
    if (trace_) {
        trace_->set_block_check(is_3964r);
        std::fprintf(stderr, "# line trace of %s, %s, %s, from %s; times in ms since then\n",
                     sim_ ? "the embedded simulator" : options_.device.c_str(),
                     DescribeLine(line).c_str(), is_3964r ? "3964R" : "3964",
                     WallClockNow().c_str());
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
