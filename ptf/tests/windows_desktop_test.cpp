// znptf's windows on a desktop with a window manager (Xvfb and openbox), run through
// tests/desktop/openbox_session.sh:
// - the job dialog shows above the program that printed, the user opens the phone-number picker
//   from it and the picker's Help; the help opens beside the picker and stays readable above both;
// - the tray menu's About box shows its whole text.
#include "ptf/main_form.h"
#include "ptf/phone_picker.h"

#include "foundation/help_window.h"
#include "foundation/tests/desktop_session.h"
#include "foundation/tests/modal_driver.h"
#include "foundation/tests/test_support.h"

#include <QAction>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

namespace zn::ptf {
namespace {

using namespace foundation::test;

bool Exposed(QWidget* w) { return w->windowHandle() && w->windowHandle()->isExposed(); }

TEST(ZnptfHelp, OpensBesideThePickerAndStaysAboveItAndTheJobDialog)
{
    if (!OnDesktop())
        GTEST_SKIP() << "needs X11 with a window manager (tests/desktop/openbox_session.sh)";
    TempHome home;
    TGetDataForm job;
    QWidget* picker = nullptr;
    foundation::THelpWindow* help = nullptr;
    QRect pickerFrame, helpFrame, screenArea;
    bool opened = false, aboveBoth = false, aboveAfterPickerClicked = false, aboveAfterJobClicked = false,
         closedByEsc = false;
    QString title;

    ModalDriver jobDriver, pickerDriver;
    pickerDriver.Then([&](QWidget* w) {
        picker = w;
        WaitUntil([&] { return Exposed(w); }, 5000);
        WaitUntil([] { return false; }, 300);
        UserClick(w->findChild<QPushButton*>("Helpbutton"));
        help = foundation::OpenHelpWindow();
        opened = WaitUntil([&] { return help && help->isVisible() && Exposed(help); }, 5000);
        if (opened) {
            WaitUntil([] { return false; }, 300);
            Screenshot("znptf_help_beside_picker");
            pickerFrame = FrameOnScreen(w);
            helpFrame = FrameOnScreen(help);
            screenArea = w->screen()->availableGeometry();
            title = help->windowTitle();
            aboveBoth = SettlesAbove({help}, {w, &job});
            UserClick(w, QPoint(w->width() / 2, 10));
            aboveAfterPickerClicked = SettlesAbove({help}, {w, &job});
            // The job dialog waits behind the picker; a click on it goes to the picker.
            UserClick(&job, QPoint(10, 10));
            aboveAfterJobClicked = SettlesAbove({help}, {w, &job});
            Screenshot("znptf_help_after_clicks");
            UserClick(help->Topic);
            UserKeys("Escape");
            closedByEsc = WaitUntil([&] { return !help->isVisible(); }, 3000);
        }
        w->findChild<QPushButton*>("Cancelbutton")->click();
    });
    jobDriver.Then([&](QWidget* w) {
        WaitUntil([&] { return Exposed(w); }, 5000);
        WaitUntil([] { return false; }, 300);
        UserClick(job.Button2); // Phone Book: the picker runs in here
        static_cast<QDialog*>(w)->done(2);
    });
    job.exec();

    ASSERT_NE(picker, nullptr) << "no picker";
    ASSERT_TRUE(opened) << "no help window";
    EXPECT_TRUE(screenArea.contains(helpFrame)) << "the help runs off the screen";
    EXPECT_FALSE(helpFrame.intersects(pickerFrame)) << "the help covers the picker";
    EXPECT_EQ(title.toStdString(), "Selecting a phone number - Tarvel Print To Fax Help");
    EXPECT_TRUE(aboveBoth) << "the help opened under the dialogs";
    EXPECT_TRUE(aboveAfterPickerClicked) << "a click on the picker buried the help";
    EXPECT_TRUE(aboveAfterJobClicked) << "a click on the job dialog buried the help";
    EXPECT_TRUE(closedByEsc);
}

// The About box, as the tray menu's About shows it: the whole text, wrapped inside the box, on the
// screen, and true of this desktop.
TEST(ZnptfAbout, ShowsItsWholeTextWrappedAndSpeaksOfThisDesktop)
{
    if (!OnDesktop())
        GTEST_SKIP() << "needs X11 with a window manager (tests/desktop/openbox_session.sh)";
    TempHome home;
    TMainForm form;
    QString text;
    QRect textRect, needed, boxFrame, screenArea;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !Exposed(box))
            return;
        reader.stop();
        WaitUntil([] { return false; }, 300);
        Screenshot("znptf_about");
        auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        if (label) {
            text = label->text();
            textRect = label->contentsRect();
            const int flags = label->wordWrap() ? int(Qt::TextWordWrap) : 0;
            needed = QFontMetrics(label->font()).boundingRect(QRect(0, 0, textRect.width(), 100000), flags, text);
        }
        boxFrame = FrameOnScreen(box);
        screenArea = box->screen()->availableGeometry();
        UserKeys("Return");
    });
    reader.start(50);
    form.About1->trigger();

    ASSERT_FALSE(text.isEmpty()) << "no About box";
    EXPECT_LE(needed.width(), textRect.width()) << "the text is cut at the right";
    EXPECT_LE(needed.height(), textRect.height()) << "the text is cut at the bottom";
    EXPECT_TRUE(screenArea.contains(boxFrame));
    EXPECT_TRUE(text.startsWith("Tarvel Print To Fax Controller")) << text.toStdString();
    EXPECT_FALSE(text.contains("Windows")) << text.toStdString();
    EXPECT_TRUE(text.contains("programs on this desktop")) << text.toStdString();
    EXPECT_TRUE(text.contains("desktop session starts")) << text.toStdString();
}

} // namespace
} // namespace zn::ptf
