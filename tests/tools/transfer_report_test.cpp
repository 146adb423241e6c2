// What the tool makes of a transfer: its kind of failure, attempts and
// reason from the driver's lines; the PLC's numbers in words; poll
// statistics; the raw words and the escaping of machine-readable output.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "gate_values.h"
#include "sim/rk512_server.h"
#include "transfer_report.h"

namespace morvane::tool {
namespace {

TEST(TransferOutcome, KindAttemptsAndReasonComeFromTheDriversLines) {
    struct {
        const char* name;
        int32_t code;
        std::vector<std::string> lines;
        FailureKind kind;
        int plc_error;
        int attempts;
        const char* reason;
    } const cases[] = {
        {"first try", 0, {}, FailureKind::kNone, -1, 1, ""},
        {"third try",
         0,
         {"ZIDIV> DoRead() error RX fetch header ack, retry 1",
          "ZIDIV> DoRead() error RX fetch header ack, retry 2"},
         FailureKind::kNone,
         -1,
         3,
         ""},
        {"PLC error",
         1,
         {"ZIDIV> DoRead() recv err 0x34 in reply fetch, retry 1",
          "ZIDIV> DoRead() recv err 0x34 in reply fetch, retry 2",
          "ZIDIV> exit SingleRead() , ret val is 1"},
         FailureKind::kPlcRefused,
         0x34,
         2,
         "ZIDIV> DoRead() recv err 0x34 in reply fetch, retry 2"},
        {"no answer",
         2,
         {"ZIDIV> CheckIfReady() PLC is not responding, aborting!",
          "ZIDIV> DoWrite() err synchronising fetch, retry 1",
          "ZIDIV> exit SingleWrite() , ret val is 2"},
         FailureKind::kLineFailed,
         -1,
         1,
         "ZIDIV> DoWrite() err synchronising fetch, retry 1"},
        {"malformed reply is no valid exchange",
         1,
         {"ZIDIV> DoRead() fetch recv. ill. length data 2/4, retry 1"},
         FailureKind::kLineFailed,
         -1,
         1,
         "ZIDIV> DoRead() fetch recv. ill. length data 2/4, retry 1"},
        {"lost follow-on",
         1,
         {"ZIDIV> DoRead() error RX follow-on 2 reply, retry 1"},
         FailureKind::kLineFailed,
         -1,
         1,
         "ZIDIV> DoRead() error RX follow-on 2 reply, retry 1"},
        {"refused before the line",
         1,
         {"ZIDIV> SingleWrite() error, value 0 is not a number",
          "ZIDIV> exit SingleWrite() , ret val is 1"},
         FailureKind::kRefused,
         -1,
         1,
         "ZIDIV> SingleWrite() error, value 0 is not a number"},
        // Quiet-line rounds repeat an attempt's counter; a repeated sequence
        // counts its telegrams' attempts again.
        {"block read repeated",
         0,
         {"ZIDIV> DoRead() err follow-on 1 recv timeout resend #2,retry 1",
          "ZIDIV> DoRead() err follow-on 1 recv timeout resend #2,retry 1",
          "ZIDIV> DoRead() error RX follow-on 1 reply, retry 1",
          "ZIDIV> BlockRead() err whole follow-on retry 1",
          "ZIDIV> DoRead() error RX fetch header ack, retry 1"},
         FailureKind::kNone,
         -1,
         3,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TransferOutcome outcome = JudgeTransfer(c.code, c.lines);
        EXPECT_EQ(outcome.kind, c.kind);
        EXPECT_EQ(outcome.plc_error, c.plc_error);
        EXPECT_EQ(outcome.attempts, c.attempts);
        EXPECT_EQ(outcome.reason, c.reason);
    }
}

TEST(TransferOutcome, EveryErrorNumberOfTheSimulatorHasItsWords) {
    for (const uint8_t error : {plcsim::kRkBadLength, plcsim::kRkNoFollowOn, plcsim::kRkNoSuchBlock,
                                plcsim::kRkUnknownCommand, plcsim::kRkBeyondBlockEnd}) {
        const std::string text = PlcErrorText(error);
        EXPECT_EQ(text.find("does not know"), std::string::npos) << text;
    }
    EXPECT_EQ(PlcErrorText(0x14), "error 0x14: data block does not exist");
    EXPECT_EQ(PlcErrorText(0x2A), "error 0x2A: a number this tool does not know");
}

TEST(PollStatistics, CountsFailuresByKindRetriesAndTimes) {
    PollStatistics statistics;
    TransferOutcome good;
    TransferOutcome retried;
    retried.attempts = 3;
    TransferOutcome plc;
    plc.kind = FailureKind::kPlcRefused;
    plc.plc_error = 0x14;
    plc.attempts = 4;
    TransferOutcome line;
    line.kind = FailureKind::kLineFailed;
    line.attempts = 4;
    using Ms = std::chrono::duration<double, std::milli>;
    statistics.Add(good, Ms(2));
    statistics.Add(retried, Ms(8));
    statistics.Add(plc, Ms(20));
    statistics.Add(line, Ms(10));
    EXPECT_EQ(statistics.Line(),
              "poll: 4 transfers, 2 good, 2 failed (line-failure 1, plc-error-0x14 1), "
              "8 retries, time min/mean/max 2.0/10.0/20.0 ms");
    EXPECT_EQ(statistics.exit_code(), kExitLineFailed);  // the last failure's
    statistics.LeaveOut(0);
    EXPECT_EQ(statistics.Line().find("left out"), std::string::npos);
    statistics.LeaveOut(3);
    EXPECT_TRUE(
        statistics.Line().ends_with("ms, 3 samples left out (transfers outlasted --every)"));
    EXPECT_EQ(PollStatistics().exit_code(), kExitOk);
}

TEST(OutputFormat, JsonAndCsvCarryAnyByte) {
    EXPECT_EQ(JsonString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(JsonString(std::string("\n\t\x01\x7F\xE9", 5)),
              R"("\u000A\u0009\u0001\u007F\u00E9")");
    EXPECT_EQ(JsonString(std::string("a\0b", 3)), R"("a\u0000b")");
    EXPECT_EQ(CsvField("plain"), "plain");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\"\n"), "\"say \"\"hi\"\"\n\"");
    // JSON's \u00E9 and CSV's character agree: the byte is Latin-1's é.
    EXPECT_EQ(CsvField("caf\xE9"), "caf\xC3\xA9");
}

// Raw words only where the host's value keeps the PLC's words: a float is
// converted on its way (1234 5678 would come back as 1274 5678), a string
// ends at its first NUL.
TEST(GateValues, RawWordsAreThePlcsWordsOrNone) {
    auto gate = [](uint32_t class_letter, uint32_t length = 0, int32_t bit = -1) {
        GateAddress g{};
        g.class_letter = class_letter;
        g.packed_address = static_cast<int32_t>(length << 24);
        g.bit_number = bit;
        g.width = class_letter == 'F' || class_letter == 'L' ? 32 : 16;
        return g;
    };
    std::string error;
    struct {
        GateAddress gate;
        const char* value;
        std::vector<uint16_t> raw;
    } const cases[] = {
        {gate('I'), "0x1234", {0x1234}},
        {gate('I'), "-2", {0xFFFE}},
        {gate('L'), "0x12345678", {0x1234, 0x5678}},
        {gate('F'), "1", {}},
        {gate('F'), "0", {}},
        {gate('S', 6), "AbC", {}},
        {gate('I', 0, 3), "1", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        std::vector<uint8_t> buffer = HostBuffer(c.gate, 1, false);
        ASSERT_TRUE(StoreValue(c.gate, false, 0, c.value, &buffer, &error)) << error;
        EXPECT_EQ(ValueAt(c.gate, false, 0, buffer).raw, c.raw);
    }
}

}  // namespace
}  // namespace morvane::tool
