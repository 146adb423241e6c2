// A raw-mode session on the process's controlling terminal: keys in, text
// out, fixed buffers, bounded waits, and the terminal's settings restored.
#pragma once

#include <termios.h>

#include <cstddef>

namespace morvane {

enum class KeyCode {
    kNone,  // nothing arrived in time
    kLost,  // the terminal is gone (hang-up or error)
    kUp,
    kDown,
    kLeft,
    kRight,
    kTab,
    kBackTab,
    kEnter,
    kSpace,
    kEscape,
    kInterrupt,
    kBackspace,
    kCharacter,  // a printable character
    kOther,
};

struct Key {
    KeyCode code;
    char character;  // for kCharacter
};

class TerminalSession {
  public:
    TerminalSession() = default;
    ~TerminalSession() { Close(); }
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    // Opens the controlling terminal in raw mode on an alternate screen;
    // false when the process has no terminal, runs in its background, or
    // the terminal moves no cursor (TERM=dumb).
    bool Open();
    // Leaves the alternate screen and restores the terminal's settings.
    void Close();

    // Output is gathered and written by Flush.
    void Put(const char* text);
    void MoveTo(int row, int column);
    void Flush();

    // Waits at most timeout_ms for a key.
    Key ReadKey(int timeout_ms);

    // After a stop and continue (the shell put its own settings back) the
    // raw mode and the alternate screen are taken again; after that or a
    // change of the window's size, the screen is cleared. True when it was:
    // everything is to be drawn again.
    bool Refresh();
    // The window's size now; 0 where the terminal does not tell.
    int rows() const { return rows_; }
    int columns() const { return columns_; }

    bool lost() const { return lost_; }

  private:
    bool TakeRawMode();
    void MeasureWindow();
    bool WaitReadable(int timeout_ms);
    bool Fill(int timeout_ms);
    Key Decode();
    Key DecodeEscape();
    void Consume(size_t count);

    int fd_ = -1;
    bool lost_ = false;
    struct termios saved_ {};
    struct termios raw_ {};
    int rows_ = 0;
    int columns_ = 0;
    char input_[32] = {};
    size_t input_length_ = 0;
    char output_[4096] = {};
    size_t output_length_ = 0;
};

}  // namespace morvane
