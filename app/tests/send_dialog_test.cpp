// Sending from the main window: the send dialog's rules, and whole faxes through the dialog to
// spandsp's fax terminal on the test bed's Class 1 modem, with the row updated afterwards.
#include "app/error_display_form.h"

#include <QMenu>
#include <QPlainTextEdit>
#include "app/send_fax_form.h"
#include "comms/base/error_codes.h"
#include "comms/base/exceptions.h"
#include "foundation/gui/assist_hint_button.h"
#include "fax_pages.h"
#include "efax_pair.h"
#include "main_screen_fixture.h"
#include "silent_modem.h"
#include "modal_driver.h"

#include <QDialog>

#include "faxline_harness.h"
#include "comms/tests/class2_sim_process.h"
#include "comms/port/port_names.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace zn::app::test {
namespace {

using namespace ::faxline;

TEST(SendDialogRules, DialWaitFromTheInitString)
{
    struct Case {
        const char* init;
        int wait;
    } cases[] = {
        {"ATS7=60", 75}, {"ATS7=120L", 120}, {"AT&FS7=120abc", 120}, {"ATX3", 75},
        {"ats7=90", 90}, {"ATS7=", 75},      {"ATS7=9", 75},         {"ATS7=200M1", 200},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TSendFaxForm::SetDialWaitFromInit(c.init), c.wait) << c.init;
}

// The six tip buttons sit beside their controls, and each shows its tip captioned "Sending Tip".
TEST(SendDialogWindow, EachTipButtonShowsItsTipAsASendingTip)
{
    foundation::test::TempHome home;
    TSendFaxForm form;
    form.show();
    QApplication::processEvents();
    const char* controls[6] = {"sfDialPrefix",  "sfPhoneNumber", "sfDialsuffix",
                               "DisablePrefix", "DisableSuffix", "SendFaxButton"};
    for (int i = 0; i < 6; ++i) {
        const std::string name = "AssistShowHintSpeedbutton" + std::to_string(i + 1);
        auto* tip = form.findChild<foundation::gui::TAssistShowHintSpeedbutton*>(QString::fromStdString(name));
        ASSERT_NE(tip, nullptr) << name;
        EXPECT_TRUE(tip->isVisible()) << name;
        QWidget* control = form.findChild<QWidget*>(controls[i]);
        ASSERT_NE(control, nullptr) << controls[i];
        EXPECT_EQ(tip->HintControl, control) << name;
        // Beside its control, on the same line, not over it.
        const QRect c(control->mapTo(&form, QPoint(0, 0)), control->size());
        const QRect t(tip->mapTo(&form, QPoint(0, 0)), tip->size());
        EXPECT_FALSE(c.intersects(t)) << name;
        EXPECT_TRUE(t.top() < c.bottom() && c.top() < t.bottom()) << name;
        ASSERT_FALSE(tip->AssistLines().isEmpty()) << name;

        ModalDriver modal;
        QString caption, shown;
        modal.Then([&](QWidget* box) {
            caption = box->windowTitle();
            if (auto* memo = box->findChild<QPlainTextEdit*>("Memo1"))
                shown = memo->toPlainText();
            box->close();
        });
        tip->click();
        EXPECT_TRUE(modal.Done()) << name;
        EXPECT_EQ(caption.toStdString(), "Sending Tip") << name;
        EXPECT_TRUE(shown.contains(tip->AssistLines().first())) << name << ": " << shown.toStdString();
    }
}

TEST(SendDialogRules, ModemInitGetsATOnlyWhenItHasNone)
{
    EXPECT_EQ(TSendFaxForm::ModemInitFor("&F&C1"), "AT&F&C1");
    EXPECT_EQ(TSendFaxForm::ModemInitFor("at&f"), "at&f");
    EXPECT_EQ(TSendFaxForm::ModemInitFor("X3 cat"), "X3 cat"); // "at" anywhere counts
}

class SendDialog : public MainScreenFixture {
protected:
    void SetUp() override { SetErrorWindowTimeoutForTest(300); }
    void TearDown() override
    {
        SetErrorWindowTimeoutForTest(0);
        ::unsetenv("ZN_COM7");
    }
    // Runs the dialog as a user would: Send, then waits for the session to end, then Close.
    // Error windows wait for the user: each queued answer presses OK on the next one.
    void AnswerErrorWindows(int count)
    {
        for (int i = 0; i < count; ++i)
            modal_.Then([](QWidget* w) { static_cast<QDialog*>(w)->done(1); });
    }
    void SendThroughDialog(std::function<void(TSendFaxForm&)> whileSending = {})
    {
        screen->RunSendDialog = [this, whileSending](TSendFaxForm& dialog) {
            dialog.show();
            EXPECT_EQ(dialog.sfPhoneNumber->text().toStdString(), "555-0100");
            dialog.SendFaxButtonClick();
            if (whileSending)
                whileSending(dialog);
            QElapsedTimer timer;
            timer.start();
            while (dialog.Busy && timer.elapsed() < 180000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            EXPECT_FALSE(dialog.Busy);
            dialog.CloseButtonClick();
            return 1;
        };
        screen->SendButtonClick();
    }
    // The window on modem device `device`, with one outgoing fax of `lines` lines highlighted.
    bool StartWithOneFax(const std::string& device, const std::string& file, const std::string& subject, int lines = 3)
    {
        ::setenv("ZN_COM7", device.c_str(), 1);
        Start();
        ConfigureModem();
        MakeFax(file, lines);
        AddOutgoing(subject, file);
        return GoToSubject(subject);
    }
    std::string Log() const
    {
        std::ifstream in(foundation::GetProgramFolder() + "Lastsend.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<Bitmap> Pages(const std::string& apf) { return FaxFilePages(apf); }
    // Clicks Close in the send dialog once its call is over and the failure window was answered.
    void CloseOnceTheCallIsOver(QTimer& closer, TSendFaxForm*& sending)
    {
        QObject::connect(&closer, &QTimer::timeout, [this, &sending] {
            if (sending && !sending->Busy && modal_.Seen().size() >= 2 && QApplication::activeModalWidget() == sending)
                QTest::mouseClick(sending->CloseButton, Qt::LeftButton);
        });
        closer.start(50);
    }
    ModalDriver modal_;
};

TEST_F(SendDialog, ACoverAndATwoPageDocumentArriveAndTheRowRecordsTheSend)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"answer", "--rx-file", dir.File("rx.tif"), "--ident", "FAR END", "--fast"});
    ASSERT_TRUE(line);
    ::setenv("ZN_COM7", line->Port('A').c_str(), 1);
    Start();
    ConfigureModem();
    const std::string cover = MakeFax("COV00001.APF", 10);
    const std::string document = MakeFax("FAX00001.APF", 140); // more than one page of text
    AddOutgoing("Offer", "FAX00001.APF", "COV00001.APF");
    ASSERT_TRUE(GoToSubject("Offer"));

