// The capture format's refusals, the kernel's marks, and how the procedure
// is told apart from what follows DLE ETX.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "monitor/capture.h"
#include "monitor/marks.h"
#include "monitor/monitor.h"

namespace morvane::monitor {
namespace {

TEST(CaptureFormat, RefusesWhatIsNoCaptureLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"12 X 02\n", "line 1: side must be H or P"},
        {"# c\n12 H 0G\n", "line 2: bad byte 0G"},
        {"12 H\n", "line 1: no bytes"},
        {"20 H 02\n10 P 10\n", "line 2: time goes back"},
        {"-1 H 02\n", "line 1: bad time -1"},
        {"5 H !2\n", "line 1: bad byte 2"},
        {"#heard both\n", "line 1: heard must be host or PLC"},
        {"#line 12 9Z1\n", "line 1: bad line settings 12 9Z1: a rate and a frame, as 9600 8E1"},
        {"# line trace of a port\n#line 0 8E1\n",
         "line 2: bad line settings 0 8E1: a rate and a frame, as 9600 8E1"},
    };
    for (const auto& c : cases) {
        std::vector<LineChar> chars;
        std::string error;
        EXPECT_FALSE(ReadCapture(c.text, nullptr, &chars, &error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

// What a writer puts in a capture, read back.
bool ReadBack(const std::function<void(CaptureWriter&)>& write, CaptureHeader* header,
              std::vector<LineChar>* chars, std::string* error) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    CaptureWriter writer(out);
    write(writer);
    std::fclose(out);
    const bool read = ReadCapture(std::string(text, size), header, chars, error);
    std::free(text);
    return read;
}

TEST(CaptureFormat, WrittenCaptureReadsBackWithHeaderAndDamage) {
    CaptureHeader header;
    std::vector<LineChar> chars;
    std::string error;
    ASSERT_TRUE(ReadBack(
        [](CaptureWriter& writer) {
            writer.Header({1765281663000000, "9600 8E1", Heard::kPlc});
            const uint8_t bytes[] = {0x10, 0xFF, 0x03};
            const bool damaged[] = {false, true, false};
            writer.Write(42, Side::kPlc, bytes, 3, damaged);
        },
        &header, &chars, &error))
        << error;
    EXPECT_EQ(header.start_utc_us, 1765281663000000u);
    EXPECT_EQ(header.line, "9600 8E1");
    EXPECT_EQ(header.heard, Heard::kPlc);
    ASSERT_EQ(chars.size(), 3u);
    EXPECT_EQ(chars[1].byte, 0xFF);
    EXPECT_TRUE(chars[1].damaged);
    EXPECT_FALSE(chars[2].damaged);
    EXPECT_EQ(chars[2].time_us, 42u);
    EXPECT_EQ(chars[2].from, Side::kPlc);
}

TEST(CaptureFormat, HeaderStartsNowAndMissingFlagsMeanIntact) {
    const auto now_us = [] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count());
    };
    const uint64_t before = now_us();
    CaptureHeader header;
    std::vector<LineChar> chars;
    std::string error;
    ASSERT_TRUE(ReadBack(
        [](CaptureWriter& writer) {
            writer.Header(HeaderStartingNow("1200 7O2"));
            writer.Write(7, Side::kHost, std::vector<uint8_t>{0x02, 0x10, 0x03},
                         std::vector<bool>{false, true});
        },
        &header, &chars, &error))
        << error;
    EXPECT_GE(header.start_utc_us, before);
    EXPECT_LE(header.start_utc_us, now_us());
    EXPECT_EQ(header.line, "1200 7O2");
    ASSERT_EQ(chars.size(), 3u);
    EXPECT_EQ(chars[1].byte, 0x10);
    EXPECT_TRUE(chars[1].damaged);
    EXPECT_FALSE(chars[0].damaged || chars[2].damaged);
    EXPECT_EQ(chars[2].from, Side::kHost);
}

TEST(MarkReader, KernelMarksBecomeCharactersEvenWhenCutByARead) {
    const struct {
        std::vector<std::vector<uint8_t>> reads;
        std::vector<uint8_t> chars;
        std::vector<bool> damaged;
    } cases[] = {
        {{{0xFF, 0xFF}}, {0xFF}, {false}},
        {{{0xFF}, {0xFF, 0x02}}, {0xFF, 0x02}, {false, false}},
        {{{0x10, 0xFF, 0x00}, {0x45}}, {0x10, 0x45}, {false, true}},
        {{{0xFF, 0x00, 0x00}}, {0x00}, {true}},
        {{{0xFF}, {0x00}, {0xFF}}, {0xFF}, {true}},
    };
    for (const auto& c : cases) {
        MarkReader reader;
        std::vector<uint8_t> chars;
        std::vector<bool> damaged;
        for (const auto& read : c.reads)
            reader.Feed(read.data(), read.size(), &chars, &damaged);
        EXPECT_EQ(chars, c.chars);
        EXPECT_EQ(damaged, c.damaged);
    }
}

struct Decoded {
    std::vector<Transfer> transfers;
    Summary summary;
    LineDecoder::Procedure procedure;
};

Decoded DecodeText(const char* capture) {
    std::vector<LineChar> chars;
    std::string error;
    EXPECT_TRUE(ReadCapture(capture, nullptr, &chars, &error)) << error;
    Decoded decoded;
    MonitorOptions options;
    options.on_transfer = [&](const Transfer& t) { decoded.transfers.push_back(t); };
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    {
        Monitor watcher(options, out);
        for (const LineChar& c : chars)
            watcher.Feed(c);
        watcher.Flush();
        decoded.summary = watcher.summary();
    }
    std::fclose(out);
    std::free(text);
    return decoded;
}

// After DLE ETX the same block, read both ways: a BCC of 10 from the
// sender (3964R), or the receiver's DLE at once (3964). A 10 that does not
// fit is a failed check, not a stray character.
TEST(ProcedureDetection, WhatFollowsDleEtxDecides) {
    const struct {
        const char* name;
        const char* after_etx;
        TransferResult result;
        uint64_t bcc_failed;
    } cases[] = {
        {"3964R", "2 H 10\n3 P 10\n", TransferResult::kLineFailed, 0},
        {"3964", "3 P 10\n", TransferResult::kLineFailed, 0},
        {"3964R, bad check", "2 H 11\n3 P 10\n", TransferResult::kLineFailed, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string capture =
            std::string("0 H 02\n1 P 10\n2 H 00 00 45 44 01 02 00 01 FF FF 10 03\n") + c.after_etx;
        const Decoded d = DecodeText(capture.c_str());
        ASSERT_EQ(d.transfers.size(), 1u);
        EXPECT_EQ(d.transfers[0].result, c.result);
        EXPECT_EQ(d.transfers[0].failure,
                  c.bcc_failed ? "telegram with a failed block check" : "no reply");
        EXPECT_EQ(d.summary.anomalies(AnomalyClass::kBccFailed), c.bcc_failed);
        EXPECT_EQ(d.summary.anomalies(AnomalyClass::kStray), 0u);
    }
}

TEST(ProcedureDetection, ReplyLongerThanAskedIsALengthMismatch) {
    const Decoded d = DecodeText(
        "0 H 02\n1 P 10\n2 H 00 00 45 44 01 02 00 01 FF FF 10 03\n3 P 10\n"
        "4 P 02\n5 H 10\n6 P 00 00 00 00 12 34 56 78 10 03\n7 H 10\n");
    ASSERT_EQ(d.transfers.size(), 1u);
    EXPECT_EQ(d.transfers[0].result, TransferResult::kBadLength);
    EXPECT_EQ(d.summary.anomalies(AnomalyClass::kLengthMismatch), 1u);
}

// A telegram the PLC acknowledged but never answered is named, however the
// host gave up on the reply: refusing it late, or moving on.
TEST(ProcedureDetection, AReplyThatNeverCameIsNamed) {
    const char* telegram = "0 H 02\n1 P 10\n2 H 00 00 45 44 01 02 00 01 FF FF 10 03\n3 P 10\n";
    for (const char* then :
         {"600000 P 02\n600001 H 15\n",
          "900000 H 02\n900001 P 10\n900002 H 00 00 45 44 01 04 00 01 FF FF 10 03\n"}) {
        SCOPED_TRACE(then);
        const Decoded d = DecodeText((std::string(telegram) + then).c_str());
        ASSERT_GE(d.transfers.size(), 1u);
        EXPECT_EQ(d.transfers[0].failure, "no reply");
        EXPECT_EQ(d.summary.anomalies(AnomalyClass::kNoAck), 1u);
    }
}

// A connection request answered after the acknowledgement time is named
// for what it is, and stamped at its deadline whether a live watch's tick
// or the late answer itself (a replay) noticed it.
TEST(Timing, ALateAnswerIsStampedAtItsDeadlineLiveAndReplayed) {
    for (const bool live : {true, false}) {
        SCOPED_TRACE(live ? "live" : "replayed");
        char* text = nullptr;
        size_t size = 0;
        FILE* out = open_memstream(&text, &size);
        {
            Monitor watcher(MonitorOptions{}, out);
            watcher.Feed({1000, Side::kHost, 0x02});
            if (live) watcher.Tick(560000);
            watcher.Feed({703000, Side::kPlc, 0x10});
            watcher.Flush();
        }
        std::fclose(out);
        const std::string shown(text, size);
        std::free(text);
        EXPECT_NE(shown.find("0.551000  ! no-ack: connection request not answered within 550 ms"),
                  std::string::npos)
            << shown;
    }
}

// CSV output is a header row and a row per transfer, also with none.
TEST(MonitorOutput, CsvWithoutATransferIsItsHeaderRow) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    {
        MonitorOptions options;
        options.form = OutputForm::kCsv;
        Monitor watcher(options, out);
        watcher.Feed({1000, Side::kHost, 0x02});
        watcher.Flush();
    }
    std::fclose(out);
    EXPECT_EQ(std::string(text, size).rfind("time_us,kind,", 0), 0u) << text;
    std::free(text);
}

// The busy share is of the time watched: a line quiet since its last
// character grows idler as the watch goes on.
TEST(Timing, BusyShareIsOfTheTimeWatched) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    {
        Monitor watcher(MonitorOptions{}, out);
        for (uint64_t i = 0; i < 10; ++i)
            watcher.Feed({100000 + i * 1146, Side::kHost, 0x55});
        watcher.Tick(1000000);
        EXPECT_NEAR(watcher.summary().BusyShare(Side::kHost, 9600, 11), 0.01146, 0.0001);
    }
    std::fclose(out);
    std::free(text);
}

}  // namespace
}  // namespace morvane::monitor
