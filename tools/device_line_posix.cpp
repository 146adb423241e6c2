#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include "device_line.h"
#include "serial/line_settings_posix.h"

namespace morvane::tool {
namespace {

bool IsPseudoTerminal(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) return false;
    const unsigned int device_major = major(status.st_rdev);
    return device_major >= 136 && device_major <= 143;  // Unix98 pseudo-terminal slaves
}

}  // namespace

bool SetDeviceLine(int fd, const LineParameters& line) {
    termios asked{};
    if (tcgetattr(fd, &asked) != 0 || !ApplyLineParameters(line, &asked)) return false;
    const bool pseudo_terminal = IsPseudoTerminal(fd);
    if (pseudo_terminal) {
        asked.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR);
        asked.c_cflag |= CS8;
    }
    termios held{};
    return tcsetattr(fd, TCSANOW, &asked) == 0 && tcgetattr(fd, &held) == 0 &&
           LineSettingsHeld(asked, held, pseudo_terminal);
}

}  // namespace morvane::tool
