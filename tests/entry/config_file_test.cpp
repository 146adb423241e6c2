#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "entry/config_file.h"
#include "morvane/morvane.h"
#include "support/log_capture.h"
#include "support/temp_directory.h"

namespace morvane {
namespace {

using test::LogCapture;
using test::TempCurrentDirectory;

constexpr int kOperator = MORVANE_LOG_OPERATOR;

struct TextCase {
    const char* name;
    std::string text;
    ProtocolWord expected;
};

TEST(ProtocolText, KeywordAndWordForms) {
    const std::string spaces67(67, ' ');
    const std::string spaces70(70, ' ');
    const TextCase cases[] = {
        {"bare 3964R", "PROTOCOL=3964R", ProtocolWord::k3964R},
        {"blanks before the word", "PROTOCOL=  3964R", ProtocolWord::k3964R},
        {"line end before the word", "PROTOCOL=\n3964R\n", ProtocolWord::k3964R},
        {"only five characters count", "PROTOCOL=3964RX", ProtocolWord::k3964R},
        {"line end after the word", "PROTOCOL=3964R\r\nJUNK", ProtocolWord::k3964R},
        {"lower-case r", "PROTOCOL=3964r", ProtocolWord::k3964},
        {"bare 3964", "PROTOCOL=3964", ProtocolWord::k3964},
        {"3964 and a digit", "PROTOCOL=39645", ProtocolWord::k3964},
        {"3964, blank, R", "PROTOCOL=3964 R", ProtocolWord::k3964},
        {"other word", "PROTOCOL=RK512", ProtocolWord::kInvalid},
        {"short word", "PROTOCOL=396", ProtocolWord::kInvalid},
        {"lower-case keyword", "protocol=3964R", ProtocolWord::kInvalid},
        {"keyword not at the first byte", " PROTOCOL=3964R", ProtocolWord::kInvalid},
        {"keyword on the second line", "[PLC]\nPROTOCOL=3964R", ProtocolWord::kInvalid},
        {"no word", "PROTOCOL=", ProtocolWord::kInvalid},
        {"only blanks after the keyword", "PROTOCOL=   \n", ProtocolWord::kInvalid},
        {"empty", "", ProtocolWord::kInvalid},
        {"word ends at byte 81", "PROTOCOL=" + spaces67 + "3964R", ProtocolWord::k3964R},
        {"word cut by the 81-byte limit", "PROTOCOL=" + spaces70 + "3964R", ProtocolWord::kInvalid},
        {"NUL ends the text",
         std::string("PROTOCOL=\0"
                     "3964R",
                     15),
         ProtocolWord::kInvalid},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(ParseProtocolText(c.text.data(), c.text.size()), c.expected) << c.name;
}

TEST(ProtocolText, LongTextIsReadOnlyToItsLimit) {
    const std::string text = "PROTOCOL=3964R" + std::string(100000, 'X');
    EXPECT_EQ(ParseProtocolText(text.data(), text.size()), ProtocolWord::k3964R);
}

class ConfigFile : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(directory_.ok()); }
    TempCurrentDirectory directory_;
    LogCapture log_;
};

TEST_F(ConfigFile, NamesAreTriedInOrder) {
    TempCurrentDirectory::Write("ZIDIV.INT", "PROTOCOL=3964R");
    EXPECT_EQ(ReadProtocolFile(3), 1);
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> ZIDIV.INT Int File Found.")) << log_.Dump();
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> Protocol= PROT3964R")) << log_.Dump();

    TempCurrentDirectory::Write("ZIDIV3.INT", "PROTOCOL=3964");
    log_.clear();
    EXPECT_EQ(ReadProtocolFile(3), 0);
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> ZIDIV3.INT Int File Found.")) << log_.Dump();

    TempCurrentDirectory::Write("ZIDIV03.INT", "PROTOCOL=3964R");
    log_.clear();
    EXPECT_EQ(ReadProtocolFile(3), 1);
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> ZIDIV03.INT Int File Found.")) << log_.Dump();
    EXPECT_EQ(log_.lines().size(), 2u) << log_.Dump();
}

TEST_F(ConfigFile, ChannelsFromTenUpHaveOneNumberedName) {
    TempCurrentDirectory::Write("ZIDIV12.INT", "PROTOCOL=3964R");
    TempCurrentDirectory::Write("ZIDIV.INT", "PROTOCOL=3964");
    EXPECT_EQ(ReadProtocolFile(12), 1);
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> ZIDIV12.INT Int File Found.")) << log_.Dump();
}

TEST_F(ConfigFile, MissingFileMeansPlain3964) {
    EXPECT_EQ(ReadProtocolFile(1), 0);
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> Int File not found!. Default values used!"))
        << log_.Dump();
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> Protocol= PROT3964")) << log_.Dump();
    EXPECT_EQ(log_.lines().size(), 2u);
}

TEST_F(ConfigFile, MalformedFileIsReportedAndMeansPlain3964) {
    for (const char* text : {"", "protocol=3964R", "PROTOCOL=3965R", "PROTOCOL=\n"}) {
        TempCurrentDirectory::Write("ZIDIV01.INT", text);
        log_.clear();
        EXPECT_EQ(ReadProtocolFile(1), 0) << text;
        EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> Error in INT file, using defaults."))
            << log_.Dump();
        EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> Protocol= PROT3964")) << log_.Dump();
    }
    // Lower-case r is plain 3964 without complaint.
    TempCurrentDirectory::Write("ZIDIV01.INT", "PROTOCOL=3964r");
    log_.clear();
    EXPECT_EQ(ReadProtocolFile(1), 0);
    EXPECT_EQ(log_.Count("ZIDIV> Error in INT file, using defaults."), 0) << log_.Dump();
}

// A directory under a channel file's name is passed over like a free name.
TEST_F(ConfigFile, DirectoryUnderTheNameIsSkippedForTheNextName) {
    ASSERT_EQ(mkdir("ZIDIV03.INT", 0700), 0);
    ASSERT_EQ(mkdir("ZIDIV3.INT", 0700), 0);
    TempCurrentDirectory::Write("ZIDIV.INT", "PROTOCOL=3964R");
    EXPECT_EQ(ReadProtocolFile(3), 1);
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> ZIDIV.INT Int File Found.")) << log_.Dump();
    EXPECT_EQ(log_.Count("ZIDIV> Error in INT file, using defaults."), 0) << log_.Dump();
}

// A named pipe (or a device) in the file's place must not hold the host's
// thread: it reads as an empty file. The read runs in a child process so that
// a hang shows as a failure, not as a stuck test.
TEST_F(ConfigFile, PipeInTheFilesPlaceDoesNotBlock) {
    ASSERT_EQ(mkfifo("ZIDIV01.INT", 0600), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const uint8_t flag = ReadProtocolFile(1);
        _exit(flag == 0 && log_.Has(kOperator, "ZIDIV> Error in INT file, using defaults.") ? 0
                                                                                            : 1);
    }
    int status = 0;
    pid_t done = 0;
    for (int waited_ms = 0; done == 0 && waited_ms < 1000; ++waited_ms) {
        done = waitpid(child, &status, WNOHANG);
        if (done == 0) usleep(1000);
    }
    if (done == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "reading the channel file waits for a writer of the pipe";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace morvane
