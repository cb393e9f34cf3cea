#include "ptf/phone_picker.h"

#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/help_window.h"

#include <QPushButton>

namespace zn::ptf {

TMainScreen::TMainScreen(QWidget* parent) : foundation::TPhoneBook(parent)
{
    setObjectName("TMainScreen");
    setWindowTitle("Tarvel Printer Driver - Select Phone Number ");
    OKButton->setToolTip("Use this phone book entry for the current fax");
    Cancelbutton->setToolTip("Cancel - do not use any of these phone book entries\nfor the current fax");
    SetPickMode();
    // The controller's help is its own book beside it, where the picker's Help finds a topic
    // written for the picker.
    foundation::SetHelpBook("znptf");
}

bool TMainScreen::FormCreate()
{
    if (Open(false))
        return true;
    // The controller keeps running: the print job waiting in the job dialog must not be lost.
    foundation::ShowInformation("Unable to open or create ZNPB.DBF");
    return false;
}

bool PickPhoneNumber(QWidget* parent, std::string* name, std::string* phone)
{
    TMainScreen picker(parent);
    if (!picker.FormCreate())
        return false;
    foundation::CenterForm(picker);
    if (picker.exec() != 1)
        return false;
    *name = picker.ChosenName.toStdString();
    *phone = picker.ChosenNumber.toStdString();
    return true;
}

} // namespace zn::ptf
