// Opening the channel's file on POSIX. A named pipe or a terminal under the
// file's name would block a plain fopen (waiting for a writer, or for a
// carrier) and hold the host's thread; opened non-blocking, it reads as empty
// and is reported like a malformed file.
#include <fcntl.h>
#include <unistd.h>

#include "entry/config_file.h"

namespace morvane {

FILE* OpenConfigText(const char* name) {
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    FILE* file = fdopen(fd, "r");
    if (file == nullptr) close(fd);
    return file;
}

}  // namespace morvane
