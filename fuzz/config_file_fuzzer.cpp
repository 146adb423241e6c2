// Arbitrary channel files through ColdStart: the input chooses the channel
// number, which of its three file names are files, directories or free, and
// the text of the first file the driver should open. The other files hold
// the opposite protocol, so a file read out of order shows in the outcome.
//
// Input: a byte with two bits for each of "ZIDIV<nn>.INT", "ZIDIV<n>.INT"
// and "ZIDIV.INT" (0 free, 2 a directory, 1 and 3 a file), four bytes of
// channel number, then the text.
//
// Checked: ColdStart answers 0; the channel's procedure is the one the text
// selects (3964 when the file is malformed or none exists); the log names
// the file that was read and reports a malformed file exactly when it is.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/protocol_oracle.h"
#include "fuzz/scratch_directory.h"
#include "morvane/morvane.h"
#include "ostrel/ostrel_control.h"

namespace {

using morvane::fuzz::FileProtocol;

constexpr size_t kNameCount = 3;
constexpr size_t kHeaderSize = 5;

struct LogSeen {
    std::string found_name;  // from "ZIDIV> <name> Int File Found."
    bool not_found = false;
    bool malformed = false;
    int protocol_lines = 0;
    bool said_3964r = false;
} g_log;

void RecordLogLine(int level, const char* line, void*) {
    FUZZ_CHECK(level == MORVANE_LOG_TRACE || level == MORVANE_LOG_OPERATOR);
    const std::string text = line;
    const std::string found = " Int File Found.";
    if (text.size() > found.size() &&
        text.compare(text.size() - found.size(), found.size(), found) == 0)
        g_log.found_name = text.substr(7, text.size() - 7 - found.size());
    if (text == "ZIDIV> Int File not found!. Default values used!") g_log.not_found = true;
    if (text == "ZIDIV> Error in INT file, using defaults.") g_log.malformed = true;
    if (text == "ZIDIV> Protocol= PROT3964R" || text == "ZIDIV> Protocol= PROT3964") {
        ++g_log.protocol_lines;
        g_log.said_3964r = text.back() == 'R';
    }
}

void FileNames(int32_t channel, std::string (&names)[kNameCount]) {
    char name[32];
    std::snprintf(name, sizeof name, "ZIDIV%02d.INT", static_cast<int>(channel));
    names[0] = name;
    std::snprintf(name, sizeof name, "ZIDIV%01d.INT", static_cast<int>(channel));
    names[1] = name;
    names[2] = "ZIDIV.INT";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    OstrelSetLogSink(RecordLogLine, nullptr);
    morvane::fuzz::MakeScratchDirectory("morvane-config-fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderSize) return 0;
    const uint8_t exists = data[0];
    int32_t channel;
    std::memcpy(&channel, data + 1, sizeof channel);
    const uint8_t* text = data + kHeaderSize;
    const size_t length = size - kHeaderSize;
    const FileProtocol selected = morvane::fuzz::ExpectedProtocol(text, length);

    std::string names[kNameCount];
    FileNames(channel, names);
    int first = -1;
    for (size_t i = 0; i < kNameCount; ++i) {
        // Two names of one channel can be the same (channel 123, or -5).
        if (i > 0 && names[i] == names[i - 1]) continue;
        const int kind = exists >> (2 * i) & 3;
        const std::string path = morvane::fuzz::ScratchFile(names[i]);
        if (kind == 2) {
            FUZZ_CHECK(mkdir(path.c_str(), 0700) == 0);
        } else if (kind != 0 && first < 0) {
            first = static_cast<int>(i);
            morvane::fuzz::WriteScratchFile(
                names[i], std::string(reinterpret_cast<const char*>(text), length));
        } else if (kind != 0) {
            morvane::fuzz::WriteScratchFile(names[i], selected == FileProtocol::k3964R
                                                          ? "PROTOCOL=3964\n"
                                                          : "PROTOCOL=3964R\n");
        }
    }

    g_log = LogSeen{};
    ChannelArea area{};
    StartBlock start{};
    start.open_now = 0;
    start.external_timeout = 1000;
    TevRequest request{&area, MORVANE_CMD_COLD_START, channel, 0, &start};
    {
        const morvane::fuzz::InScratchDirectory in_scratch;
        FUZZ_CHECK(TevMain(&request) == 0);
    }

    const bool expect_3964r = first >= 0 && selected == FileProtocol::k3964R;
    FUZZ_CHECK(area.port_settings.is_3964r == (expect_3964r ? 1 : 0));
    FUZZ_CHECK(g_log.protocol_lines == 1 && g_log.said_3964r == expect_3964r);
    FUZZ_CHECK(g_log.not_found == (first < 0));
    FUZZ_CHECK(g_log.found_name == (first < 0 ? std::string() : names[first]));
    FUZZ_CHECK(g_log.malformed == (first >= 0 && selected == FileProtocol::kMalformed));

    for (const std::string& name : names) {
        const std::string path = morvane::fuzz::ScratchFile(name);
        if (unlink(path.c_str()) != 0) rmdir(path.c_str());
    }
    return 0;
}
