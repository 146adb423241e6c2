// The PLC's random faults: one fault per telegram it hits, each kind drawn,
// none the procedure cannot have.
#include "sim/plc_fault_dice.h"

#include <gtest/gtest.h>

namespace plcsim {
namespace {

uint32_t FaultsSet(const Faults& f) {
    return f.nak_telegrams + f.no_reply + f.corrupt_bcc + f.ignore_requests + f.conflict;
}

TEST(PlcFaultDice, EveryTelegramHitAtFullRateGetsExactlyOneFault) {
    for (const bool is_3964r : {false, true}) {
        PlcFaultDice dice(1.0, 8, is_3964r);
        for (int i = 0; i < 500; ++i) {
            Faults faults;
            dice.Roll(&faults);
            ASSERT_EQ(FaultsSet(faults), 1u);
        }
        uint64_t total = 0;
        for (int k = 0; k < static_cast<int>(PlcFaultKind::kCount); ++k) {
            const auto kind = static_cast<PlcFaultKind>(k);
            total += dice.count(kind);
            if (kind == PlcFaultKind::kBadBcc && !is_3964r)
                EXPECT_EQ(dice.count(kind), 0u) << "3964 has no block check to spoil";
            else
                EXPECT_GT(dice.count(kind), 50u) << PlcFaultName(kind);
        }
        EXPECT_EQ(total, 500u);
    }
}

TEST(PlcFaultDice, AtRateZeroNothingChanges) {
    PlcFaultDice dice(0.0, 8, true);
    Faults faults;
    for (int i = 0; i < 100; ++i)
        dice.Roll(&faults);
    EXPECT_EQ(FaultsSet(faults), 0u);
}

}  // namespace
}  // namespace plcsim
