// The morvane program against its embedded simulator, with the simulator's
// data blocks in a file: what a command line may and may not do to them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/run_command.h"

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
        // Leading zeros are decimal.
        {kBlocks, "001002 010 then write 001001 0x10", 0, "001001 <- 1 value",
         std::string(kSaved) + "DB1 4: 0005 0010 000A 0005\n"},
        // A malformed file is refused where it is wrong and left as it was.
        {"DB1 4: 0005 0OBB 0005 0005\n", "001002 7", 1, ":1:14: expected a hex digit",
         "DB1 4: 0005 0OBB 0005 0005\n"},
        {"# mine\nDB1 2: 0005 0005 0005\n", "001001 7", 1, ":2:18: more words than the block's 2",
         "# mine\nDB1 2: 0005 0005 0005\n"},
    };
    const std::filesystem::path dir = ::testing::TempDir() + "morvane_tool_blocks";
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

}  // namespace
}  // namespace morvane::test
