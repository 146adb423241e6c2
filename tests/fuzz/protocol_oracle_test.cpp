// The channel-file fuzzer's own reading of a file agrees with the driver's
// on the forms where they could part: blanks, the five-character word, the
// 81-byte limit and a NUL.
#include "fuzz/protocol_oracle.h"

#include <gtest/gtest.h>

#include <string>

#include "entry/config_file.h"

namespace morvane::fuzz {
namespace {

struct OracleCase {
    const char* name;
    std::string text;
    FileProtocol expected;
};

ProtocolWord DriverWord(FileProtocol protocol) {
    if (protocol == FileProtocol::k3964R) return ProtocolWord::k3964R;
    if (protocol == FileProtocol::k3964) return ProtocolWord::k3964;
    return ProtocolWord::kInvalid;
}

TEST(ProtocolOracle, AgreesWithTheDriver) {
    const OracleCase cases[] = {
        {"3964R", "PROTOCOL=3964R", FileProtocol::k3964R},
        {"tab and vertical tab before the word", "PROTOCOL=\t\v3964R", FileProtocol::k3964R},
        {"six characters", "PROTOCOL=3964RR", FileProtocol::k3964R},
        {"3964 and a letter", "PROTOCOL=3964X", FileProtocol::k3964},
        {"word of four", "PROTOCOL=3964", FileProtocol::k3964},
        {"3964 cut by a blank", "PROTOCOL=396 4", FileProtocol::kMalformed},
        {"blank before the keyword", " PROTOCOL=3964R", FileProtocol::kMalformed},
        {"only the keyword", "PROTOCOL=", FileProtocol::kMalformed},
        {"word at the 81-byte limit", "PROTOCOL=" + std::string(67, ' ') + "3964R",
         FileProtocol::k3964R},
        {"word past the limit", "PROTOCOL=" + std::string(68, ' ') + "3964R", FileProtocol::k3964},
        {"NUL in the word",
         std::string("PROTOCOL=39\0"
                     "64R",
                     15),
         FileProtocol::kMalformed},
        {"byte above 127 in the word", "PROTOCOL=3964\xA0", FileProtocol::k3964},
    };
    for (const OracleCase& c : cases) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(c.text.data());
        EXPECT_EQ(ExpectedProtocol(bytes, c.text.size()), c.expected) << c.name;
        EXPECT_EQ(ParseProtocolText(c.text.data(), c.text.size()), DriverWord(c.expected))
            << c.name;
    }
}

}  // namespace
}  // namespace morvane::fuzz
