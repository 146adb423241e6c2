// A port name that outlives its device, as a udev rule gives a USB adapter
// that is pulled and plugged in again: a symbolic link short enough for the
// host's 11-character port name field, re-pointed to each new device.
#pragma once

#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <string>

namespace morvane::test {

class StablePortName {
  public:
    // Links a fresh name ("/tmp/mvNNNN") to target.
    explicit StablePortName(const std::string& target) {
        unsigned seed = static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(time(nullptr));
        for (int tries = 0; tries < 100 && name_.empty(); ++tries) {
            char name[16];
            std::snprintf(name, sizeof name, "/tmp/mv%04u", (seed + tries * 7919u) % 10000u);
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

  private:
    std::string name_;
};

}  // namespace morvane::test
