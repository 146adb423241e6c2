// Lifecycle commands on real pseudo-terminals, with their log lines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "entry/driver_state.h"
#include "entry/open_com.h"
#include "link/transfer_policy.h"
#include "support/log_capture.h"
#include "support/pty_pair.h"
#include "support/stable_port_name.h"
#include "support/temp_directory.h"

namespace morvane {
namespace {

using test::LogCapture;
using test::PtyPair;
using test::TempCurrentDirectory;

constexpr int kTrace = MORVANE_LOG_TRACE;
constexpr int kOperator = MORVANE_LOG_OPERATOR;
constexpr LineParameters kLine{9600, 8, 0, 2};
using Lines = std::vector<std::pair<int, std::string>>;

TEST(InternalTimeout, TwentiethOfTheHostsTimeoutNeverBelowFifty) {
    const std::pair<int32_t, int32_t> cases[] = {
        {999, 50},
        {1000, 50},
        {1019, 50},
        {1020, 51},
        {3000, 150},
        {0, 50},
        {-5000, 50},
        {-2147483647 - 1, 50},
        {2147483647, 107374182},
    };
    for (const auto& [external, internal] : cases)
        EXPECT_EQ(InternalTimeoutFor(external), internal) << external;
}

class Lifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(directory_.ok());
        ASSERT_TRUE(pty_.ok());
        SetDriverEnded(false);
    }
    void TearDown() override {
        SetDriverEnded(false);
        if (area_.port_handle != 0) SerialClose(area_.port_handle);
    }

    static void SetName(char (&field)[MORVANE_PORT_NAME_SIZE], const std::string& name) {
        std::memset(field, 0, sizeof field);
        std::memcpy(field, name.data(), std::min(name.size(), sizeof field - 1));
    }
    int32_t Run(uint32_t code, void* block = nullptr, ChannelArea* area = nullptr) {
        TevRequest request{area != nullptr ? area : &area_, code, 1, 0, block};
        return TevMain(&request);
    }
    int32_t ColdStart(const std::string& port, uint32_t open_now, int32_t external = 3000) {
        StartBlock start{};
        SetName(start.port_name, port);
        start.open_now = open_now;
        start.external_timeout = external;
        start.line = kLine;
        return Run(MORVANE_CMD_COLD_START, &start);
    }
    int32_t Change(const std::string& port, int32_t timeout, LineParameters line = kLine) {
        ChangeBlock change{};
        SetName(change.port_name, port);
        change.timeout = timeout;
        change.line = line;
        return Run(MORVANE_CMD_CHANGE_TEV_PARAMS, &change);
    }
    // The read time-out the port has now, in hundredths (set back unchanged).
    uint32_t PortTimeout() {
        const uint32_t now_ms = SerialSetReadTimeout(area_.port_handle, 10);
        SerialSetReadTimeout(area_.port_handle, now_ms);
        return now_ms / 10;
    }
    Lines Logged() const {
        Lines lines;
        for (const auto& line : log_.lines())
            lines.emplace_back(line.level, line.text);
        return lines;
    }
    static std::string HandleLine(const char* format, PortHandle handle) {
        char text[128];
        std::snprintf(text, sizeof text, format, static_cast<unsigned>(handle));
        return text;
    }

    TempCurrentDirectory directory_;
    PtyPair pty_;
    LogCapture log_;
    ChannelArea area_{};
};

TEST_F(Lifecycle, ColdStartOpensThePortAndSetsItsReadTimeout) {
    TempCurrentDirectory::Write("ZIDIV.INT", "PROTOCOL=3964R");
    ASSERT_EQ(ColdStart(pty_.port_name(), 1, 3000), MORVANE_OK);
    ASSERT_NE(area_.port_handle, 0u);
    EXPECT_EQ(area_.internal_timeout, 150);
    EXPECT_EQ(PortTimeout(), 150u);
    EXPECT_STREQ(area_.port_settings.port_name, pty_.port_name().c_str());
    EXPECT_EQ(area_.port_settings.line_control, 0x0303);
    EXPECT_EQ(area_.port_settings.is_3964r, 1);
    EXPECT_EQ(area_.port_settings.line.parity, 2);

    const PortHandle h = area_.port_handle;
    const Lines expected = {
        {kTrace, "TEVYY> version compiled on May 29 2002 at time 12:23:08"},
        {kOperator, "ZIDIV> ZIDIV.INT Int File Found."},
        {kOperator, "ZIDIV> Protocol= PROT3964R"},
        {kTrace, HandleLine("ZIDIV> OpenCom() exited OK, file handle %u", h)},
        {kOperator,
         "ZIDIV> ColdStart() port " + pty_.port_name() + HandleLine(" opened, file handle %u", h)},
        {kTrace, "ZIDIV> int. time-out 150, ext. time-out 3000 (1/100 sec)"},
    };
    EXPECT_EQ(Logged(), expected) << log_.Dump();
}

