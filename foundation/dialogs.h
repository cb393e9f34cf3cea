// The application's message boxes and help calls.
#pragma once
#include "foundation/help_contexts.h"

#include <string>

namespace zn::foundation {

// Modal box with the Windows message-box flags (platform/message_box.h); returns the button id.
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags);
bool AskYesNo(const std::string& text, const std::string& caption);          // flags 36; true on Yes
bool AskYesNoDefaultNo(const std::string& text, const std::string& caption); // flags 292; true on Yes
void ShowInformation(const std::string& text);                               // "Information", flags 64

// Open the program's help window at the topic of a help context number (help_contexts.h); a number
// the help book does not know opens its contents.
void ShowHelpContext(int context);
void ShowGeneralHelp(); // the Problem Solver

} // namespace zn::foundation
