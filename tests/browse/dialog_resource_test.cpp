// The compiled "Tag Format" dialog resource, read back from the resource
// file and held against the layout the Windows dialog must have.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace morvane::test {
namespace {

// Window, dialog and control styles, as Windows defines them.
constexpr uint32_t kChild = 0x40000000, kVisible = 0x10000000, kTabStop = 0x00010000,
                   kGroup = 0x00020000, kBorder = 0x00800000;
constexpr uint32_t kPopup = 0x80000000, kCaption = 0x00C00000, kSysMenu = 0x00080000,
                   kModalFrame = 0x80, kSetFont = 0x40;
constexpr uint32_t kUpperCase = 0x8, kNumber = 0x2000, kStaticEdge = 0x20000, kAutoHScroll = 0x80;
constexpr uint32_t kAutoRadio = 9, kDefPush = 1, kPush = 0, kGroupBox = 7, kLeftText = 0x100;
constexpr uint32_t kVertical = 1;

// The edit fields scroll their text: with a wider font the last digit still
// goes in.
constexpr uint32_t kEdit = kChild | kVisible | kBorder | kTabStop | kAutoHScroll;

struct ExpectedControl {
    int32_t id;
    const char* class_name;
    const char* caption;
    int16_t x, y, w, h;
    uint32_t style;
    uint32_t ex_style;
};

const ExpectedControl kLayout[] = {
    {1037, "Edit", "", 81, 24, 20, 13, kEdit | kUpperCase | kNumber, kStaticEdge},
    {1007, "Edit", "", 81, 45, 20, 12, kEdit | kUpperCase | kNumber, kStaticEdge},
    {1062, "Button", "16 - bits", 19, 92, 59, 10, kChild | kVisible | kAutoRadio, 0},
    {1063, "Button", "32 - bits", 19, 107, 73, 10, kChild | kVisible | kAutoRadio, 0},
    {1064, "Button", "Float", 19, 123, 35, 10, kChild | kVisible | kAutoRadio, 0},
    {1001, "Button", "String", 19, 140, 34, 8, kChild | kVisible | kAutoRadio, 0},
    {1002, "Button", "Digital", 19, 156, 33, 10, kChild | kVisible | kAutoRadio, 0},
    {1009, "Edit", "", 96, 138, 23, 12, kEdit | kNumber, 0},
    {1010, "Edit", "", 96, 153, 23, 13, kEdit | kNumber, 0},
    {1, "Button", "OK", 175, 142, 35, 14, kChild | kVisible | kTabStop | kDefPush, 0},
    {2, "Button", "Cancel", 175, 160, 35, 14, kChild | kVisible | kTabStop | kPush, 0},
    {-1, "Button", "Data type", 14, 72, 156, 104, kChild | kVisible | kGroupBox | kLeftText, 0},
    {-1, "Button", "Data Block", 14, 7, 156, 60, kChild | kVisible | kGroupBox, 0},
    {1057, "Static", "Block Number ", 19, 26, 62, 8, kChild | kVisible | kGroup, 0},
    {1058, "Static", "Memory Location", 19, 46, 54, 9, kChild | kVisible | kGroup, 0},
    {1036, "ScrollBar", "", 101, 24, 8, 12, kChild | kVisible | kVertical, 0},
    {1055, "Static", "Bit number", 59, 156, 34, 10, kChild | kVisible | kTabStop, 0},
    {1012, "Static", "Length", 60, 140, 22, 8, kChild | kVisible | kGroup, 0},
    {1006, "ScrollBar", "", 101, 45, 8, 12, kChild | kVisible | kVertical, 0},
    {1008, "ScrollBar", "", 119, 138, 8, 12, kChild | kVisible | kVertical, 0},
    {1011, "ScrollBar", "", 119, 153, 8, 13, kChild | kVisible | kVertical, 0},
    {-1, "Static", "(000-255)", 114, 29, 42, 8, kChild | kVisible | kGroup, 0},
    {-1, "Static", "(000-255)", 114, 49, 42, 8, kChild | kVisible | kGroup, 0},
    {-1, "Static", "(02-80)", 132, 142, 29, 8, kChild | kVisible | kGroup, 0},
    {-1, "Static", " (00-15)", 131, 157, 25, 8, kChild | kVisible | kGroup, 0},
};

// Little-endian reader over the resource file's bytes.
class Reader {
  public:
    Reader(const std::vector<uint8_t>& bytes, size_t at) : bytes_(bytes), at_(at) {}
    bool ok() const { return ok_; }
    size_t at() const { return at_; }
    uint16_t U16() {
        if (at_ + 2 > bytes_.size()) return Fail();
        const uint16_t v = static_cast<uint16_t>(bytes_[at_] | bytes_[at_ + 1] << 8);
        at_ += 2;
        return v;
    }
    uint32_t U32() {
        const uint32_t low = U16();
        return low | static_cast<uint32_t>(U16()) << 16;
    }
    int16_t S16() { return static_cast<int16_t>(U16()); }
    // A NUL-terminated UTF-16 text of ASCII characters.
    std::string Text() {
        std::string text;
        for (uint16_t c = U16(); ok_ && c != 0; c = U16())
            text += static_cast<char>(c);
        return text;
    }
    // A name or an ordinal: 0xFFFF and a number, or a text.
    std::string NameOrOrdinal() {
        if (at_ + 2 <= bytes_.size() && bytes_[at_] == 0xFF && bytes_[at_ + 1] == 0xFF) {
            U16();
            return "#" + std::to_string(U16());
        }
        return Text();
    }
    void Align4() { at_ = (at_ + 3) & ~size_t{3}; }

