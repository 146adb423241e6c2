// The host library stand-in, as the driver and the command-line host use it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "morvane/ostrel.h"
#include "ostrel/ostrel_control.h"
#include "support/log_capture.h"
#include "support/temp_directory.h"

namespace morvane {
namespace {

std::string ReadFile(const char* name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(OstrelStandIn, FileSinkWritesLevelAndTextAndHonoursTheMinimumLevel) {
    test::TempCurrentDirectory directory;
    ASSERT_TRUE(directory.ok());
    ASSERT_EQ(OstrelSetLogFile("host.log"), 0);
    err(8, "ZIDIV> %s %d", "trace", 1);
    OstrelSetMinimumLevel(32);
    err(8, "ZIDIV> dropped");
    err(32, "ZIDIV> operator %u", 2u);
    OstrelSetMinimumLevel(0);
    OstrelSetLogFile(nullptr);
    EXPECT_EQ(ReadFile("host.log"), " 8 ZIDIV> trace 1\n32 ZIDIV> operator 2\n");
    EXPECT_EQ(OstrelSetLogFile("no-such-directory/host.log"), -1);
}

TEST(OstrelStandIn, OverlongLinesAreCutNotOverrun) {
    test::LogCapture log;
    const std::string long_text(5000, 'x');
    err(8, "%s", long_text.c_str());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].text, std::string(1023, 'x'));
}

TEST(OstrelStandIn, ClientsVersionAndRefusal) {
    uint8_t client = 0;
    ASSERT_EQ(OstMkClient("MORVANE", 1, 0, &client), 0);
    EXPECT_NE(client, 0);
    uint16_t version = 0;
    char buffer[100] = {};
    OstGetOstrelVer(client, &version, buffer);
    EXPECT_EQ(version, 820);
    OstrelSetVersion(700);
    OstGetOstrelVer(client, &version, buffer);
    EXPECT_EQ(version, 700);
    OstRmClient(client);

    OstrelSetRefuseClients(1);
    uint8_t refused = 0xEE;
    EXPECT_NE(OstMkClient("MORVANE", 1, 0, &refused), 0);
    EXPECT_EQ(refused, 0xEE);
    OstrelSetRefuseClients(0);
    OstrelSetVersion(820);
}

}  // namespace
}  // namespace morvane