    // A send that fails shows the error window, which waits for the user: answer it, so that a
    // failure ends the test with its reasons instead of leaving it waiting.
    AnswerErrorWindows(1);
    SendThroughDialog();
    EXPECT_TRUE(modal_.Seen().empty()) << "the send failed; see Lastsend.log:\n" << Log();

    // The far end has the cover first, then the document, each below the header line we add.
    std::vector<Bitmap> sent = Pages(cover);
    for (const Bitmap& b : Pages(document))
        sent.push_back(b);
    ASSERT_GE(sent.size(), 3u); // the cover and at least two pages of text
    auto got = ReadTiffPages(dir.File("rx.tif"));
    ASSERT_TRUE(got) << line->Errors();
    ASSERT_EQ(got->size(), sent.size()) << line->Errors();
    for (size_t i = 0; i < sent.size(); ++i) {
        const Bitmap& g = (*got)[i];
        ASSERT_GE(g.height, sent[i].height);
        EXPECT_TRUE(g.Rows(g.height - sent[i].height, sent[i].height) == sent[i]) << "page " << i + 1;
    }

    ASSERT_TRUE(GoToSubject("Offer"));
    data::TTable& t = screen->FaxTable;
    EXPECT_EQ(t.FieldByName("LASTRESULT").AsString(), "Sent");
    EXPECT_EQ(t.FieldByName("PHONE").AsString(), "555-0100");
    EXPECT_EQ(t.FieldByName("DATESENT").AsString(), QDate::currentDate().toString("yyyyMMdd").toStdString());
    EXPECT_EQ(t.FieldByName("TIMESENT").AsString().size(), 5u);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, "The fax was sent successfully");

    const std::string log = Log();
    EXPECT_EQ(log.rfind("Start:", 0), 0u) << log;
    for (const char* line :
         {"Opening com port: COM7\r\n", "Opened com port OK\r\n", "Checking for modem\r\n", "Fax#: 555-0100\r\n",
          "Fax Class: ", "StationID: +1 555 0199\r\n", "StartTransmit\r\n", "Result: ", "Finish: "})
        EXPECT_NE(log.find(line), std::string::npos) << line << " missing from\n" << log;
}

