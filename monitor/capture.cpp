#include "monitor/capture.h"

#include <chrono>
#include <cinttypes>
#include <memory>

namespace morvane::monitor {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string_view Word(std::string_view* text) {
    size_t start = 0;
    while (start < text->size() && ((*text)[start] == ' ' || (*text)[start] == '\t'))
        ++start;
    size_t end = start;
    while (end < text->size() && (*text)[end] != ' ' && (*text)[end] != '\t')
        ++end;
    const std::string_view word = text->substr(start, end - start);
    text->remove_prefix(end);
    return word;
}

bool Number(std::string_view word, uint64_t* value) {
    if (word.empty() || word.size() > 19) return false;
    *value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return false;
        *value = *value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// "9600 8E1", "1200 7O1.5": a rate and a frame, as the writers name them.
bool LineSettings(std::string_view text) {
    uint64_t baud = 0;
    if (!Number(Word(&text), &baud) || baud == 0 || baud > 4000000) return false;
    const std::string_view frame = Word(&text);
    if (!Word(&text).empty() || frame.size() < 3 || frame[0] < '5' || frame[0] > '8' ||
        std::string_view("NOEMS").find(frame[1]) == std::string_view::npos)
        return false;
    const std::string_view stop = frame.substr(2);
    return stop == "1" || stop == "1.5" || stop == "2";
}

}  // namespace

CaptureHeader HeaderStartingNow(const std::string& line) {
    const auto since_1970 = std::chrono::system_clock::now().time_since_epoch();
    CaptureHeader header;
    header.start_utc_us = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(since_1970).count());
    header.line = line;
    return header;
}

void CaptureWriter::Header(const CaptureHeader& header) {
    std::fprintf(out_, "# morvane line capture: time (us), side (H host, P PLC), bytes\n");
    if (header.start_utc_us != 0)
        std::fprintf(out_, "#start-utc-us %" PRIu64 "\n", header.start_utc_us);
    if (!header.line.empty()) std::fprintf(out_, "#line %s\n", header.line.c_str());
    if (header.heard != Heard::kBoth)
        std::fprintf(out_, "#heard %s\n", SideName(HeardSide(header.heard)));
}

void CaptureWriter::Write(uint64_t time_us, Side from, const uint8_t* bytes, size_t count,
                          const bool* damaged) {
    if (count == 0) return;
    std::fprintf(out_, "%" PRIu64 " %c", time_us, from == Side::kHost ? 'H' : 'P');
    for (size_t i = 0; i < count; ++i)
        std::fprintf(out_, damaged != nullptr && damaged[i] ? " !%02X" : " %02X", bytes[i]);
    std::fputc('\n', out_);
}

void CaptureWriter::Write(uint64_t time_us, Side from, const std::vector<uint8_t>& bytes,
                          const std::vector<bool>& damaged) {
    const std::unique_ptr<bool[]> flags(new bool[bytes.size() + 1]());
    for (size_t i = 0; i < bytes.size() && i < damaged.size(); ++i)
        flags[i] = damaged[i];
    Write(time_us, from, bytes.data(), bytes.size(), flags.get());
}

bool CaptureReader::Line(std::string_view text, std::vector<LineChar>* chars, std::string* error) {
    ++number_;
    auto fail = [&](const std::string& why) {
        *error = "line " + std::to_string(number_) + ": " + why;
        return false;
    };
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (!text.empty() && text[0] == '#') {
        // "#line 9600 8E1" is a header; "# line trace of ..." a comment.
        std::string_view rest = text.substr(1);
        const std::string_view key =
            rest.empty() || rest[0] == ' ' || rest[0] == '\t' ? std::string_view() : Word(&rest);
        if (key == "start-utc-us" && !Number(Word(&rest), &header_.start_utc_us))
            return fail("bad start time");
        if (key == "line") {
            while (!rest.empty() && rest[0] == ' ')
                rest.remove_prefix(1);
            if (!LineSettings(rest))
                return fail("bad line settings " + std::string(rest) +
                            ": a rate and a frame, as 9600 8E1");
            header_.line = std::string(rest);
        }
        if (key == "cut") ++cuts_;
        if (key == "heard") {
            const std::string_view side = Word(&rest);
            if (side != "host" && side != "PLC") return fail("heard must be host or PLC");
            header_.heard = side == "host" ? Heard::kHost : Heard::kPlc;
        }
        return true;
    }
    std::string_view rest = text;
    const std::string_view time = Word(&rest);
    if (time.empty()) return true;  // a blank line
    LineChar c;
    if (!Number(time, &c.time_us)) return fail("bad time " + std::string(time));
    if (c.time_us < last_us_) return fail("time goes back");
    last_us_ = c.time_us;
    const std::string_view side = Word(&rest);
    if (side != "H" && side != "P") return fail("side must be H or P");
    c.from = side == "H" ? Side::kHost : Side::kPlc;
    size_t count = 0;
    for (std::string_view byte = Word(&rest); !byte.empty(); byte = Word(&rest), ++count) {
        c.damaged = byte[0] == '!';
        if (c.damaged) byte.remove_prefix(1);
        if (byte.size() != 2 || HexDigit(byte[0]) < 0 || HexDigit(byte[1]) < 0)
            return fail("bad byte " + std::string(byte));
        c.byte = static_cast<uint8_t>(HexDigit(byte[0]) * 16 + HexDigit(byte[1]));
        chars->push_back(c);
    }
    return count != 0 || fail("no bytes");
}

bool ReadCapture(std::string_view text, CaptureHeader* header, std::vector<LineChar>* chars,
                 std::string* error) {
    CaptureReader reader;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (!reader.Line(line, chars, error)) return false;
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    if (header != nullptr) *header = reader.header();
    return true;
}

}  // namespace morvane::monitor
