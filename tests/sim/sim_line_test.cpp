// The simulator on its pseudo-terminal, driven byte by byte by the test as
// the driver would: the procedure in both roles, the time-outs, the
// initialization conflict both ways, the faults and the line pacing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "slave_end.h"
#include "support/sim_fixture.h"

namespace plcsim {
namespace {

using morvane::test::SimFixture;
using test::Hex;
using test::SlaveEnd;
using Clock = std::chrono::steady_clock;

// FETCH data block 1, word 2, one word; framed, and its BCC (0x10).
const char kFetchFramed[] = "00 00 45 44 01 02 00 01 FF FF 10 03";

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

class SimLine : public ::testing::Test {
  protected:
    explicit SimLine(bool is_3964r = false)
        : sim_(morvane::test::FastLink(is_3964r)), end_(sim_.device()) {}
    void SetUp() override { ASSERT_TRUE(sim_.ok() && end_.ok()); }

    // Connection request and telegram, up to the reply's STX.
    void SendFetch(const char* bcc = "") {
        end_.Send("02");
        ASSERT_EQ(end_.Read(1), "10");
        end_.Send(std::string(kFetchFramed) + " " + bcc);
        ASSERT_EQ(end_.Read(2), "10 02");
    }
    void SetFaults(void (*set)(Faults&)) {
        Faults faults;
        set(faults);
        sim_.SetFaults(faults);
    }