// The same road to efax, receiving on the other modem of the back-to-back pair.
TEST_F(SendDialog, ACoverAndATwoPageDocumentReachEfaxPixelForPixel)
{
    if (!HaveProgram("efax"))
        GTEST_SKIP() << "efax is not installed";
    TempDir dir;
    const EfaxPair pair = StartPairForEfax(dir);
    ASSERT_TRUE(pair.line);
    auto efax = StartPeer(dir, "rx", {"efax", "-v", "ewinchm", "-d", pair.efax, "-o1", "-r", dir.File("rx")});
    ::setenv("ZN_COM7", pair.ours.c_str(), 1);
    Start();
    ConfigureModem();
    const std::string cover = MakeFax("COV00011.APF", 10);
    const std::string document = MakeFax("FAX00011.APF", 140);
    AddOutgoing("To efax", "FAX00011.APF", "COV00011.APF");
    ASSERT_TRUE(GoToSubject("To efax"));
    AnswerErrorWindows(1);
    SendThroughDialog();
    EXPECT_TRUE(modal_.Seen().empty()) << "the send failed; see Lastsend.log:\n" << Log();
    EXPECT_EQ(efax->Wait(std::chrono::seconds(60)), 0);

    std::vector<Bitmap> sent = Pages(cover);
    for (const Bitmap& b : Pages(document))
        sent.push_back(b);
    ASSERT_GE(sent.size(), 3u);
    // efax names its pages rx.001, rx.002, ...
    const auto page = [&dir](size_t n) {
        const std::string digits = std::to_string(n);
        return dir.File("rx." + std::string(3 - std::min<size_t>(3, digits.size()), '0') + digits);
    };
    for (size_t i = 0; i < sent.size(); ++i) {
        const std::string name = page(i + 1);
        auto got = ReadTiffPages(name);
        ASSERT_TRUE(got) << name << " missing";
        const Bitmap& g = got->front();
        ASSERT_GE(g.height, sent[i].height) << name;
        EXPECT_TRUE(g.Rows(g.height - sent[i].height, sent[i].height) == sent[i]) << "page " << i + 1;
    }
    EXPECT_FALSE(ReadTiffPages(page(sent.size() + 1))) << "no page more than sent";

    ASSERT_TRUE(GoToSubject("To efax"));
    data::TTable& t = screen->FaxTable;
    EXPECT_EQ(t.FieldByName("LASTRESULT").AsString(), "Sent");
    EXPECT_EQ(t.FieldByName("DATESENT").AsString(), QDate::currentDate().toString("yyyyMMdd").toStdString());
    EXPECT_EQ(t.FieldByName("TIMESENT").AsString().size(), 5u);
}

TEST_F(SendDialog, ACancelledSendKeepsDateSentBlankAndRecordsTheError)
{
    TempDir dir;
    // Modem B is never answered: the call rings until it is cancelled.
    auto line = Line::Start(dir.Path(), {"pair"});
    ASSERT_TRUE(line);
    ASSERT_TRUE(StartWithOneFax(line->Port('A'), "FAX00002.APF", "Never"));

    AnswerErrorWindows(1);
    SendThroughDialog([](TSendFaxForm& dialog) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        dialog.FxSendFax1.CancelFax();
    });

    ASSERT_TRUE(GoToSubject("Never"));
    data::TTable& t = screen->FaxTable;
    EXPECT_TRUE(t.FieldByName("DATESENT").IsNull());
    EXPECT_TRUE(t.FieldByName("TIMESENT").IsNull());
    EXPECT_EQ(t.FieldByName("LASTRESULT").AsString(), comms::ErrorCodeToText(-6005));
    EXPECT_EQ(LastSendErrorCode, -6005);
}

TEST_F(SendDialog, AMissingModemEndsTheAttemptWithTheOpenErrorAndNoResult)
{
    ::setenv("ZN_COM7", "/dev/zn-no-such-modem", 1);
    Start();
    ConfigureModem();
    MakeFax("FAX00003.APF", 3);
    AddOutgoing("Nowhere", "FAX00003.APF");
    ASSERT_TRUE(GoToSubject("Nowhere"));
    AnswerErrorWindows(1);
    SendThroughDialog();
    EXPECT_EQ(modal_.Seen(), std::vector<std::string>{"TShowErrorForm"});
    ASSERT_TRUE(GoToSubject("Nowhere"));
    EXPECT_TRUE(screen->FaxTable.FieldByName("LASTRESULT").IsNull());
    EXPECT_TRUE(screen->FaxTable.FieldByName("DATESENT").IsNull());
    const std::string log = Log();
    EXPECT_NE(
        log.find("Error opening com port: COM7\r\nMessage:Unable to open the specified communications port ( Com7 )"),
        std::string::npos)
        << log;
}

// A busy line and a far end that never answers: the row keeps DATESENT blank and LASTRESULT holds
// the error text; nothing says the fax was sent.
struct FailedCall {
    const char* name;
    std::vector<std::string> line;
};

class SendDialogFailure : public SendDialog, public ::testing::WithParamInterface<FailedCall> {};

TEST_P(SendDialogFailure, LeavesDateSentBlankAndTheErrorInTheRow)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), GetParam().line);
    ASSERT_TRUE(line);
    ASSERT_TRUE(StartWithOneFax(line->Port('A'), "FAX00004.APF", "Refused"));
    AnswerErrorWindows(1);
    SendThroughDialog();
    EXPECT_EQ(modal_.Seen(), std::vector<std::string>{"TShowErrorForm"}) << Log();

    ASSERT_TRUE(GoToSubject("Refused"));
    data::TTable& t = screen->FaxTable;
    EXPECT_TRUE(t.FieldByName("DATESENT").IsNull());
    EXPECT_TRUE(t.FieldByName("TIMESENT").IsNull());
    ASSERT_NE(LastSendErrorCode, 0);
    const std::string result = t.FieldByName("LASTRESULT").AsString();
    EXPECT_EQ(result, comms::ErrorCodeToText(LastSendErrorCode)) << Log();
    EXPECT_NE(result, "Sent");
    for (const Box& box : boxes)
        EXPECT_NE(box.text, "The fax was sent successfully");
    EXPECT_NE(Log().find("Result: " + result + "\r\n"), std::string::npos) << Log();
}

