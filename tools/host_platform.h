// What the command-line host does differently on each platform, besides
// loading the driver, the embedded simulator and the trace; and the
// wall-clock time stamps of its output: local time for people, UTC in ISO
// 8601 for machines.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "morvane/morvane.h"

namespace morvane::tool {

using WallTime = std::chrono::system_clock::time_point;

// "13:25:01.123", or "2026-12-08 13:25:01.123" with the date (local time).
std::string LocalClock(WallTime time, bool with_date);

// "2026-12-08T13:25:01.123Z".
std::string IsoUtc(WallTime time);

// What a transfer of words data words, read or written, takes on line.
std::chrono::milliseconds ExpectedLineTime(uint32_t words, const LineParameters& line);

// Writes line and a line end on standard error, wiping a progress line first.
void WriteErrorLine(const std::string& line);

// A progress line on standard error for transfers that take more than about
// a second, only when standard error is a terminal (on Linux). The driver's
// block read is one blocking call, so a thread of its own compares the time
// spent with the time the transfer's characters take on the line.
class TransferProgress {
  public:
    TransferProgress(std::string what, std::chrono::milliseconds expected);
    ~TransferProgress();  // stops and wipes the line

    static constexpr std::chrono::milliseconds kShowAfter{1000};

  private:
    struct Watch;  // the platform's watching thread
    std::unique_ptr<Watch> watch_;
};

// While watched, Ctrl-C (and on Linux SIGTERM, SIGHUP and SIGPIPE) sets a flag
// instead of ending the process: the running transfer finishes, the steps
// stop, and the session still closes its port and saves the simulator's
// blocks. The first Ctrl-C during a transfer (marked) says so; a second one
// ends the process at once, leaving the terminal's line clean (a repeated
// SIGTERM or SIGHUP does not: it is the same request, sent twice).
void WatchStopSignals(bool watch);
void MarkTransfer(bool running);
// The address dialog holds the terminal: a Ctrl-C that ends at once puts
// the terminal's settings and screen back first.
void MarkDialog(bool open);

int InterruptSignal();  // SIGINT, SIGTERM, SIGHUP or SIGPIPE; 0 when none came
inline bool Interrupted() {
    return InterruptSignal() != 0;
}
std::string InterruptName();  // "interrupted", "stopped by SIGTERM", ...

// Opens a file the tool writes a stream into in place (the driver's log, a
// trace, a capture), for appending or from its start. On Linux a
// read-only file or a directory is refused by name, a FIFO nobody reads
// is refused at once, and so is a terminal line not the tool's own. nullptr with *error when it
// cannot be opened.
std::FILE* OpenStreamFile(const std::string& path, bool append, std::string* error);

// First thing: a standard stream the program was started without gets a
// placeholder, so that no port or file opened later takes its descriptor
// (on Windows, descriptors are not reused so; there the console is set to
// show the UTF-8 the program writes, and set back at the end).
void KeepStandardStreams();

// What the usage text says of this platform's differences ("" on Linux,
// which the text describes).
extern const char kPlatformUsage[];

// A command-line argument as UTF-8 text: Windows hands a program its
// arguments in the system's code page.
std::string ArgumentInUtf8(const std::string& argument);

// Why the address dialog cannot run here, or empty when it can: on Linux
// it needs the controlling terminal, in the foreground, moving a cursor.
std::string DialogImpossible();

// True when a and b name one character device (on Windows: one name).
bool SameDevice(const std::string& a, const std::string& b);

// True when the device (a path) is no longer there.
bool DeviceGone(const std::string& device);

// Why a port did not open, as far as the system can tell, in one sentence
// with the system's text: missing (and which serial devices there are), in
// use (and by which process), not open to this user (and which group grants
// it), not a serial device, or refusing the line's settings. The device is
// opened and closed again, never left changed.
std::string DiagnosePort(const std::string& device, const LineParameters& line);

}  // namespace morvane::tool
