// The command-line host on Linux: the driver from dlopen, stop signals, ports
// under /dev/, and the PLC simulator embedded on a pseudo-terminal.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <utility>

#include "commands.h"
#include "driver_library.h"
#include "frame_option.h"
#include "host_platform.h"
#include "line_session.h"
#include "serial/line_settings_posix.h"
#include "sim/port_diagnosis.h"
#include "sim/replace_file.h"
#include "sim/simulator.h"

namespace morvane::tool {
namespace {

constexpr char kLibraryName[] = "libmorvane.so";

// SIGPIPE: a reader such as head(1) has gone; the output is over, but the
// session still ends as it should.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

volatile std::sig_atomic_t g_signal = 0;
volatile std::sig_atomic_t g_in_transfer = 0;
bool g_terminal = false;  // standard error is a terminal: its line can be wiped
// While the dialog runs: the controlling terminal and its settings before.
int g_dialog_terminal = -1;
struct termios g_dialog_settings {};
struct sigaction g_previous[std::size(kStopSignals)]{};

void Say(const char* text) {
    (void)!write(STDERR_FILENO, text, std::strlen(text));
}

// Only what is safe in a signal handler: a flag, write(2), raise(3).
void NoteStop(int number) {
    if (number == SIGPIPE) {  // every later write to the pipe raises it again: never fatal
        if (g_signal == 0) g_signal = number;
        return;
    }
    // Ctrl-C again: no more waiting for the transfer. A stop request sent
    // again is the same request: timeout(1) and a service manager send it
    // to the process and to its group at once.
    if (g_signal != 0 && number != SIGINT) return;
    if (g_signal != 0) {
        if (g_dialog_terminal >= 0) {  // out of the dialog's screen and raw mode
            tcsetattr(g_dialog_terminal, TCSANOW, &g_dialog_settings);
            const char leave[] = "\033[0m\033[?25h\033[?1049l";
            (void)!write(g_dialog_terminal, leave, sizeof leave - 1);
        }
        Say(g_terminal ? "\r\033[K" : "\n");
        signal(number, SIG_DFL);
        raise(number);
        return;
    }
    g_signal = number;
    if (number == SIGINT && g_in_transfer != 0)
        Say(g_terminal ? "\r\033[Kmorvane: stopping after this transfer (Ctrl-C again: at once)\n"
                       : "morvane: stopping after this transfer (Ctrl-C again: at once)\n");
}

class PtyPlc final : public EmbeddedPlc {
  public:
    PtyPlc(std::unique_ptr<plcsim::Simulator> sim, std::string blocks,
           std::unique_ptr<plcsim::FileHold> hold)
        : sim_(std::move(sim)), blocks_(std::move(blocks)), hold_(std::move(hold)) {}

    std::string PortName() const override { return PortNameOf(sim_->path()); }
    void SetProcedure(bool is_3964r) override {
        plcsim::LinkSettings link = sim_->link();
        link.is_3964r = is_3964r;
        sim_->set_link(link);
    }
    bool Stop(std::string* error) override {
        sim_->Stop();
        return blocks_.empty() || sim_->SaveBlocks(blocks_, error);
    }

  private:
    std::unique_ptr<plcsim::Simulator> sim_;
    std::string blocks_;                      // none: nothing saved; else read whole, or new
    std::unique_ptr<plcsim::FileHold> hold_;  // released once the blocks are saved
};

}  // namespace

bool DriverLibrary::Load(const std::string& path) {
    path_ = path;
    // The loader would wait for ever on a FIFO and read a device without end.
    error_ = plcsim::NotARegularFile(path);
    if (!error_.empty()) return false;
    library_ = {dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL),
                [](void* library) { dlclose(library); }};
    if (!library_) {
        const char* reason = dlerror();
        error_ = reason != nullptr ? reason : "cannot load " + path;
        return false;
    }
    tev_main_ = reinterpret_cast<TevMainFunction>(dlsym(library_.get(), "TevMain"));
    if (tev_main_ == nullptr) {
        error_ = path + " exports no TevMain";
        return false;
    }
    return true;
}

std::string DefaultDriverPath() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string directory = error ? "." : program.parent_path().string();
    for (const std::string& candidate :
         {directory + "/" + kLibraryName, directory + "/../" + kLibraryName}) {
        if (access(candidate.c_str(), R_OK) == 0)
            return std::filesystem::path(candidate).lexically_normal().string();
    }
    return kLibraryName;  // the dynamic loader's own search
}

void WatchStopSignals(bool watch) {
    g_signal = watch ? 0 : g_signal;
    g_terminal = isatty(STDERR_FILENO) == 1;
    struct sigaction action {};
    action.sa_handler = NoteStop;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kStopSignals); ++i)
        sigaction(kStopSignals[i], watch ? &action : &g_previous[i],
                  watch ? &g_previous[i] : nullptr);
}

void MarkTransfer(bool running) {
    g_in_transfer = running ? 1 : 0;
}

void MarkDialog(bool open) {
    if (open) {
        const int terminal = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal >= 0 && tcgetattr(terminal, &g_dialog_settings) == 0) {
            g_dialog_terminal = terminal;
        } else if (terminal >= 0) {
            close(terminal);
        }
        return;
    }
    const int terminal = std::exchange(g_dialog_terminal, -1);
    if (terminal >= 0) close(terminal);
}