    SimFixture sim_;
    SlaveEnd end_;
};

class SimLine3964R : public SimLine {
  protected:
    SimLine3964R() : SimLine(true) {}
};

TEST_F(SimLine3964R, FetchOnTheWireAndInTheTrace) {
    sim_->SetWord(1, 2, 0x1234);
    SendFetch("10");
    end_.Send("10");
    EXPECT_EQ(end_.Read(9), "00 00 00 00 12 34 10 03 35");
    end_.Send("10");
    ASSERT_TRUE(sim_.WaitForTrace("rx DLE", 2));
    const std::vector<std::string> expected = {
        "rx STX",
        "tx DLE",
        "rx 00 00 45 44 01 02 00 01 FF FF DLE ETX BCC 10",
        "tx DLE",
        "tx STX",
        "rx DLE",
        "tx 00 00 00 00 12 34 DLE ETX BCC 35",
        "rx DLE",
    };
    EXPECT_EQ(sim_.Trace(), expected);
    size_t characters = 0;
    for (const std::string& line : sim_.Trace())
        characters += Trace::Characters(line);
    EXPECT_EQ(characters, 1 + 1 + 13 + 1 + 1 + 1 + 9 + 1u);  // every byte sent and read above
    ASSERT_EQ(sim_->received().size(), 1u);
    EXPECT_EQ(sim_->received()[0].framed, Hex(std::string(kFetchFramed) + " 10"));
    EXPECT_TRUE(sim_->received()[0].accepted);
}

TEST(TraceCharacters, EveryByteOfALineCountsOnceNotesNone) {
    const struct {
        const char* line;
        size_t characters;
    } cases[] = {
        {"    12.345 ms rx STX", 1},
        {"tx NAK", 1},
        {"tx 00 00 00 00 DLE DLE DLE DLE DLE ETX", 10},  // doubled DLEs are on the line
        {"rx 00 DLE ETX BCC 10", 4},                     // the label is no character
        {"-- character delay ran out", 0},
        {"     1.000 ms -- reply withheld: tx STX", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Trace::Characters(c.line), c.characters) << c.line;
}

TEST_F(SimLine3964R, WrongBlockCheckIsRefusedWithNak) {
    end_.Send("02");
    ASSERT_EQ(end_.Read(1), "10");
    end_.Send(std::string(kFetchFramed) + " 11");
    EXPECT_EQ(end_.Read(2, 150), "15");
    ASSERT_EQ(sim_->received().size(), 1u);
    EXPECT_FALSE(sim_->received()[0].accepted);
}

TEST_F(SimLine, FetchIn3964HasNoBlockCheck) {
    sim_->SetWord(1, 2, 0x1010);
    SendFetch();
    end_.Send("10");
    EXPECT_EQ(end_.Read(10), "00 00 00 00 10 10 10 10 10 03");
    end_.Send("10");
}

// Whether the PLC carried a telegram out is kept with it, also when its
// reply never leaves: a telegram taken is not to be sent again.
TEST_F(SimLine, ReceivedTelegramsTellWhichThePlcCarriedOut) {
    SendFetch();
    end_.Send("10");
    EXPECT_EQ(end_.Read(8), "00 00 00 00 00 00 10 03");
    end_.Send("10");
    SetFaults([](Faults& f) { f.no_reply = 1; });
    end_.Send("02");
    ASSERT_EQ(end_.Read(1), "10");
    end_.Send("00 00 45 44 01 02 00 01 FF FF 10 03");
    EXPECT_EQ(end_.Read(1), "10");
    end_.Send("02");  // words 255 to 766 of a 256-word block: refused
    ASSERT_EQ(end_.Read(1), "10");
    end_.Send("00 00 45 44 01 FF 02 00 FF FF 10 03");
    EXPECT_EQ(end_.Read(2), "10 02");
    end_.Send("10");
    EXPECT_EQ(end_.Read(6), "00 00 00 34 10 03");
    end_.Send("10");
    ASSERT_EQ(sim_->received().size(), 3u);
    EXPECT_TRUE(sim_->received()[0].applied);
    EXPECT_TRUE(sim_->received()[1].applied) << "carried out, its reply withheld";
    EXPECT_FALSE(sim_->received()[2].applied);
}

// A simulator serving for weeks keeps only its latest telegrams.
TEST_F(SimLine, ReceivedTelegramsAreBoundedKeepingTheLatest) {
    const char* last = "00 00 45 44 01 03 00 01 FF FF 10 03";  // word 3, not 2
    for (size_t i = 0; i <= Simulator::kReceivedKept; ++i) {
        end_.Send("02");
        ASSERT_EQ(end_.Read(1), "10");
        end_.Send(i < Simulator::kReceivedKept ? kFetchFramed : last);
        ASSERT_EQ(end_.Read(2), "10 02");
        end_.Send("10");
        ASSERT_EQ(end_.Read(8), "00 00 00 00 00 00 10 03");
        end_.Send("10");
    }
    const std::vector<ReceivedTelegram> received = sim_->received();
    ASSERT_EQ(received.size(), Simulator::kReceivedKept);
    EXPECT_EQ(received.back().framed, Hex(last));
    EXPECT_EQ(received.front().framed, Hex(kFetchFramed));
}

TEST_F(SimLine, InputQueuedCountsWhatTheSimulatorHasNotReadYet) {
    sim_.Stop();
    EXPECT_EQ(sim_->InputQueued(), 0u);
    end_.Send("02 02 02");
    const auto deadline = Clock::now() + std::chrono::milliseconds(500);
    while (sim_->InputQueued() < 3 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(sim_->InputQueued(), 3u);
}

TEST_F(SimLine, BlockCutShortIsRefusedAfterTheCharacterDelay) {
    end_.Send("02");
    ASSERT_EQ(end_.Read(1), "10");
    const auto start = Clock::now();
    end_.Send("00 00 45");
    EXPECT_EQ(end_.Read(1), "15");
    EXPECT_GE(ElapsedMs(start), 145);
    EXPECT_TRUE(sim_->received().empty());
}

TEST_F(SimLine, ReplyRefusedByTheDriverIsSentAgain) {
    SendFetch();
    end_.Send("10");
    EXPECT_EQ(end_.Read(8), "00 00 00 00 00 00 10 03");
    end_.Send("15");
    EXPECT_EQ(end_.Read(1), "02");
    end_.Send("10");
    EXPECT_EQ(end_.Read(8), "00 00 00 00 00 00 10 03");
    end_.Send("10");
    EXPECT_TRUE(sim_.WaitForTrace("rx DLE", 3));
}

TEST_F(SimLine, ReplyNobodyAcceptsIsGivenUpAfterTheConnectAttempts) {
    SendFetch();
    // The STX already read was the first try; one more after the acknowledgement delay.
    EXPECT_EQ(end_.Read(4, 700), "02");
    EXPECT_TRUE(sim_.WaitForTrace("-- block not delivered"));
}

TEST_F(SimLine, ConflictAtLowPriorityWithdrawsAndSendsItsTelegramAfterwards) {
    LinkSettings link = morvane::test::FastLink(false);
    link.own_telegram = Hex("00 00 41 44 02 00 00 01 FF FF 00 07");
    sim_.SetLink(link);
    SetFaults([](Faults& f) { f.conflict = 1; });
    end_.Send("02");
    EXPECT_EQ(end_.Read(1), "02");  // both sent STX
    end_.Send("02");                // the driver insists
    EXPECT_EQ(end_.Read(1), "10");  // the simulator gives way
    end_.Send(kFetchFramed);
    EXPECT_EQ(end_.Read(2), "10 02");
    end_.Send("10");
    EXPECT_EQ(end_.Read(8), "00 00 00 00 00 00 10 03");
    end_.Send("10");
    EXPECT_EQ(end_.Read(1), "02");  // now its own telegram
    end_.Send("10");
    EXPECT_EQ(end_.Read(14), "00 00 41 44 02 00 00 01 FF FF 00 07 10 03");
    end_.Send("10");
    EXPECT_TRUE(sim_.WaitForTrace("rx DLE", 4)) << sim_.TraceText();
    EXPECT_EQ(sim_.TraceText().find("not delivered"), std::string::npos);
}

TEST_F(SimLine, ConflictAtHighPriorityIgnoresTheDriversStx) {
    LinkSettings link = morvane::test::FastLink(false);
    link.priority = Priority::kHigh;
    sim_.SetLink(link);
    SetFaults([](Faults& f) { f.conflict = 1; });
    end_.Send("02");
    EXPECT_EQ(end_.Read(1), "02");
    end_.Send("02");
    EXPECT_EQ(end_.Read(1, 60), "");  // no DLE for the driver
    end_.Send("10");                  // the driver gives way
    EXPECT_EQ(end_.Read(14), "00 00 41 44 00 00 00 01 FF FF 12 34 10 03");
    end_.Send("10");
    EXPECT_TRUE(sim_.WaitForTrace("-- initialization conflict: insisting"));
    EXPECT_TRUE(sim_->received().empty());
}

struct ReplyFault {
    const char* name;
    void (*set)(Faults&);
    const char* reply;  // what follows the driver's DLE for the reply's STX
};

const ReplyFault kReplyFaults[] = {
    {"none", [](Faults&) {}, "00 00 00 00 AB CD 10 03"},
    {"error byte", [](Faults& f) { f.error_replies = 1, f.error_byte = 0x0A; },
     "00 00 00 0A AB CD 10 03"},
    {"two bytes more", [](Faults& f) { f.length_replies = 1, f.length_delta = 2; },
     "00 00 00 00 AB CD 00 00 10 03"},
    {"one byte less", [](Faults& f) { f.length_replies = 1, f.length_delta = -1; },
     "00 00 00 00 AB 10 03"},
    {"corrupt byte", [](Faults& f) { f.corrupt_byte = 1, f.byte_index = 4; },
     "00 00 00 00 54 CD 10 03"},
    {"drop byte", [](Faults& f) { f.drop_byte = 1, f.byte_index = 5; }, "00 00 00 00 AB 10 03"},
};

TEST_F(SimLine, ReplyFaultsSpoilExactlyTheirPart) {
    sim_->SetWord(1, 2, 0xABCD);
    for (const ReplyFault& c : kReplyFaults) {
        SCOPED_TRACE(c.name);
        SetFaults(c.set);
        SendFetch();
        end_.Send("10");
        EXPECT_EQ(end_.Read((std::strlen(c.reply) + 1) / 3), c.reply);
        end_.Send("10");
        ASSERT_TRUE(sim_.WaitForTrace("rx DLE", 2));
        sim_.ClearTrace();
    }
}

TEST_F(SimLine3964R, CorruptBlockCheckFaultSpoilsOnlyTheBcc) {
    SetFaults([](Faults& f) { f.corrupt_bcc = 1; });
    SendFetch("10");
    end_.Send("10");
    EXPECT_EQ(end_.Read(9), "00 00 00 00 00 00 10 03 EC");  // 0x13 inverted
}

TEST_F(SimLine, RequestFaults) {
    SetFaults([](Faults& f) { f.ignore_requests = 1; });
    end_.Send("02");
    EXPECT_EQ(end_.Read(1, 60), "");
    ASSERT_TRUE(sim_.WaitForTrace("-- connection request ignored"));
    SetFaults([](Faults& f) { f.answer_delay_ms = 80; });
    const auto start = Clock::now();
    end_.Send("02");
    EXPECT_EQ(end_.Read(1), "10");
    EXPECT_GE(ElapsedMs(start), 75);
    end_.Send(kFetchFramed);
    EXPECT_EQ(end_.Read(2), "10 02");
    end_.Send("10");
    EXPECT_EQ(end_.Read(8), "00 00 00 00 00 00 10 03");
    end_.Send("10");
    SetFaults([](Faults& f) { f.nak_telegrams = 1; });
    end_.Send("02");
    EXPECT_EQ(end_.Read(1), "10");
    end_.Send(kFetchFramed);
    EXPECT_EQ(end_.Read(1), "15");
    EXPECT_EQ(end_.Read(1, 50), "");
    SetFaults([](Faults& f) { f.no_reply = 1; });
    end_.Send("02");
    EXPECT_EQ(end_.Read(1), "10");
    end_.Send(kFetchFramed);
    EXPECT_EQ(end_.Read(1), "10");
    EXPECT_EQ(end_.Read(1, 50), "");  // no STX: the reply is withheld
}

TEST_F(SimLine, BabbleAndEndlessTelegramsKeepComingUntilCleared) {
    SetFaults([](Faults& f) { f.babble = true; });
    SendFetch();
    end_.Send("10");
    EXPECT_EQ(end_.Read(8), "00 00 00 00 00 00 10 03");
    end_.Send("10");
    EXPECT_EQ(end_.Read(5), "55 55 55 55 55");
    SetFaults([](Faults& f) { f.endless_telegrams = true; });
    ASSERT_TRUE(sim_.WaitForTrace("-- offering telegrams without end"));
    for (int i = 0; i < 3; ++i) {
        std::string next = end_.Read(1);
        for (int skipped = 0; next == "55" && skipped < 1000; ++skipped)
            next = end_.Read(1);  // the last filler bytes
        EXPECT_EQ(next, "02");
        end_.Send("10");
        EXPECT_EQ(end_.Read(14), "00 00 41 44 00 00 00 01 FF FF 12 34 10 03");
        end_.Send("10");
    }
    sim_.SetFaults(Faults{});
}

TEST_F(SimLine, PacingHoldsEveryByteForItsCharacterTime) {
    sim_->SetWord(5, 0, 0);
    const std::string fetch64 = "00 00 45 44 05 00 00 40 FF FF 10 03";
    for (const bool paced : {false, true}) {
        SCOPED_TRACE(paced);
        sim_->SetPacing(paced ? 9600 : 0, 11);
        end_.Send("02");
        ASSERT_EQ(end_.Read(1), "10");
        end_.Send(fetch64);
        ASSERT_EQ(end_.Read(2), "10 02");
        end_.Send("10");
        const auto start = Clock::now();
        // 4 header and 128 data bytes with DLE ETX: 134 characters, 1.146 ms each.
        EXPECT_EQ(end_.Read(134, 900).size(), 134u * 3 - 1);
        if (paced) {
            EXPECT_GE(ElapsedMs(start), 150);
        } else {
            EXPECT_LT(ElapsedMs(start), 100);
        }
        end_.Send("10");
    }
}

TEST(SimTrace, NamesControlCharactersAndTheBlockCheck) {
    EXPECT_EQ(Trace::FormatControl(Direction::kReceived, 0x02), "rx STX");
    EXPECT_EQ(Trace::FormatControl(Direction::kSent, 0x15), "tx NAK");
    EXPECT_EQ(Trace::FormatControl(Direction::kReceived, 0x55), "rx 55");
    EXPECT_EQ(Trace::FormatBlock(Direction::kSent, Hex("02 10 10 03 10 03"), 0x13),
              "tx 02 DLE DLE 03 DLE ETX BCC 13");
    EXPECT_EQ(Trace::FormatBlock(Direction::kReceived, Hex("41 10"), -1), "rx 41 DLE");
}

}  // namespace
}  // namespace plcsim
