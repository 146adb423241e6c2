// A host serves each channel from a thread of its own: eight channels, each
// with its own channel area and its own partner on its own pseudo-terminal,
// run their transfers at once, and a driver that is ended and started again
// on one thread while the others transfer keeps every value in its place.
// Built and run under ThreadSanitizer too (the tsan preset).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_fixture.h"

namespace morvane::test {
namespace {

constexpr uint8_t kBlock = 10;
constexpr int kChannels = 8;
constexpr int kRounds = 10;

// Word layout in kBlock: a three-telegram block write, a two-telegram block
// read, a single write and a single read.
constexpr uint16_t kWriteAt = 0, kWriteWords = 150;
constexpr uint16_t kReadAt = 160, kReadWords = 90;
constexpr uint16_t kSingleWriteAt = 250, kSingleReadAt = 251;

uint16_t Pattern(int channel, int round, size_t i) {
    return static_cast<uint16_t>(channel * 0x1111 + round * 0x0203 + i * 0x0101);
}

std::string Address(uint16_t word) {
    char text[16];
    std::snprintf(text, sizeof text, "%03u%03u", unsigned{kBlock}, unsigned{word});
    return text;
}

// One channel: its host records, its partner, its 3964 or 3964R.
class Channel {
  public:
    explicit Channel(int number)
        : number_(number), host_(number), sim_(FastLink(number % 2 == 0)) {}

    bool Start() {
        if (!sim_.ok()) return false;
        sim_->DeclareBlock(kBlock, 256);
        if (host_.Start(PortName(sim_.device()), kTestTimeoutHundredths) != MORVANE_OK)
            return false;
        // Parsed while the driver runs: an ended driver parses nothing.
        block_gate_ = host_.Parse(Address(kWriteAt).c_str(), MORVANE_GATE_WORD, true);
        return block_gate_.parsed == 1;
    }
    void Stop() { host_.Stop(); }

    // The port closed and opened again, then a block write, a block read, a
    // single write and a single read with their values checked against the
    // partner's data block (each channel's values differ from every other
    // channel's); false (with test failures) when one went wrong.
    bool Round(int round) {
        // Ports reopened on all threads hand descriptor numbers (and the
        // serial layer's rows kept by them) from one thread to another.
        if (host_.Call(MORVANE_CMD_CLOSE_COM, nullptr) != MORVANE_OK ||
            host_.Call(MORVANE_CMD_REOPEN_COM, nullptr) != MORVANE_OK)
            return Fail("close and open again", 0);
        Words written(kWriteWords);
        for (size_t i = 0; i < written.size(); ++i)
            written[i] = Pattern(number_, round, i);
        if (Run(MORVANE_CMD_BLOCK_WRITE, Address(kWriteAt), kWriteWords, written.data()) !=
            MORVANE_OK)
            return false;
        for (uint16_t i = 0; i < kWriteWords; ++i)
            if (sim_->Word(kBlock, kWriteAt + i) != written[i]) return Fail("block write", i);

        for (uint16_t i = 0; i < kReadWords; ++i)
            sim_->SetWord(kBlock, kReadAt + i, Pattern(number_, round + 100, i));
        Words read(kReadWords, 0xEEEE);
        if (Run(MORVANE_CMD_BLOCK_READ, Address(kReadAt), kReadWords, read.data()) != MORVANE_OK)
            return false;
        for (uint16_t i = 0; i < kReadWords; ++i)
            if (read[i] != Pattern(number_, round + 100, i)) return Fail("block read", i);

        const uint16_t single = Pattern(number_, round + 200, 0);
        HostBytes slot{0, 0, static_cast<uint8_t>(single), static_cast<uint8_t>(single >> 8)};
        if (Run(MORVANE_CMD_SINGLE_WRITE, Address(kSingleWriteAt), 1, slot.data()) != MORVANE_OK)
            return false;
        if (sim_->Word(kBlock, kSingleWriteAt) != single) return Fail("single write", 0);

        sim_->SetWord(kBlock, kSingleReadAt, static_cast<uint16_t>(~single));
        slot.assign(4, kUntouched);
        if (Run(MORVANE_CMD_SINGLE_READ, Address(kSingleReadAt), 1, slot.data()) != MORVANE_OK)
            return false;
        const HostBytes expected{kUntouched, kUntouched, static_cast<uint8_t>(~single),
                                 static_cast<uint8_t>(~single >> 8)};
        if (slot != expected) return Fail("single read", 0);
        return true;
    }

