// plcsim: the PLC partner on a pseudo-terminal or a serial device.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include "monitor/capture.h"
#include "sim/options.h"
#include "sim/replace_file.h"

namespace {

std::atomic<bool> g_stop{false};

void RequestStop(int) {
    g_stop = true;
}

// What the line sees, as a capture the monitor replays: the driver's
// characters are the host's, ours the PLC's. *lost: errno of the first
// write the file did not take.
void WriteCapture(plcsim::Simulator& sim, FILE* file, const plcsim::DeviceSettings& line,
                  int* lost) {
    auto writer = std::make_shared<morvane::monitor::CaptureWriter>(file);
    writer->Header(morvane::monitor::HeaderStartingNow(plcsim::DescribeSettings(line)));
    sim.SetCaptureSink([writer, file, lost](uint64_t time_us, plcsim::Direction direction,
                                            const plcsim::Bytes& bytes,
                                            const std::vector<bool>& damaged) {
        writer->Write(time_us,
                      direction == plcsim::Direction::kReceived ? morvane::monitor::Side::kHost
                                                                : morvane::monitor::Side::kPlc,
                      bytes, damaged);
        if (std::fflush(file) != 0 && *lost == 0) *lost = errno;
    });
}

// False when a trace or capture line did not reach the file (a full disk),
// which is closed; a reader of a pipe that has gone stopped the session
// (SIGPIPE) and is no failure. first: errno of the first line lost, or 0.
bool CloseTrace(FILE* file, int first, std::string* error) {
    errno = 0;
    if ((std::fflush(file) != 0 || std::ferror(file) != 0) && first == 0)
        first = errno != 0 ? errno : EIO;
    if (std::fclose(file) != 0 && first == 0) first = errno;
    if (first == 0 || first == EPIPE) return true;
    *error = std::strerror(first);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    plcsim::Options options;
    std::string error;
    if (!plcsim::ParseOptions(argc, argv, &options, &error)) {
        std::cerr << "plcsim: " << error << "\n(try plcsim --help)\n";
        return 2;
    }
    if (options.help) {
        std::cout << plcsim::kUsage;
        return 0;
    }
    // Found now, not after a session's writes: a file the blocks cannot go to.
    plcsim::FileHold hold;
    if (!options.save_file.empty() &&
        (!plcsim::CanReplace(options.save_file, &error) || !hold.Take(options.save_file, &error))) {
        std::cerr << "plcsim: --save: " << error << '\n';
        return 1;
    }
    auto line = options.device.empty()
                    ? plcsim::Line::OpenPty(&error)
                    : plcsim::Line::OpenDevice(options.device, options.device_settings, &error);
    if (!line) {
        std::cerr << "plcsim: " << error << '\n';
        return 1;
    }
    if (options.pace)
        line->SetPacing(options.device_settings.baud,
                        plcsim::BitsPerCharacter(options.device_settings));
    plcsim::Simulator sim(std::move(line));
    sim.set_link(options.link);
    sim.set_faults(options.faults);
    sim.SetCreateOnDemand(options.create_on_demand);
    if (!options.load_file.empty() && !sim.LoadBlocks(options.load_file, &error)) {
        std::cerr << "plcsim: " << error << '\n';
        return 1;
    }
    for (const auto& [db, words] : options.blocks)
        sim.DeclareBlock(db, words);

    std::unique_ptr<FILE, int (*)(FILE*)> trace_file(nullptr, std::fclose);
    int trace_error = 0;  // errno of the first trace line the file did not take
    if (!options.trace_file.empty()) {
        trace_file.reset(plcsim::OpenInPlace(options.trace_file, false, &error));
        if (!trace_file) {
            std::cerr << "plcsim: --trace-file: " << error << '\n';
            return 1;
        }
    }
    if (options.trace && morvane::monitor::NamesCapture(options.trace_file)) {
        WriteCapture(sim, trace_file.get(), options.device_settings, &trace_error);
    } else if (options.trace) {
        FILE* out = trace_file ? trace_file.get() : stdout;
        sim.SetTraceSink([out, &trace_error](const std::string& line) {
            if ((std::fprintf(out, "%s\n", line.c_str()) < 0 || std::fflush(out) != 0) &&
                trace_error == 0)
                trace_error = errno;
        });
    }
    // Each ends the session with its blocks saved: Ctrl-C, a service
    // manager, a closed terminal, a reader of the trace that has gone.
    for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(stop, RequestStop);
    std::cout << sim.path() << std::endl;
    sim.Serve(g_stop);
    int status = 0;
    if (!options.save_file.empty() && !sim.SaveBlocks(options.save_file, &error)) {
        std::cerr << "plcsim: " << error << '\n';
        status = 1;
    }
    if (trace_file && !CloseTrace(trace_file.release(), trace_error, &error)) {
        std::cerr << "plcsim: cannot write " << options.trace_file << ": " << error << '\n';
        status = 1;
    }
    return status;
}
