// The "Tag Format" dialog on the controlling terminal. The keyboard does what
// the mouse and keyboard do in the windowed dialog: Tab and Shift-Tab move
// between controls, digits are typed into fields, the Up and Down keys are the
// fields' spin arrows and move between data type buttons, Space selects,
// Enter presses OK (or Cancel when it has the focus), Escape cancels.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "browse/stored_controls.h"
#include "browse/tag_format_front.h"
#include "browse/tag_format_model.h"
#include "browse/terminal_posix.h"

namespace morvane {
namespace {

constexpr int kKeyWaitMs = 200;
// A dialog nobody touches for this long is cancelled, so that the host's
// thread is never held for ever.
constexpr int64_t kIdleLimitMs = 10 * 60 * 1000;
constexpr int kNotShown = 0;

constexpr int kFocusOrder[] = {
    IDC_BLOCK_FIELD, IDC_LOCATION_FIELD, IDC_TYPE_16_BITS,  IDC_TYPE_32_BITS,
    IDC_TYPE_FLOAT,  IDC_TYPE_STRING,    IDC_TYPE_DIGITAL,  IDC_LENGTH_FIELD,
    IDC_BIT_FIELD,   IDC_OK_BUTTON,      IDC_CANCEL_BUTTON,
};
constexpr int kFocusCount = sizeof kFocusOrder / sizeof kFocusOrder[0];

constexpr int kRadios[] = {IDC_TYPE_16_BITS, IDC_TYPE_32_BITS, IDC_TYPE_FLOAT, IDC_TYPE_STRING,
                           IDC_TYPE_DIGITAL};
constexpr int kRadioCount = sizeof kRadios / sizeof kRadios[0];

struct FieldPlace {
    int field;
    int arrows;
    int row;
    int column;
    int width;
};
constexpr FieldPlace kFieldPlaces[] = {
    {IDC_BLOCK_FIELD, IDC_BLOCK_ARROWS, 4, 24, 3},
    {IDC_LOCATION_FIELD, IDC_LOCATION_ARROWS, 5, 24, 3},
    {IDC_LENGTH_FIELD, IDC_LENGTH_ARROWS, 11, 35, 2},
    {IDC_BIT_FIELD, IDC_BIT_ARROWS, 12, 35, 2},
};

struct TextPlace {
    int control;  // whose enabled state greys the text; 0 for always enabled
    int row;
    int column;
    const char* text;
};
constexpr TextPlace kTexts[] = {
    {0, 3, 3, "Data Block"},
    {IDC_BLOCK_LABEL, 4, 5, "Block Number "},
    {IDC_LOCATION_LABEL, 5, 5, "Memory Location"},
    {0, 4, 34, "(000-255)"},
    {0, 5, 34, "(000-255)"},
    {0, 7, 3, "Data type"},
    {IDC_LENGTH_LABEL, 11, 22, "Length"},
    {IDC_BIT_LABEL, 12, 22, "Bit number"},
    {0, 11, 44, "(02-80)"},
    {0, 12, 44, " (00-15)"},
    {0, 16, 2, "Tab/Shift-Tab: move   Up/Down: step or choose   Space: select"},
    {0, 17, 2, "Enter: OK   Esc: Cancel"},
};

// The window the dialog, its key lines and an error message below it need.
constexpr int kLeastColumns = 64;
constexpr int kLeastRows = 23;
constexpr int kErrorRow = 19;

constexpr const char* kRadioCaptions[] = {"16 - bits", "32 - bits", "Float", "String", "Digital"};

int64_t NowMs() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

const FieldPlace* FieldPlaceOf(int control) {
    for (const FieldPlace& place : kFieldPlaces)
        if (place.field == control) return &place;
    return nullptr;
}

int RadioIndexOf(int control) {
    for (int i = 0; i < kRadioCount; ++i)
        if (kRadios[i] == control) return i;
    return -1;
}

class TerminalDialog final : public DialogSurface {
  public:
    explicit TerminalDialog(TerminalSession& terminal) : terminal_(terminal) {}

    int Run();

    size_t ReadText(int control, char* text, size_t capacity) override {
        return controls_.Read(control, text, capacity);
    }
    void WriteText(int control, const char* text) override { controls_.Write(control, text); }
    void Enable(int control, bool enabled) override { controls_.SetEnabled(control, enabled); }
    void LimitText(int control, size_t characters) override {
        controls_.Limit(control, characters);
    }
    void Click(int button) override {
        if (RadioIndexOf(button) >= 0) controls_.Check(button);
        Logic().Command(button);
    }
    void ShowError(const char* message) override;
    void End(int result) override {
        result_ = result;
        ended_ = true;
    }

