// The driver's log texts are a contract between the driver and this tool:
// every text the tool interprets, filled in as the driver fills it, goes
// through the tool's judge and must come out as the class it stands for. A
// reworded text, or one the judge takes up without a case here, fails.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "gates/log_texts.h"
#include "transfer_report.h"

namespace morvane::tool {
namespace {

namespace text = log_text;

// The format with every conversion filled in: the telegram "fetch", numbers
// 4 (the attempt), error number 34, character X.
std::string Fill(const char* format) {
    std::string line;
    for (const char* at = format; *at != '\0'; ++at) {
        if (*at != '%') {
            line += *at;
            continue;
        }
        while (at[1] >= '0' && at[1] <= '9')
            ++at;
        const char conversion = *++at;
        line += conversion == 's'   ? "fetch"
                : conversion == 'X' ? "34"
                : conversion == 'c' ? "X"
                                    : "4";
    }
    return line;
}

struct Contract {
    std::vector<const char*> texts;  // the driver's lines of one failed transfer, in order
    int32_t code;                    // TevMain's result
    FailureKind kind;
    LineFault fault;
};

const Contract kContracts[] = {
    {{text::kNotResponding, text::kReadSynchronising},
     2,
     FailureKind::kLineFailed,
     LineFault::kConnectionRefused},
    {{text::kNotResponding, text::kWriteSynchronising},
     2,
     FailureKind::kLineFailed,
     LineFault::kConnectionRefused},
    {{text::kReadInputWaiting}, 2, FailureKind::kLineFailed, LineFault::kConflict},
    {{text::kWriteInputWaiting}, 2, FailureKind::kLineFailed, LineFault::kConflict},
    {{text::kReadQuietLine}, 2, FailureKind::kLineFailed, LineFault::kConflict},
    {{text::kWriteQuietLine}, 2, FailureKind::kLineFailed, LineFault::kConflict},
    {{text::kReadTxHeader}, 2, FailureKind::kLineFailed, LineFault::kPortGone},
    {{text::kWriteTxHeader}, 2, FailureKind::kLineFailed, LineFault::kPortGone},
    {{text::kReadTxReplySyncAck}, 2, FailureKind::kLineFailed, LineFault::kPortGone},
    {{text::kWriteTxReplySyncAck}, 2, FailureKind::kLineFailed, LineFault::kPortGone},
    {{text::kReadTxReplyAck}, 2, FailureKind::kLineFailed, LineFault::kPortGone},
    {{text::kWriteTxReplyAck}, 2, FailureKind::kLineFailed, LineFault::kPortGone},
    {{text::kReadRxHeaderAck}, 2, FailureKind::kLineFailed, LineFault::kNoAck},
    {{text::kWriteRxHeaderAck}, 2, FailureKind::kLineFailed, LineFault::kNoAck},
    {{text::kReadRxReplySync}, 2, FailureKind::kLineFailed, LineFault::kNoReply},
    {{text::kWriteRxReplySync}, 2, FailureKind::kLineFailed, LineFault::kNoReply},
    {{text::kReceiveTimeout, text::kReadRxReply}, 2, FailureKind::kLineFailed, LineFault::kNoReply},
    {{text::kReceiveNak, text::kWriteRxReply},
     2,
     FailureKind::kLineFailed,
     LineFault::kConnectionRefused},
    {{text::kReceiveBadBcc, text::kReadRxReply}, 2, FailureKind::kLineFailed, LineFault::kBadBlock},
    {{text::kReceiveDamaged, text::kWriteRxReply},
     2,
     FailureKind::kLineFailed,
     LineFault::kBadBlock},
    {{text::kReceiveNoBcc, text::kReadRxReply},
     2,
     FailureKind::kLineFailed,
     LineFault::kNoBlockCheck},
    {{text::kReceiveTooLong, text::kWriteRxReply},
     2,
     FailureKind::kLineFailed,
     LineFault::kWrongLength},
    {{text::kReadShortReply, text::kSingleReadExit},
     1,
     FailureKind::kLineFailed,
     LineFault::kWrongLength},
    {{text::kWriteShortReply, text::kBlockWriteExit},
     1,
     FailureKind::kLineFailed,
     LineFault::kWrongLength},
    {{text::kReadErrorByte, text::kReadWrongLength},
     1,
     FailureKind::kLineFailed,
     LineFault::kWrongLength},
    {{text::kWriteWrongLength, text::kSingleWriteExit},
     1,
     FailureKind::kLineFailed,
     LineFault::kWrongLength},
    {{text::kReadOtherReply}, 1, FailureKind::kLineFailed, LineFault::kWrongLength},
    {{text::kWriteOtherReply, text::kBlockWriteExit},
     1,
     FailureKind::kLineFailed,
     LineFault::kWrongLength},
    {{text::kReadErrorByte, text::kBlockReadExit},
     1,
     FailureKind::kPlcRefused,
     LineFault::kUnknown},
    {{text::kWriteErrorByte}, 1, FailureKind::kPlcRefused, LineFault::kUnknown},
    {{text::kReadRxHeaderAck, text::kReadSequenceRepeat, text::kReadRxReplySync},
     2,
     FailureKind::kLineFailed,
     LineFault::kNoReply},
    {{text::kWriteRxHeaderAck, text::kWriteSequenceRepeat, text::kWriteRxHeaderAck},
     2,
     FailureKind::kLineFailed,
     LineFault::kNoAck},
    {{text::kNotANumber}, 1, FailureKind::kRefused, LineFault::kUnknown},
    {{text::kCountOutOfRange}, 1, FailureKind::kRefused, LineFault::kUnknown},
    {{text::kReadTooLarge}, 1, FailureKind::kRefused, LineFault::kUnknown},
    {{text::kStringsNotAsBlock}, 1, FailureKind::kRefused, LineFault::kUnknown},
    {{text::kBitInABlock}, 1, FailureKind::kRefused, LineFault::kUnknown},
};

TEST(LogContract, EveryInterpretedTextJudgesAsItsClass) {
    std::set<std::string> covered;
    for (const Contract& c : kContracts) {
        std::vector<std::string> lines;
        for (const char* format : c.texts) {
            lines.push_back(Fill(format));
            covered.insert(format);
            EXPECT_TRUE(MatchesFormat(format, lines.back(), nullptr)) << lines.back();
        }
        SCOPED_TRACE(lines.front());
        const TransferOutcome outcome = JudgeTransfer(c.code, lines);
        EXPECT_EQ(outcome.kind, c.kind);
        EXPECT_EQ(outcome.fault, c.fault);
        EXPECT_EQ(outcome.plc_error >= 0,
                  c.kind == FailureKind::kPlcRefused || (c.texts.front() == text::kReadErrorByte));
    }
    for (const char* format : InterpretedTexts())
        EXPECT_TRUE(covered.count(format)) << "no contract for the driver's text: " << format;
}

// The judge's reading of a format: fields where the driver put them, and no
// match for a line the driver's format does not give.
TEST(LogContract, FormatsMatchOnlyTheirOwnLines) {
    std::vector<std::string> fields;
    ASSERT_TRUE(MatchesFormat(text::kReadErrorByte,
                              "ZIDIV> DoRead() recv err 0x0C in reply follow-on 2, retry 3",
                              &fields));
    EXPECT_EQ(fields, (std::vector<std::string>{"0C", "follow-on 2", "3"}));
    EXPECT_FALSE(MatchesFormat(text::kReadRxReply,
                               "ZIDIV> DoRead() error RX fetch reply sync, retry 1", nullptr));
    EXPECT_FALSE(MatchesFormat(text::kReadRxHeaderAck,
                               "ZIDIV> DoRead() error RX fetch header ack, retry x", nullptr));
    EXPECT_FALSE(MatchesFormat(text::kReceiveBadBcc, "ZIDIV> Receive() BCC error", nullptr));
}

// Each class has words and a hint of its own; a 3964R block check that is
// never acknowledged points at the protocol.
TEST(LogContract, EachLineFaultSaysItsOwnWords) {
    std::set<std::string> words, hints, statuses;
    for (const LineFault fault :
         {LineFault::kUnknown, LineFault::kConnectionRefused, LineFault::kNoAck,
          LineFault::kNoReply, LineFault::kBadBlock, LineFault::kNoBlockCheck,
          LineFault::kWrongLength, LineFault::kConflict, LineFault::kPortGone}) {
        TransferOutcome outcome;
        outcome.kind = FailureKind::kLineFailed;
        outcome.fault = fault;
        words.insert(Describe(outcome));
        hints.insert(Hint(outcome));
        statuses.insert(StatusName(outcome));
    }
    EXPECT_EQ(words.size(), 9u);
    EXPECT_EQ(hints.size(), 9u);
    EXPECT_EQ(statuses.size(), 9u);
    const std::vector<std::string> unacknowledged = {
        Fill(text::kReadRxHeaderAck), "ZIDIV> DoRead() error RX fetch header ack, retry 2",
        "ZIDIV> DoRead() error RX fetch header ack, retry 3"};
    const TransferOutcome outcome = JudgeTransfer(2, unacknowledged);
    EXPECT_EQ(outcome.attempts, 3);
    EXPECT_NE(Hint(outcome).find("the protocol may be wrong"), std::string::npos) << Hint(outcome);
    EXPECT_NE(Hint(JudgeTransfer(2, {Fill(text::kReceiveNoBcc), Fill(text::kReadRxReply)}))
                  .find("the protocol may be wrong"),
              std::string::npos);
}

}  // namespace
}  // namespace morvane::tool
