// The dialog's controls kept in memory, for a front that draws them itself:
// the edit fields' texts and limits, the enabled state of every control and
// the checked data type button.
#pragma once

#include <cstddef>

namespace morvane {

class StoredControls {
  public:
    StoredControls();

    // Same contract as DialogSurface::ReadText.
    size_t Read(int control, char* text, size_t capacity) const;
    // Sets a field's text as a program does: the typing limit does not apply.
    void Write(int control, const char* text);
    const char* Text(int control) const;

    // Typing into a field: digits only, up to the field's limit.
    bool Type(int control, char digit);
    void EraseLast(int control);
    void EraseAll(int control);
    void Limit(int control, size_t characters);

    void SetEnabled(int control, bool enabled);
    bool Enabled(int control) const;

    void Check(int radio) { checked_ = radio; }
    int Checked() const { return checked_; }

    static constexpr size_t kTextCapacity = 8;  // the longest text kept, with its NUL

  private:
    struct Field {
        int id;
        char text[kTextCapacity];
        size_t limit;
    };
    struct Switch {
        int id;
        bool enabled;
    };
    Field* FieldOf(int control);
    const Field* FieldOf(int control) const;

    Field fields_[4];
    Switch switches_[19];
    int checked_ = 0;
};

}  // namespace morvane
