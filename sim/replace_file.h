// Replacing a file whole: a crash or a full disk never leaves it half written.
#pragma once

#include <string>

namespace plcsim {

// Writes contents to a temporary file in path's directory, flushes it to
// the disk and renames it over path (a symbolic link's target is replaced,
// not the link). The mode of an existing file is kept. False with *error,
// and path untouched, when any step fails.
bool ReplaceFile(const std::string& path, const std::string& contents, std::string* error);

}  // namespace plcsim
