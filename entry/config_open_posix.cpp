// Opening the channel's file on POSIX. A named pipe or a terminal under the
// file's name would block a plain fopen (waiting for a writer, or for a
// carrier) and hold the host's thread; opened non-blocking, it reads as empty
// and is reported like a malformed file. A directory under the name is no
// file at all: skipped, as the name were free, so the next name is tried.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "entry/config_file.h"

namespace morvane {

FILE* OpenConfigText(const char* name) {
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat status {};
    if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "r");
    if (file == nullptr) close(fd);
    return file;
}

}  // namespace morvane
