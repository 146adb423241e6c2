// The simulator against scripted hosts that follow the procedure in ways our
// driver does not: a host that waits for DLE after an initialization
// conflict, one that answers a spoiled reply with NAK and takes the
// repetition, one that asks to send while a reply waits to be repeated.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "slave_end.h"
#include "support/sim_fixture.h"

namespace plcsim {
namespace {

using morvane::test::FastLink;
using morvane::test::SimFixture;
using test::SlaveEnd;

// One step of a host: what it sends (may be nothing), then what it expects
// to read within within_ms ("": the line stays silent that long).
struct Step {
    const char* send;
    const char* expect;
    int within_ms = 1000;
};

struct HostScript {
    const char* name;
    bool is_3964r;
    Priority priority;
    void (*fault)(Faults&);
    std::vector<Step> steps;
    size_t telegrams_taken;  // accepted by the simulator
};

// FETCH data block 1, word 2 (0xABCD) and word 3 (0x1234), one word each.
const char kFetchWord2[] = "00 00 45 44 01 02 00 01 FF FF 10 03";
const char kFetchWord3[] = "00 00 45 44 01 03 00 01 FF FF 10 03";
const char kReplyWord2[] = "00 00 00 00 AB CD 10 03";
const char kReplyWord3[] = "00 00 00 00 12 34 10 03";
const char kOwnTelegram[] = "00 00 41 44 00 00 00 01 FF FF 12 34 10 03";

void Conflict(Faults& f) {
    f.conflict = 1;
}

const HostScript kScripts[] = {
    {"LowPriorityAnswersAHostThatWaitsForDle",
     false,
     Priority::kLow,
     Conflict,
     {{"02", "02"},
      {"", "10", 100},  // no second STX: DLE comes at once
      {kFetchWord2, "10 02"},
      {"10", kReplyWord2},
      {"10", "02"},  // then its own telegram
      {"10", kOwnTelegram},
      {"10", "", 50}},
     1},
    {"HighPriorityMakesTheHostGiveWay",
     false,
     Priority::kHigh,
     Conflict,
     {{"02", "02"},
      {"", "", 100},  // no DLE however long the host waits
      {"10", kOwnTelegram},
      {"10", "", 50},
      {"02", "10"},  // the host asks again
      {kFetchWord2, "10 02"},
      {"10", kReplyWord2},
      {"10", "", 50}},
     1},
    {"RepeatAfterNakCarriesASoundBlockCheck",
     true,
     Priority::kLow,
     [](Faults& f) { f.corrupt_bcc = 1; },
     {{"02", "10"},
      {"00 00 45 44 01 02 00 01 FF FF 10 03 10", "10 02"},
      {"10", "00 00 00 00 AB CD 10 03 8A"},  // 0x75 inverted
      {"15", "02"},
      {"10", "00 00 00 00 AB CD 10 03 75"},
      {"10", "", 50}},
     1},
    {"RepeatAfterNakHasItsByteBack",
     true,
     Priority::kLow,
     [](Faults& f) { f.drop_byte = 1, f.byte_index = 5; },
     {{"02", "10"},
      {"00 00 45 44 01 02 00 01 FF FF 10 03 10", "10 02"},
      {"10", "00 00 00 00 AB 10 03 75"},
      {"15", "02"},
      {"10", "00 00 00 00 AB CD 10 03 75"},
      {"10", "", 50}},
     1},
    {"EveryTransmissionSpoiledUntilTheAttemptsRunOut",
     true,
     Priority::kLow,
     [](Faults& f) { f.corrupt_byte = kAlways, f.byte_index = 4; },
     {{"02", "10"},
      {"00 00 45 44 01 02 00 01 FF FF 10 03 10", "10 02"},
      {"10", "00 00 00 00 54 CD 10 03 75"},
      {"15", "02"},
      {"10", "00 00 00 00 54 CD 10 03 75"},
      {"15", "", 50}},  // two transmissions in all
     1},
    {"ReplyWaitingForItsRepeatGoesAfterTheHostsTelegram",
     false,
     Priority::kLow,
     [](Faults&) {},
     {{"02", "10"},
      {kFetchWord2, "10 02"},
      {"10", kReplyWord2},
      {"15", "02"},  // the repeat's STX
      {"02", "10"},  // crossed by the host's: the simulator gives way
      {kFetchWord3, "10 02"},
      {"10", kReplyWord3},
      {"10", "02"},  // the kept reply
      {"10", kReplyWord2},
      {"10", "", 50}},
     2},
};

void PrintTo(const HostScript& script, std::ostream* os) {
    *os << script.name;
}

class HostScripts : public ::testing::TestWithParam<HostScript> {};

TEST_P(HostScripts, ExchangeCompletesAsTheProcedureSays) {
    const HostScript& script = GetParam();
    LinkSettings link = FastLink(script.is_3964r);
    link.priority = script.priority;
    SimFixture sim(link);
    ASSERT_TRUE(sim.ok()) << sim.error();
    SlaveEnd host(sim.device());
    ASSERT_TRUE(host.ok());
    sim->SetWord(1, 2, 0xABCD);
    sim->SetWord(1, 3, 0x1234);
    Faults faults;
    script.fault(faults);
    sim.SetFaults(faults);
    for (size_t i = 0; i < script.steps.size(); ++i) {
        const Step& step = script.steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        host.Send(std::string(step.send));
        const size_t count =
            std::string(step.expect).empty() ? 1 : (std::strlen(step.expect) + 1) / 3;
        ASSERT_EQ(host.Read(count, step.within_ms), step.expect) << sim.TraceText();
    }
    size_t taken = 0;
    for (const ReceivedTelegram& received : sim->received())
        taken += received.accepted ? 1 : 0;
    EXPECT_EQ(taken, script.telegrams_taken) << sim.TraceText();
}

INSTANTIATE_TEST_SUITE_P(Sim, HostScripts, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace plcsim