INSTANTIATE_TEST_SUITE_P(Calls, SendDialogFailure,
                         ::testing::Values(FailedCall{"Busy", {"pair", "--busy", "*"}},
                                           FailedCall{"NoAnswer", {"pair", "--no-answer", "*", "--ring-timeout", "2"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// The row of the fax being sent is gone when the dialog closes (deleted meanwhile): the result is
// written into no other fax's row, and the user is told it was not recorded.
TEST_F(SendDialog, ARowThatCannotBeFoundAgainGetsNoResultAndNoOtherRowDoes)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"pair", "--busy", "*"});
    ASSERT_TRUE(line);
    ASSERT_TRUE(StartWithOneFax(line->Port('A'), "FAX00007.APF", "Vanishing"));
    MakeFax("FAX00008.APF", 3);
    AddOutgoing("Bystander", "FAX00008.APF");
    ASSERT_TRUE(GoToSubject("Vanishing"));
    AnswerErrorWindows(1);
    SendThroughDialog([this](TSendFaxForm&) {
        ASSERT_TRUE(GoToSubject("Vanishing"));
        screen->FaxTable.Delete();
    });

    EXPECT_EQ(Subjects(), std::vector<std::string>{"Bystander"});
    ASSERT_TRUE(GoToSubject("Bystander"));
    data::TTable& t = screen->FaxTable;
    EXPECT_TRUE(t.FieldByName("LASTRESULT").IsNull());
    EXPECT_TRUE(t.FieldByName("DATESENT").IsNull());
    EXPECT_EQ(t.FieldByName("PHONE").AsString(), "555-0100");
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text.rfind("The fax's row could not be found again, so its result was not recorded.", 0), 0u)
        << boxes.back().text;
    EXPECT_NE(boxes.back().text.find("Result: " + comms::ErrorCodeToText(LastSendErrorCode)), std::string::npos)
        << boxes.back().text;
}

// Ctrl+Shift+Z logs the session: the port's dispatch log with the dialog's entries goes to ZNOUT.LOG.
TEST_F(SendDialog, CtrlShiftZKeepsTheSessionsLogInZnout)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"pair", "--busy", "*"});
    ASSERT_TRUE(line);
    ASSERT_TRUE(StartWithOneFax(line->Port('A'), "FAX00010.APF", "Logged"));
    AnswerErrorWindows(1);
    screen->RunSendDialog = [this](TSendFaxForm& dialog) {
        dialog.show();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QApplication::sendEvent(&dialog, &press);
        EXPECT_TRUE(dialog.LogSession);
        dialog.SendFaxButtonClick();
        QElapsedTimer timer;
        timer.start();
        while (dialog.Busy && timer.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        dialog.CloseButtonClick();
        return 1;
    };
    screen->SendButtonClick();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.front().text, "Logging is now ON. Log file will be saved\rfor this fax session as ZNOUT.LOG. This "
                                  "will\roverwrite any previous ZNOUT.LOG.");
    const std::string znout = foundation::test::ReadFile(foundation::GetProgramFolder() + "ZNOUT.LOG");
    for (const char* entry : {"Check_for_modem", "Start_of_fax_session", "Phone_555-0100", "FaxClass_"})
        EXPECT_NE(znout.find(entry), std::string::npos) << entry << " missing from ZNOUT.LOG";
    EXPECT_NE(Log().find("Logging on\r\n"), std::string::npos) << Log();
}

// A modem that does not answer "AT": the question names the port, and OK ends the attempt.
TEST_F(SendDialog, AModemThatDoesNotAnswerIsReportedWithThePortAndOkStops)
{
    SilentModem modem;
    ASSERT_FALSE(modem.Device().empty());
    ASSERT_TRUE(StartWithOneFax(modem.Device(), "FAX00009.APF", "Mute"));
    foundation::Settings().ResetString.clear();
    std::string caption, text;
    bool continueOffered = false;
    modal_.Then([&](QWidget* w) {
        auto* form = static_cast<TShowErrorForm*>(w);
        caption = form->windowTitle().toStdString();
        text = form->Memo1->toPlainText().toStdString();
        continueOffered = form->ContinueButton->isVisible();
        form->BitBtn1->click();
    });
    SendThroughDialog();
    EXPECT_EQ(caption, "No Response From Modem");
    EXPECT_TRUE(continueOffered);
    const std::string shown = QString::fromStdString(text).replace("\r\n", "\n").replace('\r', '\n').toStdString();
    EXPECT_EQ(shown, "We did not receive a modem response from COM7.\n\nTo verify the communications port, please "
                     "click on the Find Modem button on the Preferences screen.\n\nIf you are sure there is a modem "
                     "on COM7, press CONTINUE\nto continue, otherwise press OK to stop the fax session.");
    const std::string log = Log();
    EXPECT_NE(log.find("Checking for modem\r\nError checking for modem\r\nExit\r\nFinish: "), std::string::npos) << log;
}

