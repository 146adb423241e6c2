// A port name that outlives its device, as a udev rule gives a USB adapter
// that is pulled and plugged in again: a symbolic link exactly as long as the
// host's 11-character port name field allows, re-pointed to each new device.
// A name that short only fits under $TMPDIR when $TMPDIR is at most four
// characters long; otherwise it is made under /tmp.
#pragma once

#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <string>

#include "support/temp_directory.h"

namespace morvane::test {

class StablePortName {
  public:
    static constexpr size_t kLength = 11;

    // Links a fresh name ("/tmp/mvNNNN") to target.
    explicit StablePortName(const std::string& target) {
        const std::string root = ShortRoot();
        RemoveLeftLinks(root);
        const int digits = static_cast<int>(kLength - root.size() - 3);
        unsigned modulus = 1;
        for (int i = 0; i < digits && modulus < 100000000u; ++i)
            modulus *= 10;
        unsigned seed = static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(time(nullptr));
        for (int tries = 0; tries < 100 && name_.empty(); ++tries) {
            char name[kLength + 1];
            std::snprintf(name, sizeof name, "%s/mv%0*u", root.c_str(), digits,
                          (seed + tries * 7919u) % modulus);
            if (symlink(target.c_str(), name) == 0) name_ = name;
        }
    }
    ~StablePortName() {
        if (!name_.empty()) unlink(name_.c_str());
    }
    StablePortName(const StablePortName&) = delete;
    StablePortName& operator=(const StablePortName&) = delete;

    bool ok() const { return !name_.empty(); }
    const std::string& name() const { return name_; }

    // The device is gone and its name with it.
    void Remove() const { unlink(name_.c_str()); }

    // Re-points the name to another device in one step (link, then rename).
    bool PointTo(const std::string& target) const {
        const std::string staging = name_ + "n";
        unlink(staging.c_str());
        return symlink(target.c_str(), staging.c_str()) == 0 &&
               rename(staging.c_str(), name_.c_str()) == 0;
    }

    // A test killed at its time-out leaves its link behind: a link under root
    // named mv and digits, to a device, made more than ten minutes ago, is
    // such a one, for no test lives that long.
    static void RemoveLeftLinks(const std::string& root) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
            const std::string name = entry.path().filename().string();
            if (name.size() < 3 || name.rfind("mv", 0) != 0 || !std::isdigit(name[2])) continue;
            struct stat link {};
            if (lstat(entry.path().c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) continue;
            if (time(nullptr) - link.st_mtime < 600) continue;
            std::error_code ignored;
            if (std::filesystem::read_symlink(entry.path(), ignored).string().rfind("/dev/", 0) ==
                0)
                std::filesystem::remove(entry.path(), ignored);
        }
    }

  private:
    static std::string ShortRoot() {
        const std::string root = TempRoot().string();
        return root.size() + 3 + 4 <= kLength ? root : "/tmp";
    }

    std::string name_;
};

}  // namespace morvane::test
