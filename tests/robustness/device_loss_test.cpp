// The partner vanishes in the middle of a multi-telegram transfer, as when a
// USB adapter is pulled: the call fails with 2 within the bound its time-outs
// give, without spinning, and once a partner is back under the same port name
// the channel recovers through the driver's own commands.
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <memory>
#include <string>
#include <tuple>

#include "e2e/e2e_fixture.h"
#include "gates/transfer_plan.h"
#include "link/rk512_telegram.h"
#include "support/stable_port_name.h"

namespace morvane::test {
namespace {

constexpr uint8_t kBlock = 3;
constexpr int32_t kWords = 200;  // four telegrams
constexpr uint32_t kLostAt = 2;  // the partner takes the third telegram and is gone

// The longest a call on a vanished partner may take, if every wait on the dead
// line ran out its read time-out instead of ending at the hang-up: each pass
// starts over and fails within its attempts at the connection request (the
// purge's 50 ms and two waits for DLE each), after the telegrams that went
// through before the loss (a generous second each on a busy machine).
int64_t CallBoundMs(uint32_t telegrams_before) {
    const int64_t read_timeout_ms = kTestTimeoutHundredths * 10;
    const int64_t attempt_ms = 50 + 2 * read_timeout_ms;
    return telegrams_before * 1000 + int64_t{kMaxPasses} * kMaxAttempts * attempt_ms;
}

int64_t ClockMs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
int64_t MonotonicMs() {
    return ClockMs(CLOCK_MONOTONIC);
}
int64_t ThreadCpuMs() {
    return ClockMs(CLOCK_THREAD_CPUTIME_ID);
}

uint16_t Pattern(size_t i, uint16_t seed) {
    return static_cast<uint16_t>(i * 0x0101u + seed);
}

enum class Direction { kRead, kWrite };
enum class Recovery { kCloseAndReopen, kChangeParameters };

class DeviceLoss
    : public ::testing::TestWithParam<std::tuple<Direction, Recovery, bool /*3964R*/>> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(directory_.ok());
        TempCurrentDirectory::Write("ZIDIV01.INT",
                                    is_3964r() ? "PROTOCOL=3964R\n" : "PROTOCOL=3964\n");
        first_ = StartPartner();
        ASSERT_TRUE(first_ && first_->ok());
        port_ = std::make_unique<StablePortName>(first_->device());
        ASSERT_TRUE(port_->ok());
        ASSERT_EQ(host_.Start(port_->name(), kTestTimeoutHundredths), MORVANE_OK) << log_.Dump();
        gate_ = host_.Parse("003000", MORVANE_GATE_WORD, true);
        ASSERT_EQ(gate_.parsed, 1u);
    }
    void TearDown() override { host_.Stop(); }

    bool is_3964r() const { return std::get<2>(GetParam()); }
    Direction direction() const { return std::get<0>(GetParam()); }

    std::unique_ptr<SimFixture> StartPartner() {
        auto partner = std::make_unique<SimFixture>(FastLink(is_3964r()));
        if (partner->ok()) partner->sim().DeclareBlock(kBlock, 256);
        return partner;
    }

    // The partner closes its end of the line when telegram `index` of the
    // transfer arrives, before it acknowledges it.
    void VanishAtTelegram(SimFixture* partner, uint32_t index) {
        plcsim::Simulator* sim = &partner->sim();
        sim->SetTelegramHook([sim, index, gone = gone_, position = 0u](const Bytes& telegram,
                                                                       plcsim::Faults*) mutable {
            position = !telegram.empty() && telegram[0] == 0x00 ? 0 : position + 1;
            if (position != index || gone->load()) return;
            gone->store(true);  // before the hang-up the driver sees
            sim->HangUp();
        });
    }

