// The application's message boxes and help calls.
#pragma once
#include <string>

namespace zn::foundation {

// Modal box with the Windows message-box flags (platform/message_box.h); returns the button id.
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags);
bool AskYesNo(const std::string& text, const std::string& caption);          // flags 36; true on Yes
bool AskYesNoDefaultNo(const std::string& text, const std::string& caption); // flags 292; true on Yes
void ShowInformation(const std::string& text);                               // "Information", flags 64

// There is no help viewer here: a help call records its context number, which tests and the
// configuration report can read back.
constexpr int kGeneralHelpContext = 10000;
void ShowHelpContext(int context);
void ShowGeneralHelp();
int LastHelpContext(); // 0 before the first help call

} // namespace zn::foundation
