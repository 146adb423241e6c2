// The kernel's marks decoded: FF data, damaged characters and breaks, marks
// at the edges of blocks and split across reads in every place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/marked_input.h"
#include "support/hex_bytes.h"

namespace morvane {
namespace {

using test::Hex;
using test::ToHex;
using test::Wire;

struct MarkCase {
    const char* name;
    const char* raw;      // as the kernel hands it over
    const char* decoded;  // the characters
    const char* damaged;  // 1 for each damaged character
};

const MarkCase kCases[] = {
    {"plain bytes", "41 10 03", "41 10 03", "0 0 0"},
    {"FF data comes doubled", "FF FF 41 FF FF", "FF 41 FF", "0 0 0"},
    {"parity error on 41", "02 FF 00 41 03", "02 41 03", "0 1 0"},
    {"break", "41 FF 00 00 42", "41 00 42", "0 1 0"},
    {"damaged FF", "FF 00 FF FF FF", "FF FF", "1 0"},
    {"damaged DLE closing a block", "41 FF 00 10 03", "41 10 03", "0 1 0"},
    {"damaged first and last", "FF 00 15 41 FF 00 52", "15 41 52", "1 0 1"},
    {"two marks back to back", "FF 00 01 FF 00 02", "01 02", "1 1"},
    {"lone FF is not trusted", "FF 41 42", "41 42", "1 0"},
};

std::string Flags(const std::vector<uint8_t>& flags) {
    std::string text;
    for (const uint8_t flag : flags)
        text += (text.empty() ? "" : " ") + std::to_string(flag);
    return text;
}

// Decodes raw in pieces cut at the given places, as reads may bring it.
void Decode(const Wire& raw, const std::vector<size_t>& cuts, Wire* out,
            std::vector<uint8_t>* damaged) {
    MarkedInput state;
    size_t from = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(raw.size());
    for (const size_t end : ends) {
        Wire piece(raw.begin() + static_cast<long>(from), raw.begin() + static_cast<long>(end));
        std::vector<uint8_t> flags(piece.size());
        bool any = false;
        const uint32_t n =
            DecodeMarkedInput(&state, piece.data(), static_cast<uint32_t>(piece.size()),
                              piece.data(), flags.data(), &any);
        ASSERT_LE(n, piece.size());
        bool seen = false;
        for (uint32_t i = 0; i < n; ++i) {
            out->push_back(piece[i]);
            damaged->push_back(flags[i]);
            seen = seen || flags[i] != 0;
        }
        EXPECT_EQ(any, seen);
        from = end;
    }
}

class MarkedStream : public ::testing::TestWithParam<MarkCase> {};

TEST_P(MarkedStream, DecodesTheSameWhereverTheReadsEnd) {
    const MarkCase& c = GetParam();
    const Wire raw = Hex(c.raw);
    // Whole, cut once at every place, and one byte per read (the worst a device does).
    std::vector<std::vector<size_t>> cuttings(raw.size(), std::vector<size_t>{});
    for (size_t cut = 1; cut < raw.size(); ++cut) {
        cuttings[cut].push_back(cut);
        cuttings[0].push_back(cut);
    }
    cuttings.push_back({});
    for (const std::vector<size_t>& cuts : cuttings) {
        SCOPED_TRACE(::testing::PrintToString(cuts));
        Wire out;
        std::vector<uint8_t> damaged;
        Decode(raw, cuts, &out, &damaged);
        EXPECT_EQ(ToHex(out), c.decoded);
        EXPECT_EQ(Flags(damaged), c.damaged);
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, MarkedStream, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string name = info.param.name;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

}  // namespace
}  // namespace morvane
