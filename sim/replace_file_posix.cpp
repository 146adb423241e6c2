#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "sim/replace_file.h"

namespace plcsim {
namespace {

bool Fail(const std::string& what, const std::string& path, int error_number, std::string* error) {
    *error = "cannot " + what + " " + path + ": " + std::strerror(error_number);
    return false;
}

bool WriteAll(int fd, const std::string& contents) {
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// An existing file without a write bit, or one this user may not write.
bool IsReadOnly(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return false;
    return (status.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0;
}

// A terminal this program writes to anyway: one of its standard streams
// (/dev/stderr, a redirection to the user's terminal) or its controlling
// terminal (/dev/tty). Any other is some other line.
bool IsOwnTerminal(int fd, const struct stat& status) {
    for (const int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        struct stat own {};
        if (fstat(standard, &own) == 0 && S_ISCHR(own.st_mode) && own.st_rdev == status.st_rdev)
            return true;
    }
    const pid_t session = tcgetsid(fd);
    return session >= 0 && session == getsid(0);
}

}  // namespace

bool SameDevice(const std::string& a, const std::string& b) {
    struct stat one {
    }, two{};
    return stat(a.c_str(), &one) == 0 && stat(b.c_str(), &two) == 0 && S_ISCHR(one.st_mode) &&
           S_ISCHR(two.st_mode) && one.st_rdev == two.st_rdev;
}

FileHold::~FileHold() {
    if (fd_ < 0) return;
    // A file made only to be held, and never saved, is not left behind.
    struct stat held {
    }, named{};
    if (!made_.empty() && fstat(fd_, &held) == 0 && held.st_size == 0 &&
        stat(made_.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino)
        unlink(made_.c_str());
    close(fd_);
}

bool FileHold::Take(const std::string& path, std::string* error) {
    // The file the save writes, which a link not followed yet names too.
    const std::string file = FileNamedBy(path);
    constexpr int kFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    int fd = open(file.c_str(), kFlags);
    // One not there yet is made now, empty, so that a second session on it
    // finds it held too; else the later save would put back what the
    // other wrote.
    bool made = false;
    if (fd < 0 && errno == ENOENT) {
        fd = open(file.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
        made = fd >= 0;
        if (fd < 0 && errno == EEXIST) fd = open(file.c_str(), kFlags);  // made by another just now
    }
    if (fd < 0) return Fail("open", path, errno, error);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int failure = errno;
        // A file system without locks (some network mounts) goes unheld:
        // the hold protects, it is no condition of saving.
        if (failure != EWOULDBLOCK) {
            if (made) unlink(file.c_str());
            close(fd);
            return true;
        }
        close(fd);
        *error = path + " is held by another session, which saves it too";
        return false;
    }
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
    made_ = made ? file : "";
    return true;
}

std::string NotARegularFile(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode)) return "";
    return path + " is " + KindOf(status.st_mode) + ", not a regular file";
}

std::string NotWritableInPlace(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return "";
    if (S_ISDIR(status.st_mode)) return path + " is a directory";
    return S_ISREG(status.st_mode) && IsReadOnly(path) ? path + " is read-only: it is not written"
                                                       : "";
}

void KeepStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int held = open("/dev/null", O_RDONLY);  // the lowest free descriptor: fd
        if (held > fd) close(held);
    }
}

std::FILE* OpenInPlace(const std::string& path, bool append, std::string* error) {
    *error = NotWritableInPlace(path);
    if (!error->empty()) return nullptr;
    // Without O_NONBLOCK, opening a FIFO for writing waits until a reader
    // comes; with it, ENXIO says that none is there. Writes block again.
    // O_NOCTTY: a terminal named here never becomes this program's own.
    const int fd =
        open(path.c_str(),
             O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
             0666);
    if (fd < 0) {
        *error =
            errno == ENXIO ? path + " is a FIFO nobody reads" : path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && isatty(fd) == 1 &&
        !IsOwnTerminal(fd, status)) {
        *error =
            path + " is a terminal line other than this program's own: the text would go onto it";
        close(fd);
        return nullptr;
    }
    std::FILE* file = nullptr;
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
        file = fdopen(fd, append ? "a" : "w");
    if (file == nullptr) {
        *error = path + ": " + std::strerror(errno);
        close(fd);
    }
    return file;
}

bool CanReplace(const std::string& given, std::string* error) {
    *error = NotARegularFile(given);
    if (!error->empty()) return false;
    const std::string path = FileNamedBy(given);
    if (IsReadOnly(path)) {
        *error = given + " is read-only: it is not written";
        return false;
    }
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const std::string directory = parent.empty() ? "." : parent.string();
    if (access(directory.c_str(), W_OK | X_OK) == 0) return true;
    return Fail("save", given + " (its directory " + directory + ")", errno, error);
}

bool ReplaceFile(const std::string& given, const std::string& contents, std::string* error) {
    if (!CanReplace(given, error)) return false;
    const std::string path = FileNamedBy(given);
    struct stat existing {};
    const bool exists = stat(path.c_str(), &existing) == 0;
    // Another user's file this user may write keeps its owner only when
    // written in place: a new file would be this user's.
    if (exists && existing.st_uid != geteuid() && geteuid() != 0) {
        const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) return Fail("write", given, errno, error);
        const bool written = WriteAll(fd, contents) && fsync(fd) == 0;
        const int failure = written ? 0 : errno;
        close(fd);
        return written || Fail("write", given, failure, error);
    }
    std::string temporary = path + ".XXXXXX";
    std::vector<char> pattern(temporary.begin(), temporary.end());
    pattern.push_back('\0');
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return Fail("create a temporary file for", given, errno, error);
    temporary = pattern.data();
    const mode_t mask = umask(022);
    umask(mask);
    const mode_t mode = exists ? existing.st_mode & 07777 : 0666 & ~mask;
    int failure = 0;
    // The owner first: a change of owner may clear the set-id bits of the mode.
    if (!WriteAll(fd, contents) ||
        (exists && (existing.st_uid != geteuid() || existing.st_gid != getegid()) &&
         fchown(fd, existing.st_uid, existing.st_gid) != 0) ||
        fchmod(fd, mode) != 0 || fsync(fd) != 0)
        failure = errno;
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && rename(temporary.c_str(), path.c_str()) == 0) return true;
    const char* what = failure == 0 ? "replace" : "write";
    if (failure == 0) failure = errno;
    unlink(temporary.c_str());
    return Fail(what, given, failure, error);
}

}  // namespace plcsim