    enum class Outcome { kRan, kSkipped, kFailed };

    // A block read or write while another thread may end the driver: it ran
    // whole or not at all (kFailed, with a test failure, otherwise).
    Outcome RoundWhileEnding(int round) {
        const bool write = round % 2 == 0;
        Words values(kWriteWords);
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = Pattern(number_, round, i);
        if (!write)
            for (uint16_t i = 0; i < kWriteWords; ++i)
                sim_->SetWord(kBlock, kWriteAt + i, values[i]);
        Words host(kWriteWords, 0xEEEE);
        Words before(kWriteWords);
        for (uint16_t i = 0; i < kWriteWords; ++i)
            before[i] = sim_->Word(kBlock, kWriteAt + i);
        const int32_t result =
            host_.Transfer(write ? MORVANE_CMD_BLOCK_WRITE : MORVANE_CMD_BLOCK_READ, block_gate_,
                           kWriteWords, write ? values.data() : host.data());
        if (result != MORVANE_OK && result != MORVANE_LINE_FAILED) {
            ADD_FAILURE() << "channel " << number_ << " round " << round << ": " << result;
            return Outcome::kFailed;
        }
        Words after(kWriteWords);
        for (uint16_t i = 0; i < kWriteWords; ++i)
            after[i] = sim_->Word(kBlock, kWriteAt + i);
        // An ended driver answers a transfer as failed without running:
        // nothing moved at all. A good answer means it ran, whole.
        const bool ran = write ? after == values : host == values;
        const bool skipped = write ? after == before : host == Words(kWriteWords, 0xEEEE);
        if (result == MORVANE_OK && ran) return Outcome::kRan;
        if (result == MORVANE_LINE_FAILED && skipped) return Outcome::kSkipped;
        ADD_FAILURE() << "channel " << number_ << " round " << round << " half done";
        return Outcome::kFailed;
    }

  private:
    int32_t Run(uint32_t command, const std::string& address, int32_t count, void* data) {
        const bool block = command == MORVANE_CMD_BLOCK_READ || command == MORVANE_CMD_BLOCK_WRITE;
        const GateAddress gate = host_.Parse(address.c_str(), MORVANE_GATE_WORD, block);
        const int32_t result = host_.Transfer(command, gate, count, data);
        if (result != MORVANE_OK)
            ADD_FAILURE() << "channel " << number_ << ", command " << command << ": " << result;
        return result;
    }
    bool Fail(const char* what, size_t index) {
        ADD_FAILURE() << "channel " << number_ << ", " << what << ": word " << index;
        return false;
    }

    int number_;
    Host host_;
    SimFixture sim_;
    GateAddress block_gate_{};
};

class Threaded : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(directory_.ok());
        for (int n = 0; n <= kChannels; ++n) {
            char name[16];
            std::snprintf(name, sizeof name, "ZIDIV%02d.INT", n);
            TempCurrentDirectory::Write(name, n % 2 == 0 ? "PROTOCOL=3964R\n" : "PROTOCOL=3964\n");
        }
        OstrelSetMinimumLevel(100);  // eight channels' lines would interleave on stderr
    }
    void TearDown() override { OstrelSetMinimumLevel(0); }

    // Runs body(channel) for channels 1..count, each on a thread of its own.
    template <typename Body>
    static void OnThreads(int count, Body body) {
        std::vector<std::thread> threads;
        for (int n = 1; n <= count; ++n)
            threads.emplace_back(body, n);
        for (std::thread& thread : threads)
            thread.join();
    }

    TempCurrentDirectory directory_;
};

