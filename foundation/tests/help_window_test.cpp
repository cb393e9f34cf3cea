// The help books and the help window: every help context number has a topic written for it, every
// link and picture of the pages is there, and the window opens at the topic, goes back and forward,
// searches, and can be used beside a modal dialog.
#include "foundation/dialogs.h"
#include "foundation/help_contexts.h"
#include "foundation/help_window.h"
#include "foundation/tests/modal_driver.h"
#include "foundation/tests/test_support.h"

#include <QDialog>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <set>

namespace zn::foundation {
namespace {

QString Resource(const QString& path)
{
    QFile file(":/help/" + path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void CloseHelp()
{
    if (THelpWindow* window = OpenHelpWindow())
        window->close();
}

class HelpBookTest : public ::testing::TestWithParam<const char*> {};

TEST_P(HelpBookTest, EveryTopicHasATitleAndEveryLinkAndPictureIsThere)
{
    const HelpBook book = HelpBook::Load(GetParam());
    ASSERT_FALSE(book.topics.empty());
    EXPECT_FALSE(book.title.isEmpty());
    std::set<QString> titles;
    for (const HelpTopic& topic : book.topics) {
        const QString html = Resource(topic.page);
        ASSERT_FALSE(html.isEmpty()) << topic.page.toStdString();
        EXPECT_FALSE(topic.title.isEmpty()) << topic.page.toStdString();
        EXPECT_TRUE(titles.insert(topic.title).second) << "two topics called " << topic.title.toStdString();
        // The heading the reader sees is the title the contents list.
        EXPECT_TRUE(html.contains("<h1>" + topic.title + "</h1>")) << topic.page.toStdString();
        static const QRegularExpression ref("(?:href|src)=\"([^\"#:]+)(?:#([^\"]+))?\"");
        for (auto it = ref.globalMatch(html); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            const QString target = Resource(m.captured(1));
            EXPECT_TRUE(QFile::exists(":/help/" + m.captured(1)))
                << topic.page.toStdString() << " names " << m.captured(1).toStdString();
            if (!m.captured(2).isEmpty()) {
                EXPECT_TRUE(target.contains("name=\"" + m.captured(2) + "\""))
                    << topic.page.toStdString() << " points into " << m.captured(0).toStdString();
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Books, HelpBookTest, ::testing::Values("zn", "znptf"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST(HelpContexts, EveryNumberTheWindowsPassHasItsOwnTopicInZnsBook)
{
    const HelpBook book = HelpBook::Load("zn");
    for (int context : kHelpContexts) {
        ASSERT_EQ(book.contexts.count(context), 1u) << "context " << context << " has no topic";
        EXPECT_NE(book.Find(book.contexts.at(context)), nullptr) << context;
    }
    // Each number leads to the topic written for its window.
    const std::pair<int, const char*> expected[] = {
        {kContentsHelpContext, "Tarvel Help"},
        {kFaqHelpContext, "Frequently Asked Questions"},
        {kGeneralHelpContext, "Fax Problem Solver"},
        {kTechnicalSupportHelpContext, "Technical Support"},
        {kSendFaxHelpContext, "Sending a fax"},
        {kPhoneBookHelpContext, "Phone Book Browser"},
        {kPreferencesModemHelpContext, "Preferences: Modem and Communications Port"},
        {kCleanupHelpContext, "Fax Log File Cleanup"},
        {kImageBrowserHelpContext, "Putting a picture on a cover sheet"},
    };
    for (const auto& [context, title] : expected)
        EXPECT_EQ(book.Find(book.PageFor(context))->title.toStdString(), title) << context;
}

TEST(HelpContexts, ZnptfsBookAnswersTheNumbersItsWindowsPass)
{
    const HelpBook book = HelpBook::Load("znptf");
    EXPECT_EQ(book.Find(book.PageFor(kPhoneBookHelpContext))->title, "Selecting a phone number");
    EXPECT_EQ(book.Find(book.PageFor(kPhoneBookEditorHelpContext))->title, "Phone Book Editor");
    EXPECT_EQ(book.Find(book.PageFor(kGeneralHelpContext))->title, "Print to fax problems");
}

TEST(HelpContexts, AnUnknownNumberOpensTheContents)
{
    for (const char* name : {"zn", "znptf"}) {
        const HelpBook book = HelpBook::Load(name);
        EXPECT_EQ(book.PageFor(4242), book.topics.front().page) << name;
        EXPECT_EQ(book.PageFor(0), book.topics.front().page) << name;
    }
}

// A number typed into a window's code instead of a name of help_contexts.h would escape the checks
// above: no source file may pass one or define one.
TEST(HelpContexts, TheSourcesPassOnlyTheNamedNumbers)
{
    const QString root = qEnvironmentVariable("ZN_SOURCE_DIR");
    ASSERT_FALSE(root.isEmpty());
    static const QRegularExpression literal("ShowHelpContext\\(\\s*\\d|HelpContext\\s*=\\s*\\d|Help\\w*\\s*=\\s*\\d{3,}");
    int files = 0;
    for (const char* folder : {"app", "cover", "foundation", "ptf", "comms", "faxdoc", "data"}) {
        QDirIterator it(root + "/" + folder, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path.contains("/tests/") || path.endsWith("foundation/help_contexts.h"))
                continue;
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(file.readAll());
            ++files;
            EXPECT_FALSE(literal.match(text).hasMatch()) << path.toStdString() << ": " << literal.match(text).captured(0).toStdString();
        }
    }
    EXPECT_GT(files, 50);
}

struct Placement {
    QRect from;
    QSize size;
    QRect expected;
};

class HelpPlacement : public ::testing::TestWithParam<Placement> {};

TEST_P(HelpPlacement, BesideTheWindowItWasOpenedFrom)
{
    const QRect screen(0, 0, 1280, 900);
    const Placement& p = GetParam();
    const QRect placed = PlaceBeside(p.from, p.size, {400, 300}, screen);
    EXPECT_EQ(placed, p.expected);
    EXPECT_TRUE(screen.contains(placed));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HelpPlacement,
    ::testing::Values(Placement{{100, 100, 400, 300}, {500, 400}, {500, 100, 500, 400}}, // room on the right
                      Placement{{800, 100, 400, 300}, {500, 400}, {300, 100, 500, 400}}, // room on the left only
                      Placement{{100, 800, 300, 100}, {500, 400}, {400, 500, 500, 400}}, // kept above the screen's bottom
                      Placement{{340, 100, 600, 300}, {900, 640}, {340, 400, 900, 500}}, // narrow sides: below, shorter
                      Placement{{380, 300, 520, 220}, {900, 640}, {380, 520, 900, 380}}, // a centred dialog: below
                      Placement{{100, 50, 1080, 800}, {900, 640}, {380, 50, 900, 640}},  // no room: at the edge
                      Placement{{}, {500, 400}, {390, 250, 500, 400}},                   // no window: centred
                      Placement{{}, {1400, 1000}, {0, 0, 1280, 900}}),  // never past the screen
                         [](const ::testing::TestParamInfo<Placement>& info) {
                             const Placement& p = info.param;
                             return "From" + std::to_string(p.from.x()) + "_" + std::to_string(p.from.y()) + "_Size"
                                    + std::to_string(p.size.width()) + "x" + std::to_string(p.size.height());
                         });

class HelpWindowTest : public ::testing::Test {
protected:
    HelpWindowTest() { SetHelpBook("zn"); }
    ~HelpWindowTest() override { CloseHelp(); }
    test::TempHome home_;
};

TEST_F(HelpWindowTest, OpensAtTheTopicWithItsTitleAndMarksItInTheContents)
{
    THelpWindow* window = OpenHelp(kSendFaxHelpContext);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Sending a fax - Tarvel Help");
    EXPECT_EQ(ShownHelpTopic(), "Sending a fax");
    EXPECT_TRUE(window->Topic->toPlainText().contains("Send Fax Now"));
    ASSERT_NE(window->TopicTree->currentItem(), nullptr);
    EXPECT_EQ(window->TopicTree->currentItem()->text(0), "Sending a fax");
    // The same window comes back for the next call, at the next topic.
    EXPECT_EQ(OpenHelp(4242), window);
    EXPECT_EQ(ShownHelpTopic(), "Tarvel Help");
    window->close();
    EXPECT_EQ(ShownHelpTopic(), "");
}

TEST_F(HelpWindowTest, BackAndForwardGoThroughTheTopicsRead)
{
    THelpWindow* window = OpenHelp(kContentsHelpContext);
    EXPECT_FALSE(window->BackButton->isEnabled());
    OpenHelp(kFaqHelpContext);
    // A topic picked from the contents.
    const auto items = window->TopicTree->findItems("Phone Book Browser", Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(items.size(), 1);
    const QRect rect = window->TopicTree->visualItemRect(items.front());
    QTest::mouseClick(window->TopicTree->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(window->TopicTitle(), "Phone Book Browser");
    ASSERT_TRUE(window->BackButton->isEnabled());
    QTest::mouseClick(window->BackButton, Qt::LeftButton);
    EXPECT_EQ(window->TopicTitle(), "Frequently Asked Questions");
    QTest::mouseClick(window->BackButton, Qt::LeftButton);
    EXPECT_EQ(window->TopicTitle(), "Tarvel Help");
    EXPECT_FALSE(window->BackButton->isEnabled());
    QTest::mouseClick(window->ForwardButton, Qt::LeftButton);
    QTest::mouseClick(window->ForwardButton, Qt::LeftButton);
    EXPECT_EQ(window->TopicTitle(), "Phone Book Browser");
    EXPECT_FALSE(window->ForwardButton->isEnabled());
    QTest::mouseClick(window->ContentsButton, Qt::LeftButton);
    EXPECT_EQ(window->TopicTitle(), "Tarvel Help");
}

TEST_F(HelpWindowTest, SearchListsTheTopicsHoldingEveryWord)
{
    THelpWindow* window = OpenHelp(kContentsHelpContext);
    QTest::keyClicks(window->SearchEdit, "ZNPORTS dialout");
    ASSERT_EQ(window->LeftPane->currentWidget(), window->SearchResults);
    QStringList found;
    for (int i = 0; i < window->SearchResults->count(); ++i)
        found << window->SearchResults->item(i)->text();
    EXPECT_TRUE(found.contains("Modem ports and ZNPORTS.INI")) << found.join(", ").toStdString();
    EXPECT_FALSE(found.contains("Cover Sheet Template Designer"));
    QListWidgetItem* first = window->SearchResults->item(0);
    QTest::mouseClick(window->SearchResults->viewport(), Qt::LeftButton, {},
                      window->SearchResults->visualItemRect(first).center());
    EXPECT_EQ(window->TopicTitle(), first->text());
    EXPECT_TRUE(window->Topic->textCursor().hasSelection()); // the word found is marked

    // Enter in the search box opens the first topic found.
    window->ShowPage("contents.html");
    QTest::keyClick(window->SearchEdit, Qt::Key_Return);
    EXPECT_EQ(window->TopicTitle(), first->text());

    window->Search("nosuchwordanywhere");
    ASSERT_EQ(window->SearchResults->count(), 1);
    EXPECT_EQ(window->SearchResults->item(0)->text(), "No topic holds these words.");
    window->Search("");
    EXPECT_EQ(window->LeftPane->currentWidget(), window->TopicTree);
}

TEST_F(HelpWindowTest, TheFoldersTopicNamesTheFoldersThisProgramUses)
{
    const std::string windir = home_.Path() + "/settings";
    ::setenv("ZN_WINDIR", windir.c_str(), 1);
    THelpWindow* window = OpenHelp(kTechnicalSupportHelpContext);
    const QString text = window->Topic->toPlainText();
    ::unsetenv("ZN_WINDIR");
    EXPECT_TRUE(text.contains(QString::fromStdString(home_.Path()))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromStdString(windir))) << text.toStdString();
    EXPECT_FALSE(text.contains("@"));
}

TEST_F(HelpWindowTest, ZnptfsBookIsItsOwn)
{
    SetHelpBook("znptf");
    THelpWindow* window = OpenHelp(kPhoneBookHelpContext);
    EXPECT_EQ(window->windowTitle(), "Selecting a phone number - Tarvel Print To Fax Help");
    SetHelpBook("zn");
    EXPECT_EQ(OpenHelpWindow(), nullptr); // the other book's window is gone
    EXPECT_EQ(OpenHelp(kPhoneBookHelpContext)->TopicTitle(), "Phone Book Browser");
}

// A modal dialog blocks the input of every other window: help opened from a dialog must still take
// clicks, and stay open when the dialog closes.
TEST_F(HelpWindowTest, HelpFromAModalDialogCanBeUsedAndOutlivesTheDialog)
{
    test::ModalDriver driver;
    QString pageAfterClick;
    bool ownedByDialog = false;
    driver.Then([&](QWidget* dialog) {
        THelpWindow* window = OpenHelp(kSendFaxHelpContext);
        ownedByDialog = window->parentWidget() == dialog && window->isWindow();
        QTest::mouseClick(window->ContentsButton, Qt::LeftButton);
        pageAfterClick = window->Page();
        static_cast<QDialog*>(dialog)->done(1);
    });
    {
        QDialog dialog;
        dialog.setObjectName("SomeDialog");
        dialog.exec();
    }
    EXPECT_TRUE(ownedByDialog);
    EXPECT_EQ(pageAfterClick, "contents.html");
    THelpWindow* window = OpenHelpWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->parentWidget(), nullptr);
    QTest::mouseClick(window->BackButton, Qt::LeftButton);
    EXPECT_EQ(window->TopicTitle(), "Sending a fax");
}

TEST_F(HelpWindowTest, TheGeneralHelpIsTheProblemSolver)
{
    ShowGeneralHelp();
    EXPECT_EQ(ShownHelpTopic(), "Fax Problem Solver");
    ShowHelpContext(kCleanupHelpContext);
    EXPECT_EQ(ShownHelpTopic(), "Fax Log File Cleanup");
}

} // namespace
} // namespace zn::foundation
