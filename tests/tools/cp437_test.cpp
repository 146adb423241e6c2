#include <gtest/gtest.h>

#include "commands.h"

namespace morvane::tool {
namespace {

TEST(Cp437, BoxDrawingAndTextBecomeUtf8) {
    EXPECT_EQ(Cp437ToUtf8("\xC9\xCD\xBB\n\xBA"
                          "A\xBA\n\xC8\xCD\xBC"),
              "\u2554\u2550\u2557\n\u2551A\u2551\n\u255A\u2550\u255D");
    EXPECT_EQ(Cp437ToUtf8("\x81\xE1\xFF"), "\u00FC\u00DF\u00A0");  // two-byte forms
    EXPECT_EQ(Cp437ToUtf8("\x08\nZ\x07"), "\nZ");  // controls other than line feed dropped
    EXPECT_EQ(Cp437ToUtf8(""), "");
}

}  // namespace
}  // namespace morvane::tool
