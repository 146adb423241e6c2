// Runs a test in a fresh, empty current directory and removes it afterwards.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace morvane::test {

class TempCurrentDirectory {
  public:
    TempCurrentDirectory() {
        char pattern[] = "/tmp/morvane-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return;
        path_ = pattern;
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempCurrentDirectory() {
        if (path_.empty()) return;
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempCurrentDirectory(const TempCurrentDirectory&) = delete;
    TempCurrentDirectory& operator=(const TempCurrentDirectory&) = delete;

    bool ok() const { return !path_.empty(); }

    // Writes a file in the directory with exactly these bytes.
    static void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(name, std::ios::binary) << bytes;
    }

  private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

}  // namespace morvane::test
