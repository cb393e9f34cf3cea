// Every Help button, help menu item and Problem Solver button of zn's windows, pressed as a user
// would while the window is up (modal where it is modal): a help window shows the topic written for
// that window, and it takes clicks beside the modal window.
#include "app/alt_fax_viewer_form.h"
#include "app/fax_forms.h"
#include "app/fax_viewer_form.h"
#include "app/log_cleanup.h"
#include "app/preferences.h"
#include "app/quick_fax.h"
#include "app/quick_setup.h"
#include "app/send_fax_form.h"
#include "app/small_forms.h"
#include "app/tests/main_screen_fixture.h"
#include "app/tests/modal_driver.h"
#include "cover/gui/cover_dialogs.h"
#include "cover/gui/designer_window.h"
#include "cover/gui/template_dialogs.h"
#include "foundation/gui/assistant_pello.h"
#include "foundation/gui/quib_button.h"
#include "foundation/help_window.h"
#include "foundation/phone_book.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QTest>

#include <functional>

namespace zn::app::test {
namespace {

class HelpButtons;

struct HelpCase {
    const char* name;
    // Makes the window, with the main window of the fixture as its parent.
    std::function<std::unique_ptr<QDialog>(HelpButtons&)> make;
    const char* button; // object name of the button pressed
    const char* topic;  // title of the topic the help window must show
};

// Follows what the window system tells the help window: a modal window that is not its own blocks
// its input.
struct BlockWatch : QObject {
    bool blocked = false;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched->isWidgetType() && watched->objectName() == "HelpWindow") {
            if (event->type() == QEvent::WindowBlocked)
                blocked = true;
            else if (event->type() == QEvent::WindowUnblocked)
                blocked = false;
        }
        return false;
    }
};

BlockWatch& Blocks()
{
    static BlockWatch* watch = [] {
        auto* w = new BlockWatch;
        qApp->installEventFilter(w);
        return w;
    }();
    return *watch;
}

class HelpButtons : public MainScreenFixture, public ::testing::WithParamInterface<HelpCase> {
public:
    HelpButtons()
    {
        foundation::SetHelpBook("zn");
        Blocks().blocked = false;
        Start();
        fax_ = MakeFax("DOC00001.APF", 5);
    }
    ~HelpButtons() override
    {
        if (QWidget* help = foundation::OpenHelpWindow())
            help->close();
    }
    TMainScreen& Screen() { return *screen; }
    const std::string& Fax() const { return fax_; }

    struct Seen {
        QString topic;
        bool takesClicks = false; // no modal window blocks the help window's input
    };
    // Presses the help trigger while its window is up and reads what the help window shows.
    static Seen Press(QWidget* window, const char* name)
    {
        if (auto* button = window->findChild<QAbstractButton*>(name))
            button->click();
        else if (auto* action = window->findChild<QAction*>(name))
            action->trigger();
        else if (auto* quib = window->findChild<foundation::gui::TQuibButton*>(name))
            QTest::mouseClick(quib, Qt::LeftButton);
        else
            ADD_FAILURE() << "no " << name;
        Seen seen;
        seen.topic = foundation::ShownHelpTopic();
        seen.takesClicks = !Blocks().blocked;
        return seen;
    }

private:
    std::string fax_;
};

TEST_P(HelpButtons, OpenTheTopicOfTheirWindow)
{
    const HelpCase& c = GetParam();
    std::unique_ptr<QDialog> dialog = c.make(*this);
    ASSERT_NE(dialog, nullptr);
    ModalDriver driver;
    Seen seen;
    driver.Then([&](QWidget* d) {
        seen = Press(d, c.button);
        static_cast<QDialog*>(d)->done(2);
    });
    dialog->exec();
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(seen.topic.toStdString(), c.topic);
    EXPECT_TRUE(seen.takesClicks) << "the help window is blocked by the dialog";
    // The help stays open after the dialog.
    EXPECT_FALSE(foundation::ShownHelpTopic().isEmpty());
}

