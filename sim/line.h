// The simulator's end of the serial line: the master side of a
// pseudo-terminal it creates, or a real serial device. Optionally paces
// every byte in both directions as a real line of the given speed would.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/line_timetable.h"
#include "sim/marked_input.h"

struct termios;

namespace plcsim {

struct DeviceSettings {
    uint32_t baud = 9600;
    uint8_t data_bits = 8;
    char parity = 'E';  // 'N', 'E' or 'O'
    uint8_t stop_bits = 1;
};

// "9600 8E1": the rate and frame as a line is usually named.
std::string DescribeSettings(const DeviceSettings& settings);

class Line {
  public:
    // A fresh pseudo-terminal; path() is the slave device to give the driver.
    // The slave is raw, and a slave descriptor stays open for the line's life
    // so the master sees no hang-up while the driver closes and reopens it.
    static std::unique_ptr<Line> OpenPty(std::string* error);
    // Raw, with the UART's parity check and marked input on; held exclusively.
    // The settings it found are put back when the line lets go of it. A
    // device that hangs up or fails (a pulled adapter) makes the line gone().
    static std::unique_ptr<Line> OpenDevice(const std::string& path, const DeviceSettings& settings,
                                            std::string* error);
    // The slave end of another program's pseudo-terminal, raw: a relay's
    // side towards a simulator.
    static std::unique_ptr<Line> OpenSlave(const std::string& path, std::string* error);
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    const std::string& path() const { return path_; }

    // baud 0 turns pacing off; bits_per_char counts start, data, parity and stop bits.
    void SetPacing(uint32_t baud, uint32_t bits_per_char);

    // Input as the marked stream of a terminal with PARMRK (see
    // MarkDecoder): on for a real device; off by default on a pseudo-
    // terminal, where nothing marks characters and FF comes undoubled.
    // Set before serving.
    void SetMarkedInput(bool on);

    // One character within timeout_ms; false when none arrived. *damaged
    // (when given) says whether the UART flagged it; always false unless
    // marked input is on.
    bool ReadByte(uint8_t* byte, int timeout_ms, bool* damaged = nullptr);
    // True when the UART's overrun counts rose since the last call: it lost
    // characters. Always false where the device keeps no such counts.
    bool Overran();
    void Write(const uint8_t* bytes, size_t count);
    void DiscardInput();
    // The partner vanishes, as when a USB adapter is pulled: the line's end
    // closes and the driver's side sees a hang-up. Later reads find nothing
    // and writes are lost. Serving thread only.
    void HangUp();
    // A served device has gone away: reads find nothing at once from then
    // on, so the one serving it must stop. Any thread.
    bool gone() const { return gone_.load(); }
    // Why, as "the device is gone (...)"; empty while it is not gone.
    std::string GoneReason() const { return gone() ? gone_reason_ : std::string(); }

    // Without waiting: up to max bytes that have arrived (not paced, not
    // decoded: marks pass as they came).
    size_t ReadAvailable(uint8_t* bytes, size_t max);
    // Bytes that have arrived and are not read yet.
    size_t InputQueued() const;
    // Waits at most timeout_ms until a or b has input; bit 0: a, bit 1: b.
    static int WaitReadable(Line& a, Line& b, int timeout_ms);

  private:
    Line(int fd, int slave_fd, std::string path);
    bool AwaitInput(int timeout_ms, bool paced);
    bool ReadRawByte(uint8_t* byte, int timeout_ms);
    bool WriteAll(const uint8_t* bytes, size_t count);
    // A device's hang-up or an error that only a vanished device gives.
    void Gone(const std::string& why);
    void GoneOnError(int error);
    // Holds the serving thread until due, when the character has crossed.
    void Pace(LineTimetable::Time due);
    // Holds it until every byte handed out by ReadByte has crossed.
    void CatchUpReceived();

    int fd_;
    int slave_fd_;
    std::string path_;
    std::atomic<int64_t> char_time_ns_{0};  // may change while serving
    LineTimetable timetable_;
    // Paced reading: how many of the bytes seen waiting at seen_at_ are
    // still unread. All of them were ready to cross by then.
    size_t unread_seen_ = 0;
    LineTimetable::Time seen_at_{};
    // Due time of the last byte handed out; pending until waited for.
    LineTimetable::Time received_due_{};
    bool receive_pending_ = false;
    bool marked_ = false;
    MarkDecoder marks_;
    bool counts_overruns_ = false;  // the device answers TIOCGICOUNT
    uint64_t overruns_ = 0;         // the count at the last look
    // A device's settings as found, put back on letting go; null elsewhere.
    std::unique_ptr<termios> found_settings_;
    // Only a device is ever gone: our own pseudo-terminal waits out a driver
    // that closes it, and the relay's side ends with its relay.
    bool watch_gone_ = false;
    std::atomic<bool> gone_{false};
    std::string gone_reason_;  // written once, before gone_ is set
};

}  // namespace plcsim
