#include "browse/stored_controls.h"

#include <cstring>

#include "browse/tag_format_resource.h"

namespace morvane {
namespace {

// Every control with an id; all start enabled, as the resource creates them.
constexpr int kControlIds[] = {
    IDC_BLOCK_FIELD,   IDC_LOCATION_FIELD,  IDC_TYPE_16_BITS,   IDC_TYPE_32_BITS, IDC_TYPE_FLOAT,
    IDC_TYPE_STRING,   IDC_TYPE_DIGITAL,    IDC_LENGTH_FIELD,   IDC_BIT_FIELD,    IDC_OK_BUTTON,
    IDC_CANCEL_BUTTON, IDC_BLOCK_LABEL,     IDC_LOCATION_LABEL, IDC_BLOCK_ARROWS, IDC_BIT_LABEL,
    IDC_LENGTH_LABEL,  IDC_LOCATION_ARROWS, IDC_LENGTH_ARROWS,  IDC_BIT_ARROWS,
};

constexpr int kFieldIds[] = {IDC_BLOCK_FIELD, IDC_LOCATION_FIELD, IDC_LENGTH_FIELD, IDC_BIT_FIELD};

}  // namespace

StoredControls::StoredControls() {
    static_assert(sizeof kControlIds / sizeof kControlIds[0] ==
                  sizeof switches_ / sizeof switches_[0]);
    static_assert(sizeof kFieldIds / sizeof kFieldIds[0] == sizeof fields_ / sizeof fields_[0]);
    for (size_t i = 0; i < sizeof fields_ / sizeof fields_[0]; ++i)
        fields_[i] = Field{kFieldIds[i], {}, kTextCapacity - 1};
    for (size_t i = 0; i < sizeof switches_ / sizeof switches_[0]; ++i)
        switches_[i] = Switch{kControlIds[i], true};
}

size_t StoredControls::Read(int control, char* text, size_t capacity) const {
    if (capacity == 0) return 0;
    const Field* field = FieldOf(control);
    const char* source = field != nullptr ? field->text : "";
    size_t length = 0;
    while (source[length] != '\0' && length + 1 < capacity) {
        text[length] = source[length];
        ++length;
    }
    text[length] = '\0';
    return length;
}

void StoredControls::Write(int control, const char* text) {
    Field* field = FieldOf(control);
    if (field == nullptr) return;
    std::strncpy(field->text, text, kTextCapacity - 1);
    field->text[kTextCapacity - 1] = '\0';
}

const char* StoredControls::Text(int control) const {
    const Field* field = FieldOf(control);
    return field != nullptr ? field->text : "";
}

bool StoredControls::Type(int control, char digit) {
    Field* field = FieldOf(control);
    if (field == nullptr || digit < '0' || digit > '9') return false;
    const size_t length = std::strlen(field->text);
    if (length >= field->limit || length + 1 >= kTextCapacity) return false;
    field->text[length] = digit;
    field->text[length + 1] = '\0';
    return true;
}

void StoredControls::EraseLast(int control) {
    Field* field = FieldOf(control);
    if (field == nullptr) return;
    const size_t length = std::strlen(field->text);
    if (length > 0) field->text[length - 1] = '\0';
}

void StoredControls::EraseAll(int control) {
    Field* field = FieldOf(control);
    if (field != nullptr) field->text[0] = '\0';
}

void StoredControls::Limit(int control, size_t characters) {
    Field* field = FieldOf(control);
    if (field != nullptr) field->limit = characters;
}

void StoredControls::SetEnabled(int control, bool enabled) {
    for (Switch& entry : switches_)
        if (entry.id == control) entry.enabled = enabled;
}

bool StoredControls::Enabled(int control) const {
    for (const Switch& entry : switches_)
        if (entry.id == control) return entry.enabled;
    return false;
}

StoredControls::Field* StoredControls::FieldOf(int control) {
    for (Field& field : fields_)
        if (field.id == control) return &field;
    return nullptr;
}

const StoredControls::Field* StoredControls::FieldOf(int control) const {
    for (const Field& field : fields_)
        if (field.id == control) return &field;
    return nullptr;
}

}  // namespace morvane
