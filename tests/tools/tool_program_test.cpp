// The morvane program against its embedded simulator, with the simulator's
// data blocks in a file: what a command line may and may not do to them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include "support/pty_pair.h"
#include "support/run_command.h"
#include "support/temp_directory.h"

namespace morvane::test {
namespace {

constexpr char kBlocks[] = "DB1 4: 0005 0005 0005 0005\n";
constexpr char kSaved[] = "# plcsim data blocks: DB<n> <length>: words in hex\n";

std::string Contents(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ToolCase {
    const char* blocks;  // the block file before the run
    const char* steps;   // after "morvane --log-level 33 write --sim-blocks FILE"
    int exit_code;
    const char* message;  // part of the output
    std::string blocks_after;
};

TEST(ToolProgram, BlockFilesHoldExactlyWhatTheStepsWrote) {
    const ToolCase cases[] = {
        // A later step's mistake stops the session before anything is written.
        {kBlocks, "001002 7 then write 001003 abc", 3, "001003: not a 16-bit word: abc", kBlocks},
        {kBlocks, "001002 7 then write 001004L 1.5", 3, "not a 32-bit integer: 1.5", kBlocks},
        {kBlocks, "001002 7 then read 001002X", 3, "address 001002X refused", kBlocks},
        {kBlocks, "001002 7 then poll 00100217 --times 1", 3, "address 00100217 refused", kBlocks},
        // ... also what only the driver would have refused, on the channel.
        {kBlocks, "001002 99 then write 001010F nan", 3, "not a number: nan", kBlocks},
        {kBlocks, "001002 55 then write 001000S08 a b", 3, "strings are not written as a block",
         kBlocks},
        {kBlocks, "001002 55 then write 00100003 1 0", 3, "address 00100003 refused", kBlocks},
        {kBlocks, "001002 55 then read 001000F 1025", 2, "at most 1024", kBlocks},
        // A tail the driver would not read: a typo that would use another gate.
        {kBlocks, "001002 55 then write 0010030000 1", 3, "would ignore \"00\"", kBlocks},
        {kBlocks, "001002 55 then write '001002 15x' 1", 3, "would ignore \"x\"", kBlocks},
        // ... but a bit number after a blank is read whole.
        {kBlocks, "'001002 15' 1", 0, "001002 15 <- 1 value",
         std::string(kSaved) + "DB1 4: 0005 0005 8005 0005\n"},
        // Leading zeros are decimal.
        {kBlocks, "001002 010 then write 001001 0x10", 0, "001001 <- 1 value",
         std::string(kSaved) + "DB1 4: 0005 0010 000A 0005\n"},
        // A malformed file is refused where it is wrong and left as it was.
        {"DB1 4: 0005 0OBB 0005 0005\n", "001002 7", 1, ":1:14: expected a hex digit",
         "DB1 4: 0005 0OBB 0005 0005\n"},
        {"# mine\nDB1 2: 0005 0005 0005\n", "001001 7", 1, ":2:18: more words than the block's 2",
         "# mine\nDB1 2: 0005 0005 0005\n"},
    };
    const std::filesystem::path dir = ScratchFile("morvane_tool_blocks");
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "blocks.txt").string();
    for (const ToolCase& c : cases) {
        SCOPED_TRACE(c.steps);
        std::ofstream(file) << c.blocks;
        std::string out;
        const int code =
            RunCommand(std::string(MORVANE_PROGRAM) + " --log-level 33 write --sim-blocks " + file +
                           " " + c.steps + " 2>&1",
                       &out);
        EXPECT_EQ(code, c.exit_code) << out;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        EXPECT_EQ(Contents(file), c.blocks_after);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
    }
    std::filesystem::remove_all(dir);
}

// What is no block file is refused by name and kind before anything goes on
// the line, and left as it was: a device, a FIFO (which would hang the
// reading), a directory, a file the user cannot write.
TEST(ToolProgram, BlockFilesAreOnlyRegularFilesTheUserMayWrite) {
    const std::filesystem::path dir = ScratchFile("morvane_tool_not_blocks");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "a-directory");
    const std::string fifo = (dir / "a-fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string read_only = (dir / "read-only").string();
    std::ofstream(read_only) << kBlocks;
    chmod(read_only.c_str(), 0444);
    const std::string device = (dir / "a-device").string();
    const bool have_device = mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    struct {
        std::string path;
        const char* said;
    } const cases[] = {
        {fifo, " is a FIFO, not a regular file"},
        {(dir / "a-directory").string(), " is a directory, not a regular file"},
        {read_only, " is read-only: it is not written"},
        {device, " is a character device, not a regular file"},
    };
    for (const auto& c : cases) {
        if (c.path == device && !have_device) continue;  // making a device needs root
        SCOPED_TRACE(c.path);
        std::string out;
        const int code =
            RunCommand("timeout 10 " + std::string(MORVANE_PROGRAM) +
                           " --log-level 33 write --sim-blocks " + c.path + " 001002 7 2>&1",
                       &out);
        EXPECT_EQ(code, 1) << out;
        EXPECT_NE(out.find("--sim-blocks: " + c.path + c.said), std::string::npos) << out;
        EXPECT_EQ(out.find("<-"), std::string::npos) << out;
    }
    // A trace or a log is written in place, into a pipe or device too, never
    // into a read-only file, nor into a FIFO nobody reads: that would wait for
    // ever, nor onto a terminal line not the program's own.
    PtyPair line;
    ASSERT_TRUE(line.ok());
    const struct {
        const char* option;
        std::string path;
        int code;
        const char* said;
    } streams[] = {
        {"--trace-file", read_only, 1, " is read-only: it is not written"},
        {"--trace-file", fifo, 1, " is a FIFO nobody reads"},
        {"--log", read_only, 2, " is read-only: it is not written"},
        {"--log", fifo, 2, " is a FIFO nobody reads"},
        {"--trace-file", line.name(), 1, " is a terminal line other than this program's own"},
        {"--log", line.name(), 2, " is a terminal line other than this program's own"},
        // The loader would wait on a FIFO for ever.
        {"--driver", fifo, 1, " is a FIFO, not a regular file"},
    };
    for (const auto& c : streams) {
        SCOPED_TRACE(std::string(c.option) + " " + c.path);
        std::string out;
        EXPECT_EQ(RunCommand("timeout 10 " + std::string(MORVANE_PROGRAM) + " read " + c.option +
                                 " " + c.path + " 001002 2>&1",
                             &out),
                  c.code)
            << out;
        EXPECT_NE(out.find(c.path + c.said), std::string::npos) << out;
    }
    char byte = 0;
    EXPECT_LT(read(line.master(), &byte, 1), 1) << "a stream reached the line";
    // The same terminal as the program's own standard error is its own.
    std::string out;
    EXPECT_EQ(RunCommand(std::string(MORVANE_PROGRAM) + " --log " + line.name() +
                             " --log-level 33 read 001002 2>" + line.name(),
                         &out),
              0)
        << out;
    struct stat status {};
    ASSERT_EQ(stat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(Contents(read_only), kBlocks);
    if (have_device) {
        ASSERT_EQ(stat(device.c_str(), &status), 0);
        EXPECT_TRUE(S_ISCHR(status.st_mode));
    }
    std::filesystem::remove_all(dir);
}

// Two sessions on one block file: the later save would put back what the
// other wrote, so a file another session holds is refused and left as it is.
TEST(ToolProgram, ABlockFileAnotherSessionHoldsIsLeftAlone) {
    const std::string file = ScratchFile("morvane_tool_held_blocks");
    std::ofstream(file) << kBlocks;
    const int held = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    std::string out;
    EXPECT_EQ(RunCommand("timeout 10 " + std::string(MORVANE_PROGRAM) + " write --sim-blocks " +
                             file + " 001002 7 2>&1",
                         &out),
              1);
    EXPECT_NE(out.find(file + " is held by another session"), std::string::npos) << out;
    EXPECT_EQ(out.find("<-"), std::string::npos) << out;
    close(held);
    EXPECT_EQ(Contents(file), kBlocks);
}

// The same for a block file the first session is yet to make.
TEST(ToolProgram, ANewBlockFileIsHeldFromTheStart) {
    TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    const std::string file = scratch.File("new.txt"), polled = scratch.File("polled");
    const std::string program = MORVANE_PROGRAM;
    std::string out;
    EXPECT_EQ(RunCommand("(timeout 10 " + program + " poll --sim-blocks " + file +
                             " 001000 --every 20 >" + polled + " 2>&1 & p=$!; i=0; while [ ! -s " +
                             polled + " ] && [ $i -lt 200 ]; do i=$((i+1)); sleep 0.02; done; " +
                             program + " write --sim-blocks " + file +
                             " 001002 7 2>&1; s=$?; kill -TERM $p; wait $p; exit $s)",
                         &out),
              1);
    EXPECT_NE(out.find(file + " is held by another session"), std::string::npos) << out;
    EXPECT_NE(Contents(file).find("DB1 "), std::string::npos);  // the first saved it
}

// --protocol reaches the driver through a file in a scratch directory: run
// from a directory that was removed, the tool says so instead of aborting.
TEST(ToolProgram, ProtocolFromARemovedDirectoryIsRefusedWithTheReason) {
    const std::string dir = ScratchFile("morvane_tool_gone");
    std::string out;
    EXPECT_EQ(RunCommand("mkdir -p " + dir + " && cd " + dir + " && rmdir " + dir + " && " +
                             std::string(MORVANE_PROGRAM) + " read --protocol 3964R 001002 2>&1",
                         &out),
              1);
    EXPECT_EQ(out,
              "morvane: cannot hand --protocol to the driver: the current directory is gone\n");
}

// A block file given by a symbolic link is saved into the file the link
// names, the link kept: a target not there yet is made where the link
// points, from the link's own directory, whatever directory the tool runs in.
TEST(ToolProgram, SavingThroughALinkWritesItsTarget) {
    TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    std::filesystem::create_directories(scratch.path() / "sub");
    std::ofstream(scratch.File("existing.txt")) << kBlocks;
    for (const auto& [link, target, named] :
         {std::tuple{"to-existing", "existing.txt", "existing.txt"},
          std::tuple{"dangling", "missing.txt", "missing.txt"},
          std::tuple{"sub/up", "../above.txt", "above.txt"}}) {
        SCOPED_TRACE(link);
        std::filesystem::create_symlink(target, scratch.File(link));
        std::string out;
        EXPECT_EQ(RunCommand("cd / && " + std::string(MORVANE_PROGRAM) + " write --sim-blocks " +
                                 scratch.File(link) + " 001000 0x00AB 2>&1",
                             &out),
                  0)
            << out;
        EXPECT_TRUE(std::filesystem::is_symlink(scratch.File(link)));
        EXPECT_NE(Contents(scratch.File(named)).find(": 00AB "), std::string::npos);
    }
}

// A log lost on a full disk is said at the end, and the status says so.
TEST(ToolProgram, ALogTheDiskDidNotTakeFailsTheSession) {
    TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    const std::string full = scratch.File("full");
    // A device that takes no byte, as a full disk; making one needs root.
    if (mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0) GTEST_SKIP() << "not root";
    std::string out;
    EXPECT_EQ(RunCommand(std::string(MORVANE_PROGRAM) + " --log " + full +
                             " --log-level 1 read 001002 2>&1",
                         &out),
              1);
    EXPECT_NE(out.find("morvane: cannot write " + full + ": No space left on device"),
              std::string::npos)
        << out;
}

// A saved block file keeps its mode and, when root saves it, its owner.
// A trace whose reader stops reading (a pager, a stalled pipe) costs the
// trace, never the line: every sample goes through, and the end says what
// the trace lost.
TEST(ToolProgram, AStalledTraceReaderNeverFailsTheLine) {
    TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    const std::string fifo = scratch.File("trace");
    std::string out;
    // The shell holds the FIFO open for reading, and never reads it.
    const int code =
        RunCommand("mkfifo " + fifo + " && exec 3<>" + fifo + " && timeout 20 " + MORVANE_PROGRAM +
                       " poll 001000 --times 400 --every 1 --trace-file " + fifo + " 2>&1",
                   &out);
    EXPECT_EQ(code, 1) << out;
    EXPECT_NE(out.find("poll: 400 transfers, 400 good, 0 failed"), std::string::npos) << out;
    EXPECT_NE(out.find("morvane: the line trace: "), std::string::npos) << out;
    EXPECT_NE(out.find(" bytes not written: its reader stopped reading"), std::string::npos) << out;
}

// Started with its output closed, the tool opened the simulator's line on
// that descriptor and printed the value onto the line, with status 0.
TEST(ToolProgram, OutputToAClosedStreamFailsAndNeverReachesTheLine) {
    TempDirectory scratch;
    ASSERT_TRUE(scratch.ok());
    const std::string said = scratch.File("said"), blocks = scratch.File("blocks");
    std::string out;
    EXPECT_EQ(RunCommand(std::string(MORVANE_PROGRAM) + " --sim-blocks " + blocks +
                             " read 001002 >&- 2>" + said,
                         &out),
              1);
    EXPECT_NE(Contents(said).find("morvane: standard output could not be written"),
              std::string::npos)
        << Contents(said);
    // The blocks are still saved: the session ended as it should.
    EXPECT_NE(Contents(blocks).find("DB1 "), std::string::npos);
}

TEST(ToolProgram, SavingKeepsTheFilesModeAndOwner) {
    const std::string file = ScratchFile("morvane_tool_owned_blocks");
    std::ofstream(file) << kBlocks;
    chmod(file.c_str(), 0640);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    }
    std::string out;
    EXPECT_EQ(RunCommand(std::string(MORVANE_PROGRAM) + " --log-level 33 write --sim-blocks " +
                             file + " 001000 0x00AB 2>&1",
                         &out),
              0)
        << out;
    struct stat status {};
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(status.st_uid, 65534u);
    }
    EXPECT_NE(Contents(file).find("DB1 4: 00AB 0005 0005 0005"), std::string::npos);
    std::remove(file.c_str());
}

}  // namespace
}  // namespace morvane::test
