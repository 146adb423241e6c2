// The FETCH and SEND exchanges when the PLC refuses, stays silent, answers
// badly or wants the line itself, and the whole-sequence passes of the block
// commands: results, log lines, what reached the PLC, and the host's buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "link/thread_priority.h"

namespace morvane::test {
namespace {

std::string Line(const char* format, const std::string& label, int attempt) {
    char text[160];
    std::snprintf(text, sizeof text, format, label.c_str(), attempt);
    return text;
}

class ExchangeFaults : public DriverAgainstSim {
  protected:
    void SetUp() override {
        StartChannel();
        plc().SetWord(1, 2, 0x1234);
        for (uint16_t i = 0; i < 200; ++i)
            plc().SetWord(3, i, static_cast<uint16_t>(0x0100 + i));
    }
    // Single read of data block 1, word 2 into a value slot.
    int32_t ReadWord() {
        slot_ = HostBytes(4, kUntouched);
        return Run(MORVANE_CMD_SINGLE_READ, Gate("001002", MORVANE_GATE_WORD), 1, slot_.data());
    }
    int32_t WriteWord(uint16_t value) {
        HostBytes slot{0, 0, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
        return Run(MORVANE_CMD_SINGLE_WRITE, Gate("001002", MORVANE_GATE_WORD), 1, slot.data());
    }
    // Block read of words from data block 3, word 0.
    int32_t ReadBlock(int32_t count) {
        block_ = Words(static_cast<size_t>(count), 0xEEEE);
        return Run(MORVANE_CMD_BLOCK_READ, Gate("003000", MORVANE_GATE_WORD, true), count,
                   block_.data());
    }
    int32_t WriteBlock(int32_t count) {
        Words values(static_cast<size_t>(count));
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = static_cast<uint16_t>(0xA000 + i);
        return Run(MORVANE_CMD_BLOCK_WRITE, Gate("003000", MORVANE_GATE_WORD, true), count,
                   values.data());
    }
    bool BlockReadAsInPlc() const {
        for (size_t i = 0; i < block_.size(); ++i)
            if (block_[i] != 0x0100 + i) return false;
        return true;
    }
    size_t CountTelegrams(uint8_t first_byte) const {
        size_t n = 0;
        for (const Bytes& telegram : Telegrams())
            n += telegram[0] == first_byte ? 1 : 0;
        return n;
    }

    HostBytes slot_;
    Words block_;
};

TEST_F(ExchangeFaults, ErrorByteOnTheFirstTelegramIsRetriedFourTimes) {
    plcsim::Faults faults;
    faults.error_replies = plcsim::kAlways;
    faults.error_byte = 0x0A;
    SetFaults(faults);
    const int priority = ThreadPriorityGet();

    EXPECT_EQ(ReadWord(), MORVANE_REQUEST_FAILED);
    EXPECT_EQ(ThreadPriorityGet(), priority);
    EXPECT_EQ(WriteWord(0x4321), MORVANE_REQUEST_FAILED);
    EXPECT_EQ(ThreadPriorityGet(), priority);
    for (int attempt = 1; attempt <= 4; ++attempt) {
        EXPECT_TRUE(log_.Has(
            8, Line("ZIDIV> DoRead() recv err 0x0A in reply %s, retry %d", "fetch", attempt)));
        EXPECT_TRUE(log_.Has(
            8, Line("ZIDIV> DoWrite() recv err 0x0A in reply %s, retry %d", "fetch", attempt)));
    }
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit SingleRead() , ret val is 1"));
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit SingleWrite() , ret val is 1"));
    EXPECT_EQ(Telegrams().size(), 8u);
    EXPECT_EQ(slot_, HostBytes(4, kUntouched));
}

TEST_F(ExchangeFaults, NakForTheTelegramGetsItSentAgain) {
    plcsim::Faults faults;
    faults.nak_telegrams = 1;
    SetFaults(faults);
    EXPECT_EQ(ReadWord(), MORVANE_OK);
    EXPECT_EQ(slot_, (HostBytes{kUntouched, kUntouched, 0x34, 0x12}));
    EXPECT_TRUE(log_.Has(8, "ZIDIV> DoRead() error RX fetch header ack, retry 1"));

    SetFaults(faults);
    EXPECT_EQ(WriteWord(0x4321), MORVANE_OK);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> DoWrite() err RX fetch header ack, retry 1"));
    EXPECT_EQ(plc().Word(1, 2), 0x4321);
    EXPECT_EQ(Telegrams().size(), 4u);
}

TEST_F(ExchangeFaults, SilentPlcFailsEveryAttemptOnTheLine) {
    plcsim::Faults faults;
    faults.ignore_requests = plcsim::kAlways;
    SetFaults(faults);
    ASSERT_EQ(host_.SetTimeout(kFastTimeoutHundredths), MORVANE_OK);

    EXPECT_EQ(ReadWord(), MORVANE_LINE_FAILED);
    EXPECT_EQ(log_.Count("ZIDIV> CheckIfReady() PLC is not responding, aborting!"), 4);
    for (int attempt = 1; attempt <= 4; ++attempt)
        EXPECT_TRUE(log_.Has(
            8, Line("ZIDIV> DoRead() error synchronising %s, retry %d", "fetch", attempt)));
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit SingleRead() , ret val is 2"));
    EXPECT_EQ(slot_, HostBytes(4, kUntouched));
    EXPECT_TRUE(Telegrams().empty());
}

TEST_F(ExchangeFaults, SilentPlcFailsAWriteOnTheLine) {
    plcsim::Faults faults;
    faults.ignore_requests = plcsim::kAlways;
    SetFaults(faults);
    ASSERT_EQ(host_.SetTimeout(kFastTimeoutHundredths), MORVANE_OK);
    EXPECT_EQ(WriteWord(1), MORVANE_LINE_FAILED);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> DoWrite() err synchronising fetch, retry 4"));
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit SingleWrite() , ret val is 2"));
}

TEST_F(ExchangeFaults, ConflictDrainsThePlcsTelegramAfterTheReply) {
    plcsim::Faults faults;
    faults.conflict = 1;
    SetFaults(faults);
    EXPECT_EQ(ReadWord(), MORVANE_OK) << log_.Dump();
    EXPECT_EQ(slot_, (HostBytes{kUntouched, kUntouched, 0x34, 0x12}));

    // The PLC's own telegram went out after the reply and was taken.
    const std::vector<std::string> trace = sim().Trace();
    const std::string own = "tx 00 00 41 44 00 00 00 01 FF FF 12 34 DLE ETX";
    size_t reply_at = trace.size();
    size_t own_at = trace.size();
    for (size_t i = 0; i < trace.size(); ++i) {
        if (reply_at == trace.size() && trace[i].rfind("tx 00 00 00 00 12 34", 0) == 0)
            reply_at = i;
        if (trace[i] == own) own_at = i;
    }
    ASSERT_LT(reply_at, trace.size()) << sim().TraceText();
    ASSERT_LT(own_at, trace.size()) << sim().TraceText();
    EXPECT_LT(reply_at, own_at);
    ASSERT_LT(own_at + 1, trace.size());
    EXPECT_EQ(trace[own_at + 1], "rx DLE") << sim().TraceText();
    EXPECT_EQ(Telegrams().size(), 1u);
}

TEST_F(ExchangeFaults, WrongReplyLengthIsRetriedOnTheFirstTelegram) {
    plcsim::Faults faults;
    faults.length_replies = 1;
    faults.length_delta = 2;
    SetFaults(faults);
    EXPECT_EQ(ReadWord(), MORVANE_OK);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> DoRead() fetch recv. ill. length data 4/2, retry 1"));

    faults.length_replies = plcsim::kAlways;
    faults.length_delta = -2;
    SetFaults(faults);
    EXPECT_EQ(ReadWord(), MORVANE_REQUEST_FAILED);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> DoRead() fetch recv. ill. length data 0/2, retry 4"));
    EXPECT_EQ(slot_, HostBytes(4, kUntouched));
}

TEST_F(ExchangeFaults, CorruptBlockCheckIsRetriedIn3964R) {
    host_.Stop();
    sim_.reset();
    log_.clear();
    StartChannel(true);
    plc().SetWord(1, 2, 0x1234);
    plcsim::Faults faults;
    faults.corrupt_bcc = 1;
    SetFaults(faults);
    EXPECT_EQ(ReadWord(), MORVANE_OK);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> Receive() BCC error!"));
    EXPECT_TRUE(log_.Has(8, "ZIDIV> DoRead() error RX fetch reply, retry 1"));
    EXPECT_EQ(slot_, (HostBytes{kUntouched, kUntouched, 0x34, 0x12}));
}

// How one failing follow-on telegram ends a block transfer.
struct FollowOnFault {
    const char* name;
    std::function<void(plcsim::Faults*)> fault;
    const char* exchange_line;
};

TEST_F(ExchangeFaults, FetchFollowOnFailureLeavesAtOnceAndTheReadStartsAgain) {
    const std::vector<FollowOnFault> cases = {
        {"error byte",
         [](plcsim::Faults* f) {
             f->error_replies = 1;
             f->error_byte = 0x0A;
         },
         "ZIDIV> DoRead() recv err 0x0A in reply follow-on 1, retry 1"},
        {"wrong length",
         [](plcsim::Faults* f) {
             f->length_replies = 1;
             f->length_delta = 2;
         },
         "ZIDIV> DoRead() follow-on 1 recv. ill. length data 74/72, retry 1"},
        {"NAK", [](plcsim::Faults* f) { f->nak_telegrams = 1; },
         "ZIDIV> DoRead() error RX follow-on 1 header ack, retry 1"},
        {"no reply", [](plcsim::Faults* f) { f->no_reply = 1; },
         "ZIDIV> DoRead() error RX follow-on 1 reply sync, retry 1"},
    };
    for (const FollowOnFault& c : cases) {
        SCOPED_TRACE(c.name);
        log_.clear();
        plc().ClearReceived();
        FaultAtTelegram(1, c.fault, 1);

        EXPECT_EQ(ReadBlock(100), MORVANE_OK) << log_.Dump();
        EXPECT_TRUE(log_.Has(8, c.exchange_line)) << log_.Dump();
        EXPECT_EQ(log_.Count("ZIDIV> BlockRead() err whole follow-on retry 1"), 1);
        EXPECT_EQ(log_.Count("ZIDIV> BlockRead() err whole follow-on retry 2"), 0);
        EXPECT_EQ(CountTelegrams(0x00), 2u);
        EXPECT_EQ(CountTelegrams(0xFF), 2u);
        EXPECT_TRUE(BlockReadAsInPlc());
    }
}

TEST_F(ExchangeFaults, BlockReadRefusedAtAFollowOnInEveryPassMakesThreePasses) {
    FaultAtTelegram(2, [](plcsim::Faults* f) {
        f->error_replies = 1;
        f->error_byte = 0x0A;
    });
    EXPECT_EQ(ReadBlock(200), MORVANE_REQUEST_FAILED);
    for (int pass = 1; pass <= 3; ++pass)
        EXPECT_TRUE(
            log_.Has(8, "ZIDIV> BlockRead() err whole follow-on retry " + std::to_string(pass)));
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit BlockRead() , ret val is 1"));
    EXPECT_EQ(Telegrams().size(), 9u);
    EXPECT_EQ(block_, Words(200, 0xEEEE));
}

TEST_F(ExchangeFaults, BlockReadFailingOnTheLineAtAFollowOnMakesThreePassesWithoutRetryLine) {
    ASSERT_EQ(host_.SetTimeout(3), MORVANE_OK);
    // The set-up of telegram 2 goes unanswered in all four attempts.
    FaultAtTelegram(1, [](plcsim::Faults* f) { f->ignore_requests = 8; });
    EXPECT_EQ(ReadBlock(200), MORVANE_LINE_FAILED);
    EXPECT_EQ(log_.Count("ZIDIV> DoRead() error synchronising follow-on 2, retry 4"), 3);
    EXPECT_EQ(log_.Count("ZIDIV> BlockRead() err whole follow-on retry 1"), 0);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit BlockRead() , ret val is 2"));
    EXPECT_EQ(Telegrams().size(), 6u);
    EXPECT_EQ(block_, Words(200, 0xEEEE));
}

TEST_F(ExchangeFaults, BlockReadRefusedAtTheFirstTelegramMakesOnePass) {
    plcsim::Faults faults;
    faults.error_replies = plcsim::kAlways;
    faults.error_byte = 0x0A;
    SetFaults(faults);
    EXPECT_EQ(ReadBlock(100), MORVANE_REQUEST_FAILED);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> BlockRead() err whole follow-on retry 1"));
    EXPECT_FALSE(log_.Has(8, "ZIDIV> BlockRead() err whole follow-on retry 2"));
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit BlockRead() , ret val is 1"));
    EXPECT_EQ(Telegrams().size(), 4u);
    EXPECT_EQ(block_, Words(100, 0xEEEE));
}

// A line failure at telegram 0 ends a block transfer after one pass, by the
// read rule and by the write rule alike.
TEST_F(ExchangeFaults, BlockTransferFailingOnTheLineAtTheFirstTelegramMakesOnePass) {
    plcsim::Faults faults;
    faults.ignore_requests = plcsim::kAlways;
    SetFaults(faults);
    ASSERT_EQ(host_.SetTimeout(3), MORVANE_OK);

    EXPECT_EQ(ReadBlock(100), MORVANE_LINE_FAILED);
    EXPECT_EQ(log_.Count("ZIDIV> DoRead() error synchronising fetch, retry 4"), 1);
    EXPECT_EQ(log_.Count("ZIDIV> BlockRead() err whole follow-on retry 1"), 0);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit BlockRead() , ret val is 2"));
    EXPECT_EQ(block_, Words(100, 0xEEEE));

    EXPECT_EQ(WriteBlock(100), MORVANE_LINE_FAILED);
    EXPECT_EQ(log_.Count("ZIDIV> DoWrite() err synchronising fetch, retry 4"), 1);
    EXPECT_EQ(log_.Count("ZIDIV> BlockWrite() err whole follow-on retry 1"), 0);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit BlockWrite() , ret val is 2"));
    EXPECT_TRUE(Telegrams().empty());
}

TEST_F(ExchangeFaults, BlockReadOfOneTelegramGetsNoSecondPass) {
    plcsim::Faults faults;
    faults.error_replies = plcsim::kAlways;
    faults.error_byte = 0x0A;
    SetFaults(faults);
    EXPECT_EQ(ReadBlock(64), MORVANE_REQUEST_FAILED);
    EXPECT_FALSE(log_.Has(8, "ZIDIV> BlockRead() err whole follow-on retry 1"));
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit BlockRead() , ret val is 1"));
    EXPECT_EQ(Telegrams().size(), 4u);
    EXPECT_EQ(block_, Words(64, 0xEEEE));
}

// A follow-on telegram carries no address: once it is on the line it is
// never sent again, whatever became of it; the write starts over instead.
TEST_F(ExchangeFaults, SendFollowOnRefusedWithNakStartsTheWriteAgain) {
    FaultAtTelegram(
        1, [](plcsim::Faults* f) { f->nak_telegrams = 1; }, 1);
    EXPECT_EQ(WriteBlock(100), MORVANE_OK) << log_.Dump();
    EXPECT_TRUE(log_.Has(8, "ZIDIV> DoWrite() err RX follow-on 1 header ack, retry 1"));
    EXPECT_FALSE(log_.Has(8, "ZIDIV> DoWrite() err RX follow-on 1 header ack, retry 2"));
    EXPECT_EQ(log_.Count("ZIDIV> BlockWrite() err whole follow-on retry 1"), 1);
    EXPECT_EQ(CountTelegrams(0x00), 2u);
    EXPECT_EQ(CountTelegrams(0xFF), 2u);
    EXPECT_EQ(plc().Word(3, 99), 0xA000 + 99);
}

TEST_F(ExchangeFaults, SendFollowOnWithoutAnswerIsNeverSentAgain) {
    FaultAtTelegram(
        1, [](plcsim::Faults* f) { f->no_reply = 1; }, 1);
    EXPECT_EQ(WriteBlock(100), MORVANE_OK) << log_.Dump();
    EXPECT_TRUE(log_.Has(8, "ZIDIV> DoWrite() err RX follow-on 1 reply sync, retry 1"));
    EXPECT_EQ(log_.Count("ZIDIV> BlockWrite() err whole follow-on retry 1"), 1);
    EXPECT_EQ(CountTelegrams(0x00), 2u);
    EXPECT_EQ(CountTelegrams(0xFF), 2u);
    EXPECT_EQ(plc().Word(3, 99), 0xA000 + 99);
}

// The PLC carried out follow-on 1 and its reply was lost; sent again it
// would land on words 128 to 191. With the line failing after, every word
// must still hold its old or its new value, the words behind it their old.
TEST_F(ExchangeFaults, WriteFailingAfterALostFollowOnReplyLeavesEveryWordOldOrNew) {
    for (uint16_t i = 200; i < 256; ++i)
        plc().SetWord(3, i, static_cast<uint16_t>(0x0100 + i));
    plc().SetTelegramHook([received = 0u](const Bytes&, plcsim::Faults* f) mutable {
        ++received;
        if (received == 2) f->no_reply = 1;
        if (received == 4) f->nak_telegrams = plcsim::kAlways;
    });
    EXPECT_EQ(WriteBlock(200), MORVANE_LINE_FAILED) << log_.Dump();
    for (uint16_t i = 0; i < 256; ++i) {
        const uint16_t word = plc().Word(3, i);
        EXPECT_TRUE(word == 0x0100 + i || (i < 200 && word == 0xA000 + i))
            << "word " << i << " holds " << std::hex << word;
    }
}

TEST_F(ExchangeFaults, BlockWriteRefusedAtAFollowOnStartsAgainFromTelegramZero) {
    FaultAtTelegram(1, [](plcsim::Faults* f) {
        f->error_replies = 1;
        f->error_byte = 0x0A;
    });
    EXPECT_EQ(WriteBlock(100), MORVANE_REQUEST_FAILED);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> DoWrite() recv err 0x0A in reply follow-on 1, retry 1"));
    EXPECT_FALSE(log_.Has(8, "ZIDIV> DoWrite() recv err 0x0A in reply follow-on 1, retry 2"));
    for (int pass = 1; pass <= 3; ++pass)
        EXPECT_TRUE(
            log_.Has(8, "ZIDIV> BlockWrite() err whole follow-on retry " + std::to_string(pass)));
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit BlockWrite() , ret val is 1"));
    EXPECT_EQ(Telegrams().size(), 6u);
}

TEST_F(ExchangeFaults, BlockWriteRefusedAtTheFirstTelegramMakesThreePasses) {
    plcsim::Faults faults;
    faults.error_replies = plcsim::kAlways;
    faults.error_byte = 0x0A;
    SetFaults(faults);
    EXPECT_EQ(WriteBlock(10), MORVANE_REQUEST_FAILED);
    EXPECT_EQ(log_.Count("ZIDIV> BlockWrite() err whole follow-on retry 3"), 1);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit BlockWrite() , ret val is 1"));
    EXPECT_EQ(Telegrams().size(), 12u);
}

TEST_F(ExchangeFaults, BlockWriteFailingOnTheLineAtTheFirstTelegramEndsAtOnce) {
    SetFaults([] {
        plcsim::Faults f;
        f.nak_telegrams = plcsim::kAlways;
        return f;
    }());
    EXPECT_EQ(WriteBlock(100), MORVANE_LINE_FAILED);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> DoWrite() err RX fetch header ack, retry 4"));
    EXPECT_FALSE(log_.Has(8, "ZIDIV> BlockWrite() err whole follow-on retry 1"));
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit BlockWrite() , ret val is 2"));
    EXPECT_EQ(CountTelegrams(0x00), 4u);
}

// A follow-on failing on the line costs a pass; a line failure at telegram 0
// ends the write.
TEST_F(ExchangeFaults, BlockWriteFailingOnTheLineAtAFollowOnStartsOverUntilTelegramZeroFails) {
    FaultAtTelegram(1, [](plcsim::Faults* f) { f->nak_telegrams = plcsim::kAlways; });
    EXPECT_EQ(WriteBlock(100), MORVANE_LINE_FAILED);
    EXPECT_EQ(log_.Count("ZIDIV> DoWrite() err RX follow-on 1 header ack, retry 1"), 1);
    EXPECT_FALSE(log_.Has(8, "ZIDIV> DoWrite() err RX follow-on 1 header ack, retry 2"));
    EXPECT_EQ(log_.Count("ZIDIV> BlockWrite() err whole follow-on retry 1"), 1);
    EXPECT_TRUE(log_.Has(8, "ZIDIV> exit BlockWrite() , ret val is 2"));
    EXPECT_EQ(CountTelegrams(0xFF), 1u);
}

TEST_F(ExchangeFaults, BlockWriteSucceedingInItsSecondPassLogsOneRetry) {
    FaultAtTelegram(
        1,
        [](plcsim::Faults* f) {
            f->error_replies = 1;
            f->error_byte = 0x0A;
        },
        1);
    EXPECT_EQ(WriteBlock(100), MORVANE_OK);
    EXPECT_EQ(log_.Count("ZIDIV> BlockWrite() err whole follow-on retry 1"), 1);
    EXPECT_EQ(log_.Count("ZIDIV> BlockWrite() err whole follow-on retry 2"), 0);
    EXPECT_EQ(Telegrams().size(), 4u);
    EXPECT_EQ(plc().Word(3, 99), 0xA000 + 99);
}

}  // namespace
}  // namespace morvane::test