  private:
    uint16_t Fail() {
        ok_ = false;
        at_ = bytes_.size();
        return 0;
    }
    const std::vector<uint8_t>& bytes_;
    size_t at_;
    bool ok_ = true;
};

// Where the data of resource type/name begin in a .res file, or 0.
[[maybe_unused]] size_t FindResource(const std::vector<uint8_t>& bytes, const std::string& type,
                                     const std::string& name) {
    size_t at = 0;
    while (at + 32 <= bytes.size()) {
        Reader header(bytes, at);
        const uint32_t data_size = header.U32();
        const uint32_t header_size = header.U32();
        const std::string entry_type = header.NameOrOrdinal();
        const std::string entry_name = header.NameOrOrdinal();
        if (!header.ok() || header_size < 8) return 0;
        if (entry_type == type && entry_name == name) return at + header_size;
        at = (at + header_size + data_size + 3) & ~size_t{3};
    }
    return 0;
}

[[maybe_unused]] std::string ClassName(const std::string& name_or_atom) {
    if (name_or_atom == "#128") return "Button";
    if (name_or_atom == "#129") return "Edit";
    if (name_or_atom == "#130") return "Static";
    if (name_or_atom == "#132") return "ScrollBar";
    return name_or_atom;
}

TEST(DialogResource, TagFormatIsLaidOutAsTheWindowsDialog) {
#ifndef TAG_FORMAT_RES_PATH
    GTEST_SKIP() << "no resource compiler for the Windows build is installed";
#else
    std::ifstream in(TAG_FORMAT_RES_PATH, std::ios::binary);
    ASSERT_TRUE(in) << TAG_FORMAT_RES_PATH;
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    const size_t start = FindResource(bytes, "#5", "#101");  // RT_DIALOG 101
    ASSERT_NE(start, 0u) << "no dialog 101";

    Reader dialog(bytes, start);
    EXPECT_EQ(dialog.U16(), 1);       // extended template
    EXPECT_EQ(dialog.U16(), 0xFFFF);  // its signature
    dialog.U32();                     // help id
    EXPECT_EQ(dialog.U32(), 0u);      // extended style
    const uint32_t style = dialog.U32();
    EXPECT_EQ(style, kPopup | kCaption | kModalFrame | kSetFont);
    EXPECT_EQ(style & kSysMenu, 0u) << "no system menu";
    const uint16_t count = dialog.U16();
    EXPECT_EQ(dialog.S16(), 0);
    EXPECT_EQ(dialog.S16(), 0);
    EXPECT_EQ(dialog.S16(), 218);
    EXPECT_EQ(dialog.S16(), 186);
    EXPECT_EQ(dialog.NameOrOrdinal(), "");  // no menu
    EXPECT_EQ(dialog.NameOrOrdinal(), "");  // the standard dialog class
    EXPECT_EQ(dialog.Text(), "Tag Format");
    EXPECT_EQ(dialog.U16(), 8);  // points
    dialog.U16();                // weight
    dialog.U16();                // italic, character set
    EXPECT_EQ(dialog.Text(), "MS Sans Serif");
    ASSERT_EQ(count, std::size(kLayout));

    for (const ExpectedControl& expected : kLayout) {
        dialog.Align4();
        dialog.U32();  // help id
        const uint32_t ex_style = dialog.U32();
        const uint32_t control_style = dialog.U32();
        const int16_t x = dialog.S16(), y = dialog.S16(), w = dialog.S16(), h = dialog.S16();
        const int32_t id = static_cast<int32_t>(dialog.U32());
        const std::string class_name = ClassName(dialog.NameOrOrdinal());
        const std::string caption = dialog.NameOrOrdinal();
        const uint16_t extra = dialog.U16();
        ASSERT_TRUE(dialog.ok());
        SCOPED_TRACE("control " + std::to_string(expected.id) + " '" + expected.caption + "'");
        EXPECT_EQ(id, expected.id);
        EXPECT_EQ(class_name, expected.class_name);
        EXPECT_EQ(caption, expected.caption);
        EXPECT_EQ(x, expected.x);
        EXPECT_EQ(y, expected.y);
        EXPECT_EQ(w, expected.w);
        EXPECT_EQ(h, expected.h);
        EXPECT_EQ(control_style, expected.style);
        EXPECT_EQ(ex_style, expected.ex_style);
        EXPECT_EQ(extra, 0);
    }
#endif
}

}  // namespace
}  // namespace morvane::test