// A modem that never answers holds the probe for its whole time-out: meanwhile the window keeps
// handling events, and Close ends the attempt without the no-response question.
TEST_F(SendDialog, CloseCancelsTheModemCheckWhileTheWindowKeepsWorking)
{
    SilentModem modem;
    ASSERT_FALSE(modem.Device().empty());
    ASSERT_TRUE(StartWithOneFax(modem.Device(), "FAX00005.APF", "Silent"));
    foundation::Settings().ResetString = "ATZ";

    int ticksWhileChecking = 0;
    bool sawPreparing = false;
    screen->RunSendDialog = [&](TSendFaxForm& dialog) {
        dialog.show();
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (dialog.Busy && dialog.status->text() == "Checking for modem...")
                ++ticksWhileChecking;
            // Once the window has shown it is checking, the user gives up.
            if (ticksWhileChecking == 5) {
                sawPreparing = dialog.Preparing();
                dialog.CloseButton->click();
            }
        });
        ticker.start(20);
        dialog.SendFaxButtonClick();
        EXPECT_FALSE(dialog.Busy);
        ticker.stop();
        // The port finishes closing once the wait that held it has been left.
        QElapsedTimer timer;
        timer.start();
        while (dialog.FxComPort1.Open() && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_FALSE(dialog.FxComPort1.Open());
        dialog.CloseButtonClick();
        return 1;
    };
    screen->SendButtonClick();

    EXPECT_GE(ticksWhileChecking, 5);
    EXPECT_TRUE(sawPreparing);
    EXPECT_TRUE(modal_.Seen().empty()) << "no question after a cancel";
    const std::string log = Log();
    EXPECT_NE(log.find("Checking for modem\r\nCancelled by the user\r\nFinish: "), std::string::npos) << log;
    EXPECT_EQ(log.find("Error checking for modem"), std::string::npos) << log;
    ASSERT_TRUE(GoToSubject("Silent"));
    EXPECT_TRUE(screen->FaxTable.FieldByName("LASTRESULT").IsNull());
}

// Screenshots of the send dialog and the fax status window during a call, for looking at them:
// ZN_SHOT_DIR=folder, under Xvfb with QT_QPA_PLATFORM=xcb, or offscreen.
TEST_F(SendDialog, StatusWindowDuringACallCanBePictured)
{
    const char* shots = std::getenv("ZN_SHOT_DIR");
    if (!shots)
        GTEST_SKIP() << "set ZN_SHOT_DIR to take the pictures";
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"answer", "--rx-file", dir.File("rx.tif"), "--ident", "FAR END"});
    ASSERT_TRUE(line);
    ASSERT_TRUE(StartWithOneFax(line->Port('A'), "FAX00006.APF", "Pictured", 140));
    AnswerErrorWindows(1);
    int taken = 0;
    SendThroughDialog([&](TSendFaxForm& dialog) {
        QElapsedTimer timer;
        timer.start();
        for (qint64 at : {3000, 9000, 15000}) {
            while (dialog.Busy && timer.elapsed() < at)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (!dialog.Busy)
                break;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible() && w != screen.get())
                    w->grab().save(QString("%1/call_%2_%3.png").arg(shots).arg(at).arg(w->objectName()));
            ++taken;
        }
    });
    EXPECT_GT(taken, 0);
}

} // namespace
} // namespace zn::app::test

namespace zn::app::test {
namespace {

// Processes events until `done` or `ms` milliseconds have passed; whether it was done.
bool WaitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// How a user ends a call that runs: the status window's Cancel or Esc there, or Esc, Close or the
// window's close button in the send dialog, each answered Yes.
enum class CancelBy { StatusWindow, StatusWindowEscape, Escape, CloseButton, WindowClose };

struct CancelCase {
    const char* name;
    CancelBy by;
};

class SendDialogCancel : public SendDialog, public ::testing::WithParamInterface<CancelCase> {};

// The dialog runs modally as zn runs it, and the far end never answers. While it rings, the status
// window is up as a window of the dialog (so that window managers keep it above), and the user ends
// the call: it ends at once, the port is given back and the row records the cancel.
TEST_P(SendDialogCancel, EndsTheRingingCallAtOnceAndRecordsIt)
{
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"pair"}); // modem B is never answered
    ASSERT_TRUE(line);
    ASSERT_TRUE(StartWithOneFax(line->Port('A'), "FAX00031.APF", "Cancelled"));
    foundation::Settings().DialAttempts = 3;
    const CancelBy by = GetParam().by;
    const bool asked = by != CancelBy::StatusWindow && by != CancelBy::StatusWindowEscape;
    if (asked)
        answers.push_back(platform::IDYES); // "Do you want to cancel it?"

