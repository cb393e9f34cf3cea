// zn's windows from the keyboard, as a user without a mouse meets them: Tab and Shift+Tab walk
// every control in reading order and back, out of lists and text boxes too; each Alt letter
// belongs to one control of its window; Enter stays with the window's default button.
#include "app/alt_fax_viewer_form.h"
#include "app/config_report.h"
#include "app/error_display_form.h"
#include "app/fax_forms.h"
#include "app/fax_viewer_form.h"
#include "app/log_cleanup.h"
#include "app/modem_choice.h"
#include "app/modem_forms.h"
#include "app/notice_forms.h"
#include "app/pre_print_form.h"
#include "app/preferences.h"
#include "app/quick_fax.h"
#include "app/quick_setup.h"
#include "app/send_fax_form.h"
#include "app/small_forms.h"
#include "comms/gui/com_select_form.h"
#include "comms/gui/fax_status_window.h"
#include "cover/gui/cover_dialogs.h"
#include "cover/gui/designer_window.h"
#include "cover/gui/template_dialogs.h"
#include "foundation/phone_book.h"
#include "foundation/tests/keyboard_walk.h"
#include "main_screen_fixture.h"
#include "modal_driver.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <functional>
#include <memory>

namespace zn::app::test {
namespace {

using namespace foundation::test;

struct WindowCase {
    const char* name;
    // Makes the window; the main window is the fixture's own.
    std::function<QWidget*(MainScreenFixture&, std::unique_ptr<QWidget>&)> make;
    const char* defaultButton; // empty: the window has none
};

void PrintTo(const WindowCase& c, std::ostream* out) { *out << c.name; }

template <class W>
std::function<QWidget*(MainScreenFixture&, std::unique_ptr<QWidget>&)> Make()
{
    return [](MainScreenFixture&, std::unique_ptr<QWidget>& owned) {
        owned = std::make_unique<W>();
        return owned.get();
    };
}

class KeyboardWalk : public MainScreenFixture, public ::testing::WithParamInterface<WindowCase> {
public:
    TMainScreen& StartScreen() { return Start(); }
    // With rows in both lists: a list with rows is where Tab could be kept.
    TMainScreen& StartScreenWithRows()
    {
        Start();
        AddOutgoing("First", "FAX00001.APF");
        AddOutgoing("Second", "FAX00002.APF");
        AddReceived("A caller", "RCV00001.APF");
        return *screen;
    }
    std::string Fax() { return MakeFax("FAX00001.APF"); }
};

KeyboardWalk& Walk(MainScreenFixture& f) { return static_cast<KeyboardWalk&>(f); }

// The settings wizard at one of its pages.
std::function<QWidget*(MainScreenFixture&, std::unique_ptr<QWidget>&)> WizardPage(int page)
{
    return [page](MainScreenFixture&, std::unique_ptr<QWidget>& owned) -> QWidget* {
        auto wizard = std::make_unique<TPreferences>();
        wizard->SetPage(page);
        owned = std::move(wizard);
        return owned.get();
    };
}

TEST_P(KeyboardWalk, TabWalksEveryControlInReadingOrderAndShiftTabWalksBack)
{
    std::unique_ptr<QWidget> owned;
    ExpectTabWalksInReadingOrder(GetParam().make(*this, owned));
}

TEST_P(KeyboardWalk, EachAltLetterOpensOneControlAndEnterStaysWithTheDefaultButton)
{
    std::unique_ptr<QWidget> owned;
    ExpectUniqueAltLettersAndDefault(GetParam().make(*this, owned), GetParam().defaultButton);
}

const WindowCase kWindows[] = {
    {"MainWindow", [](MainScreenFixture& f, std::unique_ptr<QWidget>&) -> QWidget* {
         return &Walk(f).StartScreenWithRows();
     }, ""},
    {"CoverEditor", Make<TCreateEditQuickFax>(), "OkButton"},
    {"TemplateChooser", [](MainScreenFixture&, std::unique_ptr<QWidget>& owned) -> QWidget* {
         foundation::CreateDataFolders();
         auto chooser = std::make_unique<TPreviewQuickFaxForms>();
         chooser->SetFolder(foundation::GetCoversFolder());
         chooser->TemplateName = "zn0001.fct";
         owned = std::move(chooser);
         return owned.get();
     }, "OKButton"},
    {"DeleteWhat", Make<TDeleteWhat>(), ""},
    {"ReceivedFaxNotes", Make<TEditReceiveNotes>(), ""},
    {"QuickStart", Make<TQuickStart>(), ""},
    {"QuickSetup", Make<TQuickSetupForm>(), "Finishbutton"},
    {"QuickConfigurationAnalysis", Make<TQuickSuggest>(), "Nextbutton"},
    {"SettingsWizardPage0", WizardPage(0), "Nextbutton"},
    {"SettingsWizardPage1", WizardPage(1), "Nextbutton"},
    {"SettingsWizardPage2", WizardPage(2), "Nextbutton"},
    {"SettingsWizardPage3", WizardPage(3), "Nextbutton"},
    {"SettingsWizardPage4", WizardPage(4), "Nextbutton"},
    {"SettingsWizardPage5", WizardPage(5), "Nextbutton"},
    {"SettingsWizardPage6", WizardPage(6), "Nextbutton"},
    {"SettingsWizardPage7", WizardPage(7), "Nextbutton"},
    {"SettingsWizardPage8", WizardPage(8), "Nextbutton"},
    {"SendDialog", Make<TSendFaxForm>(), ""},
    {"FaxEditor", Make<TFaxEditor>(), ""},
    {"SenderInformation", Make<TGetSenderInfo>(), ""},
    {"About", Make<TSplashform>(), ""},
    {"PrintOptions", Make<TPrePrintForm>(), ""},
    {"InitStringHelper", Make<TModemInitStringHelperForm>(), ""},
    {"PhoneBookEditor", Make<foundation::TPhoneBookEditor>(), ""},
    {"PhoneBook", Make<foundation::TPhoneBook>(), ""},
    {"ConfigurationReport", Make<TConfigurationInfo>(), ""},
    {"ErrorDisplay", Make<TShowErrorForm>(), ""},
    {"CleanupDate", Make<TDateSelector>(), ""},
    {"CleanupConditions", Make<TDeleteForConditions>(), ""},
    {"CleanupWindow", [](MainScreenFixture& f, std::unique_ptr<QWidget>& owned) -> QWidget* {
         TMainScreen& screen = Walk(f).StartScreen();
         CleanupTables tables{&screen.FaxTable,     &screen.FaxVeldrane, &screen.FaxDataSource,
                              &screen.RecTable,     &screen.RecVeldrane, &screen.RecDataSource,
                              &screen.VeldraneEnv1, foundation::GetProgramFolder()};
         owned = std::make_unique<TDMForm>(tables);
         return owned.get();
     }, ""},
    {"ReceiveLogNotice", Make<TTellUserAboutReceiveLog>(), ""},
    {"ReceiveModeNotice", [](MainScreenFixture&, std::unique_ptr<QWidget>& owned) -> QWidget* {
         auto notice = std::make_unique<TStartingFaxForm>();
         notice->ShowReady();
         owned = std::move(notice);
         return owned.get();
     }, ""},
    {"FaxViewer", [](MainScreenFixture& f, std::unique_ptr<QWidget>& owned) -> QWidget* {
         owned = std::make_unique<TFaxViewer>(Walk(f).Fax(), "Fax");
         return owned.get();
     }, ""},
    {"AlternateFaxViewer", [](MainScreenFixture& f, std::unique_ptr<QWidget>& owned) -> QWidget* {
         owned = std::make_unique<TAltFaxViewer>(Walk(f).Fax(), "Fax");
         return owned.get();
     }, ""},
    {"FaxStatus", Make<comms::TStandardFaxDisplay>(), ""},
    {"ComPortChoice", Make<comms::TComSelectForm>(), ""},
    {"CoverDesigner", Make<cover::gui::TCoverDesMainScreen>(), ""},
    {"DesignerText", Make<cover::gui::TFaxGetLabelText>(), "OKButton"},
    {"DesignerMultiLineText", Make<cover::gui::TFaxMultiLineTextEditor>(), "OKButton"},
    {"DesignerSymbol", Make<cover::gui::TFaxGetSymbol>(), "OKButton"},
    {"DesignerImage", Make<cover::gui::TFaxImageBrowser>(), ""},
    {"DesignerSaveAs", [](MainScreenFixture&, std::unique_ptr<QWidget>& owned) -> QWidget* {
         foundation::CreateDataFolders();
         owned = std::make_unique<cover::gui::TSaveTemplateAs>(foundation::GetCoversFolder());
         return owned.get();
     }, ""},
    {"DesignerChooser", [](MainScreenFixture&, std::unique_ptr<QWidget>& owned) -> QWidget* {
         foundation::CreateDataFolders();
         owned = std::make_unique<cover::gui::TPreviewCovers>(foundation::GetCoversFolder());
         return owned.get();
     }, ""},
};

INSTANTIATE_TEST_SUITE_P(Windows, KeyboardWalk, ::testing::ValuesIn(kWindows),
                         [](const ::testing::TestParamInfo<WindowCase>& info) { return info.param.name; });

// The text boxes that take several lines give Tab back: it moves on and types no tab character.
TEST_F(MainScreenFixture, TabLeavesTheMessageBoxesAndTypesNoTabCharacter)
{
    TCreateEditQuickFax editor;
    ShowActive(&editor);
    editor.FaxMessage->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(editor.FaxMessage, "See you");
    PressTab(editor.FaxMessage, false);
    EXPECT_EQ(editor.focusWidget(), editor.ExplorerButton1);
    EXPECT_EQ(editor.FaxMessage->toPlainText(), "See you");

    cover::gui::TFaxMultiLineTextEditor lines;
    ShowActive(&lines);
    lines.Memo->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(lines.Memo, "Line");
    PressTab(lines.Memo, false);
    EXPECT_NE(lines.focusWidget(), lines.Memo);
    EXPECT_EQ(lines.Memo->toPlainText(), "Line");
}

// Tab enters a group of radio buttons at the checked one, wherever it lies; the arrows move on.
TEST_F(MainScreenFixture, TabEntersARadioGroupAtItsCheckedButtonAndTheArrowsMoveOn)
{
    TPreferences wizard;
    wizard.SetPage(1);
    ShowActive(&wizard);
    wizard.Modem->UseTapiCheckbox->click();
    wizard.PageCombo->setFocus(Qt::TabFocusReason);
    PressTab(wizard.PageCombo, false);
    EXPECT_EQ(wizard.focusWidget(), wizard.Modem->UseTapiCheckbox);
    wizard.Modem->UseComPortCheckBox->click();
    wizard.PageCombo->setFocus(Qt::TabFocusReason);
    PressTab(wizard.PageCombo, false);
    EXPECT_EQ(wizard.focusWidget(), wizard.Modem->UseComPortCheckBox) << Describe(wizard.focusWidget()).toStdString();

    wizard.SetPage(2);
    wizard.FaxClass->setCurrentIndex(1);
    wizard.FaxClass->Item(1)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(wizard.FaxClass->Item(1), Qt::Key_Right);
    EXPECT_EQ(wizard.FaxClass->currentIndex(), 2);
    EXPECT_EQ(wizard.focusWidget(), wizard.FaxClass->Item(2));
    PressTab(wizard.focusWidget(), false);
    EXPECT_EQ(wizard.focusWidget(), wizard.CheckFaxClassButton);
    PressTab(wizard.focusWidget(), true);
    EXPECT_EQ(wizard.focusWidget(), wizard.FaxClass->Item(2));
}

// The boxes a user fills in one after the other, typing each text and pressing Enter, in the
// windows whose boxes are TEnterEdits (znptf has none: Enter there is its Ok).
struct EnterCase {
    const char* name;
    std::function<QDialog*(std::unique_ptr<QWidget>&)> make;
    std::vector<const char*> boxes; // in the order they are filled in; Enter after all but the last
};

void PrintTo(const EnterCase& c, std::ostream* out) { *out << c.name; }

template <class W>
std::function<QDialog*(std::unique_ptr<QWidget>&)> MakeDialog()
{
    return [](std::unique_ptr<QWidget>& owned) -> QDialog* {
        auto dialog = std::make_unique<W>();
        QDialog* made = dialog.get();
        owned = std::move(dialog);
        return made;
    };
}

class EnterMovesOn : public MainScreenFixture, public ::testing::WithParamInterface<EnterCase> {};

TEST_P(EnterMovesOn, ToTheNextBoxSoEachTextTypedLandsInItsOwnBox)
{
    std::unique_ptr<QWidget> owned;
    QDialog* dialog = GetParam().make(owned);
    ShowActive(dialog);
    const std::vector<const char*>& names = GetParam().boxes;
    dialog->findChild<QLineEdit*>(names.front())->setFocus(Qt::TabFocusReason);
    // A window that Enter opens (a button pressed on the way) is closed again and noted.
    ModalDriver opened;
    for (int i = 0; i < 3; ++i)
        opened.Then([](QWidget* w) { w->close(); });
    // Typed as a user types: into whatever has the focus, with no look at the screen in between.
    for (size_t i = 0; i < names.size(); ++i) {
        QWidget* typedInto = dialog->focusWidget();
        ASSERT_NE(typedInto, nullptr);
        QTest::keyClicks(typedInto, QString("text %1").arg(i + 1));
        if (i + 1 < names.size())
            QTest::keyClick(typedInto, Qt::Key_Return);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        auto* box = dialog->findChild<QLineEdit*>(names[i]);
        ASSERT_NE(box, nullptr) << names[i];
        EXPECT_EQ(box->text().toStdString(), "text " + std::to_string(i + 1)) << names[i];
    }
    EXPECT_TRUE(dialog->isVisible()) << "Enter closed the window";
    EXPECT_TRUE(opened.Seen().empty()) << "Enter opened " << opened.Seen().front();
    EXPECT_TRUE(boxes.empty()) << boxes.front().text;
}

INSTANTIATE_TEST_SUITE_P(
    Windows, EnterMovesOn,
    ::testing::Values(EnterCase{"CoverEditor", MakeDialog<TCreateEditQuickFax>(),
                                {"Recipient", "RecipientFax", "Regarding", "Notes"}},
                      EnterCase{"FaxEditor", MakeDialog<TFaxEditor>(),
                                {"Recipient", "FaxNumber", "Subject", "Notes", "Codes"}}),
    [](const ::testing::TestParamInfo<EnterCase>& info) { return info.param.name; });

// After Find Modem Port the focus is back on that button; Enter still means Ok.
TEST_F(MainScreenFixture, EnterAfterFindModemPortIsOk)
{
    TQuickSetupForm form;
    ShowActive(&form);
    form.Modem->FindModemButton->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    int findPresses = 0;
    QObject::connect(form.Modem->FindModemButton, &QPushButton::pressed, [&] { ++findPresses; });
    ModalDriver driver; // a port scan that starts anyway is closed again
    driver.Then([](QWidget* scan) { scan->close(); });
    QTest::keyClick(form.Modem->FindModemButton, Qt::Key_Return);
    EXPECT_EQ(findPresses, 0);
    EXPECT_EQ(form.result(), 1);
}

} // namespace
} // namespace zn::app::test
