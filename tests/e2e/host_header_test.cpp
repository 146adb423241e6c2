// What the public header promises a host, held against the driver: its
// constants against the driver's own, the gate type codes through the parse
// command, and the time a transfer on a silent line keeps the host's thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "e2e/host.h"
#include "gates/transfer_plan.h"
#include "link/link3964.h"
#include "link/quiet_line.h"
#include "link/rk512_telegram.h"
#include "link/transfer_policy.h"
#include "serial/serial_port.h"
#include "support/log_capture.h"
#include "support/pty_pair.h"
#include "support/temp_directory.h"

namespace morvane {
namespace {

static_assert(MORVANE_ATTEMPTS == kMaxAttempts);
static_assert(MORVANE_PASSES == kMaxPasses);
static_assert(MORVANE_MAX_TRANSFER_BYTES == kMaxTransferBytes);
static_assert(MORVANE_REOPEN_READ_TIMEOUT_MS == kSerialDefaultReadTimeoutMs);
static_assert(MORVANE_STRING_MAX_LENGTH + 1 == MORVANE_STRING_SLOT_SIZE);
static_assert(MORVANE_READ_TIMEOUT_MS(50) == 500);
static_assert(MORVANE_LONGEST_READ_TIMEOUT_MS == kLongestReadTimeoutMs);
static_assert(MORVANE_SILENT_LINE_MARGIN_MS(9600) == 45 &&
              MORVANE_SILENT_LINE_MARGIN_MS(1200) == 150);
// The numbers the header's prose gives for the hard ceiling of a transfer
// and for WarmStart's purge.
static_assert(kPurgeReadLimit == 64 && kPurgeReadTimeoutMs == 50);
static_assert(kLinkBufferSize + 2 == 302);  // a refused 301st byte and the block check
static_assert(kQuietLineRoundLimit == 40 && kDrainPassLimit == 8);

// The header's read time-out is the driver's, also where 10 x the internal
// time-out no longer fits 32 bits.
TEST(HostHeader, ReadTimeoutMacroIsTheDriversOwn) {
    for (const int32_t internal : {INT32_MIN, -1, 0, 1, 50, 359999, 360000, 429496730, INT32_MAX}) {
        SCOPED_TRACE(internal);
        EXPECT_EQ(MORVANE_READ_TIMEOUT_MS(internal), ReadTimeoutMs(internal));
        EXPECT_LE(MORVANE_SILENT_LINE_MS(ReadTimeoutMs(internal)), 8 * kLongestReadTimeoutMs);
    }
    EXPECT_EQ(ReadTimeoutMs(429496730), kLongestReadTimeoutMs);
}

// Which address forms each gate type code takes, as the header's table says.
TEST(HostHeader, GateTypeCodesFitTheAddressFormsTheHeaderNames) {
    struct Form {
        const char* address;
        std::vector<uint32_t> codes;
    };
    const Form forms[] = {
        {"001002", {MORVANE_GATE_WORD, MORVANE_GATE_WORD_1, MORVANE_GATE_WORD_2}},
        {"00100203", {MORVANE_GATE_DIGITAL}},
        {"001002 3", {MORVANE_GATE_DIGITAL}},
        {"001002F", {MORVANE_GATE_FLOAT}},
        {"001002l", {MORVANE_GATE_LONG, MORVANE_GATE_LONG_1, MORVANE_GATE_FLOAT}},
        {"001004S08", {MORVANE_GATE_STRING}},
    };
    test::LogCapture log;
    for (const Form& form : forms) {
        for (uint32_t code = 0; code <= 9; ++code) {
            test::Host host;
            ParseBlock parse{};
            parse.address = form.address;
            parse.gate_type = code;
            const bool listed =
                std::find(form.codes.begin(), form.codes.end(), code) != form.codes.end();
            EXPECT_EQ(host.Call(MORVANE_CMD_SINGLE_ADDRESS_PARSER, &parse),
                      listed ? MORVANE_OK : MORVANE_REQUEST_FAILED)
                << form.address << " with gate type " << code;
        }
    }
}

// On a line where nobody answers every transfer command gives up after the
// first telegram's attempts, two connection requests each: the header's
// MORVANE_SILENT_LINE_MS, neither much less nor more.
TEST(HostHeader, SilentLineKeepsEveryTransferForTheHeadersBound) {
    test::TempCurrentDirectory scratch;  // no channel file: 3964
    ASSERT_TRUE(scratch.ok());
    test::PtyPair line;
    ASSERT_TRUE(line.ok());
    test::LogCapture log;
    test::Host host;
    constexpr int32_t kHundredths = 5;
    ASSERT_EQ(host.Start(line.port_name(), kHundredths), MORVANE_OK) << log.Dump();
    const uint32_t bound = MORVANE_SILENT_LINE_MS(MORVANE_READ_TIMEOUT_MS(kHundredths));
    ASSERT_EQ(bound, 400u);

    struct Transfer {
        const char* name;
        uint32_t command;
        const char* address;
        uint32_t gate_type;
        int32_t count;
    };
    const Transfer transfers[] = {
        {"word read", MORVANE_CMD_SINGLE_READ, "001002", MORVANE_GATE_WORD, 1},
        {"bit write", MORVANE_CMD_SINGLE_WRITE, "00100203", MORVANE_GATE_DIGITAL, 1},
        {"block read of 3 telegrams", MORVANE_CMD_BLOCK_READ, "001000", MORVANE_GATE_WORD, 150},
        {"block write of 2 telegrams", MORVANE_CMD_BLOCK_WRITE, "001000F", MORVANE_GATE_FLOAT, 40},
    };
    std::vector<uint8_t> buffer(MORVANE_REPLY_DATA_SIZE, 0);
    for (const Transfer& t : transfers) {
        const bool block =
            t.command == MORVANE_CMD_BLOCK_READ || t.command == MORVANE_CMD_BLOCK_WRITE;
        const GateAddress gate = host.Parse(t.address, t.gate_type, block);
        ASSERT_EQ(gate.parsed, 1u) << t.name;
        const int64_t start = test::PtyPair::NowMs();
        EXPECT_EQ(host.Transfer(t.command, gate, t.count, buffer.data()), MORVANE_LINE_FAILED)
            << t.name;
        const int64_t took = test::PtyPair::NowMs() - start;
        EXPECT_GE(took, bound - 10) << t.name;
        EXPECT_LT(took, bound + 300) << t.name;
    }
    host.Stop();
}

}  // namespace
}  // namespace morvane