TEST_F(Lifecycle, ShortHostTimeoutIsWarnedAboutAndFloored) {
    for (const auto& [external, warned] :
         {std::pair{999, true}, std::pair{1000, false}, std::pair{-1, true}}) {
        log_.clear();
        ASSERT_EQ(ColdStart(pty_.port_name(), 0, external), MORVANE_OK);
        EXPECT_EQ(area_.internal_timeout, 50);
        EXPECT_EQ(log_.Has(kOperator,
                           "ZIDIV> ColdStart() Warning, time-out should be specified > 10 seconds"),
                  warned)
            << external;
    }
}

TEST_F(Lifecycle, StartWithoutOpeningThenReOpenCom) {
    area_.port_handle = 77;  // a fresh area: whatever was there is not closed
    ASSERT_EQ(ColdStart(pty_.port_name(), 0), MORVANE_OK);
    EXPECT_EQ(area_.port_handle, 0u);
    EXPECT_EQ(area_.port_settings.is_3964r, 0);
    EXPECT_EQ(log_.Count("ZIDIV> int. time-out 150, ext. time-out 3000 (1/100 sec)"), 0);
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> Int File not found!. Default values used!"));

    log_.clear();
    ASSERT_EQ(Run(MORVANE_CMD_REOPEN_COM), MORVANE_OK);
    ASSERT_NE(area_.port_handle, 0u);
    EXPECT_EQ(PortTimeout(), 100u);  // the open's 1000 ms, not the internal time-out
    const Lines expected = {
        {kTrace, HandleLine("ZIDIV> OpenCom() exited OK, file handle %u", area_.port_handle)},
        {kTrace, "ZIDIV> ReOpenCom() exited 0"},
    };
    EXPECT_EQ(Logged(), expected) << log_.Dump();

    // A second open of the open port is refused; the port stays in use.
    const PortHandle open = area_.port_handle;
    log_.clear();
    EXPECT_EQ(Run(MORVANE_CMD_REOPEN_COM), MORVANE_LINE_FAILED);
    EXPECT_EQ(area_.port_handle, open);
    const Lines refused = {
        {kTrace, "ZIDIV> OpenCom() exited with error"},
        {kOperator, "ZIDIV> ReOpenCom() exited 2"},
    };
    EXPECT_EQ(Logged(), refused) << log_.Dump();
}

TEST_F(Lifecycle, ColdStartThatCannotOpenStoresTheSettingsAndAnswers1) {
    ASSERT_EQ(ColdStart("ttyNOPE9", 1), MORVANE_REQUEST_FAILED);
    EXPECT_EQ(area_.port_handle, 0u);
    EXPECT_STREQ(area_.port_settings.port_name, "ttyNOPE9");
    EXPECT_EQ(area_.internal_timeout, 150);
    EXPECT_TRUE(log_.Has(kTrace, "ZIDIV> OpenCom() exited with error"));
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> ColdStart() unable to open ttyNOPE9 port"));
    EXPECT_EQ(log_.Count("ZIDIV> int. time-out 150, ext. time-out 3000 (1/100 sec)"), 0);
}

