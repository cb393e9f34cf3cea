// Message boxes, with a seam through which tests read a box and give the answer.
#pragma once
#include <functional>
#include <string>

namespace zn::platform {

// Buttons and icons as the Windows MessageBox flags; answers as its IDOK.. results.
enum MbFlags : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_ABORTRETRYIGNORE = 0x2,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5,
    MB_ICONHAND = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONASTERISK = 0x40,
    MB_DEFBUTTON2 = 0x100,
    MB_DEFBUTTON3 = 0x200
};
constexpr unsigned MB_ICONERROR = MB_ICONHAND;
constexpr unsigned MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr unsigned MB_ICONINFORMATION = MB_ICONASTERISK;
enum MbResult : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

// Shows a modal box on the GUI thread (from another thread, that thread waits for the answer) and
// returns the answer. Lines may be separated by "\r", "\r\n" or "\n". Esc answers IDCANCEL when
// there is a Cancel button, IDOK for a lone OK; a box closed otherwise answers IDCANCEL (IDNO for
// Yes/No). Without a QApplication the box goes to stderr and the default button answers.
int MessageBoxShow(const std::string& text, const std::string& caption, unsigned flags);

// Tests: every box goes to the hook instead of the screen, on the calling thread, with text and
// caption exactly as given; the hook's result is the answer.
using MessageBoxHook = std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;
void SetMessageBoxHook(MessageBoxHook hook); // empty hook: show on screen again

} // namespace zn::platform
