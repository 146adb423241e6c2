// The exchanges' rarer paths against a scripted PLC on the master of a
// pseudo-terminal, step by step on the wire: bytes waiting after the
// set-up, a PLC that keeps talking after its reply, a conflict met in one
// attempt and drained after the reply of the next, and which refusals of
// the telegram or of its reply make FETCH and SEND drain the PLC.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "e2e/scripted_channel.h"
#include "link/quiet_line.h"
#include "support/deadline.h"
#include "support/hex_bytes.h"
#include "support/pty_pair.h"

namespace morvane::test {
namespace {

// What the driver must send next, and what the PLC answers to it, after
// pause_ms.
struct Step {
    std::string expect;
    std::string answer;
    int pause_ms = 0;
};
using Script = std::vector<Step>;

const std::string kFetchTelegram = "00 00 45 44 01 02 00 01 FF FF 10 03";
const std::string kFetchReply = "00 00 00 00 12 34 10 03";
const std::string kSendTelegram = "00 00 41 44 01 02 00 01 FF FF 43 21 10 03";
const std::string kSendReply = "00 00 00 00 10 03";
// A telegram of the PLC's own, taken and thrown away by the drain.
const std::string kOwnTelegram = "00 00 41 44 03 00 00 01 FF FF 12 34 10 03";

struct ScriptCase {
    const char* name;
    uint32_t command;  // single read or single write of data block 1, word 2
    Script script;
    std::vector<std::string> log;  // every line the call writes, in order
    bool is_3964r = false;
    uint16_t word = 0x1234;  // what a read leaves in the value slot
};

Script operator+(Script a, const Script& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One clean attempt: set-up, telegram, reply, final acknowledgement.
Script CleanAttempt(const std::string& telegram, const std::string& reply) {
    return {{"02", "10"}, {telegram, "10 02"}, {"10", reply}, {"10", ""}};
}

std::vector<ScriptCase> Cases() {
    const uint32_t read = MORVANE_CMD_SINGLE_READ;
    const uint32_t write = MORVANE_CMD_SINGLE_WRITE;
    const Script read_ok = CleanAttempt(kFetchTelegram, kFetchReply);
    const Script write_ok = CleanAttempt(kSendTelegram, kSendReply);
    return {
        // A byte behind the set-up's DLE: NAK, and the attempt ends.
        {"ReadWithBytesWaitingAfterSetUp",
         read,
         Script{{"02", "10 55"}, {"15", ""}} + read_ok,
         {"ZIDIV> DoRead() err fetch recv timeout NAK #1,retry 1"}},
        {"WriteWithBytesWaitingAfterSetUp",
         write,
         Script{{"02", "10 55"}, {"15", ""}} + write_ok,
         {"ZIDIV> DoWrite() err fetch recv timeout NAK #1,retry 1"}},
        // A byte behind the reply: one quiet-line round with its DLE.
        {"ReadWithPlcTalkingAfterItsReply",
         read,
         Script{
             {"02", "10"}, {kFetchTelegram, "10 02"}, {"10", kFetchReply + " 55"}, {"10 10", ""}},
         {"ZIDIV> DoRead() err fetch recv timeout resend #2,retry 1"}},
        {"WriteWithPlcTalkingAfterItsReply",
         write,
         Script{{"02", "10"}, {kSendTelegram, "10 02"}, {"10", kSendReply + " 55"}, {"10 10", ""}},
         {"ZIDIV> DoWrite() err fetch recv timeout resend #2,retry 1"}},
        // Conflict in attempt 1, which then gets no reply; attempt 2 is clean
        // and the PLC's STX behind its reply is taken by the drain (DLE for
        // the STX, DLE for its telegram), not by the quiet-line loop.
        {"ReadDrainsAfterTheReplyOfTheAttemptAfterAConflict",
         read,
         Script{{"02", "02"},
                {"02", "10"},
                {kFetchTelegram, "10"},
                {"15", ""},
                {"02", "10"},
                {kFetchTelegram, "10 02"},
                {"10", kFetchReply + " 02"},
                {"10 10", kOwnTelegram},
                {"10", ""}},
         {"ZIDIV> DoRead() error RX fetch reply sync, retry 1"}},
        {"WriteDrainsAfterTheReplyOfTheAttemptAfterAConflict",
         write,
         Script{{"02", "02"},
                {"02", "10"},
                {kSendTelegram, "10"},
                {"15", ""},
                {"02", "10"},
                {kSendTelegram, "10 02"},
                {"10", kSendReply + " 02"},
                {"10 10", kOwnTelegram},
                {"10", ""}},
         {"ZIDIV> DoWrite() err RX fetch reply sync, retry 1"}},
        // The error byte is byte 3 of the reply as received, DLE pair
        // included: here 0A, though the un-doubled header ends in 00.
        {"ReadTakesTheErrorByteFromTheRawReply",
         read,
         Script{{"02", "10"},
                {kFetchTelegram, "10 02"},
                {"10", "00 10 10 0A 00 12 34 10 03"},
                {"10", ""}} +
             read_ok,
         {"ZIDIV> DoRead() recv err 0x0A in reply fetch, retry 1"}},
        {"WriteTakesTheErrorByteFromTheRawReply",
         write,
         Script{{"02", "10"}, {kSendTelegram, "10 02"}, {"10", "00 10 10 0A 10 03"}, {"10", ""}} +
             write_ok,
         {"ZIDIV> DoWrite() recv err 0x0A in reply fetch, retry 1"}},
        // A refusal in the reply drains the PLC before the next attempt. Its
        // STX comes after the driver found the line quiet behind the reply,
        // within the drain's first wait.
        {"ReadRefusedInTheReplyDrainsThePlc",
         read,
         Script{{"02", "10"},
                {kFetchTelegram, "10 02"},
                {"10", "00 00 00 0A 10 03"},
                {"10", "02", static_cast<int>(kQuietLineWaitMs / 3)},
                {"10", kOwnTelegram},
                {"10", ""}} +
             read_ok,
         {"ZIDIV> DoRead() recv err 0x0A in reply fetch, retry 1"}},
        // A stray byte turns a refusal (00 00 00 0C) into a zero error byte
        // followed by one more byte: not the bare header, so not a confirmation.
        {"WriteWhoseReplyIsNotTheBareHeaderIsSentAgain",
         write,
         Script{
             {"02", "10"}, {kSendTelegram, "10 02"}, {"10", "00 00 00 00 0C 10 03"}, {"10", ""}} +
             write_ok,
         {"ZIDIV> DoWrite() fetch recv. ill. length data 1/0, retry 1"}},
        // A reply held from an earlier follow-on telegram (FF first), of
        // the right length and error-free, is not this telegram's answer.
        {"ReadAnsweredWithAFollowOnsReplyAsksAgain",
         read,
         Script{{"02", "10"},
                {kFetchTelegram, "10 02"},
                {"10", "FF 00 00 00 56 78 10 03"},
                {"10", ""}} +
             read_ok,
         {"ZIDIV> DoRead() fetch recv. reply 0xFF of another telegram, retry 1"}},
        {"WriteAnsweredWithAFollowOnsReplyIsSentAgain",
         write,
         Script{{"02", "10"}, {kSendTelegram, "10 02"}, {"10", "FF 00 00 00 10 03"}, {"10", ""}} +
             write_ok,
         {"ZIDIV> DoWrite() fetch recv. reply 0xFF of another telegram, retry 1"}},
        // 3964R: the block check goes out undoubled although it is DLE, and
        // exactly one byte is read for the reply's, here DLE too.
        {"ReadIn3964RWithBlockChecksThatAreDle",
         read,
         {{"02", "10"},
          {kFetchTelegram + " 10", "10 02"},
          {"10", "00 00 00 00 00 03 10 03 10"},
          {"10", ""}},
         {},
         true,
         0x0003},
        {"WriteIn3964R",
         write,
         {{"02", "10"}, {kSendTelegram + " 76", "10 02"}, {"10", kSendReply + " 13"}, {"10", ""}},
         {},
         true},
        // The telegram refused: FETCH drains after any refusal, SEND only
        // after a NAK. The drain answers the PLC's STX with DLE; without it
        // the next attempt's purge drops the STX and its set-up follows.
        {"ReadRefusedWithNakDrains",
         read,
         Script{{"02", "10"}, {kFetchTelegram, "15 02"}, {"15 10", kOwnTelegram}, {"10", ""}} +
             read_ok,
         {"ZIDIV> DoRead() error RX fetch header ack, retry 1"}},
        {"ReadRefusedWithAnotherByteDrains",
         read,
         Script{{"02", "10"}, {kFetchTelegram, "41 02"}, {"15 10", kOwnTelegram}, {"10", ""}} +
             read_ok,
         {"ZIDIV> DoRead() error RX fetch header ack, retry 1"}},
        {"WriteRefusedWithNakDrains",
         write,
         Script{{"02", "10"}, {kSendTelegram, "15 02"}, {"15 10", kOwnTelegram}, {"10", ""}} +
             write_ok,
         {"ZIDIV> DoWrite() err RX fetch header ack, retry 1"}},
        {"WriteRefusedWithAnotherByteDoesNotDrain",
         write,
         Script{{"02", "10"},
                {kSendTelegram, "41 02"},
                {"15 02", "10"},
                {kSendTelegram, "10 02"},
                {"10", kSendReply},
                {"10", ""}},
         {"ZIDIV> DoWrite() err RX fetch header ack, retry 1"}},
    };
}

// Plays the script; *played counts the steps whose bytes came as expected,
// *instead holds what came at the first step that went otherwise.
void Play(const PtyPair& pty, const Script& script, size_t* played, std::string* instead) {
    for (const Step& step : script) {
        const Wire expected = Hex(step.expect);
        const Wire got = pty.Receive(expected.size(), 1000);
        if (got != expected) {
            *instead = ToHex(got);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(step.pause_ms));
        pty.Send(Hex(step.answer));
        ++*played;
    }
}

void PrintTo(const ScriptCase& c, std::ostream* out) {
    *out << c.name;
}

class ScriptedPlc : public ::testing::TestWithParam<ScriptCase> {};

// What the driver did in one run of a case on a fresh channel.
struct Played {
    size_t steps = 0;
    std::string instead;  // what came at the first step that went otherwise
    int32_t code = -1;
    Wire after;  // sent after the last step
    std::vector<LogLine> written;
    std::string dump;
    HostBytes slot{kUntouched, kUntouched, 0x21, 0x43};
};

void PlayCase(const ScriptCase& c, Played* p) {
    ScriptedChannel channel(c.is_3964r);
    ASSERT_TRUE(channel.Start());
    auto& [scratch, log, pty, host, gate] = channel;
    std::thread plc(Play, std::cref(pty), std::cref(c.script), &p->steps, &p->instead);
    p->code = host.Transfer(c.command, gate, 1, p->slot.data());
    plc.join();
    p->after = pty.Receive(1, 50);
    p->written = log.lines();
    p->dump = log.Dump();
    host.Stop();
}

TEST_P(ScriptedPlc, WireLogAndResult) {
    const ScriptCase& c = GetParam();
    // A paused answer is timed against a wait of the driver's; when this
    // machine starves the scripted PLC past it, the case runs again, at most
    // three times in all. A driver that goes wrong goes wrong every time.
    const bool timed = std::any_of(c.script.begin(), c.script.end(),
                                   [](const Step& step) { return step.pause_ms > 0; });
    Played p;
    for (int run = 0; run < (timed ? 3 : 1); ++run) {
        p = Played{};
        ASSERT_NO_FATAL_FAILURE(PlayCase(c, &p));
        if (p.steps == c.script.size()) break;
    }

    ASSERT_EQ(p.steps, c.script.size())
        << "step " << p.steps << " expected " << c.script[p.steps].expect << ", driver sent \""
        << p.instead << "\"\n"
        << p.dump;
    EXPECT_EQ(ToHex(p.after), "") << "sent after the last step";
    EXPECT_EQ(p.code, MORVANE_OK) << p.dump;
    std::vector<std::string> lines;
    for (const LogLine& line : p.written) {
        EXPECT_EQ(line.level, 8) << line.text;
        lines.push_back(line.text);
    }
    EXPECT_EQ(lines, c.log);
    if (c.command == MORVANE_CMD_SINGLE_READ) {
        EXPECT_EQ(p.slot, (HostBytes{kUntouched, kUntouched, static_cast<uint8_t>(c.word),
                                     static_cast<uint8_t>(c.word >> 8)}));
    }
}

// A reply with filler behind it in the same write: the flood is already
// waiting when the driver looks for a quiet line.
std::string WithFiller(const std::string& reply) {
    std::string text = reply;
    for (int i = 0; i < 64; ++i)
        text += " 55";
    return text;
}

// A PLC that keeps the line full after its reply: the quiet-line loop gives
// up at its bound and the attempt fails on the line, whatever the reply said;
// the later attempts meet the flood at their set-up.
TEST(ScriptedPlcFlood, PlcThatDoesNotFallSilentAfterItsReplyFailsTheRead) {
    ScriptedChannel channel;
    ASSERT_TRUE(channel.Start());
    auto& [scratch, log, pty, host, gate] = channel;
    HostBytes slot(4, kUntouched);

    std::atomic<bool> done{false};
    size_t played = 0;
    std::string instead;
    std::thread plc([&] {
        Play(pty, {{"02", "10"}, {kFetchTelegram, "10 02"}, {"10", WithFiller(kFetchReply)}},
             &played, &instead);
        const std::vector<uint8_t> filler(4096, 0x55);
        while (!done.load()) {
            if (write(pty.master(), filler.data(), filler.size()) < 0) {
                pollfd writable{pty.master(), POLLOUT, 0};
                poll(&writable, 1, 10);
            }
        }
    });
    const Deadline deadline(std::chrono::seconds(10),
                            "a read against a PLC that never falls silent");
    const int32_t code = host.Transfer(MORVANE_CMD_SINGLE_READ, gate, 1, slot.data());
    done.store(true);
    plc.join();
    host.Stop();

    ASSERT_EQ(played, 3u) << "driver sent \"" << instead << "\"\n" << log.Dump();
    EXPECT_EQ(code, MORVANE_LINE_FAILED);
    EXPECT_EQ(log.Count("ZIDIV> DoRead() err fetch recv timeout resend #2,retry 1"), 40);
    EXPECT_TRUE(log.Has(8, "ZIDIV> exit SingleRead() , ret val is 2"));
    EXPECT_EQ(slot, HostBytes(4, kUntouched));
}

// The reply block of words first..first+count-1 of a PLC whose word i holds
// 0x4000 + i, framed as on the line; a follow-on's reply starts FF.
std::string WordsReply(uint16_t first, uint16_t count) {
    Wire plain{static_cast<uint8_t>(first == 0 ? 0x00 : 0xFF), 0, 0, 0};
    for (uint16_t i = first; i < first + count; ++i) {
        plain.push_back(0x40);
        plain.push_back(static_cast<uint8_t>(i));
    }
    Wire framed;
    for (uint8_t byte : plain) {
        framed.push_back(byte);
        if (byte == 0x10) framed.push_back(byte);
    }
    return ToHex(framed) + " 10 03";
}

// Keeps the driver's input queue full until `dles` DLEs came from it (the
// reply's acknowledgement and one per quiet-line round), then falls silent.
// Gives up after five seconds without them.
void FloodUntilDles(const PtyPair& pty, int dles) {
    const std::vector<uint8_t> filler(4096, 0x55);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (dles > 0 && std::chrono::steady_clock::now() < give_up) {
        if (write(pty.master(), filler.data(), filler.size()) < 0) {
            pollfd writable{pty.master(), POLLOUT, 0};
            poll(&writable, 1, 1);
        }
        uint8_t sent[64];
        const ssize_t n = read(pty.master(), sent, sizeof sent);
        for (ssize_t i = 0; i < n; ++i)
            dles -= sent[i] == 0x10 ? 1 : 0;
    }
}

// A follow-on FETCH the PLC answered and then flooded the line after: asked
// again the PLC would answer with the next words, which would land in this
// telegram's place. The read starts over from telegram 0 instead.
TEST(ScriptedPlcFlood, FollowOnFetchFailingAfterItsReplyIsNeverAskedAgain) {
    ScriptedChannel channel;
    ASSERT_TRUE(channel.Start());
    auto& [scratch, log, pty, host, gate] = channel;
    const GateAddress block_gate = host.Parse("001000", MORVANE_GATE_WORD, true);
    const std::string telegram = "00 00 45 44 01 00 00 64 FF FF 10 03";
    const std::string follow_on = "FF 00 45 44 10 03";
    const Script first = CleanAttempt(telegram, WordsReply(0, 64));
    const Script clean_pass = first + CleanAttempt(follow_on, WordsReply(64, 36));

    size_t played = 0;
    std::string instead;
    std::thread plc([&] {
        Play(pty,
             first +
                 Script{{"02", "10"}, {follow_on, "10 02"}, {"10", WithFiller(WordsReply(64, 36))}},
             &played, &instead);
        if (!instead.empty()) return;
        FloodUntilDles(pty, 1 + static_cast<int>(kQuietLineRoundLimit));
        played = 0;
        Play(pty, clean_pass, &played, &instead);
    });
    Words words(100, 0xEEEE);
    const int32_t code = host.Transfer(MORVANE_CMD_BLOCK_READ, block_gate, 100, words.data());
    plc.join();
    host.Stop();

    ASSERT_EQ(played, clean_pass.size()) << "driver sent \"" << instead << "\"\n" << log.Dump();
    EXPECT_EQ(code, MORVANE_OK) << log.Dump();
    for (uint16_t i = 0; i < 100; ++i)
        EXPECT_EQ(words[i], 0x4000 + i) << "word " << i;
}

INSTANTIATE_TEST_SUITE_P(Paths, ScriptedPlc, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace morvane::test
