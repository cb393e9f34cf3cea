// Sending on a desktop with a window manager (Xvfb and openbox, tests/desktop/openbox_session.sh):
// the user sends twice from one Send Fax dialog to spandsp's fax terminal on the test bed, whose
// line drops in the middle of the first call. During the second call the user clicks the main
// window and the dialog, as one does while waiting, and then Cancel in the Fax Status window.
#include "app/send_fax_form.h"
#include "comms/gui/fax_status_window.h"
#include "faxline_harness.h"
#include "foundation/tests/desktop_session.h"
#include "main_screen_fixture.h"
#include "modal_driver.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

namespace zn::app::test {
namespace {

using namespace ::faxline;
using foundation::test::SettlesAbove;
using foundation::test::UserClick;
using foundation::test::WaitUntil;

// The seconds of a "  m:ss" text; -1 for anything else.
int Seconds(const QString& text)
{
    const QStringList parts = text.trimmed().split(':');
    bool minutesOk = false, secondsOk = false;
    const int minutes = parts.size() == 2 ? parts[0].toInt(&minutesOk) : 0;
    const int seconds = parts.size() == 2 ? parts[1].toInt(&secondsOk) : 0;
    return minutesOk && secondsOk ? minutes * 60 + seconds : -1;
}

bool Exposed(QWidget* w) { return w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed(); }

class SendOnTheDesktop : public MainScreenFixture {};

TEST_F(SendOnTheDesktop, TheStatusWindowStaysAboveItsDialogAndEachCallTimesItselfFromZero)
{
    if (!foundation::test::OnDesktop())
        GTEST_SKIP() << "needs X11 with a window manager (tests/desktop/openbox_session.sh)";
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"answer", "--rx-file", dir.File("rx.tif"), "--calls", "2", "--hangup-at", "8",
                                         "--hangup-calls", "1"});
    ASSERT_TRUE(line);
    ::setenv("ZN_COM7", line->Port('A').c_str(), 1);
    Start();
    ConfigureModem();
    MakeFax("FAX00041.APF", 200); // pages long enough to outlast the first call
    AddOutgoing("Twice", "FAX00041.APF");
    ASSERT_TRUE(GoToSubject("Twice"));
    screen->setGeometry(30, 40, 1200, 900);
    screen->show();
    ASSERT_TRUE(WaitUntil([&] { return Exposed(screen.get()); }, 5000));

    enum class Phase { FirstCall, SecondCallDialled, SecondCallTimed, Done };
    Phase phase = Phase::FirstCall;
    TSendFaxForm* sending = nullptr;
    QElapsedTimer sinceSecondSend;
    int firstCallShown = -1, secondCallShown = -1, secondCallTook = -1;
    bool aboveAtStart = false, aboveAfterMainClicked = false, aboveAfterDialogClicked = false;

    ModalDriver modal;
    modal.Then([&](QWidget* w) {
        sending = static_cast<TSendFaxForm*>(w);
        WaitUntil([&] { return Exposed(w); }, 5000);
        UserClick(sending->SendFaxButton);
    });
    // The failure window of each call: OK.
    const auto ok = [](QWidget* w) { static_cast<QDialog*>(w)->done(1); };
    modal.Then(ok);
    modal.Then(ok);

    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (!sending)
            return;
        comms::TStandardFaxDisplay* form = sending->FxFaxStatus1.Form();
        const QString elapsed = form ? form->fsElapsedTime->text() : QString();
        switch (phase) {
        case Phase::FirstCall:
            if (sending->Busy && form && form->isVisible())
                firstCallShown = std::max(firstCallShown, Seconds(elapsed));
            // The line dropped and the user said OK to the failure window: Send again.
            if (!sending->Busy && modal.Seen().size() >= 2 && QApplication::activeModalWidget() == sending) {
                phase = Phase::SecondCallDialled;
                sinceSecondSend.start();
                UserClick(sending->SendFaxButton);
            }
            break;
        case Phase::SecondCallDialled:
            // The far end has answered and the clock runs.
            if (!form || !form->isVisible() || elapsed == "00:00" || Seconds(elapsed) < 1)
                break;
            phase = Phase::SecondCallTimed;
            secondCallShown = Seconds(elapsed);
            secondCallTook = int(sinceSecondSend.elapsed() / 1000);
            WaitUntil([&] { return Exposed(form); }, 3000);
            aboveAtStart = SettlesAbove({form}, {sending});
            UserClick(screen.get(), QPoint(300, 300));
            aboveAfterMainClicked = SettlesAbove({form}, {sending});
            foundation::test::Screenshot("status_after_main_window_clicked");
            UserClick(sending->sfPhoneNumber);
            aboveAfterDialogClicked = SettlesAbove({form}, {sending});
            foundation::test::Screenshot("status_after_dialog_clicked");
            UserClick(form->fsCancel);
            break;
        case Phase::SecondCallTimed:
            if (!sending->Busy && modal.Done() && QApplication::activeModalWidget() == sending) {
                phase = Phase::Done;
                UserClick(sending->CloseButton);
            }
            break;
        case Phase::Done: break;
        }
    });
    user.start(100);
    QTimer guard; // the test's own way out of a walk that went wrong
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (sending && sending->FxSendFax1.Busy())
            sending->FxSendFax1.CancelFax();
        for (QWidget* w = QApplication::activeModalWidget(); w; w = QApplication::activeModalWidget())
            static_cast<QDialog*>(w)->done(2);
    });
    guard.start(150000);
    screen->SendButtonClick();
    ::unsetenv("ZN_COM7");

    ASSERT_NE(phase, Phase::FirstCall) << "the first call did not end";
    ASSERT_NE(phase, Phase::SecondCallDialled) << "the second call was not answered";
    EXPECT_GE(firstCallShown, 3) << "the first call's clock did not run";
    EXPECT_LE(secondCallShown, secondCallTook)
        << "the second call shows " << secondCallShown << " s after " << secondCallTook << " s";
    EXPECT_TRUE(aboveAtStart);
    EXPECT_TRUE(aboveAfterMainClicked) << "a click on the main window raised the dialog over the status window";
    EXPECT_TRUE(aboveAfterDialogClicked) << "a click on the dialog raised it over the status window";
    EXPECT_EQ(phase, Phase::Done);
}

} // namespace
} // namespace zn::app::test
