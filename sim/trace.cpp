#include "sim/trace.h"

#include <cstdio>
#include <string_view>

namespace plcsim {
namespace {

const char* Arrow(Direction direction) {
    return direction == Direction::kReceived ? "rx" : "tx";
}

bool DamagedAt(const std::vector<bool>& damaged, size_t index) {
    return index < damaged.size() && damaged[index];
}

}  // namespace

std::string Hex(uint8_t byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

const char* ControlName(uint8_t byte) {
    switch (byte) {
        case 0x02:
            return "STX";
        case 0x03:
            return "ETX";
        case 0x10:
            return "DLE";
        case 0x15:
            return "NAK";
        default:
            return nullptr;
    }
}

std::string Trace::FormatControl(Direction direction, uint8_t byte, bool damaged) {
    if (damaged) return std::string(Arrow(direction)) + " " + Hex(byte) + "!";
    const char* name = ControlName(byte);
    return std::string(Arrow(direction)) + " " + (name ? name : Hex(byte));
}

// Inside a block only DLE (doubled or closing) and the closing ETX are named;
// every other byte is data and shown in hex.
std::string Trace::FormatBlock(Direction direction, const Bytes& framed, int bcc,
                               const std::vector<bool>& damaged) {
    std::string text = Arrow(direction);
    for (size_t i = 0; i < framed.size(); ++i) {
        const bool closing_etx = i + 1 == framed.size() && i > 0 && framed[i] == 0x03 &&
                                 framed[i - 1] == 0x10 && !DamagedAt(damaged, i - 1);
        text += ' ';
        if (DamagedAt(damaged, i))
            text += Hex(framed[i]) + "!";
        else
            text += framed[i] == 0x10 ? "DLE" : closing_etx ? "ETX" : Hex(framed[i]);
    }
    if (bcc >= 0)
        text += " BCC " + Hex(static_cast<uint8_t>(bcc)) +
                (DamagedAt(damaged, framed.size()) ? "!" : "");
    return text;
}

size_t Trace::Characters(const std::string& line) {
    bool bytes_follow = false;  // after the direction, every word is a byte
    size_t count = 0;
    size_t at = 0;
    while (at < line.size()) {
        const size_t begin = line.find_first_not_of(' ', at);
        if (begin == std::string::npos) break;
        at = line.find(' ', begin);
        const std::string_view word =
            std::string_view(line).substr(begin, at == std::string::npos ? at : at - begin);
        if (bytes_follow) {
            count += word == "BCC" ? 0 : 1;  // the label; the value after it counts
        } else if (word == "--") {
            return 0;
        } else {
            bytes_follow = word == "rx" || word == "tx";
        }
    }
    return count;
}

void Trace::Control(Direction direction, uint8_t byte, bool damaged) {
    if (sink_) Emit(FormatControl(direction, byte, damaged));
    if (char_sink_) EmitChars(direction, Bytes{byte}, {damaged});
}

void Trace::Block(Direction direction, const Bytes& framed, int bcc,
                  const std::vector<bool>& damaged) {
    if (sink_) Emit(FormatBlock(direction, framed, bcc, damaged));
    if (!char_sink_) return;
    Bytes bytes = framed;
    if (bcc >= 0) bytes.push_back(static_cast<uint8_t>(bcc));
    EmitChars(direction, bytes, damaged);
}

void Trace::Note(const std::string& text) {
    if (sink_) Emit("-- " + text);
}

void Trace::EmitChars(Direction direction, const Bytes& bytes, const std::vector<bool>& damaged) {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    char_sink_(static_cast<uint64_t>(
                   std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()),
               direction, bytes, damaged);
}

void Trace::Emit(const std::string& text) {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ms ", ms);
    sink_(stamp + text);
}

}  // namespace plcsim
