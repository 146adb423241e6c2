#include "sim/trace.h"

#include <cstdio>

namespace plcsim {
namespace {

std::string Hex(uint8_t byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

const char* Arrow(Direction direction) {
    return direction == Direction::kReceived ? "rx" : "tx";
}

}  // namespace

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

std::string Trace::FormatControl(Direction direction, uint8_t byte) {
    const char* name = ControlName(byte);
    return std::string(Arrow(direction)) + " " + (name ? name : Hex(byte));
}

// Inside a block only DLE (doubled or closing) and the closing ETX are named;
// every other byte is data and shown in hex.
std::string Trace::FormatBlock(Direction direction, const Bytes& framed, int bcc) {
    std::string text = Arrow(direction);
    for (size_t i = 0; i < framed.size(); ++i) {
        const bool closing_etx =
            i + 1 == framed.size() && i > 0 && framed[i] == 0x03 && framed[i - 1] == 0x10;
        text += ' ';
        text += framed[i] == 0x10 ? "DLE" : closing_etx ? "ETX" : Hex(framed[i]);
    }
    if (bcc >= 0) text += " BCC " + Hex(static_cast<uint8_t>(bcc));
    return text;
}

void Trace::Control(Direction direction, uint8_t byte) {
    if (enabled()) Emit(FormatControl(direction, byte));
}

void Trace::Block(Direction direction, const Bytes& framed, int bcc) {
    if (enabled()) Emit(FormatBlock(direction, framed, bcc));
}

void Trace::Note(const std::string& text) {
    if (enabled()) Emit("-- " + text);
}

void Trace::Emit(const std::string& text) {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%10.3f ms ", ms);
    sink_(stamp + text);
}

}  // namespace plcsim