// A 12-character name without its NUL would open the device of its first 11
// characters, here a link to the pseudo-terminal: it is refused instead.
TEST_F(Lifecycle, PortNameWithoutItsNulIsNeverOpened) {
    const test::StablePortName port_name("/dev/" + pty_.port_name());
    ASSERT_TRUE(port_name.ok());
    const std::string link = port_name.name();
    ASSERT_EQ(link.size(), 11u);
    char field[MORVANE_PORT_NAME_SIZE];
    std::memcpy(field, (link + "9").data(), sizeof field);

    StartBlock start{};
    std::memcpy(start.port_name, field, sizeof field);
    start.open_now = 1;
    start.external_timeout = 3000;
    start.line = kLine;
    EXPECT_EQ(Run(MORVANE_CMD_COLD_START, &start), MORVANE_REQUEST_FAILED);
    EXPECT_EQ(area_.port_handle, 0u);
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> ColdStart() unable to open " + link + "9 port"))
        << log_.Dump();
    EXPECT_EQ(Run(MORVANE_CMD_REOPEN_COM), MORVANE_LINE_FAILED);
    ChangeBlock change{};
    std::memcpy(change.port_name, field, sizeof field);
    change.line = kLine;
    EXPECT_EQ(Run(MORVANE_CMD_CHANGE_TEV_PARAMS, &change), MORVANE_LINE_FAILED);
    EXPECT_EQ(area_.port_handle, 0u);
    EXPECT_EQ(log_.Count("ZIDIV> OpenCom() exited with error"), 3);
}

TEST_F(Lifecycle, CloseComTwiceAndTheDeviceIsFreeAgain) {
    ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK);
    log_.clear();
    EXPECT_EQ(Run(MORVANE_CMD_CLOSE_COM), MORVANE_OK);
    EXPECT_EQ(area_.port_handle, 0u);
    EXPECT_EQ(Run(MORVANE_CMD_CLOSE_COM), MORVANE_OK);
    const Lines expected = {{kTrace, "ZIDIV> CloseCom() exited 0"},
                            {kTrace, "ZIDIV> CloseCom() exited 0"}};
    EXPECT_EQ(Logged(), expected);
    PortHandle again = 0;
    EXPECT_EQ(SerialOpen(pty_.port_name().c_str(), kLine, 0x0303, &again), kSerialOk);
    SerialClose(again);
}

TEST_F(Lifecycle, FailedCloseKeepsTheHandleAndEndTevPassesItOn) {
    area_.port_handle = 4000;  // no such descriptor: the close fails
    EXPECT_EQ(Run(MORVANE_CMD_CLOSE_COM), MORVANE_LINE_FAILED);
    EXPECT_EQ(area_.port_handle, 4000u);
    EXPECT_TRUE(log_.Has(kOperator, "ZIDIV> CloseCom() exited 2"));

    log_.clear();
    EXPECT_EQ(Run(MORVANE_CMD_END_TEV), MORVANE_LINE_FAILED);
    EXPECT_TRUE(DriverEnded());
    const Lines expected = {{kOperator, "ZIDIV> CloseCom() exited 2"},
                            {kTrace, "ZIDIV> EndTev() exited."}};
    EXPECT_EQ(Logged(), expected);
    area_.port_handle = 0;
}

TEST_F(Lifecycle, WarmStartPurgesPendingInput) {
    EXPECT_EQ(Run(MORVANE_CMD_WARM_START), MORVANE_OK);  // no port: only the line
    ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK);
    ASSERT_TRUE(pty_.Send(std::vector<uint8_t>(40, 0x02)));
    ASSERT_TRUE(pty_.WaitQueued(40));
    log_.clear();
    EXPECT_EQ(Run(MORVANE_CMD_WARM_START), MORVANE_OK);
    uint32_t waiting = 99;
    ASSERT_TRUE(SerialBytesWaiting(area_.port_handle, &waiting));
    EXPECT_EQ(waiting, 0u);
    EXPECT_EQ(PortTimeout(), 150u);
    EXPECT_EQ(Logged(), (Lines{{kTrace, "ZIDIV> WarmStart()"}}));
}

TEST_F(Lifecycle, ChangeTevParamsTimeouts) {
    ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK);
    ASSERT_EQ(Change(pty_.port_name(), 300), MORVANE_OK);
    EXPECT_EQ(area_.internal_timeout, 300);  // taken as it is: no division, no floor
    EXPECT_EQ(PortTimeout(), 300u);
    // 0 and -1 keep it, and so does any other value not above 0.
    for (int32_t keep : {0, -1, -7}) {
        ASSERT_EQ(Change(pty_.port_name(), keep), MORVANE_OK) << keep;
        EXPECT_EQ(area_.internal_timeout, 300) << keep;
        EXPECT_EQ(PortTimeout(), 300u) << keep;
    }
    ASSERT_EQ(Change(pty_.port_name(), 20), MORVANE_OK);
    EXPECT_EQ(PortTimeout(), 20u);
}

