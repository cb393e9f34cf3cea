#include "foundation/phone_book.h"

#include "data/table/system_tables.h"
#include "foundation/dialogs.h"
#include "foundation/form_controls.h"
#include "foundation/form_placement.h"
#include "foundation/program_folders.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace zn::foundation {

namespace {


} // namespace

TPhoneBookEditor::TPhoneBookEditor(QWidget* parent) : QDialog(parent)
{
    setObjectName("TPhoneBookEditor");
    setWindowTitle("Phone Book Editor");
    setFont(QFont("Arial", 9));
    Name = MakeEdit<QLineEdit>(this, "Name", 35, "Type the recipient's name here");
    Number = MakeEdit<QLineEdit>(this, "Number", 25, "Type the fax number here");
    OKButton = MakeButton(this, "OKButton", "&Accept", "Accept changes made and exit");
    OKButton->setDefault(true);
    Cancelbutton = MakeButton(this, "Cancelbutton", "Cance&l", "Cancel changes made and exit");
    Helpbutton = MakeButton(this, "Helpbutton", "&Help", "Get Windows help for Phone Book Editor");
    auto* form = new QFormLayout;
    form->addRow("Name", Name);
    form->addRow("Fax Number", Number);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(ButtonRow({OKButton, Cancelbutton, Helpbutton}));
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { done(2); });
    connect(Helpbutton, &QPushButton::clicked, this, [] { ShowHelpContext(kPhoneBookEditorHelpContext); });
}

TPhoneBook::TPhoneBook(QWidget* parent) : QDialog(parent)
{
    setObjectName("TPhoneBook");
    setWindowTitle("Phone Book Browser");
    setFont(QFont("Arial", 9));
    resize(520, 360);
    PhoneVeldrane.SetDataSource(&PhoneDataSource);
    PhoneGrid = new data::TDBGrid(this);
    PhoneGrid->setObjectName("PhoneGrid");
    PhoneGrid->View()->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Addbutton = MakeButton(this, "Addbutton", "&New", "Create a new phone book entry");
    Modifybutton = MakeButton(this, "Modifybutton", "&Edit", "Edit the currently selected phone book entry");
    Deletebutton = MakeButton(this, "Deletebutton", "&Delete", "Delete the currently selected phone book entry");
    Closebutton = MakeButton(this, "Closebutton", "C&lose", "Close the Phone Book Browser");
    Cancelbutton = MakeButton(this, "Cancelbutton", "Cance&l", "Cancel - do not use any of these phone book entries");
    Cancelbutton->setVisible(false);
    OKButton = MakeButton(this, "OKButton", "&Accept", "Use this phone book entry");
    OKButton->setVisible(false);
    OKButton->setDefault(true);
    Helpbutton = MakeButton(this, "Helpbutton", "&Help", "Get Windows help for Phonebook Browser");
    auto* side = new QVBoxLayout;
    for (QPushButton* b : {Addbutton, Modifybutton, Deletebutton})
        side->addWidget(b);
    side->addStretch();
    for (QPushButton* b : {OKButton, Cancelbutton, Closebutton, Helpbutton})
        side->addWidget(b);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(PhoneGrid, 1);
    layout->addLayout(side);
    connect(Addbutton, &QPushButton::clicked, this, [this] { AddbuttonClick(); });
    connect(Modifybutton, &QPushButton::clicked, this, [this] { ModifyButtonClick(); });
    connect(Deletebutton, &QPushButton::clicked, this, [this] { DeleteButtonClick(); });
    connect(OKButton, &QPushButton::clicked, this, [this] { AcceptbuttonClick(); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { done(2); });
    connect(Closebutton, &QPushButton::clicked, this, [this] { done(2); });
    connect(Helpbutton, &QPushButton::clicked, this, [] { ShowHelpContext(kPhoneBookHelpContext); });
    PhoneGrid->OnDblClick = [this](const std::string&) {
        if (OKButton->isVisibleTo(this) && OKButton->isEnabled())
            AcceptbuttonClick();
    };
}

TPhoneBook::~TPhoneBook()
{
    PhoneGrid->SetDataSource(nullptr);
    PhoneTable.Close();
}

bool TPhoneBook::Open(bool exclusive)
{
    try {
        if (!data::OpenPhoneDBF(PhoneTable, PhoneVeldrane, exclusive, GetProgramFolder()))
            return false;
    } catch (const std::exception&) {
        return false;
    }
    data::ApplyFieldLabels(PhoneTable, data::PhoneFields());
    PhoneTable.FieldByName("NAME").SetDisplayLabel("Name");
    PhoneTable.FieldByName("PHONE").SetDisplayLabel("Fax #");
    PhoneGrid->SetDataSource(&PhoneDataSource);
    PhoneGrid->SetColumnWidths({230, 150});
    return true;
}

void TPhoneBook::SetPickMode()
{
    Closebutton->setVisible(false);
    OKButton->setVisible(true);
    Cancelbutton->setVisible(true);
}

bool TPhoneBook::HasRows() { return PhoneTable.Active() && PhoneVeldrane.QueryRecCount() > 0; }

void TPhoneBook::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormActivate();
}

void TPhoneBook::FormActivate()
{
    QCoreApplication::processEvents();
    const bool rows = HasRows();
    Modifybutton->setEnabled(rows);
    Deletebutton->setEnabled(rows);
    if (OKButton->isVisibleTo(this))
        OKButton->setEnabled(rows);
}

void TPhoneBook::AddbuttonClick()
{
    {
        TPhoneBookEditor editor(this);
        CenterForm(editor);
        if (editor.exec() == 1) {
            PhoneTable.Append();
            PhoneTable.FieldByName("NAME").SetAsString(editor.Name->text().toStdString());
            PhoneTable.FieldByName("PHONE").SetAsString(editor.Number->text().toStdString());
            PhoneTable.Post();
        }
    }
    QCoreApplication::processEvents();
    FormActivate();
}

void TPhoneBook::ModifyButtonClick()
{
    if (!HasRows()) {
        QApplication::beep();
        return;
    }
    TPhoneBookEditor editor(this);
    editor.Name->setText(QString::fromStdString(PhoneTable.FieldByName("NAME").AsString()));
    editor.Number->setText(QString::fromStdString(PhoneTable.FieldByName("PHONE").AsString()));
    CenterForm(editor);
    if (editor.exec() != 1)
        return;
    PhoneTable.Edit();
    PhoneTable.FieldByName("NAME").SetAsString(editor.Name->text().toStdString());
    PhoneTable.FieldByName("PHONE").SetAsString(editor.Number->text().toStdString());
    PhoneTable.Post();
}

void TPhoneBook::DeleteButtonClick()
{
    if (!HasRows()) {
        QApplication::beep();
        return;
    }
    if (AskYesNoDefaultNo("Delete the current phone book entry?:\r" + PhoneTable.FieldByName("NAME").AsString(),
                          "Delete"))
        PhoneTable.Delete();
    PhoneTable.Refresh();
    QCoreApplication::processEvents();
    FormActivate();
}

void TPhoneBook::AcceptbuttonClick()
{
    if (!HasRows())
        return;
    ChosenName = QString::fromStdString(PhoneTable.FieldByName("NAME").AsString());
    ChosenNumber = QString::fromStdString(PhoneTable.FieldByName("PHONE").AsString());
    done(1);
}

} // namespace zn::foundation
