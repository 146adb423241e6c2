#include <gtest/gtest.h>

#include "entry/command_table.h"
#include "entry/driver_state.h"

namespace morvane {
namespace {

TEST(Dispatch, EmptySlotsAndCodesAbove17Answer2) {
    SetDriverEnded(false);
    for (uint32_t code : {0u, 8u, 9u, 17u, 18u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        TevRequest request{};
        request.command_code = code;
        EXPECT_EQ(TevMain(&request), MORVANE_LINE_FAILED) << "code " << code;
        EXPECT_EQ(HandlerFor(code), nullptr) << "code " << code;
    }
}

TEST(Dispatch, EndedDriverAnswersZeroWithoutReadingTheRequest) {
    SetDriverEnded(true);
    TevRequest request{};
    request.command_code = 0xFFFFFFFFu;
    EXPECT_EQ(TevMain(&request), MORVANE_OK);
    SetDriverEnded(false);
}

}  // namespace
}  // namespace morvane