    bool statusShown = false, statusOwnedByDialog = false, ended = false, portReleased = false;
    qint64 endedAfterMs = -1;
    TSendFaxForm* sending = nullptr;
    // The first modal window is the send dialog itself: Send Fax Now, as a user clicks it.
    modal_.Then([&](QWidget* w) {
        sending = static_cast<TSendFaxForm*>(w);
        QTest::mouseClick(sending->SendFaxButton, Qt::LeftButton);
    });
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (!sending || !sending->Busy || sending->Preparing() || sending->FxSendFax1.GetProgressCode() != 4802)
            return;
        user.stop();
        comms::TStandardFaxDisplay* form = sending->FxFaxStatus1.Form();
        statusShown = form->isVisible();
        statusOwnedByDialog = form->windowHandle() && form->windowHandle()->transientParent() == sending->windowHandle();
        WaitFor([] { return false; }, 1500); // a ring or two
        QElapsedTimer clock;
        clock.start();
        switch (by) {
        case CancelBy::StatusWindow: QTest::mouseClick(form->fsCancel, Qt::LeftButton); break;
        case CancelBy::StatusWindowEscape: QTest::keyClick(form, Qt::Key_Escape); break;
        case CancelBy::Escape: QTest::keyClick(sending, Qt::Key_Escape); break;
        case CancelBy::CloseButton: QTest::mouseClick(sending->CloseButton, Qt::LeftButton); break;
        case CancelBy::WindowClose: sending->close(); break;
        }
        ended = WaitFor([&] { return !sending->FxSendFax1.Busy(); }, 5000);
        endedAfterMs = clock.elapsed();
        portReleased = !sending->FxComPort1.Open() && foundation::test::LockFilesOf(::getpid()) == 0;
        if (!ended)
            sending->FxSendFax1.CancelFax(); // the test's own way out
    });
    user.start(20);
    modal_.Then([](QWidget* w) { static_cast<QDialog*>(w)->done(1); }); // the failure window: OK
    QTimer closer;
    CloseOnceTheCallIsOver(closer, sending);
    screen->SendButtonClick();

    EXPECT_TRUE(statusShown);
    EXPECT_TRUE(statusOwnedByDialog) << "the status window is not a window of the send dialog";
    EXPECT_TRUE(ended) << "the call went on after the user ended it";
    EXPECT_LT(endedAfterMs, 1000) << "the call took that long to end";
    EXPECT_TRUE(portReleased);
    EXPECT_EQ(modal_.Seen(), (std::vector<std::string>{"SendFaxForm", "TShowErrorForm"}));
    if (asked) {
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.front().text, "A fax call is in progress.\rDo you want to cancel it?");
    }
    ASSERT_TRUE(GoToSubject("Cancelled"));
    data::TTable& t = screen->FaxTable;
    EXPECT_EQ(t.FieldByName("LASTRESULT").AsString(), comms::ErrorCodeToText(-6005));
    EXPECT_TRUE(t.FieldByName("DATESENT").IsNull());
}

INSTANTIATE_TEST_SUITE_P(Ways, SendDialogCancel,
                         ::testing::Values(CancelCase{"StatusWindowCancel", CancelBy::StatusWindow},
                                           CancelCase{"StatusWindowEscape", CancelBy::StatusWindowEscape},
                                           CancelCase{"Escape", CancelBy::Escape},
                                           CancelCase{"CloseButton", CancelBy::CloseButton},
                                           CancelCase{"WindowClose", CancelBy::WindowClose}),
                         [](const auto& info) { return std::string(info.param.name); });

// Cancel while a page is on the line, with the modem set up to hang up when DTR drops (&D2, the
// factory setting) or to ignore DTR (&D0): the call ends at both ends, and by the time the dialog
// shows that it ended the port and its lock files are free. Dropping DTR ends it within a second
// or two; a modem that ignores DTR is left by the escape sequence, guard times and all.
struct MidPageCancelCase {
    const char* name;
    const char* initString;
    bool byDtr; // the modem hangs up on DTR
};

class SendDialogCancelMidPage : public SendDialog, public ::testing::WithParamInterface<MidPageCancelCase> {
protected:
    // The end of the test bed's trace: the cancel and the hang-up.
    static std::string TraceTail(const Line& line)
    {
        const std::string trace = line.Errors();
        return trace.substr(trace.size() > 4000 ? trace.size() - 4000 : 0);
    }
};

