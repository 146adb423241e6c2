#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "sim/port_diagnosis.h"

namespace plcsim {
namespace {
std::string SystemText(int error) {
    return std::string(" (") + std::strerror(error) + ")";
}

std::string ProcessName(const std::string& pid) {
    std::string name;
    std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
    return "process " + pid + (name.empty() ? "" : " (" + name + ")");
}

bool IsNumber(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The processes with the device open, as far as this user may look into them.
std::string Holders(dev_t device) {
    std::string holders;
    DIR* processes = opendir("/proc");
    if (processes == nullptr) return holders;
    const std::string self = std::to_string(getpid());
    while (const dirent* process = readdir(processes)) {
        if (!IsNumber(process->d_name) || self == process->d_name) continue;
        const std::string fds = std::string("/proc/") + process->d_name + "/fd";
        DIR* descriptors = opendir(fds.c_str());
        if (descriptors == nullptr) continue;
        while (const dirent* fd = readdir(descriptors)) {
            struct stat status {};
            if (IsNumber(fd->d_name) && stat((fds + "/" + fd->d_name).c_str(), &status) == 0 &&
                S_ISCHR(status.st_mode) && status.st_rdev == device) {
                holders += (holders.empty() ? "" : ", ") + ProcessName(process->d_name);
                break;
            }
        }
        closedir(descriptors);
    }
    closedir(processes);
    return holders;
}

// Terminal programs of the UUCP tradition leave LCK..NAME with their
// process number in the system's lock directory.
std::string LockFileNote(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    for (const char* directory : {"/run/lock/", "/var/lock/"}) {
        const std::string lock = directory + std::string("LCK..") + name;
        std::string pid;
        if (!(std::ifstream(lock) >> pid)) continue;
        const bool running = IsNumber(pid) && access(("/proc/" + pid).c_str(), F_OK) == 0;
        return "; lock file " + lock + " names " +
               (running ? ProcessName(pid) : "process " + pid + ", no longer running");
    }
    return "";
}

std::string InUse(const std::string& path, dev_t device, int error) {
    const std::string holders = Holders(device);
    return "in use by " +
           (holders.empty() ? "another program (not one this user can see)" : holders) +
           LockFileNote(path) + SystemText(error);
}

// A terminal refuses every open but root's while in exclusive mode
// (TIOCEXCL). The mode outlives the descriptor that set it as long as
// anyone holds the terminal, as the far end of a pseudo-terminal does: a
// program that let go without lifting it leaves the line refused with
// nobody holding it.
std::string HeldExclusively(const std::string& path, dev_t device, int error) {
    const std::string holders = Holders(device);
    return "held exclusively by " +
           (holders.empty() ? "another program (not one this user can see), or left so by "
                              "one that has let go of it while its far end stays open"
                            : holders) +
           LockFileNote(path) + SystemText(error);
}

std::string NoAccess(const struct stat& status, int error) {
    const group* owner = getgrgid(status.st_gid);
    std::string text = "not open to this user" + SystemText(error);
    if (owner == nullptr || status.st_gid == 0 || (status.st_mode & S_IRWXG) == 0)
        return text + ": only its owner (uid " + std::to_string(status.st_uid) + ") may open it";
    const std::string group = owner->gr_name;
    return text + ": the device belongs to group " + group + "; join it (sudo usermod -aG " +
           group + " $USER) and log in again";
}

std::string SerialDevicesPresent() {
    glob_t found{};
    std::string list;
    for (const char* pattern : {"/dev/serial/by-id/*", "/dev/ttyUSB*", "/dev/ttyACM*"}) {
        if (glob(pattern, 0, nullptr, &found) == 0)
            for (size_t i = 0; i < found.gl_pathc; ++i)
                list += std::string(list.empty() ? "" : " ") + found.gl_pathv[i];
        globfree(&found);
    }
    return list.empty() ? "; no USB serial adapter is present" : "; present: " + list;
}

// The device opens: does it take the settings? Put back as they were after.
std::string SettingsNote(int fd, const std::function<bool(int fd)>& takes_settings,
                         const std::string& settings) {
    termios before{};
    if (tcgetattr(fd, &before) != 0) return "not a serial device" + SystemText(errno);
    const bool taken = takes_settings(fd);
    (void)tcsetattr(fd, TCSANOW, &before);
    return taken ? "" : "the device does not take " + settings;
}

}  // namespace

std::string DiagnoseDevice(const std::string& device,
                           const std::function<bool(int fd)>& takes_settings,
                           const std::string& settings) {
    struct stat status {};
    if (stat(device.c_str(), &status) != 0) {
        const int error = errno;
        return (error == ENOENT ? "no such device" : "cannot look at it") + SystemText(error) +
               (error == ENOENT ? SerialDevicesPresent() : "");
    }
    if (!S_ISCHR(status.st_mode)) return "not a serial device, not even a character device";
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) return NoAccess(status, error);
        if (error == EBUSY) return HeldExclusively(device, status.st_rdev, error);
        if (error == EIO || error == ENXIO || error == ENODEV)
            return "the device does not answer: unplugged, or no hardware behind it" +
                   SystemText(error);
        return "cannot open it" + SystemText(error);
    }
    const std::string note = flock(fd, LOCK_EX | LOCK_NB) != 0
                                 ? InUse(device, status.st_rdev, errno)
                                 : SettingsNote(fd, takes_settings, settings);
    close(fd);
    return note;
}

}  // namespace plcsim
