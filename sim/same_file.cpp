#include <filesystem>

#include "sim/replace_file.h"

namespace plcsim {
namespace {

// Where a name points, also for a file not there yet: links resolved as
// far as they exist, "." and ".." taken out.
std::filesystem::path Where(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    const std::filesystem::path full = std::filesystem::weakly_canonical(absolute, error);
    return (error ? absolute : full).lexically_normal();
}

}  // namespace

bool SameRegularFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(a, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return false;
    // Hard links too, for files that are there.
    if (std::filesystem::equivalent(a, b, error)) return true;
    return Where(a) == Where(b);
}

}  // namespace plcsim