void PrintTo(const HelpCase& c, std::ostream* os) { *os << c.name; }

template <class T>
std::unique_ptr<QDialog> Make(HelpButtons& f)
{
    return std::make_unique<T>(&f.Screen());
}

std::unique_ptr<QDialog> PreferencesAt(HelpButtons& f, int page)
{
    auto p = std::make_unique<TPreferences>(&f.Screen());
    p->SetPage(page);
    return p;
}

std::unique_ptr<QDialog> Covers(HelpButtons& f, const char* title)
{
    auto d = std::make_unique<cover::gui::TPreviewCovers>(foundation::GetCoversFolder(), &f.Screen());
    if (title)
        d->setWindowTitle(title);
    return d;
}

const HelpCase kCases[] = {
    {"FaxEditor", Make<TFaxEditor>, "Helpbutton", "Fax Information Editor"},
    {"SendFax", Make<TSendFaxForm>, "Helpbutton", "Sending a fax"},
    {"SendFaxProblemSolver", Make<TSendFaxForm>, "ProblemSolverButton", "Fax Problem Solver"},
    {"QuickFax", Make<TCreateEditQuickFax>, "Helpbutton", "Quick faxes and the Fax Cover Sheet Editor"},
    {"QuickFaxTemplate", Make<TPreviewQuickFaxForms>, "Helpbutton", "Choosing a cover sheet template"},
    {"DeleteWhat", Make<TDeleteWhat>, "Helpbutton", "Deleting a fax"},
    {"PreferencesFirstPage", [](HelpButtons& f) { return PreferencesAt(f, 0); }, "HelpButton", "Preferences Wizard"},
    {"PreferencesModem", [](HelpButtons& f) { return PreferencesAt(f, 1); }, "HelpButton",
     "Preferences: Modem and Communications Port"},
    {"PreferencesSending", [](HelpButtons& f) { return PreferencesAt(f, 3); }, "HelpButton",
     "Preferences: Sending Faxes"},
    {"PreferencesReceiving", [](HelpButtons& f) { return PreferencesAt(f, 6); }, "HelpButton",
     "Preferences: Receiving Faxes"},
    {"PreferencesAdvanced", [](HelpButtons& f) { return PreferencesAt(f, 8); }, "HelpButton", "Preferences Wizard"},
    {"PreferencesProblemSolver", [](HelpButtons& f) { return PreferencesAt(f, 2); }, "ProblemSolverButton",
     "Fax Problem Solver"},
    {"LogCleanup",
     [](HelpButtons& f) -> std::unique_ptr<QDialog> {
         TMainScreen& s = f.Screen();
         return std::make_unique<TDMForm>(CleanupTables{&s.FaxTable, &s.FaxVeldrane, &s.FaxDataSource, &s.RecTable,
                                                        &s.RecVeldrane, &s.RecDataSource, &s.VeldraneEnv1,
                                                        foundation::GetProgramFolder()},
                                          &s);
     },
     "Helpbutton", "Fax Log File Cleanup"},
    {"FaxViewer",
     [](HelpButtons& f) -> std::unique_ptr<QDialog> {
         return std::make_unique<TFaxViewer>(f.Fax(), "Fax Viewer", "", &f.Screen());
     },
     "Helpbutton", "Fax Viewer and printing"},
    {"AltFaxViewer",
     [](HelpButtons& f) -> std::unique_ptr<QDialog> {
         return std::make_unique<TAltFaxViewer>(f.Fax(), "Alternate Fax Viewer", "", &f.Screen());
     },
     "Helpbutton", "Fax Viewer and printing"},
    {"PhoneBook",
     [](HelpButtons& f) -> std::unique_ptr<QDialog> {
         auto book = std::make_unique<foundation::TPhoneBook>(&f.Screen());
         EXPECT_TRUE(book->Open(false));
         return book;
     },
     "Helpbutton", "Phone Book Browser"},
    {"PhoneBookEditor", Make<foundation::TPhoneBookEditor>, "Helpbutton", "Phone Book Editor"},
    {"CoverDesigner", Make<cover::gui::TCoverDesMainScreen>, "Helpbutton", "Cover Sheet Template Designer"},
    {"CoverOpen", [](HelpButtons& f) { return Covers(f, nullptr); }, "Helpbutton",
     "Opening and previewing cover templates"},
    {"CoverPreview", [](HelpButtons& f) { return Covers(f, "Preview Fax Cover Templates"); }, "Helpbutton",
     "Opening and previewing cover templates"},
    {"CoverSaveAs",
     [](HelpButtons& f) -> std::unique_ptr<QDialog> {
         return std::make_unique<cover::gui::TSaveTemplateAs>(foundation::GetCoversFolder(), &f.Screen());
     },
     "Helpbutton", "Saving a cover template"},
    {"CoverText", Make<cover::gui::TFaxGetLabelText>, "HelpButton", "Cover sheet text"},
    {"CoverSymbol", Make<cover::gui::TFaxGetSymbol>, "HelpButton", "Symbol Selector"},
    {"CoverMultiLine", Make<cover::gui::TFaxMultiLineTextEditor>, "HelpButton", "Multi-line Text Editor"},
    {"CoverImage", Make<cover::gui::TFaxImageBrowser>, "Helpbutton", "Putting a picture on a cover sheet"},
};

