// Replacing a file whole: a crash or a full disk never leaves it half written.
#pragma once

#include <cstdio>
#include <string>

namespace plcsim {

// Empty when path is a regular file or not there; otherwise why it is no
// file to read or replace ("PATH is a FIFO, not a regular file"). Devices,
// FIFOs, sockets and directories are named by their kind and never opened.
std::string NotARegularFile(const std::string& path);

// Empty when a stream may be written into path in place (a trace or log:
// a regular file the user may write, a new one, a device or a pipe);
// otherwise why not ("PATH is read-only: it is not written"). A regular
// file without a write bit is read-only whoever runs this, root included.
std::string NotWritableInPlace(const std::string& path);

// Opens path for a stream written in place ("w", or "a" with append), after
// NotWritableInPlace. A FIFO nobody reads is refused at once instead of
// waiting for a reader for ever, and a terminal other than this program's
// own (its standard streams, its controlling terminal) is refused: the text
// would go onto another line, a serial one or the far end of a tapped pair.
// nullptr with *error when it cannot.
std::FILE* OpenInPlace(const std::string& path, bool append, std::string* error);

// Puts a placeholder, open for reading only, on each standard stream the
// program was started without. Else the first file or line it opens would
// take that descriptor, and text meant for the stream would go into it (onto
// a serial line); with the placeholder such text fails, and that is said.
void KeepStandardStreams();

// True when a and b name one character device: a stream written into a
// served or watched device would go onto its line.
bool SameDevice(const std::string& a, const std::string& b);

// True when ReplaceFile can save path: it is a regular file the user may
// write, or a new one in a directory the user may write. A file without a
// write bit is read-only whoever runs this. False with *error.
bool CanReplace(const std::string& path, std::string* error);

// The absolute name of the file path names: symbolic links followed, also
// one whose target is not there yet (relative to the link's directory, as
// the system follows it), "." and ".." taken out. What a save writes.
std::string FileNamedBy(const std::string& path);

// True when a and b name one regular file, or one not there yet: two
// streams written into it would overwrite each other, and one written into
// a block file would spoil it. A device or a FIFO (/dev/stderr) takes
// several streams as they come.
bool SameRegularFile(const std::string& a, const std::string& b);

// Keeps another session from saving the same block file meanwhile: each
// loads it, and the last to save would put back what the other wrote. An
// exclusive lock on the file, held while this lives; a file not there yet
// is made empty to be held, and removed again unless it was saved.
class FileHold {
  public:
    FileHold() = default;
    ~FileHold();
    FileHold(const FileHold&) = delete;
    FileHold& operator=(const FileHold&) = delete;

    // False with *error ("PATH is held by another session") when another holds it.
    bool Take(const std::string& path, std::string* error);

  private:
    int fd_ = -1;
    std::string made_;  // made by Take, empty: removed unless saved
};

// Writes contents to a temporary file in path's directory, flushes it to
// the disk and renames it over path (a symbolic link's target is replaced,
// not the link). The mode and owner of an existing file are kept. Checks
// CanReplace first. False with *error, and path untouched, when any step
// fails.
bool ReplaceFile(const std::string& path, const std::string& contents, std::string* error);

}  // namespace plcsim
