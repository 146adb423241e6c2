#include <fcntl.h>
#include <sys/stat.h>
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

// The mode a new file would get: the existing file's, or 0666 less the umask.
mode_t ModeFor(const std::string& path) {
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0) return existing.st_mode & 07777;
    const mode_t mask = umask(022);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool ReplaceFile(const std::string& given, const std::string& contents, std::string* error) {
    std::error_code ignored;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(given, ignored);
    const std::string path = resolved.empty() ? given : resolved.string();
    std::string temporary = path + ".XXXXXX";
    std::vector<char> pattern(temporary.begin(), temporary.end());
    pattern.push_back('\0');
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return Fail("create a temporary file for", given, errno, error);
    temporary = pattern.data();
    int failure = 0;
    if (!WriteAll(fd, contents) || fchmod(fd, ModeFor(path)) != 0 || fsync(fd) != 0)
        failure = errno;
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && rename(temporary.c_str(), path.c_str()) == 0) return true;
    const char* what = failure == 0 ? "replace" : "write";
    if (failure == 0) failure = errno;
    unlink(temporary.c_str());
    return Fail(what, given, failure, error);
}

}  // namespace plcsim