INSTANTIATE_TEST_SUITE_P(Windows, HelpButtons, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<HelpCase>& info) { return std::string(info.param.name); });

// The main window's own help: the Help menu and the Technical Help button.
struct MenuCase {
    const char* name;
    const char* topic;
};

class MainWindowHelp : public HelpButtons {};

TEST_F(MainWindowHelp, TheHelpMenuAndTechnicalHelpOpenTheirTopics)
{
    const MenuCase cases[] = {
        {"Contents1", "Tarvel Help"},
        {"FrequentlyAskedQuestionsFAQ1", "Frequently Asked Questions"},
        {"TechnicalSupport1", "Technical Support"},
        {"ProblemSolverButton", "Fax Problem Solver"},
    };
    Screen().show();
    for (const MenuCase& c : cases) {
        if (QWidget* help = foundation::OpenHelpWindow())
            help->close();
        const Seen seen = Press(&Screen(), c.name);
        EXPECT_EQ(seen.topic.toStdString(), c.topic) << c.name;
        EXPECT_TRUE(seen.takesClicks) << c.name;
    }
}

TEST_F(MainWindowHelp, TheAnalysisProblemSolverButtonOpensTheProblemSolverAfterIt)
{
    ModalDriver driver;
    QString whileOpen = "-";
    driver.Then([&](QWidget* d) {
        ASSERT_EQ(d->objectName(), "QuickSuggest");
        Find<QAbstractButton>(d, "ProblemSolverButton")->click();
        whileOpen = d->isVisible() ? foundation::ShownHelpTopic() : QString();
    });
    Screen().findChild<QAction*>("QuickConfigurationAnalysis1")->trigger();
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(whileOpen, "");
    EXPECT_EQ(foundation::ShownHelpTopic(), "Fax Problem Solver");
}

TEST_F(MainWindowHelp, TheTipsWindowsSeeAlsoOpensTheFaq)
{
    foundation::gui::TAssistantPello tips(&Screen());
    tips.Titles = {"How do I move an object?"};
    tips.Answers = {"Drag it."};
    Screen().show();
    tips.Execute();
    ASSERT_NE(tips.Form(), nullptr);
    const Seen seen = Press(tips.Form(), "QuibButton2");
    EXPECT_EQ(seen.topic, "Frequently Asked Questions");
    EXPECT_TRUE(seen.takesClicks);
}

} // namespace
} // namespace zn::app::test