TEST_P(SendDialogCancelMidPage, EndsTheCallAndFreesThePortBeforeTheDialogSaysSo)
{
    const MidPageCancelCase& c = GetParam();
    TempDir dir;
    auto line = Line::Start(dir.Path(), {"answer", "--fast", "--trace", "--rx-file", dir.File("rx.tif")});
    ASSERT_TRUE(line);
    ASSERT_TRUE(StartWithOneFax(line->Port('A'), "FAX00033.APF", "Cancelled mid-page", 140));
    foundation::Settings().InitString = c.initString;

    TSendFaxForm* sending = nullptr;
    bool cancelled = false, ended = false, freeWhenEnded = false, freeWhenShown = false;
    qint64 endedAfterMs = -1;
    modal_.Then([&](QWidget* w) {
        sending = static_cast<TSendFaxForm*>(w);
        QTest::mouseClick(sending->SendFaxButton, Qt::LeftButton);
    });
    modal_.Then([&](QWidget* w) { // the failure window: the call is over
        freeWhenShown = !sending->FxComPort1.Open() && foundation::test::LockFilesOf(::getpid()) == 0;
        static_cast<QDialog*>(w)->done(1);
    });
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (!sending || cancelled)
            return;
        comms::TFxSendFax& fax = sending->FxSendFax1;
        // The first page on its way: its bytes go to the modem.
        if (!sending->Busy || sending->Preparing() || fax.GetProgressCode() != comms::fsSendingPage
            || fax.GetCurrentPage() != 1 || fax.GetBytesTransferred() <= 0)
            return;
        cancelled = true;
        user.stop();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(sending->FxFaxStatus1.Form()->fsCancel, Qt::LeftButton);
        ended = WaitFor([&] { return !fax.Busy(); }, 15000);
        endedAfterMs = clock.elapsed();
        freeWhenEnded = !sending->FxComPort1.Open() && foundation::test::LockFilesOf(::getpid()) == 0;
        if (!ended)
            fax.CancelFax(); // the test's own way out
    });
    user.start(5);
    QTimer closer;
    CloseOnceTheCallIsOver(closer, sending);
    screen->SendButtonClick();

    ASSERT_TRUE(cancelled) << "the page never went out\n" << Log();
    EXPECT_TRUE(ended) << "the call went on after the user ended it";
    // Well under the escape sequence's guard times (about 5 s), with room for a busy machine.
    if (c.byDtr)
        EXPECT_LT(endedAfterMs, 4000) << "the call took that long to end\n" << TraceTail(*line);
    EXPECT_TRUE(freeWhenEnded);
    EXPECT_TRUE(freeWhenShown);
    EXPECT_EQ(modal_.Seen(), (std::vector<std::string>{"SendFaxForm", "TShowErrorForm"}));
    // The far end's call ended too, in the middle of the first page.
    EXPECT_TRUE(WaitFor([&] { return !line->Results().empty(); }, 10000)) << line->Output();
    ASSERT_FALSE(line->Results().empty());
    EXPECT_EQ(line->Results().front().rfind("RESULT 0 ", 0), std::string::npos) << line->Results().front();
    EXPECT_NE(line->Results().front().find(" pages_rx=0 "), std::string::npos) << line->Results().front();
    EXPECT_EQ(line->Errors().find("A DTR dropped (&D2)") != std::string::npos, c.byDtr) << TraceTail(*line);
    ASSERT_TRUE(GoToSubject("Cancelled mid-page"));
    EXPECT_TRUE(screen->FaxTable.FieldByName("DATESENT").IsNull());
}

