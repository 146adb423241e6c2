// The monitor's own number formatting against the C library's, the
// wall-clock times it shows against the local time of each event, and which
// transfers a filter lets through.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "monitor/monitor.h"
#include "monitor/text_format.h"

namespace morvane::monitor {
namespace {

std::string Printf(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

TEST(TextFormat, MillisPrintAsTheCLibraryPrintsTheDouble) {
    // Every microsecond of the first few seconds holds each kind of
    // rounding, the halves among them; then values where the double no
    // longer holds the microseconds, and a time that went back (wrapped).
    std::vector<uint64_t> values;
    for (uint64_t us = 0; us < 120000; ++us)
        values.push_back(us);
    for (uint64_t us :
         {uint64_t{999999999999949}, uint64_t{999999999999950}, uint64_t{999999999999999},
          uint64_t{1000000000000050}, uint64_t{9007199254740993}, uint64_t{0} - 5, UINT64_MAX})
        values.push_back(us);
    for (uint64_t us : values) {
        for (int decimals : {1, 3}) {
            std::string text = "x";
            AppendMillis(&text, us, decimals);
            const std::string expected =
                "x" + Printf(decimals == 1 ? "%.1f" : "%.3f", static_cast<double>(us) / 1000.0);
            ASSERT_EQ(text, expected) << us << " us to " << decimals << " decimals";
        }
    }
}

TEST(TextFormat, IntegersAndBytes) {
    const struct {
        void (*append)(std::string*);
        const char* expected;
    } cases[] = {
        {[](std::string* t) { AppendDecimal(t, 0); }, "0"},
        {[](std::string* t) { AppendDecimal(t, UINT64_MAX); }, "18446744073709551615"},
        {[](std::string* t) { AppendPadded(t, 0, 6); }, "000000"},
        {[](std::string* t) { AppendPadded(t, 42, 6); }, "000042"},
        {[](std::string* t) { AppendPadded(t, 1234567, 6); }, "1234567"},
        {[](std::string* t) { AppendSigned(t, -7); }, "-7"},
        {[](std::string* t) { AppendSigned(t, INT64_MIN); }, "-9223372036854775808"},
        {[](std::string* t) { AppendHexBytes(t, {}); }, ""},
        {[](std::string* t) {
             AppendHexBytes(t, {0x00, 0xAB, 0x10});
         },
         "00 AB 10"},
        {[](std::string* t) { AppendWord(t, 0x0A0B); }, "0x0A0B"},
        {[](std::string* t) { AppendWord(t, 0xFFFF); }, "0xFFFF"},
    };
    for (const auto& c : cases) {
        std::string text = "> ";
        c.append(&text);
        EXPECT_EQ(text, std::string("> ") + c.expected);
    }
}

// A side heard alone leaves some of a transfer unknown (a request's result,
// a reply's kind and data block): terms on those match nothing.
TEST(MonitorFilter, TermsMatchOnlyWhatTheTransferShows) {
    Transfer both;
    both.data_block = 1;
    both.result = TransferResult::kOk;
    Transfer request = both;
    request.heard = Heard::kHost;
    Transfer reply;
    reply.heard = Heard::kPlc;
    reply.result = TransferResult::kPlcError;
    const struct {
        const char* terms;
        bool both, request, reply;
    } cases[] = {
        {"", true, true, true},
        {"DB1", true, true, false},
        {"db2", false, false, false},
        {"FETCH", true, true, false},
        {"SEND", false, false, false},
        {"ok", true, false, false},
        {"failed", false, false, true},
        {"DB1,ok", true, false, false},
        {"DB1,db1,FETCH,fetch", true, true, false},
    };
    for (const auto& c : cases) {
        Filter filter;
        std::stringstream terms(c.terms);
        for (std::string term; std::getline(terms, term, ',');)
            ASSERT_TRUE(filter.Add(term)) << term;
        EXPECT_EQ(filter.Shows(both), c.both) << c.terms;
        EXPECT_EQ(filter.Shows(request), c.request) << c.terms;
        EXPECT_EQ(filter.Shows(reply), c.reply) << c.terms;
    }
    for (const char* bad : {"DB256", "DB", "DBx", "reply"})
        EXPECT_FALSE(Filter().Add(bad)) << bad;
    // Terms no transfer could meet together.
    const struct {
        const char *first, *second, *why;
    } contradictions[] = {
        {"DB1", "DB2", "DB1 and DB2: a transfer is of one data block"},
        {"FETCH", "send", "FETCH and send: a transfer is a FETCH or a SEND"},
        {"failed", "ok", "failed and ok: a transfer is ok or failed"},
    };
    for (const auto& c : contradictions) {
        Filter filter;
        std::string why;
        ASSERT_TRUE(filter.Add(c.first, &why));
        EXPECT_FALSE(filter.Add(c.second, &why)) << c.second;
        EXPECT_EQ(why, c.why);
    }
}

TEST(MonitorClock, EachLineShowsTheLocalTimeOfItsEvent) {
    // Damaged characters are each reported at their own time; these cross
    // second, minute and hour boundaries and come back within a second.
    const uint64_t start_utc_us = 1765281659999999;
    const uint64_t times[] = {0, 1, 2, 999999, 1000001, 60000000, 60000002, 3600000000};
    MonitorOptions options;
    options.start_utc_us = start_utc_us;
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    {
        Monitor watcher(options, out);
        for (uint64_t t : times)
            watcher.Feed({t, Side::kHost, 0x41, true});
        watcher.Flush();
    }
    std::fclose(out);
    std::istringstream lines(std::string(text, size));
    std::free(text);
    for (uint64_t t : times) {
        const uint64_t at = start_utc_us + t;
        const time_t seconds = static_cast<time_t>(at / 1000000);
        tm local{};
        localtime_r(&seconds, &local);
        char clock[32];
        std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.%06" PRIu64 "  ! damaged", local.tm_hour,
                      local.tm_min, local.tm_sec, at % 1000000);
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line.substr(0, std::strlen(clock)), clock) << t;
    }
}

}  // namespace
}  // namespace morvane::monitor
