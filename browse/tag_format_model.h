// The "Tag Format" dialog without a platform: what its controls do on
// initialisation, on every command, on the spin arrows and on OK.
#pragma once

#include <cstddef>
#include <cstdint>

#include "browse/tag_format_resource.h"

namespace morvane {

// Dialog type codes of the five data type buttons.
constexpr int32_t kType16Bits = 16;
constexpr int32_t kType32Bits = 32;
constexpr int32_t kTypeFloat = 100;
constexpr int32_t kTypeString = 1000;
constexpr int32_t kTypeDigital = 5;

// Results the dialog ends with.
constexpr int kDialogOk = 1;
constexpr int kDialogCancel = 2;

// Scroll codes of the upper and lower spin arrow.
constexpr int kArrowUp = 0;
constexpr int kArrowDown = 1;

// The longest address the dialog composes, without its NUL (010004S08).
constexpr size_t kComposedAddressLength = 9;

// Process-wide state of the dialog: one copy for the loaded driver. The
// texts and the type code keep their last values after the dialog ends.
struct TagFormatState {
    int32_t browse_once;  // set (atomically) by the first BrowseAddress0, never cleared
    int32_t type_code;
    char block_text[10];
    char location_text[10];
    char composed_address[16];
};

TagFormatState& DriverTagFormatState();

// The dialog's controls as a platform presents them.
class DialogSurface {
  public:
    // Copies at most capacity - 1 characters of the control's text and a NUL;
    // returns the number of characters copied.
    virtual size_t ReadText(int control, char* text, size_t capacity) = 0;
    virtual void WriteText(int control, const char* text) = 0;
    virtual void Enable(int control, bool enabled) = 0;
    // Limits what the user can type into an edit field.
    virtual void LimitText(int control, size_t characters) = 0;
    // Clicks a button as the user would; the front passes it on to Command.
    virtual void Click(int button) = 0;
    // Shows an error message and returns once the user has dismissed it.
    virtual void ShowError(const char* message) = 0;
    virtual void End(int result) = 0;

  protected:
    ~DialogSurface() = default;
};

// The dialog's logic. Holds no state of its own, so a front may make one per
// message it handles.
class TagFormatDialog {
  public:
    TagFormatDialog(TagFormatState& state, DialogSurface& surface)
        : state_(state), surface_(surface) {}

    void Init();
    void Command(int control);
    // A click on the spin arrows `arrows` with a scroll code; codes other
    // than kArrowUp and kArrowDown are ignored.
    void Scroll(int arrows, int scroll_code);

  private:
    void SelectType(int32_t type_code, bool length_enabled, bool bit_enabled);
    void Ok();
    bool CheckPresence();
    bool CheckTypeFields();
    bool CheckRanges();
    void ComposeAddress();
    bool Refuse(const char* message);
    // Reads a field with room for three characters.
    size_t ReadShort(int control, char (&text)[4]);

    TagFormatState& state_;
    DialogSurface& surface_;
};

// Value of the leading decimal digits of a text; 0 when it has none.
int32_t LeadingDecimal(const char* text);

}  // namespace morvane