INSTANTIATE_TEST_SUITE_P(Modems, SendDialogCancelMidPage,
                         ::testing::Values(MidPageCancelCase{"FactorySettings", "AT&F&C1&D2&K3S7=90", true},
                                           MidPageCancelCase{"NoDtrSetting", "ATS7=90", true},
                                           MidPageCancelCase{"DtrIgnored", "AT&F&C1&D0S7=90", false}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zn::app::test

namespace zn::app::test {
namespace {

// A modem that goes away in the middle of a call (unplugged, switched off): the test bed's modem
// process is killed while zn dials (Class 1) or sends a page (Class 2).
struct VanishCase {
    const char* name;
    int faxClass;    // [Modem] FaxClass
    int killFrom, killTo; // the statuses at which the modem goes (Class 2 soon says 4805 while
                          // the line still carries the page)
};

class SendDialogModemGone : public SendDialog, public ::testing::WithParamInterface<VanishCase> {
protected:
    // What the user met of a send whose modem went away at the case's moment.
    struct Gone {
        bool pulled = false;        // the modem went during the call
        qint64 noticedAfterMs = -1; // from then to the error window
        std::string caption, text;  // of the error window
    };
    Gone SendWhileTheModemGoes(TempDir& dir)
    {
        const VanishCase& c = GetParam();
        std::string device;
        if (c.faxClass == 1) {
            line_ = Line::Start(dir.Path(), {"pair"}); // modem B is never answered
            if (line_)
                device = line_->Port('A');
        } else {
            sim_ = std::make_unique<comms::test::Class2SimProcess>(dir, std::vector<std::string>{});
            device = sim_->Device();
        }
        Gone gone;
        if (device.empty() || !StartWithOneFax(device, "FAX00032.APF", "Unplugged", 140)) {
            ADD_FAILURE() << "no modem for the send";
            return gone;
        }
        foundation::Settings().FaxClass = c.faxClass;
        foundation::Settings().DialAttempts = 3;
        ChildProcess& modem = line_ ? line_->Process() : sim_->Process();

        TSendFaxForm* sending = nullptr;
        QElapsedTimer sinceGone;
        modal_.Then([&](QWidget* w) {
            sending = static_cast<TSendFaxForm*>(w);
            QTest::mouseClick(sending->SendFaxButton, Qt::LeftButton);
        });
        modal_.Then([&](QWidget* w) {
            gone.noticedAfterMs = sinceGone.elapsed();
            auto* form = static_cast<TShowErrorForm*>(w);
            gone.caption = form->windowTitle().toStdString();
            gone.text = form->Memo1->toPlainText().toStdString();
            if (const char* shots = std::getenv("ZN_SHOT_DIR"))
                form->grab().save(QString("%1/modem_gone_%2.png").arg(shots, GetParam().name));
            form->BitBtn1->click();
        });
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, [&] {
            if (!sending)
                return;
            // The attempt is over (or never reached the moment to pull the plug): the dialog closes.
            if (!sending->Busy && QApplication::activeModalWidget() == sending
                && (!sinceGone.isValid() || modal_.Done())) {
                QTest::mouseClick(sending->CloseButton, Qt::LeftButton);
                return;
            }
            if (!sinceGone.isValid()) {
                if (sending->Busy && !sending->Preparing() && sending->FxSendFax1.GetProgressCode() >= c.killFrom
                    && sending->FxSendFax1.GetProgressCode() <= c.killTo) {
                    ::kill(modem.Pid(), SIGKILL);
                    modem.Wait(std::chrono::seconds(10));
                    sinceGone.start();
                }
                return;
            }
            if (sending->Busy && sinceGone.elapsed() > 20000)
                sending->FxSendFax1.CancelFax(); // the test's own way out
        });
        user.start(20);
        screen->SendButtonClick();
        gone.pulled = sinceGone.isValid();
        return gone;
    }
    std::unique_ptr<Line> line_;
    std::unique_ptr<comms::test::Class2SimProcess> sim_;
};

TEST_P(SendDialogModemGone, IsNoticedWithinSecondsAndSaysSo)
{
    TempDir dir;
    const VanishCase& c = GetParam();
    const Gone gone = SendWhileTheModemGoes(dir);
    const std::string& caption = gone.caption;
    const std::string& text = gone.text;
    const qint64 noticedAfterMs = gone.noticedAfterMs;

    ASSERT_TRUE(gone.pulled) << "the call never reached status " << c.killFrom << "\n" << Log();
    EXPECT_EQ(caption, "Modem Not Found");
    EXPECT_GE(noticedAfterMs, 0);
    EXPECT_LT(noticedAfterMs, 5000);
    const std::string place = "on COM7 (" + comms::ComPortDevice(7) + ")";
    EXPECT_EQ(QString::fromStdString(text).replace("\r\n", "\n").toStdString(),
              "The modem " + place
                  + " can no longer be found: it was unplugged or switched off.\n\nThe fax was not sent. When the "
                    "modem is back, click Send Fax Now to send it.");
    EXPECT_NE(Log().find("The modem " + place + " is gone\r\n"), std::string::npos) << Log();
    // The log's result says what ended the call: not the cancel the watch used to end it.
    EXPECT_NE(Log().find("Result: The modem " + place + " is gone\r\n"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("Result: " + comms::ErrorCodeToText(comms::ecCancelRequested)), std::string::npos) << Log();
    ASSERT_TRUE(GoToSubject("Unplugged"));
    EXPECT_EQ(screen->FaxTable.FieldByName("LASTRESULT").AsString(), "The modem " + place + " is gone");
    EXPECT_TRUE(screen->FaxTable.FieldByName("DATESENT").IsNull());
    EXPECT_EQ(foundation::test::LockFilesOf(::getpid()), 0);
}

// After a send that ended "Modem Not Found", with a modem on the port again, the Receive button,
// the menu command Fax > Receive Faxes and its key Ctrl+R each start receive mode and stop it.
TEST_P(SendDialogModemGone, AfterwardsTheButtonTheMenuAndItsKeyEachStartAndStopReceiving)
{
    TempDir dir;
    const Gone gone = SendWhileTheModemGoes(dir);
    ASSERT_TRUE(gone.pulled) << Log();
    ASSERT_EQ(gone.caption, "Modem Not Found");
    auto back = Line::Start(dir.Path(), {"pair"});
    ASSERT_TRUE(back);
    ::setenv("ZN_COM7", back->Port('A').c_str(), 1);
    foundation::Settings().FaxClassReceive = 1;
    foundation::Settings().DisableReceivingFaxesNotification = true;
    TMainScreen* main = screen.get();
    const auto activate = [main] {
        main->activateWindow();
        QApplication::setActiveWindow(main);
        QApplication::processEvents();
    };
    const auto chooseFromMenu = [main, activate] {
        activate();
        QTest::keyClick(main, Qt::Key_F, Qt::AltModifier);
        QApplication::processEvents();
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr) << "Alt+F opened no menu";
        QTest::keyClick(menu, Qt::Key_R);
    };
    const std::vector<std::pair<std::string, std::function<void()>>> ways = {
        {"the Receive button", [main] { QTest::mouseClick(main->ReceiveButton, Qt::LeftButton); }},
        {"Ctrl+R", [main, activate] {
             activate();
             QTest::keyClick(main, Qt::Key_R, Qt::ControlModifier);
         }},
        {"Fax > Receive Faxes", chooseFromMenu},
    };
    for (const auto& [name, use] : ways) {
        use();
        EXPECT_TRUE(WaitFor([main] { return main->ReceiveModeOn; }, 20000))
            << name << " did not start receiving\n"
            << foundation::test::ReadFile(foundation::GetProgramFolder() + "Lastrec.log");
        use();
        EXPECT_TRUE(WaitFor([main] { return !main->ReceiveModeOn; }, 20000)) << name << " did not stop receiving";
    }
}

INSTANTIATE_TEST_SUITE_P(Calls, SendDialogModemGone,
                         ::testing::Values(VanishCase{"Class1WhileDialing", 1, 4802, 4802},
                                           VanishCase{"Class2WhileSendingAPage", 2, 4804, 4805}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zn::app::test