    // Runs the transfer; checks it fails with 2 within bound_ms without spinning.
    void ExpectLineFailureWithin(int64_t bound_ms) {
        Words values(kWords, 0x5A5A);
        const int64_t started = MonotonicMs();
        const int64_t cpu_before = ThreadCpuMs();
        const int32_t result = Transfer(&values);
        const int64_t elapsed = MonotonicMs() - started;
        const int64_t cpu = ThreadCpuMs() - cpu_before;
        EXPECT_EQ(result, MORVANE_LINE_FAILED) << log_.Dump();
        EXPECT_LE(elapsed, bound_ms) << log_.Dump();
        // A loop that polls the hung-up descriptor without waiting burns the
        // whole call on the processor.
        EXPECT_LE(cpu, 100 + elapsed / 2) << "call took " << elapsed << " ms";
    }

    int32_t Transfer(Words* values) {
        const uint32_t command =
            direction() == Direction::kRead ? MORVANE_CMD_BLOCK_READ : MORVANE_CMD_BLOCK_WRITE;
        return host_.Transfer(command, gate_, kWords, values->data());
    }

    int32_t Recover() {
        if (std::get<1>(GetParam()) == Recovery::kChangeParameters)
            return host_.SetTimeout(kTestTimeoutHundredths);
        const int32_t closed = host_.Call(MORVANE_CMD_CLOSE_COM, nullptr);
        return closed != MORVANE_OK ? closed : host_.Call(MORVANE_CMD_REOPEN_COM, nullptr);
    }

    TempCurrentDirectory directory_;
    LogCapture log_;
    Host host_;
    std::unique_ptr<SimFixture> first_;
    std::unique_ptr<StablePortName> port_;
    GateAddress gate_{};
    std::shared_ptr<std::atomic<bool>> gone_ = std::make_shared<std::atomic<bool>>(false);
};

TEST_P(DeviceLoss, FailsWithinBoundThenRecoversOnANewPartner) {
    VanishAtTelegram(first_.get(), kLostAt);
    ExpectLineFailureWithin(CallBoundMs(kLostAt));
    // The loss came mid-transfer, after the telegrams before it.
    EXPECT_TRUE(gone_->load());
    EXPECT_GE(first_->Telegrams().size(), kLostAt) << first_->TraceText();
    // The port stays on the dead device until the host acts: calls keep failing.
    ExpectLineFailureWithin(CallBoundMs(0));

    // Unplugged, the device's name goes too: the host's attempts to bring
    // the channel back fail until a partner is there again.
    port_->Remove();
    EXPECT_EQ(Recover(), MORVANE_LINE_FAILED) << log_.Dump();

    std::unique_ptr<SimFixture> second = StartPartner();
    ASSERT_TRUE(second->ok()) << second->error();
    ASSERT_TRUE(port_->PointTo(second->device()));
    first_.reset();
    for (uint16_t i = 0; i < kWords; ++i)
        second->sim().SetWord(kBlock, i, Pattern(i, 0x0301));
    log_.clear();
    ASSERT_EQ(Recover(), MORVANE_OK) << log_.Dump();

    Words values(kWords);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = direction() == Direction::kRead ? 0xEEEE : Pattern(i, 0x7702);
    ASSERT_EQ(Transfer(&values), MORVANE_OK) << log_.Dump();
    for (uint16_t i = 0; i < kWords; ++i)
        ASSERT_EQ(second->sim().Word(kBlock, i), values[i]) << "word " << i;
}

INSTANTIATE_TEST_SUITE_P(
    , DeviceLoss,
    ::testing::Combine(::testing::Values(Direction::kRead, Direction::kWrite),
                       ::testing::Values(Recovery::kCloseAndReopen, Recovery::kChangeParameters),
                       ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) == Direction::kRead ? "Read" : "Write") +
               (std::get<1>(info.param) == Recovery::kCloseAndReopen ? "CloseReopen"
                                                                     : "ChangeParams") +
               (std::get<2>(info.param) ? "3964R" : "3964");
    });

}  // namespace
}  // namespace morvane::test
