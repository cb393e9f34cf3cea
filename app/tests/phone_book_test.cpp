// The phone book browser over a real ZNPB table: add, edit, delete, and picking an entry into the
// fax editor; files checked with dbfread.
#include "app/fax_forms.h"
#include "foundation/gui/enter_edit.h"
#include "foundation/program_folders.h"
#include "foundation/tests/test_support.h"
#include "modal_driver.h"
#include "platform/message_box.h"

#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace zn::app;
using zn::app::test::ModalDriver;

namespace {

void ClickIn(QWidget* dialog, const char* name)
{
    auto* b = dialog->findChild<QPushButton*>(name);
    ASSERT_NE(b, nullptr) << name;
    b->click();
}

ModalDriver::Action FillEditor(const QString& name, const QString& number, const char* button = "OKButton")
{
    return [=](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), "Phone Book Editor");
        d->findChild<QLineEdit*>("Name")->setText(name);
        d->findChild<QLineEdit*>("Number")->setText(number);
        ClickIn(d, button);
    };
}

// The rows of ZNPB.DBF that are not marked deleted, as "NAME|PHONE".
std::string PhoneRows()
{
    QProcess p;
    p.start("/usr/bin/python3",
            {"-c",
             "import sys, dbfread; print(';'.join(r['NAME'] + '|' + r['PHONE'] for r in dbfread.DBF(sys.argv[1])))",
             QString::fromStdString(zn::foundation::GetProgramFolder() + "ZNPB.DBF")});
    p.waitForFinished(20000);
    return p.readAllStandardOutput().trimmed().toStdString();
}

class PhoneBookTest : public ::testing::Test {
protected:
    PhoneBookTest()
    {
        zn::platform::SetMessageBoxHook([this](const std::string& text, const std::string& caption, unsigned) {
            boxes.push_back(caption + ": " + text);
            const int a = answers.empty() ? int(zn::platform::IDOK) : answers.front();
            if (!answers.empty())
                answers.erase(answers.begin());
            return a;
        });
    }
    ~PhoneBookTest() override { zn::platform::SetMessageBoxHook({}); }
    zn::foundation::test::TempHome home;
    std::vector<std::string> boxes;
    std::vector<int> answers;
};

} // namespace

TEST_F(PhoneBookTest, AnEmptyBookDisablesEditDeleteAndAcceptAndTheirKeysOnlyBeep)
{
    TPhoneBook book;
    ASSERT_TRUE(book.Open(false));
    EXPECT_EQ(book.windowTitle(), "Phone Book Browser");
    book.SetPickMode();
    book.show();
    EXPECT_FALSE(book.Modifybutton->isEnabled());
    EXPECT_FALSE(book.Deletebutton->isEnabled());
    EXPECT_FALSE(book.OKButton->isEnabled());
    EXPECT_FALSE(book.Closebutton->isVisible());
    EXPECT_TRUE(book.Cancelbutton->isVisible());
    ModalDriver driver; // nothing may open
    book.ModifyButtonClick();
    book.DeleteButtonClick();
    EXPECT_TRUE(driver.Seen().empty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PhoneBookTest, AddEditAndDeleteReachTheTable)
{
    TPhoneBook book;
    ASSERT_TRUE(book.Open(false));
    book.show();
    ModalDriver driver;
    driver.Then(FillEditor("Acme Supplies", "555-0101"));
    book.AddbuttonClick();
    EXPECT_TRUE(book.Modifybutton->isEnabled());
    EXPECT_TRUE(book.Deletebutton->isEnabled());
    driver.Then(FillEditor("Bolt Brothers", "555-0102"));
    book.AddbuttonClick();
    driver.Then(FillEditor("Ignored", "000", "Cancelbutton"));
    book.AddbuttonClick();
    EXPECT_EQ(PhoneRows(), "Acme Supplies|555-0101;Bolt Brothers|555-0102");

    // The list is in name order; the current row is the one just added.
    book.PhoneTable.First();
    driver.Then([](QWidget* d) {
        EXPECT_EQ(d->findChild<QLineEdit*>("Name")->text(), "Acme Supplies");
        EXPECT_EQ(d->findChild<QLineEdit*>("Name")->maxLength(), 35);
        EXPECT_EQ(d->findChild<QLineEdit*>("Number")->maxLength(), 25);
        d->findChild<QLineEdit*>("Number")->setText("555-0199");
        ClickIn(d, "OKButton");
    });
    book.ModifyButtonClick();
    EXPECT_EQ(PhoneRows(), "Acme Supplies|555-0199;Bolt Brothers|555-0102");

    answers = {zn::platform::IDNO};
    book.DeleteButtonClick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Delete: Delete the current phone book entry?:\rAcme Supplies");
    EXPECT_EQ(book.PhoneVeldrane.QueryRecCount(), 2);
    answers = {zn::platform::IDYES};
    book.DeleteButtonClick();
    EXPECT_EQ(book.PhoneVeldrane.QueryRecCount(), 1);
    EXPECT_EQ(book.PhoneTable.FieldByName("NAME").AsString(), "Bolt Brothers");
}

TEST_F(PhoneBookTest, PickingFromTheFaxEditorFillsRecipientAndNumberCancelLeavesThem)
{
    {
        TPhoneBook book;
        ASSERT_TRUE(book.Open(false));
        ModalDriver driver;
        driver.Then(FillEditor("Carter & Sons", "555-0103"));
        book.AddbuttonClick();
    }
    TFaxEditor editor;
    editor.Recipient->setText("old name");
    ModalDriver driver;
    driver.Then([](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), "Phone Book Browser");
        EXPECT_FALSE(d->findChild<QPushButton*>("Closebutton")->isVisible());
        ClickIn(d, "Cancelbutton");
    });
    editor.AddressButton->click();
    EXPECT_EQ(editor.Recipient->text(), "old name");
    driver.Then([](QWidget* d) {
        auto* accept = d->findChild<QPushButton*>("OKButton");
        EXPECT_TRUE(accept->isVisible());
        EXPECT_TRUE(accept->isEnabled());
        accept->click();
    });
    editor.AddressButton->click();
    EXPECT_EQ(editor.Recipient->text(), "Carter & Sons");
    EXPECT_EQ(editor.FaxNumber->text(), "555-0103");
}

TEST(TFaxEditor, FieldsHaveTheWidthsOfTheTableAndEnterMovesOn)
{
    TFaxEditor editor;
    EXPECT_EQ(editor.windowTitle(), "Fax Information Editor");
    EXPECT_EQ(editor.Recipient->maxLength(), 35);
    EXPECT_EQ(editor.FaxNumber->maxLength(), 25);
    EXPECT_EQ(editor.Subject->maxLength(), 50);
    EXPECT_EQ(editor.Notes->maxLength(), 50);
    EXPECT_EQ(editor.Codes->maxLength(), 25);
    editor.show();
    QApplication::setActiveWindow(&editor);
    editor.Recipient->setFocus();
    int result = -1;
    QObject::connect(&editor, &QDialog::finished, [&](int r) { result = r; });
    QTest::keyClick(editor.Recipient, Qt::Key_Return);
    EXPECT_EQ(result, -1); // Enter did not accept the dialog
    EXPECT_FALSE(editor.Recipient->hasFocus());
}
