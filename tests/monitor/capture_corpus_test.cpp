// The stored captures, each decoded as `morvane monitor --replay FILE -v`
// shows it, against the decoding written down beside it: as text lines, and
// as JSON objects and CSV rows. Captures marked as one side heard alone are
// decoded so.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "monitor/capture.h"
#include "monitor/monitor.h"

namespace morvane::monitor {
namespace {

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Decode(const std::string& capture, uint64_t* chars, uint64_t* accounted,
                   OutputForm form = OutputForm::kText) {
    CaptureHeader header;
    std::vector<LineChar> line;
    std::string error;
    EXPECT_TRUE(ReadCapture(capture, &header, &line, &error)) << error;
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    MonitorOptions options;
    options.verbose = true;
    options.form = form;
    options.heard = header.heard;  // a capture from one tap is read as one side alone
    {
        Monitor watcher(options, out);
        for (const LineChar& c : line)
            watcher.Feed(c);
        watcher.Flush();
        watcher.PrintSummary(out);
        *accounted = watcher.accounted();
    }
    std::fclose(out);
    std::string decoded(text, size);
    std::free(text);
    *chars = line.size();
    return decoded;
}

TEST(CaptureCorpus, EveryCaptureDecodesAsWrittenDown) {
    int captures = 0;
    for (const auto& entry : std::filesystem::directory_iterator(MONITOR_CAPTURES)) {
        if (entry.path().extension() != kCaptureExtension) continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++captures;
        std::filesystem::path expected = entry.path();
        expected.replace_extension(".expected");
        uint64_t chars = 0, accounted = 0;
        EXPECT_EQ(Decode(ReadText(entry.path()), &chars, &accounted), ReadText(expected));
        EXPECT_EQ(accounted, chars) << "every character in one event";
    }
    EXPECT_GE(captures, 5);
}

TEST(CaptureCorpus, EveryCaptureDecodesAsWrittenDownInJsonAndCsv) {
    const struct {
        OutputForm form;
        const char* extension;
    } forms[] = {{OutputForm::kJson, ".json"}, {OutputForm::kCsv, ".csv"}};
    int captures = 0;
    for (const auto& entry : std::filesystem::directory_iterator(MONITOR_CAPTURES)) {
        if (entry.path().extension() != kCaptureExtension) continue;
        ++captures;
        for (const auto& form : forms) {
            std::filesystem::path expected = entry.path();
            expected.replace_extension(form.extension);
            SCOPED_TRACE(expected.filename().string());
            ASSERT_TRUE(std::filesystem::exists(expected));
            uint64_t chars = 0, accounted = 0;
            EXPECT_EQ(Decode(ReadText(entry.path()), &chars, &accounted, form.form),
                      ReadText(expected));
        }
    }
    EXPECT_GE(captures, 5);
}

}  // namespace
}  // namespace morvane::monitor
