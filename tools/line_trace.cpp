#include "line_trace.h"

#include <cstdio>

#include "link/link3964.h"
#include "sim/trace.h"

namespace morvane::tool {
namespace {

// Stray bytes between blocks (a babbling partner) come this many to a line,
// so that they show as they come; a block's line is carried on to the next
// beyond kLongestLine characters. Either way a line stays bounded.
constexpr size_t kStrayPerLine = 32;
constexpr size_t kLongestLine = 3 * 1024;

}  // namespace

using plcsim::Hex;

void LineTrace::Bytes(LineSide from, const uint8_t* bytes, size_t count, Clock::time_point at) {
    for (size_t i = 0; i < count; ++i)
        Byte(from, bytes[i], at);
}

void LineTrace::Damaged(LineSide from, uint8_t byte, Clock::time_point at) {
    char token[16];
    std::snprintf(token, sizeof token, "%02X!damaged", byte);
    Append(from, token, at);
}

void LineTrace::Flush() {
    End(LineSide::kHost, " (cut short)");
    End(LineSide::kPlc, " (cut short)");
}

void LineTrace::Append(LineSide from, const std::string& token, Clock::time_point at) {
    SideState& side = sides_[static_cast<int>(from)];
    if (side.text.empty()) side.first = at;
    side.text += (side.text.empty() ? "" : " ") + token;
}

// Writes the side's line, if it has one, with note behind it.
void LineTrace::Write(LineSide from, const char* note) {
    SideState& side = sides_[static_cast<int>(from)];
    if (side.text.empty()) return;
    const double ms = std::chrono::duration<double, std::milli>(side.first - start_).count();
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%10.3f ms  %s  ", ms,
                  from == LineSide::kHost ? "host > PLC" : "PLC > host");
    sink_(stamp + side.text + note);
    side.text.clear();
}

// Writes the side's line if it has one; note marks an unfinished block.
void LineTrace::End(LineSide from, const char* note) {
    SideState& side = sides_[static_cast<int>(from)];
    Write(from, side.in_block ? note : "");
    side.in_block = side.after_dle = side.awaiting_bcc = false;
}

void LineTrace::Byte(LineSide from, uint8_t byte, Clock::time_point at) {
    SideState& side = sides_[static_cast<int>(from)];
    SideState& other = sides_[static_cast<int>(Other(from))];
    // The other side speaks: whatever it had not finished is over.
    if (!other.text.empty()) End(Other(from), " (cut short)");
    if (side.in_block) {
        if (side.awaiting_bcc) {
            Append(from, "BCC " + Hex(byte) + (byte == side.bcc ? "" : "!failed"), at);
            End(from);
            return;
        }
        side.bcc ^= byte;
        const bool block_ends = side.after_dle && byte == kEtx;
        side.after_dle = !side.after_dle && byte == kDle;  // DLE DLE: one DLE of the data
        Append(from, byte == kDle ? "DLE" : block_ends ? "ETX" : Hex(byte), at);
        if (!block_ends && side.text.size() >= kLongestLine) Write(from, " ...");
        if (block_ends) {
            side.awaiting_bcc = block_check_;
            if (!block_check_) End(from);
        }
        return;
    }
    const char* name = plcsim::ControlName(byte);
    if (name == nullptr || byte == kEtx) {  // stray bytes between blocks gather on one line
        Append(from, Hex(byte), at);
        if (side.text.size() >= 3 * kStrayPerLine - 1) End(from);
        return;
    }
    End(from);
    Append(from, name, at);
    End(from);
    if (byte == kStx) side.asked_to_send = true;
    // DLE answers the other side's STX: its block follows.
    if (byte == kDle && other.asked_to_send) {
        other.in_block = true;
        other.bcc = 0;
    }
    if (byte != kStx) other.asked_to_send = false;
}

}  // namespace morvane::tool
