#include <filesystem>

#include "sim/replace_file.h"

namespace plcsim {

std::string FileNamedBy(const std::string& given) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path path = fs::absolute(given, error);
    if (error) return given;
    // weakly_canonical stops at a link whose target is not there yet, which
    // a save creates: such a link is followed by hand, from its directory.
    for (int hops = 0; hops < 40; ++hops) {
        const fs::path full = fs::weakly_canonical(path, error);
        if (error) break;
        if (!fs::is_symlink(fs::symlink_status(full, error))) return full.string();
        const fs::path target = fs::read_symlink(full, error);
        if (error) return full.string();
        path = target.is_absolute() ? target : full.parent_path() / target;
    }
    return path.lexically_normal().string();
}

bool SameRegularFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(a, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return false;
    // Hard links too, for files that are there.
    if (std::filesystem::equivalent(a, b, error)) return true;
    return FileNamedBy(a) == FileNamedBy(b);
}

}  // namespace plcsim
