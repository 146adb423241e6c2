// The tests' clean-up after a test killed at its time-out removes only what
// such a test left behind, never what a living one still uses.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/stable_port_name.h"
#include "support/temp_directory.h"

namespace morvane::test {
namespace {

// The id of a process that has ended and been reaped.
std::string GonePid() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return std::to_string(child);
}

TEST(ScratchCleanUp, RemovesOnlyDirectoriesWhoseOwnerIsGone) {
    const TempDirectory root;
    ASSERT_TRUE(root.ok());
    const struct {
        std::string name;
        bool kept;
    } cases[] = {
        {"morvane-test-" + GonePid() + "-aaaaaa", false},
        {"morvane-test-" + std::to_string(getppid()) + "-bbbbbb", true},  // alive
        {"morvane-test-" + std::to_string(getpid()) + "-cccccc", true},   // this program's
        {"morvane-test-x-dddddd", true},                                  // no owner named
        {"other-" + GonePid() + "-eeeeee", true},                         // not a test's
    };
    for (const auto& c : cases)
        std::filesystem::create_directories(root.path() / c.name / "inside");
    RemoveScratchOfGoneOwners(root.path());
    for (const auto& c : cases)
        EXPECT_EQ(std::filesystem::exists(root.path() / c.name), c.kept) << c.name;
}

TEST(ScratchCleanUp, RemovesOnlyOldPortNameLinksToDevices) {
    const TempDirectory root;
    ASSERT_TRUE(root.ok());
    const struct {
        const char* name;
        const char* target;
        bool old;
        bool kept;
    } cases[] = {
        {"mv1234", "/dev/pts/9", true, false},
        {"mv1234n", "/dev/pts/9", true, false},  // re-pointing, cut short
        {"mv2345", "/dev/pts/9", false, true},   // a living test's
        {"mv3456", "blocks.txt", true, true},    // no device
        {"mvx", "/dev/pts/9", true, true},       // not named as the tests name theirs
    };
    const timespec eleven_minutes_ago[2] = {{time(nullptr) - 660, 0}, {time(nullptr) - 660, 0}};
    for (const auto& c : cases) {
        const std::string link = root.File(c.name);
        ASSERT_EQ(symlink(c.target, link.c_str()), 0);
        if (c.old) {
            ASSERT_EQ(utimensat(AT_FDCWD, link.c_str(), eleven_minutes_ago, AT_SYMLINK_NOFOLLOW),
                      0);
        }
    }
    StablePortName::RemoveLeftLinks(root.path().string());
    for (const auto& c : cases) {
        const auto status = std::filesystem::symlink_status(root.File(c.name));
        EXPECT_EQ(std::filesystem::is_symlink(status), c.kept) << c.name;
    }
}

}  // namespace
}  // namespace morvane::test
