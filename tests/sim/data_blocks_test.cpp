// Data blocks: declaration, creation on demand, the file format.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/data_blocks.h"
#include "support/temp_directory.h"

namespace plcsim {
namespace {

std::string TempPath(const char* name) {
    return morvane::test::ScratchFile(name);
}

TEST(DataBlocks, DeclaredLengthIsClampedAndOutsideWordsAreNeitherReadNorWritten) {
    DataBlocks blocks;
    blocks.Declare(3, 3000);
    EXPECT_EQ(blocks.Length(3), kMaxBlockWords);
    blocks.Declare(3, 2);
    blocks.SetWord(3, 1, 0x1111);
    blocks.SetWord(3, 2, 0x2222);
    EXPECT_EQ(blocks.Word(3, 1), 0x1111);
    EXPECT_EQ(blocks.Word(3, 2), 0);
    blocks.Declare(3, 0);
    EXPECT_EQ(blocks.Length(3), 1);
}

TEST(DataBlocks, CreationOnDemandCanBeSwitchedOff) {
    DataBlocks blocks;
    EXPECT_FALSE(blocks.Exists(255));
    EXPECT_TRUE(blocks.Prepare(255));
    EXPECT_EQ(blocks.Length(255), 256);
    blocks.set_create_on_demand(false);
    EXPECT_FALSE(blocks.Prepare(0));
    blocks.Remove(255);
    EXPECT_FALSE(blocks.Prepare(255));
}

TEST(DataBlocks, SaveAndLoadKeepEveryBlockAndWord) {
    DataBlocks blocks;
    blocks.Declare(0, 1);
    blocks.Declare(200, 256);
    blocks.SetWord(0, 0, 0xFFFF);
    blocks.SetWord(200, 255, 0x1234);
    const std::string path = TempPath("plcsim_blocks.txt");
    std::string error;
    ASSERT_TRUE(blocks.Save(path, &error)) << error;
    DataBlocks loaded;
    loaded.Declare(7, 4);  // replaced by the load
    ASSERT_TRUE(loaded.Load(path, &error)) << error;
    EXPECT_FALSE(loaded.Exists(7));
    EXPECT_EQ(loaded.Length(0), 1);
    EXPECT_EQ(loaded.Word(0, 0), 0xFFFF);
    EXPECT_EQ(loaded.Length(200), 256);
    EXPECT_EQ(loaded.Word(200, 255), 0x1234);
    std::remove(path.c_str());
}

TEST(DataBlocks, MalformedFilesAreRefusedWithLineAndColumnAndLeaveTheBlocksAlone) {
    using namespace std::string_literals;
    const struct {
        std::string line;  // the file's second line, after a comment
        const char* error;
    } cases[] = {
        {"DB1 4: 0001 0OBB 0003 0004", "f:2:14: expected a hex digit (0-9, A-F), found 'O'"},
        {"DB1 4: 0001 002 0003 0004", "f:2:13: expected four hex digits, found 3 (\"002\")"},
        {"DB1 2: 0001 00020", "f:2:13: expected four hex digits, found 5 (\"00020\")"},
        {"DB1 2: 0001 0002 0003", "f:2:18: more words than the block's 2"},
        {"DB1 3: 0001 0002", "f:2:17: 2 words for a block of 3: give all, or none for zeros"},
        {"DB1 3: 0001", "f:2:12: 1 word for a block of 3: give all, or none for zeros"},
        {"DB1 2: 0001,0002", "f:2:12: expected a hex digit (0-9, A-F), found ','"},
        {"DB1 4 0001", "f:2:6: expected ':' after the block's length"},
        {"DB256 4: 0001", "f:2:3: expected a block number, 0 to 255"},
        {"DB-1 4:", "f:2:3: expected a block number, 0 to 255"},
        {"DB1 0:", "f:2:5: expected the block's length, 1 to 2048 words"},
        {"DB1 2049:", "f:2:5: expected the block's length, 1 to 2048 words"},
        {"DB1 3000: 1", "f:2:5: expected the block's length, 1 to 2048 words"},
        {"DB1:", "f:2:4: expected a space before the block's length"},
        {"D1 4: 1", "f:2:2: expected \"DB<n> <length>:\" then the words in hex"},
        {" DB1 1:", "f:2:1: expected \"DB<n> <length>:\" then the words in hex"},
        // Bytes no terminal shows as they are, escaped.
        {"DB1 1: 00\0"
         "1"s,
         "f:2:10: expected a hex digit (0-9, A-F), found '\\x00'"},
        {"DB1 1: 0\x1B[31m", "f:2:9: expected a hex digit (0-9, A-F), found '\\x1B'"},
        {"DB1 1: 00\xE9"
         "1",
         "f:2:10: expected a hex digit (0-9, A-F), found '\\xE9'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::istringstream text(std::string("# comment\n") + c.line + "\n");
        DataBlocks blocks;
        blocks.Declare(5, 5);
        std::string error;
        EXPECT_FALSE(blocks.Read(text, "f", &error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(blocks.Exists(5));
        EXPECT_FALSE(blocks.Exists(1));
    }
    DataBlocks blocks;
    std::string error;
    EXPECT_FALSE(blocks.Load(TempPath("no_such_file.txt"), &error));
    EXPECT_EQ(error, "cannot open " + TempPath("no_such_file.txt") + ": No such file or directory");
}

TEST(DataBlocks, ABlockGivenTwiceIsRefusedWhereItRepeats) {
    std::istringstream text("DB3 1: 0001\n\nDB3 1: 0002\n");
    DataBlocks blocks;
    std::string error;
    EXPECT_FALSE(blocks.Read(text, "f", &error));
    EXPECT_EQ(error, "f:3:1: block 3 is given twice");
}

TEST(DataBlocks, WellFormedFilesReadEveryWordExactly) {
    // Lower-case digits, tabs, a Windows line end, blank lines and a block
    // of zeros given by its length alone.
    std::istringstream text("\n#c\nDB0 2:\tbeef 0A0b\r\n   \nDB255 3:\n");
    DataBlocks blocks;
    std::string error;
    ASSERT_TRUE(blocks.Read(text, "f", &error)) << error;
    EXPECT_EQ(blocks.Word(0, 0), 0xBEEF);
    EXPECT_EQ(blocks.Word(0, 1), 0x0A0B);
    EXPECT_EQ(blocks.Length(255), 3);
    EXPECT_EQ(blocks.Word(255, 2), 0);
    EXPECT_EQ(blocks.Text(),
              "# plcsim data blocks: DB<n> <length>: words in hex\n"
              "DB0 2: BEEF 0A0B\nDB255 3: 0000 0000 0000\n");
}

TEST(DataBlocks, SavingReplacesTheFileWholeAndKeepsItsModeAndLink) {
    const std::filesystem::path dir = TempPath("plcsim_save_dir");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directory(dir);
    const std::string file = (dir / "blocks.txt").string();
    const std::string link = (dir / "link.txt").string();
    std::ofstream(file) << "old\n";
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    std::filesystem::create_symlink("blocks.txt", link);
    // A second name of the old file: a save that writes in place changes it,
    // one that renames a new file over the old name leaves it whole.
    const std::string old_file = (dir / "old.txt").string();
    std::filesystem::create_hard_link(file, old_file);
    DataBlocks blocks;
    blocks.Declare(9, 1);
    blocks.SetWord(9, 0, 0xA5A5);
    std::string error;
    ASSERT_TRUE(blocks.Save(link, &error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    std::ifstream saved(file);
    std::stringstream text;
    text << saved.rdbuf();
    EXPECT_EQ(text.str(), blocks.Text());
    std::ifstream old(old_file);
    std::string old_text;
    std::getline(old, old_text);
    EXPECT_EQ(old_text, "old");
    struct stat status {};
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 3);
    EXPECT_FALSE(blocks.Save((dir / "missing" / "blocks.txt").string(), &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace plcsim
