#include "foundation/dialogs.h"

#include "platform/message_box.h"

#include "foundation/help_window.h"

namespace zn::foundation {

int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags)
{
    return platform::MessageBoxShow(text, caption, flags);
}

bool AskYesNo(const std::string& text, const std::string& caption)
{
    return ShowMessageBox(text, caption, platform::MB_YESNO | platform::MB_ICONQUESTION) == platform::IDYES;
}

bool AskYesNoDefaultNo(const std::string& text, const std::string& caption)
{
    return ShowMessageBox(text, caption, platform::MB_YESNO | platform::MB_ICONQUESTION | platform::MB_DEFBUTTON2)
           == platform::IDYES;
}

void ShowInformation(const std::string& text)
{
    ShowMessageBox(text, "Information", platform::MB_ICONASTERISK | platform::MB_OK);
}

void ShowHelpContext(int context) { OpenHelp(context); }

void ShowGeneralHelp() { ShowHelpContext(kGeneralHelpContext); }

} // namespace zn::foundation
