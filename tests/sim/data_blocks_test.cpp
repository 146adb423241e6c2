// Data blocks: declaration, creation on demand, the file format.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "sim/data_blocks.h"

namespace plcsim {
namespace {

std::string TempPath(const char* name) {
    return ::testing::TempDir() + name;
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
    ASSERT_TRUE(blocks.Save(path));
    DataBlocks loaded;
    loaded.Declare(7, 4);  // replaced by the load
    std::string error;
    ASSERT_TRUE(loaded.Load(path, &error)) << error;
    EXPECT_FALSE(loaded.Exists(7));
    EXPECT_EQ(loaded.Length(0), 1);
    EXPECT_EQ(loaded.Word(0, 0), 0xFFFF);
    EXPECT_EQ(loaded.Length(200), 256);
    EXPECT_EQ(loaded.Word(200, 255), 0x1234);
    std::remove(path.c_str());
}

TEST(DataBlocks, MalformedFilesAreRefusedAndLeaveTheBlocksAlone) {
    const char* const bad[] = {"DB1 4 0001", "DB256 4: 0001", "DB1 0:", "DB1 3000: 1", "D1 4: 1"};
    for (const char* line : bad) {
        const std::string path = TempPath("plcsim_bad.txt");
        std::ofstream(path) << "# comment\n" << line << "\n";
        DataBlocks blocks;
        blocks.Declare(5, 5);
        std::string error;
        EXPECT_FALSE(blocks.Load(path, &error)) << line;
        EXPECT_NE(error.find(":2:"), std::string::npos) << error;
        EXPECT_TRUE(blocks.Exists(5));
        std::remove(path.c_str());
    }
    DataBlocks blocks;
    std::string error;
    EXPECT_FALSE(blocks.Load(TempPath("no_such_file.txt"), &error));
}

}  // namespace
}  // namespace plcsim
