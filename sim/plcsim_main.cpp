// plcsim: the PLC partner on a pseudo-terminal or a serial device.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>

#include <unistd.h>

#include "monitor/capture.h"
#include "monitor/detached_output.h"
#include "sim/options.h"
#include "sim/replace_file.h"

namespace {

std::atomic<bool> g_stop{false};

void RequestStop(int) {
    g_stop = true;
}

// What the line sees, as a capture the monitor replays: the driver's
// characters are the host's, ours the PLC's.
void WriteCapture(plcsim::Simulator& sim, FILE* stream, const plcsim::DeviceSettings& line) {
    auto writer = std::make_shared<morvane::monitor::CaptureWriter>(stream);
    writer->Header(morvane::monitor::HeaderStartingNow(plcsim::DescribeSettings(line)));
    sim.SetCaptureSink([writer](uint64_t time_us, plcsim::Direction direction,
                                const plcsim::Bytes& bytes, const std::vector<bool>& damaged) {
        writer->Write(time_us,
                      direction == plcsim::Direction::kReceived ? morvane::monitor::Side::kHost
                                                                : morvane::monitor::Side::kPlc,
                      bytes, damaged);
    });
}

}  // namespace

int main(int argc, char** argv) {
    plcsim::KeepStandardStreams();
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
    if (!options.trace_file.empty()) {
        trace_file.reset(plcsim::OpenInPlace(options.trace_file, false, &error));
        if (!trace_file) {
            std::cerr << "plcsim: --trace-file: " << error << '\n';
            return 1;
        }
    }
    // The trace is written by a thread of its own: a reader that stops
    // reading (a pager, a terminal held with Ctrl-S, a full disk) must never
    // stop the PLC answering on the line.
    std::atomic<bool> reader_gone{false};
    std::unique_ptr<morvane::monitor::DetachedOutput> trace;
    if (options.trace) {
        const int fd = trace_file ? fileno(trace_file.get()) : STDOUT_FILENO;
        trace = std::make_unique<morvane::monitor::DetachedOutput>(
            [&reader_gone, sink = morvane::monitor::DescriptorSink(fd)](const std::string& c) {
                if (sink(c)) return true;
                if (errno == EPIPE) reader_gone = true;
                return false;
            });
    }
    if (trace && morvane::monitor::NamesCapture(options.trace_file))
        WriteCapture(sim, trace->stream(), options.device_settings);
    else if (trace)
        sim.SetTraceSink([&trace](const std::string& line) { trace->Write(line + "\n"); });
    // Each ends the session with its blocks saved: Ctrl-C, a service
    // manager, a closed terminal, a reader of the trace that has gone.
    for (const int stop : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(stop, RequestStop);
    // Without its path on standard output nobody can reach the line.
    if (!(std::cout << sim.path() << std::endl) && options.device.empty()) {
        std::cerr << "plcsim: standard output cannot be written: the line's path cannot be told\n";
        return 1;
    }
    sim.Serve(g_stop);
    int status = 0;
    // A pulled adapter ends the session as a stop would, blocks saved, but
    // as a failure: nothing serves the line any more.
    if (const std::string gone = sim.LineGone(); !gone.empty()) {
        std::cerr << "plcsim: " << options.device << ": " << gone << '\n';
        status = 1;
    }
    if (!options.save_file.empty() && !sim.SaveBlocks(options.save_file, &error)) {
        std::cerr << "plcsim: " << error << '\n';
        status = 1;
    }
    // A reader of a pipe that has gone stopped the session (SIGPIPE): no failure.
    if (trace && !trace->Finish(std::chrono::seconds(2), &error)) {
        (void)trace_file.release();  // its writer may still wait on it
        if (!reader_gone) {
            std::cerr << "plcsim: the trace"
                      << (options.trace_file.empty() ? "" : " " + options.trace_file) << ": "
                      << error << '\n';
            status = 1;
        }
    }
    return status;
}
