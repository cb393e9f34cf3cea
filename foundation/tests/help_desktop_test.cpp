// Help opened from a modal dialog on a desktop with a window manager (Xvfb and openbox): the user
// clicks the dialog's Help button, reads the help beside the dialog, clicks the other windows, and
// closes the help with Esc. Run through tests/desktop/openbox_session.sh.
#include "foundation/help_contexts.h"
#include "foundation/help_window.h"
#include "foundation/tests/desktop_session.h"
#include "foundation/tests/modal_driver.h"
#include "foundation/tests/test_support.h"

#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWindow>

#include <gtest/gtest.h>

namespace zn::foundation {
namespace {

using test::FrameOnScreen;
using test::UserClick;
using test::UserKeys;
using test::WaitUntil;

struct DialogCase {
    const char* name;
    QRect dialog;   // where the dialog is, its frame left out
    bool staysOnTop; // a dialog that must show above the program that printed
};

class HelpFromADialog : public ::testing::TestWithParam<DialogCase> {
protected:
    void SetUp() override
    {
        if (!test::OnDesktop())
            GTEST_SKIP() << "needs X11 with a window manager (tests/desktop/openbox_session.sh)";
        SetHelpBook("zn");
    }
    void TearDown() override
    {
        if (THelpWindow* window = OpenHelpWindow())
            window->close();
    }
    test::TempHome home_;
};

// The user's walk; every finding is recorded and checked once the dialog is closed.
TEST_P(HelpFromADialog, OpensBesideItOnTheScreenStaysAboveItAndEscClosesIt)
{
    const DialogCase& c = GetParam();
    QWidget mainWindow;
    mainWindow.setWindowTitle("Tarvel");
    mainWindow.setGeometry(40, 60, 1180, 880);
    mainWindow.show();
    ASSERT_TRUE(WaitUntil([&] { return mainWindow.isVisible() && mainWindow.windowHandle()->isExposed(); }, 5000));

    QDialog dialog(&mainWindow);
    dialog.setObjectName("SomeDialog");
    dialog.setWindowTitle("Send Fax");
    if (c.staysOnTop)
        dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel("A dialog that waits for its answer.", &dialog));
    auto* number = new QLineEdit(&dialog);
    layout->addWidget(number);
    auto* helpButton = new QPushButton("&Help", &dialog);
    layout->addWidget(helpButton);
    QObject::connect(helpButton, &QPushButton::clicked, [] { OpenHelp(kSendFaxHelpContext); });
    dialog.setGeometry(c.dialog);

    QRect dialogFrame, helpFrame, screenArea;
    bool opened = false, aboveDialog = false, aboveAfterHelpClicked = false, aboveAfterMainClicked = false,
         aboveAfterDialogClicked = false, closedByEsc = false, dialogStillOpen = false;
    QString title, contentsTitle;
    test::ModalDriver driver;
    driver.Then([&](QWidget*) {
        WaitUntil([&] { return dialog.windowHandle() && dialog.windowHandle()->isExposed(); }, 5000);
        WaitUntil([] { return false; }, 300); // the window manager frames it
        UserClick(helpButton);
        THelpWindow* help = OpenHelpWindow();
        opened = WaitUntil([&] { return help && help->isVisible() && help->windowHandle()->isExposed(); }, 5000);
        if (!opened) {
            dialog.reject();
            return;
        }
        WaitUntil([] { return false; }, 300);
        test::Screenshot(QString("help_beside_%1").arg(c.name));
        dialogFrame = FrameOnScreen(&dialog);
        helpFrame = FrameOnScreen(help);
        screenArea = dialog.screen()->availableGeometry();
        title = help->windowTitle();
        aboveDialog = test::SettlesAbove({help}, {&dialog});
        // A click into the help to read it, then on the main window, then on the dialog.
        UserClick(help->Topic);
        aboveAfterHelpClicked = test::SettlesAbove({help}, {&dialog, &mainWindow});
        UserClick(&mainWindow, QPoint(20, 20));
        aboveAfterMainClicked = test::SettlesAbove({help}, {&dialog, &mainWindow});
        test::Screenshot(QString("help_after_main_clicked_%1").arg(c.name));
        UserClick(number);
        aboveAfterDialogClicked = test::SettlesAbove({help}, {&dialog});
        // Esc in the help's search box closes the help, not the dialog.
        UserClick(help->SearchEdit);
        UserKeys("Escape");
        closedByEsc = WaitUntil([&] { return !help->isVisible(); }, 3000);
        dialogStillOpen = dialog.isVisible();
        OpenHelp(kContentsHelpContext);
        contentsTitle = help->windowTitle();
        help->close();
        dialog.accept();
    });
    dialog.exec();

    ASSERT_TRUE(opened) << "no help window";
    EXPECT_TRUE(screenArea.contains(helpFrame))
        << "the help runs off the screen: " << helpFrame.x() << "," << helpFrame.y() << " " << helpFrame.width() << "x"
        << helpFrame.height();
    EXPECT_FALSE(helpFrame.intersects(dialogFrame)) << "the help covers the dialog";
    EXPECT_GE(helpFrame.width(), 400);
    EXPECT_GE(helpFrame.height(), 300);
    EXPECT_EQ(title.toStdString(), "Sending a fax - Tarvel Help");
    EXPECT_TRUE(aboveDialog);
    EXPECT_TRUE(aboveAfterHelpClicked);
    EXPECT_TRUE(aboveAfterMainClicked) << "a click on the main window buried the help";
    EXPECT_TRUE(aboveAfterDialogClicked);
    EXPECT_TRUE(closedByEsc) << "Esc did not close the help";
    EXPECT_TRUE(dialogStillOpen) << "Esc in the help closed the dialog";
    EXPECT_EQ(contentsTitle.toStdString(), "Tarvel Help");
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, HelpFromADialog,
    ::testing::Values(DialogCase{"Centred", {380, 400, 520, 220}, false},
                      DialogCase{"LowOnTheScreen", {200, 700, 520, 220}, false},
                      DialogCase{"AtTheRightEdge", {840, 80, 420, 300}, false},
                      DialogCase{"StaysOnTopCentred", {465, 380, 350, 260}, true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zn::foundation
