#include "browse/terminal_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace morvane {
namespace {

// The rest of an escape sequence arrives within this, also over a remote
// link that splits it; an Escape key alone waits this long.
constexpr int kEscapeGapMs = 100;
constexpr int kWriteWaitMs = 1000;  // a terminal that takes no output for this long is lost

}  // namespace

bool TerminalSession::Open() {
    // A terminal that moves no cursor would show the dialog as escape codes.
    const char* type = std::getenv("TERM");
    if (type != nullptr && std::strcmp(type, "dumb") == 0) return false;
    fd_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    // A process outside the terminal's foreground group would be stopped
    // (SIGTTOU) the moment it changed the terminal's settings.
    if (!isatty(fd_) || tcgetpgrp(fd_) != getpgrp() || tcgetattr(fd_, &saved_) != 0) {
        close(fd_);
        fd_ = -1;
        return false;
    }
    raw_ = saved_;
    raw_.c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    raw_.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    raw_.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw_.c_cflag = (raw_.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB)) | CS8;
    raw_.c_cc[VMIN] = 1;
    raw_.c_cc[VTIME] = 0;
    lost_ = false;
    input_length_ = 0;
    output_length_ = 0;
    if (!TakeRawMode()) {
        close(fd_);
        fd_ = -1;
        return false;
    }
    MeasureWindow();
    return true;
}

// Raw mode, the alternate screen, no cursor, cleared.
bool TerminalSession::TakeRawMode() {
    if (tcsetattr(fd_, TCSANOW, &raw_) != 0) return false;
    Put("\x1b[?1049h\x1b[?25l\x1b[2J");
    Flush();
    return true;
}

void TerminalSession::MeasureWindow() {
    struct winsize size {};
    const bool known = ioctl(fd_, TIOCGWINSZ, &size) == 0;
    rows_ = known ? size.ws_row : 0;
    columns_ = known ? size.ws_col : 0;
}

bool TerminalSession::Refresh() {
    if (fd_ < 0 || lost_) return false;
    struct termios now {};
    // Only the foreground group may take the terminal: in the background
    // (stopped, then continued with bg) the dialog waits for fg.
    const bool taken_back = tcgetattr(fd_, &now) == 0 && (now.c_lflag & (ICANON | ECHO)) != 0 &&
                            tcgetpgrp(fd_) == getpgrp() && TakeRawMode();
    const int rows = rows_;
    const int columns = columns_;
    MeasureWindow();
    if (taken_back || (rows == rows_ && columns == columns_)) return taken_back;
    Put("\x1b[0m\x1b[2J");
    return true;
}

void TerminalSession::Close() {
    if (fd_ < 0) return;
    output_length_ = 0;
    Put("\x1b[0m\x1b[?25h\x1b[?1049l");
    Flush();
    tcsetattr(fd_, TCSANOW, &saved_);
    close(fd_);
    fd_ = -1;
}

void TerminalSession::Put(const char* text) {
    const size_t length = std::strlen(text);
    if (output_length_ + length > sizeof output_) Flush();
    const size_t room = sizeof output_ - output_length_;
    const size_t count = length < room ? length : room;
    std::memcpy(output_ + output_length_, text, count);
    output_length_ += count;
}

void TerminalSession::MoveTo(int row, int column) {
    char sequence[24];
    std::snprintf(sequence, sizeof sequence, "\x1b[%d;%dH", row, column);
    Put(sequence);
}

void TerminalSession::Flush() {
    size_t written = 0;
    while (written < output_length_ && !lost_ && fd_ >= 0) {
        const ssize_t n = write(fd_, output_ + written, output_length_ - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        struct pollfd ready = {fd_, POLLOUT, 0};
        if (n < 0 && errno == EAGAIN && poll(&ready, 1, kWriteWaitMs) > 0 &&
            (ready.revents & POLLOUT) != 0)
            continue;
        lost_ = true;
    }
    output_length_ = 0;
}

bool TerminalSession::WaitReadable(int timeout_ms) {
    struct pollfd ready = {fd_, POLLIN, 0};
    const int n = poll(&ready, 1, timeout_ms);
    if (n < 0) {
        if (errno != EINTR) lost_ = true;
        return false;
    }
    if (n == 0) return false;
    if ((ready.revents & POLLIN) != 0) return true;
    lost_ = true;  // hang-up or error without data
    return false;
}

// Reads what is waiting into the input buffer; false when nothing came.
bool TerminalSession::Fill(int timeout_ms) {
    if (fd_ < 0 || lost_ || input_length_ == sizeof input_) return false;
    if (!WaitReadable(timeout_ms)) return false;
    const ssize_t n = read(fd_, input_ + input_length_, sizeof input_ - input_length_);
    if (n > 0) {
        input_length_ += static_cast<size_t>(n);
        return true;
    }
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) lost_ = true;
    return false;
}

Key TerminalSession::ReadKey(int timeout_ms) {
    if (input_length_ == 0) Fill(timeout_ms);
    if (input_length_ == 0) return Key{lost_ ? KeyCode::kLost : KeyCode::kNone, 0};
    return Decode();
}

void TerminalSession::Consume(size_t count) {
    if (count > input_length_) count = input_length_;
    std::memmove(input_, input_ + count, input_length_ - count);
    input_length_ -= count;
}

Key TerminalSession::Decode() {
    const char c = input_[0];
    if (c == '\x1b') return DecodeEscape();
    Consume(1);
    switch (c) {
        case '\t':
            return Key{KeyCode::kTab, 0};
        case '\r':
        case '\n':
            return Key{KeyCode::kEnter, 0};
        case ' ':
            return Key{KeyCode::kSpace, ' '};
        case '\x03':
            return Key{KeyCode::kInterrupt, 0};
        case '\x7f':
        case '\b':
            return Key{KeyCode::kBackspace, 0};
        default:
            break;
    }
    if (c > ' ' && c < '\x7f') return Key{KeyCode::kCharacter, c};
    return Key{KeyCode::kOther, 0};
}

// ESC alone is the Escape key; ESC [ or ESC O start a cursor key sequence,
// which ends with a byte from '@' to '~'.
Key TerminalSession::DecodeEscape() {
    if (input_length_ < 2) Fill(kEscapeGapMs);
    if (input_length_ < 2) {
        Consume(1);
        return Key{KeyCode::kEscape, 0};
    }
    // ESC and another key is that key with Alt (or Meta): no Escape.
    if (input_[1] != '[' && input_[1] != 'O') {
        Consume(input_[1] == '\x1b' ? 1 : 2);
        return Key{input_[1] == '\x1b' ? KeyCode::kEscape : KeyCode::kOther, 0};
    }
    size_t end = 2;
    for (;;) {
        if (end >= input_length_ && !Fill(kEscapeGapMs)) {
            Consume(input_length_);  // an unfinished sequence is dropped
            return Key{KeyCode::kOther, 0};
        }
        if (input_[end] >= '@' && input_[end] <= '~') break;
        ++end;
    }
    const char final_byte = input_[end];
    const bool plain = end == 2;  // no parameters
    Consume(end + 1);
    if (!plain) return Key{KeyCode::kOther, 0};
    switch (final_byte) {
        case 'A':
            return Key{KeyCode::kUp, 0};
        case 'B':
            return Key{KeyCode::kDown, 0};
        case 'C':
            return Key{KeyCode::kRight, 0};
        case 'D':
            return Key{KeyCode::kLeft, 0};
        case 'Z':
            return Key{KeyCode::kBackTab, 0};
        default:
            return Key{KeyCode::kOther, 0};
    }
}

}  // namespace morvane