  private:
    TagFormatDialog Logic() { return TagFormatDialog(DriverTagFormatState(), *this); }
    Key WaitKey();
    void HandleKey(const Key& key);
    void StepField(int scroll_code);
    void MoveRadio(int direction);
    void MoveFocus(int direction);
    void Draw();
    void DrawControl(int control, int row, int column, const char* text);

    TerminalSession& terminal_;
    StoredControls controls_;
    int focus_ = IDC_BLOCK_FIELD;
    bool replace_on_type_ = true;  // a field just entered has its text selected
    bool ended_ = false;
    bool idle_ = false;
    int result_ = kNotShown;
    int64_t last_key_ms_ = 0;
};

int TerminalDialog::Run() {
    last_key_ms_ = NowMs();
    Logic().Init();
    while (!ended_) {
        Draw();
        const Key key = WaitKey();
        if (key.code == KeyCode::kLost || terminal_.lost()) return kNotShown;
        if (idle_) return kDialogCancel;
        HandleKey(key);
        if (terminal_.lost()) return kNotShown;
        if (idle_) return kDialogCancel;
    }
    return result_;
}

Key TerminalDialog::WaitKey() {
    for (;;) {
        const Key key = terminal_.ReadKey(kKeyWaitMs);
        if (key.code == KeyCode::kNone && terminal_.Refresh()) Draw();
        if (key.code != KeyCode::kNone) {
            last_key_ms_ = NowMs();
            return key;
        }
        if (NowMs() - last_key_ms_ >= kIdleLimitMs) {
            idle_ = true;
            return key;
        }
    }
}

void TerminalDialog::HandleKey(const Key& key) {
    const bool in_field = FieldPlaceOf(focus_) != nullptr;
    switch (key.code) {
        case KeyCode::kTab:
            MoveFocus(1);
            break;
        case KeyCode::kBackTab:
            MoveFocus(-1);
            break;
        case KeyCode::kEscape:
        case KeyCode::kInterrupt:
            Logic().Command(IDC_CANCEL_BUTTON);
            break;
        case KeyCode::kEnter:
            Logic().Command(focus_ == IDC_CANCEL_BUTTON ? IDC_CANCEL_BUTTON : IDC_OK_BUTTON);
            break;
        case KeyCode::kSpace:
            if (RadioIndexOf(focus_) >= 0) Click(focus_);
            if (focus_ == IDC_OK_BUTTON || focus_ == IDC_CANCEL_BUTTON) Logic().Command(focus_);
            break;
        case KeyCode::kUp:
        case KeyCode::kDown: {
            const int code = key.code == KeyCode::kUp ? kArrowUp : kArrowDown;
            if (in_field) StepField(code);
            if (RadioIndexOf(focus_) >= 0) MoveRadio(code == kArrowUp ? -1 : 1);
            break;
        }
        case KeyCode::kBackspace:
            if (!in_field) break;
            if (replace_on_type_) controls_.EraseAll(focus_);
            controls_.EraseLast(focus_);
            replace_on_type_ = false;
            break;
        case KeyCode::kCharacter:
            if (!in_field || key.character < '0' || key.character > '9') break;
            if (replace_on_type_) controls_.EraseAll(focus_);
            controls_.Type(focus_, key.character);
            replace_on_type_ = false;
            break;
        default:
            break;
    }
}

void TerminalDialog::StepField(int scroll_code) {
    const FieldPlace* place = FieldPlaceOf(focus_);
    if (place == nullptr || !controls_.Enabled(place->arrows)) return;
    Logic().Scroll(place->arrows, scroll_code);
    replace_on_type_ = true;
}

// Up and Down on a data type button move to the neighbouring button and
// select it, as arrow keys do within a group of radio buttons.
void TerminalDialog::MoveRadio(int direction) {
    const int index = RadioIndexOf(focus_);
    focus_ = kRadios[(index + direction + kRadioCount) % kRadioCount];
    Click(focus_);
}

void TerminalDialog::MoveFocus(int direction) {
    int index = 0;
    while (index < kFocusCount && kFocusOrder[index] != focus_)
        ++index;
    // The data type buttons are one stop, reached at the checked button.
    for (int tries = 0; tries < kFocusCount; ++tries) {
        index = (index + direction + kFocusCount) % kFocusCount;
        const int control = kFocusOrder[index];
        const bool radio = RadioIndexOf(control) >= 0;
        if (controls_.Enabled(control) && (!radio || controls_.Checked() == control)) break;
    }
    focus_ = kFocusOrder[index];
    replace_on_type_ = true;
}

void TerminalDialog::DrawControl(int control, int row, int column, const char* text) {
    terminal_.MoveTo(row, column);
    if (!controls_.Enabled(control)) terminal_.Put("\x1b[2m");
    if (control == focus_) terminal_.Put("\x1b[7m");
    terminal_.Put(text);
    terminal_.Put("\x1b[0m");
}

// Every control is drawn over its old place; only the area below the
// dialog, where messages appear, is cleared.
void TerminalDialog::Draw() {
    // Drawn into a smaller window, the form would wrap into a plausible
    // looking one with its fields beside the wrong labels.
    const int rows = terminal_.rows();
    const int columns = terminal_.columns();
    if ((rows != 0 && rows < kLeastRows) || (columns != 0 && columns < kLeastColumns)) {
        char text[120];
        std::snprintf(text, sizeof text,
                      "Tag Format needs a window of %d x %d; this one is %d x %d. Esc: Cancel",
                      kLeastColumns, kLeastRows, columns, rows);
        terminal_.Put("\x1b[0m\x1b[2J");
        terminal_.MoveTo(1, 1);
        terminal_.Put(text);
        terminal_.Flush();
        return;
    }
    terminal_.Put("\x1b[0m");
    terminal_.MoveTo(15, 1);
    terminal_.Put("\x1b[J");
    terminal_.MoveTo(1, 1);
    terminal_.Put("+------------------------ Tag Format ------------------------+");
    for (int row = 2; row <= 13; ++row) {
        terminal_.MoveTo(row, 1);
        terminal_.Put("|");
        terminal_.MoveTo(row, 62);
        terminal_.Put("|");
    }
    terminal_.MoveTo(14, 1);
    terminal_.Put("+------------------------------------------------------------+");
    for (const TextPlace& place : kTexts) {
        terminal_.MoveTo(place.row, place.column);
        if (place.control != 0 && !controls_.Enabled(place.control)) terminal_.Put("\x1b[2m");
        terminal_.Put(place.text);
        terminal_.Put("\x1b[0m");
    }
    for (const FieldPlace& place : kFieldPlaces) {
        char box[16];
        std::snprintf(box, sizeof box, "[%-*.7s]", place.width, controls_.Text(place.field));
        DrawControl(place.field, place.row, place.column, box);
        DrawControl(place.arrows, place.row, place.column + place.width + 3, "^v");
    }
    for (int i = 0; i < kRadioCount; ++i) {
        char radio[24];
        std::snprintf(radio, sizeof radio, "(%c) %s", controls_.Checked() == kRadios[i] ? '*' : ' ',
                      kRadioCaptions[i]);
        DrawControl(kRadios[i], 8 + i, 5, radio);
    }
    DrawControl(IDC_OK_BUTTON, 13, 36, "[   OK   ]");
    DrawControl(IDC_CANCEL_BUTTON, 13, 48, "[ Cancel ]");
    terminal_.Flush();
}

// A modal message below the dialog; Enter, Space or Escape dismisses it.
// The text is written in one run so the terminal wraps a long one.
void TerminalDialog::ShowError(const char* message) {
    Draw();
    terminal_.MoveTo(kErrorRow, 1);
    terminal_.Put("\x1b[J+-- Error --\r\n");
    terminal_.Put(message);
    terminal_.Put("\r\n\r\n\x1b[7m[   OK   ]\x1b[0m");
    terminal_.Flush();
    for (;;) {
        const Key key = WaitKey();
        if (key.code == KeyCode::kLost || terminal_.lost() || idle_) return;
        if (key.code == KeyCode::kEnter || key.code == KeyCode::kSpace ||
            key.code == KeyCode::kEscape || key.code == KeyCode::kInterrupt)
            return;
    }
}

}  // namespace

unsigned long CurrentThreadNumber() {
    return static_cast<unsigned long>(syscall(SYS_gettid));
}

int ShowTagFormatDialog(void*) {
    TerminalSession terminal;
    if (!terminal.Open()) return kNotShown;
    TerminalDialog dialog(terminal);
    const int result = dialog.Run();
    terminal.Close();
    return result;
}

}  // namespace morvane
