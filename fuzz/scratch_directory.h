// A private directory for a fuzzer process's channel files, which the driver
// looks for in the current directory. The fuzzer enters it only around the
// calls that read them (InScratchDirectory), so that libFuzzer's relative
// paths (corpus, artifacts) keep their meaning. Removed when the process exits.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/fuzz_check.h"

namespace morvane::fuzz {

inline std::string& ScratchPath() {
    static std::string path;
    return path;
}

inline void MakeScratchDirectory(const char* prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
    ScratchPath() = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(ScratchPath(), ignored);
    });
}

inline std::string ScratchFile(const std::string& name) {
    return ScratchPath() + "/" + name;
}

// The scratch directory is the current one while an object lives.
class InScratchDirectory {
  public:
    InScratchDirectory() : previous_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        FUZZ_CHECK(previous_ >= 0 && chdir(ScratchPath().c_str()) == 0);
    }
    ~InScratchDirectory() {
        FUZZ_CHECK(fchdir(previous_) == 0);
        close(previous_);
    }
    InScratchDirectory(const InScratchDirectory&) = delete;
    InScratchDirectory& operator=(const InScratchDirectory&) = delete;

  private:
    int previous_;
};

inline void WriteScratchFile(const std::string& name, const std::string& text) {
    std::ofstream file(ScratchFile(name), std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    FUZZ_CHECK(file.good());
}

}  // namespace morvane::fuzz
