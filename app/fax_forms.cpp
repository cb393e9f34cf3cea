#include "app/fax_forms.h"

#include "app/form_controls.h"

#include "data/table/system_tables.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/gui/enter_edit.h"
#include "foundation/program_folders.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace zn::app {

namespace {

using foundation::kFaxEditorHelpContext;

} // namespace

TFaxEditor::TFaxEditor(QWidget* parent) : QDialog(parent)
{
    using foundation::gui::TEnterEdit;
    setObjectName("TFaxEditor");
    setWindowTitle("Fax Information Editor");
    setFont(QFont("Arial", 9));
    Recipient = MakeEdit<TEnterEdit>(this, "Recipient", 35);
    FaxNumber = MakeEdit<TEnterEdit>(this, "FaxNumber", 25);
    Subject = MakeEdit<TEnterEdit>(this, "Subject", 50);
    Notes = MakeEdit<TEnterEdit>(this, "Notes", 50);
    Codes = MakeEdit<TEnterEdit>(this, "Codes", 25);
    AddressButton = MakeButton(this, "AddressButton", "&Phonebook", "Click here to access the Phone Book");
    OKButton = MakeButton(this, "OKButton", "&Accept", "Ok - save changes to this fax");
    OKButton->setDefault(true);
    CancelButton = MakeButton(this, "CancelButton", "Cance&l", "Cancel - do not save changes to this fax");
    Helpbutton = MakeButton(this, "Helpbutton", "&Help", "Get Windows help for Fax Editor");
    auto* form = new QFormLayout;
    auto* recipientRow = new QHBoxLayout;
    recipientRow->addWidget(Recipient, 1);
    recipientRow->addWidget(AddressButton);
    form->addRow("Recipient", recipientRow);
    form->addRow("Recipient Fax#", FaxNumber);
    form->addRow("Regarding", Subject);
    form->addRow("Notes", Notes);
    form->addRow("Codes", Codes);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addSpacing(6);
    layout->addLayout(ButtonRow({OKButton, CancelButton, Helpbutton}));
    layout->setSizeConstraint(QLayout::SetFixedSize);
    TabOrder({Recipient, AddressButton, FaxNumber, Subject, Notes, Codes, OKButton, CancelButton, Helpbutton});
    connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { done(2); });
    connect(Helpbutton, &QPushButton::clicked, this, [] { foundation::ShowHelpContext(kFaxEditorHelpContext); });
    connect(AddressButton, &QPushButton::clicked, this, [this] { AddressButtonClick(); });
    foundation::CenterForm(*this);
}

bool PickPhoneBookEntry(QWidget* parent, QLineEdit* name, QLineEdit* number)
{
    TPhoneBook book(parent);
    if (!book.Open(false))
        return false;
    foundation::CenterForm(book);
    book.SetPickMode();
    if (book.exec() != 1)
        return false;
    name->setText(book.ChosenName);
    number->setText(book.ChosenNumber);
    return true;
}

void TFaxEditor::AddressButtonClick() { PickPhoneBookEntry(this, Recipient, FaxNumber); }

TEditReceiveNotes::TEditReceiveNotes(QWidget* parent) : QDialog(parent)
{
    setObjectName("TEditReceiveNotes");
    setWindowTitle("Received Fax Notes");
    setFont(QFont("Arial", 9));
    Descript = new QLabel(this);
    Descript->setObjectName("Descript");
    Notes = MakeEdit<QLineEdit>(this, "Notes", 60);
    OKButton = MakeButton(this, "OKButton", "&Accept");
    OKButton->setDefault(true);
    Cancelbutton = MakeButton(this, "Cancelbutton", "Cancel");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Descript);
    layout->addWidget(Notes);
    layout->addLayout(ButtonRow({OKButton, Cancelbutton}));
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { done(2); });
}

} // namespace zn::app
