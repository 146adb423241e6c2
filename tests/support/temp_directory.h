// Scratch directories of the tests: fresh and private, under $TMPDIR (or
// /tmp), removed with everything in them when the test ends.
#pragma once

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace morvane::test {

// What the tests' scratch directories are called: the owner's process id
// follows, then mkdtemp's letters. Test scripts name theirs the same way.
constexpr char kScratchPrefix[] = "morvane-test-";

inline std::filesystem::path TempRoot() {
    const char* root = std::getenv("TMPDIR");
    return root != nullptr && root[0] != '\0' ? root : "/tmp";
}

// A test killed at its time-out leaves its directory behind: those under
// root whose owner is gone are removed.
inline void RemoveScratchOfGoneOwners(const std::filesystem::path& root) {
    const std::string prefix = kScratchPrefix;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        const long owner = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (owner <= 0 || owner == getpid()) continue;
        if (kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH) continue;
        std::error_code ignored;
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

// Once per test program, when it makes its first scratch directory.
inline void RemoveLeftScratchDirectories() {
    static const bool swept = (RemoveScratchOfGoneOwners(TempRoot()), true);
    (void)swept;
}

class TempDirectory {
  public:
    TempDirectory() {
        RemoveLeftScratchDirectories();
        std::string pattern =
            (TempRoot() / (kScratchPrefix + std::to_string(getpid()) + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDirectory() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }
    // The path of an entry in the directory.
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// The scratch directory of the whole test program, made when first asked
// for and removed when the program exits.
inline const TempDirectory& ProgramScratch() {
    static const TempDirectory scratch;
    if (!scratch.ok()) {
        std::fprintf(stderr, "no scratch directory could be made under %s\n", TempRoot().c_str());
        std::abort();
    }
    return scratch;
}

// The path of an entry in the program's scratch directory.
inline std::string ScratchFile(const std::string& name) {
    return ProgramScratch().File(name);
}

// Runs a test in a fresh, empty current directory and removes it afterwards.
class TempCurrentDirectory {
  public:
    TempCurrentDirectory() {
        if (!directory_.ok()) return;
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(directory_.path());
    }
    ~TempCurrentDirectory() {
        if (directory_.ok()) std::filesystem::current_path(previous_);
    }
    TempCurrentDirectory(const TempCurrentDirectory&) = delete;
    TempCurrentDirectory& operator=(const TempCurrentDirectory&) = delete;

    bool ok() const { return directory_.ok(); }

    // Writes a file in the directory with exactly these bytes.
    static void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(name, std::ios::binary) << bytes;
    }

  private:
    TempDirectory directory_;
    std::filesystem::path previous_;
};

}  // namespace morvane::test
