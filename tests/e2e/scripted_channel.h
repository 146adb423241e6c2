// A driver channel on a pseudo-terminal whose far end the test scripts byte
// by byte, with the gate 001002 (one word of data block 1) parsed.
#pragma once

#include <gtest/gtest.h>

#include "e2e/e2e_fixture.h"
#include "support/pty_pair.h"

namespace morvane::test {

struct ScriptedChannel {
    // Plain 3964 unless is_3964r writes the channel's configuration file.
    explicit ScriptedChannel(bool is_3964r = false) {
        if (is_3964r) TempCurrentDirectory::Write("ZIDIV01.INT", "PROTOCOL=3964R\n");
    }

    // Starts the channel on the pseudo-terminal and parses the gate; the log
    // then holds only what the test's own calls write.
    ::testing::AssertionResult Start() {
        if (!pty.ok()) return ::testing::AssertionFailure() << "no pseudo-terminal";
        if (host.Start(pty.port_name(), kTestTimeoutHundredths) != MORVANE_OK)
            return ::testing::AssertionFailure() << log.Dump();
        gate = host.Parse("001002", MORVANE_GATE_WORD);
        log.clear();
        return ::testing::AssertionSuccess();
    }

    TempCurrentDirectory scratch;
    LogCapture log;
    PtyPair pty;
    Host host;
    GateAddress gate{};
};

}  // namespace morvane::test
