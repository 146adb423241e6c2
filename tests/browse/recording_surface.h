// A dialog surface for headless tests: the controls kept in memory, every
// error message and the dialog's result recorded.
#pragma once

#include <string>
#include <vector>

#include "browse/stored_controls.h"
#include "browse/tag_format_model.h"

namespace morvane::test {

class RecordingSurface final : public DialogSurface {
  public:
    RecordingSurface() { Logic().Init(); }

    TagFormatDialog Logic() { return TagFormatDialog(state, *this); }

    size_t ReadText(int control, char* text, size_t capacity) override {
        return controls.Read(control, text, capacity);
    }
    void WriteText(int control, const char* text) override { controls.Write(control, text); }
    void Enable(int control, bool enabled) override { controls.SetEnabled(control, enabled); }
    void LimitText(int control, size_t characters) override { controls.Limit(control, characters); }
    void Click(int button) override {
        controls.Check(button);
        Logic().Command(button);
    }
    void ShowError(const char* message) override { messages.push_back(message); }
    void End(int result_code) override { result = result_code; }

    // Fills the fields as a user would leave them and presses OK.
    void PressOk(int type_button, const char* block, const char* location,
                 const char* length = "02", const char* bit = "00") {
        Click(type_button);
        controls.Write(IDC_BLOCK_FIELD, block);
        controls.Write(IDC_LOCATION_FIELD, location);
        controls.Write(IDC_LENGTH_FIELD, length);
        controls.Write(IDC_BIT_FIELD, bit);
        Logic().Command(IDC_OK_BUTTON);
    }

    TagFormatState state{};
    StoredControls controls;
    std::vector<std::string> messages;
    int result = 0;  // 0 while the dialog is open
};

}  // namespace morvane::test
