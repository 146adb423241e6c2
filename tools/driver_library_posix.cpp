#include "driver_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

namespace morvane::tool {
namespace {

constexpr char kLibraryName[] = "libmorvane.so";

std::string ProgramDirectory() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    const std::string program(path, static_cast<size_t>(length));
    const size_t slash = program.rfind('/');
    return slash == std::string::npos ? "." : program.substr(0, slash);
}

}  // namespace

DriverLibrary::~DriverLibrary() {
    if (library_ != nullptr) dlclose(library_);
}

bool DriverLibrary::Load(const std::string& path) {
    path_ = path;
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
        const char* reason = dlerror();
        error_ = reason != nullptr ? reason : "cannot load " + path;
        return false;
    }
    tev_main_ = reinterpret_cast<TevMainFunction>(dlsym(library_, "TevMain"));
    if (tev_main_ == nullptr) {
        error_ = path + " exports no TevMain";
        return false;
    }
    return true;
}

std::string DefaultDriverPath() {
    const std::string directory = ProgramDirectory();
    for (const std::string& candidate :
         {directory + "/" + kLibraryName, directory + "/../" + kLibraryName}) {
        if (access(candidate.c_str(), R_OK) == 0)
            return std::filesystem::path(candidate).lexically_normal().string();
    }
    return kLibraryName;  // the dynamic loader's own search
}

}  // namespace morvane::tool
