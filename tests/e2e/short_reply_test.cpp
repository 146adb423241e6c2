// A reply too short to hold the RK512 header has no error byte: the exchange
// refuses it instead of judging bytes that never arrived. A scripted PLC on
// the master of a pseudo-terminal sends such replies.
#include <gtest/gtest.h>

#include <thread>

#include "e2e/e2e_fixture.h"
#include "e2e/scripted_channel.h"
#include "support/pty_pair.h"

namespace morvane::test {
namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;

// Accepts `attempts` telegrams of telegram_bytes on the line and answers
// each with the one-byte reply 00.
void AnswerWithShortReplies(const PtyPair& pty, size_t telegram_bytes, int attempts) {
    for (int i = 0; i < attempts; ++i) {
        if (pty.Receive(1) != Bytes{kStx}) return;
        pty.Send({kDle});
        if (pty.Receive(telegram_bytes).size() != telegram_bytes) return;
        pty.Send({kDle, kStx});
        if (pty.Receive(1) != Bytes{kDle}) return;
        pty.Send({0x00, kDle, kEtx});
        if (pty.Receive(1) != Bytes{kDle}) return;
    }
}

TEST(ShortReply, IsRefusedByFetchAndSendAlike) {
    const struct {
        uint32_t command;
        size_t telegram_bytes;  // framed: header, data, DLE ETX
        const char* last_line;
        const char* exit_line;
    } cases[] = {
        {MORVANE_CMD_SINGLE_READ, 12, "ZIDIV> DoRead() fetch recv. short reply 1 bytes, retry 4",
         "ZIDIV> exit SingleRead() , ret val is 1"},
        {MORVANE_CMD_SINGLE_WRITE, 14, "ZIDIV> DoWrite() fetch recv. short reply 1 bytes, retry 4",
         "ZIDIV> exit SingleWrite() , ret val is 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exit_line);
        ScriptedChannel channel;  // no configuration file: plain 3964
        ASSERT_TRUE(channel.Start());
        auto& [scratch, log, pty, host, gate] = channel;
        HostBytes slot{kUntouched, kUntouched, 0x34, 0x12};

        std::thread plc(AnswerWithShortReplies, std::cref(pty), c.telegram_bytes, 4);
        const int32_t code = host.Transfer(c.command, gate, 1, slot.data());
        plc.join();
        host.Stop();

        EXPECT_EQ(code, MORVANE_REQUEST_FAILED);
        EXPECT_TRUE(log.Has(8, c.last_line)) << log.Dump();
        EXPECT_TRUE(log.Has(8, c.exit_line));
        EXPECT_EQ(slot, (HostBytes{kUntouched, kUntouched, 0x34, 0x12}));
    }
}

}  // namespace
}  // namespace morvane::test
