// The driver as a host sees it: a shared library with one export, TevMain.
#pragma once

#include <string>

#include "morvane/morvane.h"

namespace morvane::tool {

using TevMainFunction = int32_t(MORVANE_CALL*)(TevRequest*);

class DriverLibrary {
  public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // Loads the library at path and resolves TevMain; false with error() set.
    bool Load(const std::string& path);
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

    int32_t Call(TevRequest* request) const { return tev_main_(request); }

  private:
    void* library_ = nullptr;
    TevMainFunction tev_main_ = nullptr;
    std::string path_;
    std::string error_;
};

// The driver library to load: the explicit path if given, else the one
// built beside this program (its directory, then the directory above).
std::string DefaultDriverPath();

}  // namespace morvane::tool
