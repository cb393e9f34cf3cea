// Sending from the main window: the send dialog's rules, and whole faxes through the dialog to
// spandsp's fax terminal on the test bed's Class 1 modem, with the row updated afterwards.
#include "app/error_display_form.h"
#include "app/send_fax_form.h"
#include "fax_pages.h"
#include "main_screen_fixture.h"
#include "modal_driver.h"

#include <QDialog>

#include "faxline_harness.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QLineEdit>

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
        {"ats7=90", 90}, {"ATS7=", 75},     {"ATS7=9", 75},        {"ATS7=200M1", 200},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TSendFaxForm::SetDialWaitFromInit(c.init), c.wait) << c.init;
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
    // The modem settings, after the start has read ZN.INI.
    void ConfigureModem()
    {
        auto& s = foundation::Settings();
        s.PortNotConfigured = false;
        s.ComPort = 6; // COM7
        s.FaxClass = 1;
        s.MaximumBPS = 14400;
        s.DialAttempts = 1;
        s.Name = "Ann Sender";
        s.Fax = "+1 555 0199";
    }
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
    std::string Log() const
    {
        std::ifstream in(foundation::GetProgramFolder() + "Lastsend.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<Bitmap> Pages(const std::string& apf) { return FaxFilePages(apf); }
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
    for (const char* line : {"Opening com port: COM7\r\n", "Opened com port OK\r\n", "Checking for modem\r\n",
                             "Fax#: 555-0100\r\n", "Fax Class: ", "StationID: +1 555 0199\r\n", "StartTransmit\r\n",
                             "Result: ", "Finish: "})
        EXPECT_NE(log.find(line), std::string::npos) << line << " missing from\n" << log;
}

TEST_F(SendDialog, ACancelledSendKeepsDateSentBlankAndRecordsTheError)
{
    TempDir dir;
    // Modem B is never answered: the call rings until it is cancelled.
    auto line = Line::Start(dir.Path(), {"pair"});
    ASSERT_TRUE(line);
    ::setenv("ZN_COM7", line->Port('A').c_str(), 1);
    Start();
    ConfigureModem();
    MakeFax("FAX00002.APF", 3);
    AddOutgoing("Never", "FAX00002.APF");
    ASSERT_TRUE(GoToSubject("Never"));

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
    EXPECT_NE(log.find("Error opening com port: COM7\r\nMessage:Unable to open the specified communications port ( Com7 )"),
              std::string::npos)
        << log;
}

} // namespace
} // namespace zn::app::test
