// Reading the channel's file on POSIX, with plain descriptors: stdio would
// allocate its FILE and buffer on the heap. A named pipe or a terminal under
// the file's name would block a plain open or read (waiting for a writer, or
// for a carrier) and hold the host's thread; opened non-blocking, it reads as
// empty and is reported like a malformed file. A directory under the name is
// no file at all: skipped as if the name were free, so the next name is tried.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "entry/config_file.h"

namespace morvane {

bool ReadConfigText(const char* name, char* text, size_t size, size_t* length) {
    *length = 0;
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        close(fd);
        return false;
    }
    while (*length < size) {
        const ssize_t got = read(fd, text + *length, size - *length);
        if (got <= 0) break;  // end of file, nothing waiting, or an error
        *length += static_cast<size_t>(got);
    }
    close(fd);
    return true;
}

}  // namespace morvane
