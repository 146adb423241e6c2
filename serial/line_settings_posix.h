// Translation of the driver's line parameters and line-control word into
// termios settings and modem-control bits (POSIX backend only).
#pragma once

#include <termios.h>

#include <cstdint>

#include "morvane/morvane.h"

namespace morvane {

// The termios speed for a baud rate, or false when the platform has none.
bool SpeedFor(uint32_t baud_rate, speed_t* speed);

// Characters per second at a termios speed (10 bits per character); 0 if unknown.
uint32_t CharactersPerSecond(speed_t speed);

// Microseconds one character takes on the line as settings frame it: start,
// data, parity and stop bits at the output speed; 0 if the speed is unknown.
uint32_t CharacterMicros(const termios& settings);

// Turns `settings` (as read from the device) into a raw binary line with the
// given parameters. False when a parameter has no termios equivalent, as the
// Windows driver would refuse it.
bool ApplyLineParameters(const LineParameters& line, termios* settings);

// DTR and RTS as the line-control word selects them.
struct ModemLines {
    bool dtr_on;         // DTR raised while the port is open
    bool rts_on;         // RTS raised while the port is open
    bool rts_handshake;  // RTS/CTS hardware flow control
    bool rts_toggle;     // RTS raised only while sending
};
ModemLines ModemLinesFor(uint16_t line_control);

// True when the termios read back from the device holds what was asked.
// A pseudo-terminal keeps neither parity nor character size, so
// `pseudo_terminal` skips those checks.
bool LineSettingsHeld(const termios& asked, const termios& held, bool pseudo_terminal);

// Sets fd's line as line asks, with extra control flags (CRTSCTS), and
// reads back what it holds into *held (null: not wanted); false when the
// device refuses or does not hold it. A pseudo-terminal carries 8-bit
// characters without parity whatever is asked.
bool SetLine(int fd, const LineParameters& line, tcflag_t extra_cflags, termios* held = nullptr);

}  // namespace morvane
