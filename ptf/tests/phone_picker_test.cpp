// The job dialog's phone book: the picker over a real ZNPB in the program folder, opened with the
// "&Phone Book" button and answered as a user would, the table read back with dbfread.
#include "ptf/main_form.h"
#include "ptf/phone_picker.h"

#include "data/gui/db_grid.h"
#include "foundation/help_window.h"
#include "foundation/program_folders.h"
#include "foundation/tests/modal_driver.h"
#include "foundation/tests/test_support.h"
#include "platform/message_box.h"

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace zn::ptf {
namespace {

using foundation::test::ModalDriver;

void ClickIn(QWidget* dialog, const char* name)
{
    auto* button = dialog->findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

// Clicks the row of the grid that shows this name, as a user picks it.
void ClickRow(QWidget* picker, const QString& name)
{
    auto* grid = picker->findChild<data::TDBGrid*>("PhoneGrid");
    ASSERT_NE(grid, nullptr);
    QTableView* view = grid->View();
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        const QModelIndex index = view->model()->index(row, 0);
        if (view->model()->data(index).toString().trimmed() == name) {
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
            return;
        }
    }
    ADD_FAILURE() << "no row " << name.toStdString();
}

// The rows of ZNPB.DBF that are not marked deleted, as "NAME|PHONE".
std::string PhoneRows()
{
    QProcess p;
    p.start("/usr/bin/python3",
            {"-c",
             "import sys, dbfread; print(';'.join(r['NAME'] + '|' + r['PHONE'] for r in dbfread.DBF(sys.argv[1])))",
             QString::fromStdString(foundation::GetProgramFolder() + "ZNPB.DBF")});
    p.waitForFinished(20000);
    return p.readAllStandardOutput().trimmed().toStdString();
}

class PhonePicker : public ::testing::Test {
protected:
    PhonePicker()
    {
        platform::SetMessageBoxHook([this](const std::string& text, const std::string& caption, unsigned) {
            boxes.push_back(caption + ": " + text);
            return int(platform::IDOK);
        });
    }
    ~PhonePicker() override { platform::SetMessageBoxHook({}); }

    // Adds entries through the picker's own New button and editor.
    void AddEntries(std::initializer_list<std::pair<QString, QString>> entries)
    {
        TMainScreen picker;
        ASSERT_TRUE(picker.FormCreate());
        for (const auto& [name, number] : entries) {
            ModalDriver driver;
            driver.Then([&](QWidget* editor) {
                EXPECT_EQ(editor->windowTitle(), "Phone Book Editor");
                editor->findChild<QLineEdit*>("Name")->setText(name);
                editor->findChild<QLineEdit*>("Number")->setText(number);
                ClickIn(editor, "OKButton");
            });
            picker.Addbutton->click();
        }
    }

    foundation::test::TempHome home;
    std::vector<std::string> boxes;
};

TEST_F(PhonePicker, ThePickerHasItsOwnCaptionAndHintsAndOnlyPicks)
{
    TMainScreen picker;
    ASSERT_TRUE(picker.FormCreate());
    picker.show();
    EXPECT_EQ(picker.windowTitle(), "Tarvel Printer Driver - Select Phone Number ");
    EXPECT_FALSE(picker.Closebutton->isVisible());
    EXPECT_TRUE(picker.OKButton->isVisible());
    EXPECT_EQ(picker.OKButton->text(), "&Accept");
    EXPECT_EQ(picker.OKButton->toolTip(), "Use this phone book entry for the current fax");
    EXPECT_EQ(picker.Cancelbutton->toolTip(),
              "Cancel - do not use any of these phone book entries\nfor the current fax");
    EXPECT_EQ(picker.Addbutton->toolTip(), "Create a new phone book entry");
    // An empty book (made on the spot): nothing to edit, delete or accept.
    EXPECT_FALSE(picker.Modifybutton->isEnabled());
    EXPECT_FALSE(picker.Deletebutton->isEnabled());
    EXPECT_FALSE(picker.OKButton->isEnabled());
    EXPECT_EQ(PhoneRows(), "");
}

TEST_F(PhonePicker, ThePhoneBookButtonFillsRecipientAndNumberFromTheChosenEntry)
{
    AddEntries({{"Bolt Brothers", "555-0102"}, {"Acme Supplies", "555-0101"}, {"Carter & Sons", "555-0103"}});
    EXPECT_EQ(PhoneRows(), "Bolt Brothers|555-0102;Acme Supplies|555-0101;Carter & Sons|555-0103");

    TGetDataForm dialog;
    dialog.show();
    dialog.Recipient->setText("typed name");
    dialog.Subject->setText("Offer");
    ModalDriver driver;
    // Cancel leaves the fields as they were.
    driver.Then([](QWidget* picker) {
        EXPECT_EQ(picker->objectName(), "TMainScreen");
        ClickIn(picker, "Cancelbutton");
    });
    dialog.Button2->click();
    EXPECT_EQ(dialog.Recipient->text(), "typed name");
    EXPECT_EQ(dialog.Phone->text(), "");

    driver.Then([](QWidget* picker) {
        ClickRow(picker, "Bolt Brothers");
        ClickIn(picker, "OKButton");
    });
    dialog.Button2->click();
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(dialog.Recipient->text(), "Bolt Brothers");
    EXPECT_EQ(dialog.Phone->text(), "555-0102");
    EXPECT_EQ(dialog.Subject->text(), "Offer");

    // A new entry made in the picker is the one accepted.
    driver.Then([](QWidget* picker) {
        ModalDriver editorDriver;
        editorDriver.Then([](QWidget* editor) {
            editor->findChild<QLineEdit*>("Name")->setText("Delta Freight");
            editor->findChild<QLineEdit*>("Number")->setText("555-0104");
            ClickIn(editor, "OKButton");
        });
        ClickIn(picker, "Addbutton");
        ClickIn(picker, "OKButton");
    });
    dialog.Button2->click();
    EXPECT_EQ(dialog.Recipient->text(), "Delta Freight");
    EXPECT_EQ(dialog.Phone->text(), "555-0104");
    EXPECT_TRUE(boxes.empty());
}

// The picker's and its editor's Help buttons open topics of znptf's own help book written for them, in
// a help window that the modal picker does not block.
TEST_F(PhonePicker, HelpOpensTheControllersOwnTopicsBesideThePicker)
{
    TGetDataForm dialog;
    dialog.show();
    ModalDriver driver;
    QString pickerTopic, pickerTitle, editorTopic;
    bool helpOwnedByPicker = false;
    driver.Then([&](QWidget* picker) {
        ClickIn(picker, "Helpbutton");
        pickerTopic = foundation::ShownHelpTopic();
        pickerTitle = foundation::OpenHelpWindow()->windowTitle();
        helpOwnedByPicker = foundation::OpenHelpWindow()->parentWidget() == picker;
        ModalDriver editorDriver;
        editorDriver.Then([&](QWidget* editor) {
            ClickIn(editor, "Helpbutton");
            editorTopic = foundation::ShownHelpTopic();
            ClickIn(editor, "Cancelbutton");
        });
        ClickIn(picker, "Addbutton");
        ClickIn(picker, "Cancelbutton");
    });
    dialog.Button2->click();
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(pickerTopic, "Selecting a phone number");
    EXPECT_EQ(pickerTitle, "Selecting a phone number - Tarvel Print To Fax Help");
    EXPECT_TRUE(helpOwnedByPicker);
    EXPECT_EQ(editorTopic, "Phone Book Editor");
    foundation::OpenHelpWindow()->close();
    foundation::SetHelpBook("zn");
}

TEST_F(PhonePicker, AnUnreadablePhoneBookIsSaidAndTheJobDialogStays)
{
    foundation::test::WriteFile(foundation::GetProgramFolder() + "ZNPB.DBF", "this is not a table");
    TGetDataForm dialog;
    dialog.show();
    dialog.Recipient->setText("typed name");
    ModalDriver driver; // no picker may open
    dialog.Button2->click();
    EXPECT_TRUE(driver.Seen().empty());
    EXPECT_EQ(boxes, std::vector<std::string>{"Information: Unable to open or create ZNPB.DBF"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Recipient->text(), "typed name");
    // The file is left as it was.
    EXPECT_EQ(foundation::test::ReadFile(foundation::GetProgramFolder() + "ZNPB.DBF"), "this is not a table");
}

} // namespace
} // namespace zn::ptf