TEST_F(Threaded, EightChannelsTransferAtOnce) {
    std::atomic<int> rounds_done{0};
    OnThreads(kChannels, [&](int number) {
        Channel channel(number);
        if (!channel.Start()) {
            ADD_FAILURE() << "channel " << number << " did not start";
            return;
        }
        for (int round = 0; round < kRounds && channel.Round(round); ++round)
            ++rounds_done;
        channel.Stop();
    });
    EXPECT_EQ(rounds_done.load(), kChannels * kRounds);

    // The host ends the driver once all channels are done, and starts it
    // again for the tests after this one.
    Host last(kChannels);
    EXPECT_EQ(last.Call(MORVANE_CMD_END_TEV, nullptr), MORVANE_OK);
    StartBlock start{};
    EXPECT_EQ(last.Call(MORVANE_CMD_COLD_START, &start), MORVANE_OK);
}

TEST_F(Threaded, DriverEndedAndStartedWhileOthersTransfer) {
    constexpr int kTransferChannels = 3;
    constexpr int kTransfers = 24;
    std::vector<std::unique_ptr<Channel>> channels;
    for (int n = 1; n <= kTransferChannels; ++n) {
        channels.push_back(std::make_unique<Channel>(n));
        ASSERT_TRUE(channels.back()->Start()) << "channel " << n;
    }

    std::atomic<bool> transfers_done{false};
    std::atomic<int> ran{0};      // transfers that ran
    std::atomic<int> skipped{0};  // and that an ended driver answered without running
    // The lifecycle thread holds each state until a transfer has seen it
    // (or for a bounded time), so the transfers meet
    // both; its own calls it can judge exactly, as no other thread starts
    // or ends the driver.
    std::thread lifecycle([&] {
        // By time, not by calls: on a loaded machine the transfer threads
        // may not run at all during a hundred thousand quick calls.
        using Clock = std::chrono::steady_clock;
        constexpr auto kHoldAtMost = std::chrono::seconds(2);
        Host host(0);
        StartBlock start{};
        std::strncpy(start.port_name, "ttyMORVANE", sizeof start.port_name - 1);
        start.external_timeout = 1000;
        GateAddress gate{};
        Words words(4, 0xEEEE);
        while (!transfers_done.load()) {
            EXPECT_EQ(host.Call(MORVANE_CMD_COLD_START, &start), MORVANE_OK);
            if (gate.parsed == 0) gate = host.Parse("010000", MORVANE_GATE_WORD, true);
            const int ran_before = ran.load();
            for (const auto until = Clock::now() + kHoldAtMost;
                 ran.load() == ran_before && Clock::now() < until;) {
                if (transfers_done.load()) break;
                // Running: this area has no port, so the read fails on the line.
                ASSERT_EQ(host.Transfer(MORVANE_CMD_BLOCK_READ, gate, 4, words.data()),
                          MORVANE_LINE_FAILED);
            }
            EXPECT_EQ(host.Call(MORVANE_CMD_END_TEV, nullptr), MORVANE_OK);
            const int skipped_before = skipped.load();
            for (const auto until = Clock::now() + kHoldAtMost;
                 skipped.load() == skipped_before && Clock::now() < until;) {
                if (transfers_done.load()) break;
                ASSERT_EQ(host.Transfer(MORVANE_CMD_BLOCK_READ, gate, 4, words.data()),
                          MORVANE_LINE_FAILED);
            }
            ASSERT_EQ(words, Words(4, 0xEEEE)) << "a read ran while the driver was ended";
        }
        EXPECT_EQ(host.Call(MORVANE_CMD_COLD_START, &start), MORVANE_OK);
    });
    OnThreads(kTransferChannels, [&](int number) {
        for (int round = 0; round < kTransfers; ++round) {
            const Channel::Outcome outcome = channels[number - 1]->RoundWhileEnding(round);
            if (outcome == Channel::Outcome::kFailed) break;
            ++(outcome == Channel::Outcome::kRan ? ran : skipped);
        }
    });
    transfers_done = true;
    lifecycle.join();
    EXPECT_GT(ran.load(), 0);
    EXPECT_GT(skipped.load(), 0);
    RecordProperty("transfers_run", ran.load());
    RecordProperty("transfers_skipped_while_ended", skipped.load());

    // Started again: every channel transfers as before.
    for (auto& channel : channels) {
        EXPECT_TRUE(channel->Round(kRounds));
        channel->Stop();
    }
}

}  // namespace
}  // namespace morvane::test