int InterruptSignal() {
    return g_signal;
}

std::string InterruptName() {
    if (g_signal == SIGINT) return "interrupted";
    if (g_signal == SIGPIPE) return "stopped: the reader of standard output has gone";
    return std::string("stopped by SIG") + (g_signal == SIGTERM ? "TERM" : "HUP");
}

std::FILE* OpenStreamFile(const std::string& path, bool append, std::string* error) {
    return plcsim::OpenInPlace(path, append, error);
}

void KeepStandardStreams() {
    plcsim::KeepStandardStreams();
}

const char kPlatformUsage[] = "";

std::string ArgumentInUtf8(const std::string& argument) {
    return argument;
}

std::string DialogImpossible() {
    const char* type = std::getenv("TERM");
    if (type != nullptr && std::strcmp(type, "dumb") == 0)
        return "TERM is dumb: the dialog needs a terminal that moves its cursor";
    const int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0 || isatty(STDIN_FILENO) != 1) {
        if (terminal >= 0) close(terminal);
        return "its dialog reads the keyboard on the controlling terminal, and there is none "
               "here (standard input no terminal, or setsid)";
    }
    const bool foreground = tcgetpgrp(terminal) == getpgrp();
    close(terminal);
    return foreground ? "" : "it runs in the background: bring it to the foreground (fg)";
}

bool SameDevice(const std::string& a, const std::string& b) {
    return plcsim::SameDevice(a, b);
}

bool DeviceGone(const std::string& device) {
    struct stat status {};
    return !device.empty() && stat(device.c_str(), &status) != 0 && errno == ENOENT;
}

std::string DiagnosePort(const std::string& device, const LineParameters& line) {
    const std::string why = plcsim::DiagnoseDevice(
        device, [&line](int fd) { return SetLine(fd, line, 0); }, DescribeLine(line));
    return why.empty() ? "it opens now; the driver's log tells why it did not (--log-level 8)"
                       : why;
}

bool ResolvePort(const std::string& given, std::string* device, std::string* port,
                 std::string* error, const std::string& option) {
    if (given.empty() || given.back() == '/') {
        *error = "bad value " + given + " for " + option + ": a serial device such as /dev/ttyUSB0";
        return false;
    }
    // The driver takes a name without a slash under /dev/, as it opens it;
    // "./" and "../" say plainly that the name is the current directory's.
    const bool here = given.rfind("./", 0) == 0 || given.rfind("../", 0) == 0;
    *device = given[0] == '/' || here || given == "NUL" ? given : "/dev/" + given;
    char resolved[PATH_MAX];
    const bool resolved_it = given != "NUL" && realpath(device->c_str(), resolved) != nullptr;
    const int resolve_error = resolved_it ? 0 : errno;
    if (resolved_it) *device = resolved;
    *port = given == "NUL" ? given : PortNameOf(*device);
    // A device that is not there, and a file that is no device, fail as a
    // port that does not open, with the reason, whatever their names' length.
    struct stat status {};
    const bool device_node = stat(device->c_str(), &status) == 0 && S_ISCHR(status.st_mode);
    if (port->size() < MORVANE_PORT_NAME_SIZE || (!resolved_it && resolve_error == ENOENT) ||
        (resolved_it && !device_node))
        return true;
    const std::string limit =
        "at most " + std::to_string(MORVANE_PORT_NAME_SIZE - 1) + " characters after /dev/";
    *error = *device == given || *device == "/dev/" + given
                 ? "port name " + given + " too long: " + limit
                 : "port " + given + " is " + *device + ", still too long: " + limit;
    return false;
}

std::unique_ptr<EmbeddedPlc> StartEmbeddedPlc(const SessionOptions& options,
                                              const LineParameters& settings, std::string* error) {
    // Found before anything goes on the line, not when the blocks are saved.
    auto hold = std::make_unique<plcsim::FileHold>();
    if (!options.sim_blocks.empty() && (!plcsim::CanReplace(options.sim_blocks, error) ||
                                        !hold->Take(options.sim_blocks, error))) {
        *error = "--sim-blocks: " + *error;
        return nullptr;
    }
    auto line = plcsim::Line::OpenPty(error);
    if (!line) return nullptr;
    if (options.pace) line->SetPacing(settings.baud_rate, BitsPerCharacter(settings));
    auto sim = std::make_unique<plcsim::Simulator>(std::move(line));
    std::error_code missing;
    if (!options.sim_blocks.empty() && std::filesystem::exists(options.sim_blocks, missing) &&
        !sim->LoadBlocks(options.sim_blocks, error))
        return nullptr;  // a file that could not be read is never written over
    if (options.sim_trace)
        // Whole lines, clear of a progress line and of the line trace's.
        sim->SetTraceSink([](const std::string& text) { WriteErrorLine("plc " + text); });
    sim->Start();
    return std::make_unique<PtyPlc>(std::move(sim), options.sim_blocks, std::move(hold));
}

}  // namespace morvane::tool
