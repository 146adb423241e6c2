// The "Tag Format" dialog as a Windows dialog box (resource 101 of the
// driver's own module); every message goes through the platform-free logic.
#include <windows.h>

#include "browse/tag_format_front.h"
#include "browse/tag_format_model.h"

namespace morvane {
namespace {

class ControlSurface final : public DialogSurface {
  public:
    explicit ControlSurface(HWND dialog) : dialog_(dialog) {}

    size_t ReadText(int control, char* text, size_t capacity) override {
        if (capacity == 0) return 0;
        text[0] = '\0';
        const int length =
            GetWindowTextA(GetDlgItem(dialog_, control), text, static_cast<int>(capacity));
        return length > 0 ? static_cast<size_t>(length) : 0;
    }
    void WriteText(int control, const char* text) override {
        SetWindowTextA(GetDlgItem(dialog_, control), text);
    }
    void Enable(int control, bool enabled) override {
        EnableWindow(GetDlgItem(dialog_, control), enabled ? TRUE : FALSE);
    }
    void LimitText(int control, size_t characters) override {
        SendMessageA(GetDlgItem(dialog_, control), EM_LIMITTEXT, characters, 0);
    }
    // The click comes back to the dialog procedure as WM_COMMAND.
    void Click(int button) override { SendDlgItemMessageA(dialog_, button, BM_CLICK, 0, 0); }
    void ShowError(const char* message) override { MessageBoxA(dialog_, message, "Error", MB_OK); }
    void End(int result) override { EndDialog(dialog_, result); }

  private:
    HWND dialog_;
};

// The id of the spin arrows whose scroll bar window sent WM_VSCROLL.
int ArrowsOf(HWND dialog, HWND scroll_bar) {
    static constexpr int kArrows[] = {IDC_BLOCK_ARROWS, IDC_LOCATION_ARROWS, IDC_LENGTH_ARROWS,
                                      IDC_BIT_ARROWS};
    for (int arrows : kArrows)
        if (GetDlgItem(dialog, arrows) == scroll_bar) return arrows;
    return 0;
}

}  // namespace

INT_PTR CALLBACK TagFormatDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    ControlSurface surface(dialog);
    TagFormatDialog logic(DriverTagFormatState(), surface);
    switch (message) {
        case WM_INITDIALOG:
            logic.Init();
            return TRUE;
        case WM_COMMAND:
            logic.Command(LOWORD(wparam));
            return TRUE;
        case WM_VSCROLL:
            logic.Scroll(ArrowsOf(dialog, reinterpret_cast<HWND>(lparam)), LOWORD(wparam));
            return FALSE;
        default:
            return FALSE;
    }
}

unsigned long CurrentThreadNumber() {
    return GetCurrentThreadId();
}

int ShowTagFormatDialog(void* owner_window) {
    HINSTANCE module = GetModuleHandleA("MORVANE.DLL");
    const INT_PTR result = DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_TAG_FORMAT),
                                           static_cast<HWND>(owner_window), TagFormatDialogProc, 0);
    return static_cast<int>(result);
}

}  // namespace morvane