TEST_F(Lifecycle, ChangeTevParamsWithTheSameNameAppliesTheNewLine) {
    ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK);
    log_.clear();
    const LineParameters faster{19200, 8, 0, 0};
    ASSERT_EQ(Change(pty_.port_name(), 0, faster), MORVANE_OK);
    ASSERT_NE(area_.port_handle, 0u);
    EXPECT_EQ(area_.port_settings.line.baud_rate, 19200);
    EXPECT_EQ(area_.port_settings.line_control, 0x0303);
    termios settings{};
    ASSERT_EQ(tcgetattr(static_cast<int>(area_.port_handle), &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B19200));
    const Lines expected = {
        {kTrace, "ZIDIV> CloseCom() exited 0"},
        {kTrace, HandleLine("ZIDIV> OpenCom() exited OK, file handle %u", area_.port_handle)},
        {kTrace, "ZIDIV> ChangeTevParams() exited 0"},
    };
    EXPECT_EQ(Logged(), expected) << log_.Dump();
}

// A line setting the device refuses (a rate termios cannot set, nine data
// bits) does not take the running port down: it opens again as it ran.
TEST_F(Lifecycle, ChangeTevParamsRefusedOnTheSamePortKeepsItRunning) {
    for (const LineParameters refused :
         {LineParameters{12345, 8, 0, 0}, LineParameters{9600, 9, 0, 0}}) {
        ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK);
        log_.clear();
        EXPECT_EQ(Change(pty_.port_name(), 400, refused), MORVANE_LINE_FAILED);
        ASSERT_NE(area_.port_handle, 0u);
        EXPECT_EQ(area_.port_settings.line.baud_rate, kLine.baud_rate);
        EXPECT_EQ(area_.port_settings.line.data_bits, kLine.data_bits);
        EXPECT_EQ(PortTimeout(), 400u);  // the time-out is no line setting: it is taken
        termios settings{};
        ASSERT_EQ(tcgetattr(static_cast<int>(area_.port_handle), &settings), 0);
        EXPECT_EQ(cfgetospeed(&settings), static_cast<speed_t>(B9600));
        const Lines expected = {
            {kTrace, "ZIDIV> CloseCom() exited 0"},
            {kTrace, "ZIDIV> OpenCom() exited with error"},
            {kTrace, HandleLine("ZIDIV> OpenCom() exited OK, file handle %u", area_.port_handle)},
            {kOperator, "ZIDIV> ChangeTevParams() exited 2"},
        };
        EXPECT_EQ(Logged(), expected) << log_.Dump();
        ASSERT_EQ(Run(MORVANE_CMD_CLOSE_COM), MORVANE_OK);
    }
}

TEST_F(Lifecycle, ChangeTevParamsMovesToANewPortWithTheOldLine) {
    PtyPair other;
    ASSERT_TRUE(other.ok());
    ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK);
    ASSERT_EQ(Change(other.port_name(), -1, LineParameters{0, 7, 2, 1}), MORVANE_OK);
    EXPECT_STREQ(area_.port_settings.port_name, other.port_name().c_str());
    EXPECT_EQ(area_.port_settings.line.baud_rate, 9600);
    EXPECT_EQ(area_.port_settings.line.data_bits, 8);
    EXPECT_EQ(area_.port_settings.line.parity, 2);
    // The old port was closed: it opens again.
    PortHandle old = 0;
    EXPECT_EQ(SerialOpen(pty_.port_name().c_str(), kLine, 0x0303, &old), kSerialOk);
    SerialClose(old);
}

TEST_F(Lifecycle, ChangeTevParamsThatCannotOpenLeavesTheChannelClosed) {
    ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK);
    log_.clear();
    EXPECT_EQ(Change("ttyNOPE9", 400, LineParameters{4800, 8, 0, 0}), MORVANE_LINE_FAILED);
    EXPECT_EQ(area_.port_handle, 0u);
    EXPECT_STREQ(area_.port_settings.port_name, "ttyNOPE9");
    EXPECT_EQ(area_.port_settings.line.baud_rate, 4800);
    EXPECT_EQ(area_.internal_timeout, 400);
    const Lines expected = {
        {kTrace, "ZIDIV> CloseCom() exited 0"},
        {kTrace, "ZIDIV> OpenCom() exited with error"},
        {kOperator, "ZIDIV> ChangeTevParams() exited 2"},
    };
    EXPECT_EQ(Logged(), expected) << log_.Dump();
}

