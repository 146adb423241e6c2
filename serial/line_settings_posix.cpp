#include "serial/line_settings_posix.h"

#include <algorithm>
#include <iterator>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace morvane {
namespace {

struct SpeedEntry {
    uint32_t baud_rate;
    speed_t speed;
};

// The rates a 16-bit baud-rate field can name and termios can set.
constexpr SpeedEntry kSpeeds[] = {
    {50, B50},     {75, B75},       {110, B110},     {134, B134},     {150, B150},   {200, B200},
    {300, B300},   {600, B600},     {1200, B1200},   {1800, B1800},   {2400, B2400}, {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600},
};

constexpr uint8_t LowByte(uint16_t value) {
    return static_cast<uint8_t>(value & 0xFF);
}

bool CharacterSizeFor(uint8_t data_bits, tcflag_t* size) {
    switch (data_bits) {
        case 5:
            *size = CS5;
            return true;
        case 6:
            *size = CS6;
            return true;
        case 7:
            *size = CS7;
            return true;
        case 8:
            *size = CS8;
            return true;
        default:
            return false;
    }
}

// Parity bits of c_cflag for the Windows parity codes 0 to 4.
bool ParityFlagsFor(uint8_t parity, tcflag_t* flags) {
    switch (parity) {
        case 0:
            *flags = 0;
            return true;
        case 1:
            *flags = PARENB | PARODD;
            return true;
        case 2:
            *flags = PARENB;
            return true;
        case 3:
            *flags = PARENB | CMSPAR | PARODD;
            return true;  // mark
        case 4:
            *flags = PARENB | CMSPAR;
            return true;  // space
        default:
            return false;
    }
}

// CSTOPB gives two stop bits, or one and a half with 5-bit characters; the
// Windows driver accepts 1.5 only with 5 data bits and 2 only with 6 to 8.
bool StopFlagsFor(uint8_t stop_bits, uint8_t data_bits, tcflag_t* flags) {
    switch (stop_bits) {
        case 0:
            *flags = 0;
            return true;
        case 1:
            *flags = CSTOPB;
            return data_bits == 5;
        case 2:
            *flags = CSTOPB;
            return data_bits != 5;
        default:
            return false;
    }
}

}  // namespace

bool SpeedFor(uint32_t baud_rate, speed_t* speed) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.baud_rate == baud_rate) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

uint32_t CharactersPerSecond(speed_t speed) {
    for (const SpeedEntry& entry : kSpeeds)
        if (entry.speed == speed) return entry.baud_rate / 10;
    return 0;
}

uint32_t CharacterMicros(const termios& settings) {
    const speed_t speed = cfgetospeed(&settings);
    const auto entry = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                    [speed](const SpeedEntry& e) { return e.speed == speed; });
    if (entry == std::end(kSpeeds)) return 0;
    const tcflag_t size = settings.c_cflag & CSIZE;
    const uint32_t data = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    const uint32_t bits = 1 + data + ((settings.c_cflag & PARENB) != 0 ? 1 : 0) +
                          ((settings.c_cflag & CSTOPB) != 0 ? 2 : 1);
    return (bits * 1000000 + entry->baud_rate - 1) / entry->baud_rate;
}

bool ApplyLineParameters(const LineParameters& line, termios* settings) {
    speed_t speed = B0;
    tcflag_t size = 0;
    tcflag_t parity = 0;
    tcflag_t stop = 0;
    const uint8_t data_bits = LowByte(line.data_bits);
    if (!SpeedFor(line.baud_rate, &speed) || !CharacterSizeFor(data_bits, &size) ||
        !ParityFlagsFor(LowByte(line.parity), &parity) ||
        !StopFlagsFor(LowByte(line.stop_bits), data_bits, &stop)) {
        return false;
    }

    // Raw binary line: no echo, no line editing, no signals, no character
    // mapping or stripping, no software flow control, no output processing.
    settings->c_iflag &=
        ~(IGNBRK | BRKINT | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    // Parity is checked whatever the parity code, and a character that fails
    // its parity or stop-bit check, or a break, is marked in the stream
    // (FF 00 X; a data FF comes doubled) instead of arriving as a plain 0x00:
    // without a block check, the parity bit is all that guards the data.
    settings->c_iflag |= INPCK | PARMRK;
    settings->c_oflag &= ~OPOST;
    settings->c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    settings->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    settings->c_cflag |= size | parity | stop | CREAD | CLOCAL;
    // Reads never block in the device: the backend waits with poll().
    settings->c_cc[VMIN] = 0;
    settings->c_cc[VTIME] = 0;
    return cfsetispeed(settings, speed) == 0 && cfsetospeed(settings, speed) == 0;
}

ModemLines ModemLinesFor(uint16_t line_control) {
    ModemLines lines{};
    // DTR/DSR flow control has no termios equivalent: the handshake setting
    // leaves DTR raised, which is what a peer waiting for DTR needs.
    lines.dtr_on = (line_control & 0x0101) != 0 || (line_control & 0x8000) != 0;
    if ((line_control & 0x0202) != 0) {
        lines.rts_on = true;
    } else if ((line_control & 0x1000) != 0) {
        lines.rts_handshake = true;
    } else if ((line_control & 0x2000) != 0) {
        lines.rts_toggle = true;
    }
    return lines;
}

bool LineSettingsHeld(const termios& asked, const termios& held, bool pseudo_terminal) {
    tcflag_t checked = CSTOPB | CRTSCTS;
    if (!pseudo_terminal) checked |= CSIZE | PARENB | PARODD | CMSPAR;
    return (asked.c_cflag & checked) == (held.c_cflag & checked) &&
           cfgetospeed(&asked) == cfgetospeed(&held) && cfgetispeed(&asked) == cfgetispeed(&held);
}

bool SetLine(int fd, const LineParameters& line, tcflag_t extra_cflags, termios* held) {
    termios asked{};
    if (tcgetattr(fd, &asked) != 0 || !ApplyLineParameters(line, &asked)) return false;
    asked.c_cflag |= extra_cflags;
    // A Unix98 pseudo-terminal slave always carries 8-bit characters without
    // parity and the kernel refuses a request whose only change is one it
    // cannot hold; such a line has no character frame to get wrong, so ask
    // for what it holds.
    struct stat status {};
    const bool pseudo_terminal = fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) &&
                                 major(status.st_rdev) >= 136 && major(status.st_rdev) <= 143;
    if (pseudo_terminal) {
        asked.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR);
        asked.c_cflag |= CS8;
    }
    termios read_back{};
    if (held == nullptr) held = &read_back;
    return tcsetattr(fd, TCSANOW, &asked) == 0 && tcgetattr(fd, held) == 0 &&
           LineSettingsHeld(asked, *held, pseudo_terminal);
}

}  // namespace morvane