// An area started again lets go of the port it holds open, whether it is
// started twice or again after another channel ended the driver; a handle
// that is not its port, in a fresh area, is left alone.
TEST_F(Lifecycle, AreaStartedAgainLetsGoOfItsOpenPortOnly) {
    for (const bool other_channel_ended : {false, true}) {
        SCOPED_TRACE(other_channel_ended ? "after EndTev" : "started twice");
        ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK);
        const PortHandle first = area_.port_handle;
        if (other_channel_ended) {
            ChannelArea ending{};
            EXPECT_EQ(Run(MORVANE_CMD_END_TEV, nullptr, &ending), MORVANE_OK);
        }
        log_.clear();
        ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK) << log_.Dump();
        EXPECT_TRUE(log_.Has(kTrace, "ZIDIV> CloseCom() exited 0"));
        EXPECT_EQ(Run(MORVANE_CMD_CLOSE_COM), MORVANE_OK);
        EXPECT_EQ(fcntl(first, F_GETFD), -1) << "a port left open";
    }

    // A fresh area whose bytes happen to hold another channel's open port.
    ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK);
    ChannelArea fresh{};
    std::memset(&fresh, 0x5A, sizeof fresh);
    fresh.port_handle = area_.port_handle;
    SetName(fresh.port_settings.port_name, "ttyNONE9");
    StartBlock start{};
    SetName(start.port_name, "ttyNONE9");
    start.external_timeout = 3000;
    EXPECT_EQ(Run(MORVANE_CMD_COLD_START, &start, &fresh), MORVANE_OK);
    EXPECT_NE(fcntl(area_.port_handle, F_GETFD), -1) << "the other channel's port was closed";
}

TEST_F(Lifecycle, EndTevEndsEveryChannelUntilAColdStart) {
    ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK);
    log_.clear();
    EXPECT_EQ(Run(MORVANE_CMD_END_TEV), MORVANE_OK);
    EXPECT_EQ(area_.port_handle, 0u);
    const Lines expected = {{kTrace, "ZIDIV> CloseCom() exited 0"},
                            {kTrace, "ZIDIV> EndTev() exited."}};
    EXPECT_EQ(Logged(), expected);

    // Another channel: nothing touched, nothing logged; answered 0, but a
    // transfer as failed, since its buffer holds no value of the PLC's.
    log_.clear();
    ChannelArea other{};
    other.port_handle = 12345;
    TransferBlock transfer{};
    for (const uint32_t command : {MORVANE_CMD_SINGLE_READ, MORVANE_CMD_BLOCK_READ,
                                   MORVANE_CMD_SINGLE_WRITE, MORVANE_CMD_BLOCK_WRITE})
        EXPECT_EQ(Run(command, &transfer, &other), MORVANE_LINE_FAILED) << command;
    EXPECT_EQ(Run(MORVANE_CMD_WARM_START, nullptr, &other), MORVANE_OK);
    EXPECT_EQ(Run(0xFFFFFFFFu, nullptr, &other), MORVANE_OK);
    InfoBlock info{};
    EXPECT_EQ(Run(MORVANE_CMD_GET_TEV_INFO, &info, &other), MORVANE_OK);
    EXPECT_EQ(info.description, nullptr);
    EXPECT_EQ(Run(MORVANE_CMD_CLOSE_COM, nullptr, &other), MORVANE_OK);
    EXPECT_EQ(other.port_handle, 12345u);
    EXPECT_TRUE(log_.lines().empty()) << log_.Dump();

    // A ColdStart starts the driver again.
    ASSERT_EQ(ColdStart(pty_.port_name(), 1), MORVANE_OK);
    EXPECT_FALSE(DriverEnded());
    EXPECT_NE(area_.port_handle, 0u);
    EXPECT_EQ(Run(MORVANE_CMD_GET_TEV_INFO, &info), MORVANE_OK);
    EXPECT_NE(info.description, nullptr);
}

}  // namespace
}  // namespace morvane
