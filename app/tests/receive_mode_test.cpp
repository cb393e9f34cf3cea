// Receive mode of the main window over the fax line test bed: spandsp's fax terminal calls modem A
// again and again while the window's receive component stays armed on it.
#include "app/error_display_form.h"
#include "app/notice_forms.h"
#include <QLabel>
#include "comms/tests/apf_test_pages.h"
#include "fax_pages.h"
#include "main_screen_fixture.h"

#include "faxline_harness.h"

#include <QAction>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>

#include <fstream>
#include <regex>

namespace zn::app::test {
namespace {

using namespace ::faxline;
using comms::test::TrimWhiteRows;

struct RecRow {
    std::string date, time, from, file, notes;
    int pages = 0;
    bool archived = true;
};

class ReceiveMode : public MainScreenFixture {
protected:
    void SetUp() override
    {
        SetErrorWindowTimeoutForTest(300);
        TMainScreen::SetSoundPlayerForTest([this](const std::string&) { ++sounds_; });
    }
    void TearDown() override
    {
        TMainScreen::SetSoundPlayerForTest({});
        SetErrorWindowTimeoutForTest(0);
        ::unsetenv("ZN_COM7");
    }
    // The pages the terminal sends, as a TIFF it reads.
    std::vector<Bitmap> WritePages(const TempDir& dir)
    {
        std::vector<Bitmap> pages;
        for (int n : {1, 2})
            pages.push_back(*ReadPbm(ItuChartPath(n)));
        EXPECT_TRUE(WriteFaxTiff(dir.File("tx.tif"), pages));
        return pages;
    }
    void StartReceiving(const std::string& device)
    {
        ::setenv("ZN_COM7", device.c_str(), 1);
        Start();
        auto& s = foundation::Settings();
        s.PortNotConfigured = false;
        s.ComPort = 6; // COM7
        s.FaxClassReceive = 1;
        s.MaximumBPSReceive = 14400;
        s.Fax = "+1 555 0199";
        s.Wav = home_.Path() + "/ring.wav";
        foundation::test::WriteFile(s.Wav, "RIFF");
        screen->ReceiveButtonClick();
    }
    // Processes events until the terminal has made `calls` calls and the window is idle again.
    void WaitForCalls(Line& line, size_t calls)
    {
        QElapsedTimer timer;
        timer.start();
        while ((line.Results().size() < calls || screen->FaxComingIn) && timer.elapsed() < 300000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // The last row and the sound come just after the terminal's report.
        timer.restart();
        while (timer.elapsed() < 1500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_EQ(line.Results().size(), calls) << line.Output() << line.Errors();
    }
    std::vector<RecRow> Rows()
    {
        std::vector<RecRow> rows;
        data::TTable& t = screen->RecTable;
        for (t.First(); !t.Eof(); t.Next())
            rows.push_back({t.FieldByName("DATEREC").AsString(), t.FieldByName("TIMEREC").AsString(),
                            t.FieldByName("FROM").AsString(), t.FieldByName("FAXFILE").AsString(),
                            t.FieldByName("NOTES").AsString(), int(t.FieldByName("PAGES").AsInteger()),
                            t.FieldByName("ARCHIVED").AsBoolean()});
        return rows;
    }
    std::vector<std::string> ReceivedFiles()
    {
        std::vector<std::string> names;
        for (const QString& n : QDir(QString::fromStdString(foundation::GetReceiveFolder())).entryList({"*.APF", "*.apf"}, QDir::Files))
            names.push_back(n.toStdString());
        return names;
    }
    std::string Log() const
    {
        std::ifstream in(foundation::GetProgramFolder() + "Lastrec.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    int sounds_ = 0;
};

TEST_F(ReceiveMode, TwoCallsInARowBecomeTwoRowsWithTheirPagesAndTheLog)
{
    TempDir dir;
    const std::vector<Bitmap> sent = WritePages(dir);
    auto line = Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "FAR END", "--fast",
                                         "--calls", "2", "--call-delay", "500"});
    ASSERT_TRUE(line);
    StartReceiving(line->Port('A'));
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    EXPECT_EQ(screen->ReceiveButton->text().toStdString(), "STOP");
    EXPECT_EQ(screen->ReceiveButton->toolTip().toStdString(), "Stop receiving faxes");
    EXPECT_EQ(screen->mnuReceive->text().toStdString(), "Stop Receiving Faxes");

    WaitForCalls(*line, 2);
    for (const std::string& r : line->Results())
        EXPECT_EQ(r.rfind("RESULT 0 ", 0), 0u) << r;
    EXPECT_TRUE(screen->ReceiveModeOn);
    EXPECT_EQ(sounds_, 2);
    EXPECT_TRUE(screen->ReceiveFileName.empty());

    screen->ReceiveButtonClick();
    EXPECT_FALSE(screen->ReceiveModeOn);
    EXPECT_EQ(screen->ReceiveButton->text().toStdString(), "Receive");
    EXPECT_EQ(screen->ReceiveButton->toolTip().toStdString(), "Start receiving faxes");
    EXPECT_EQ(screen->mnuReceive->text().toStdString(), "Receive Faxes");

    const std::vector<RecRow> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NE(rows[0].file, rows[1].file);
    EXPECT_EQ(ReceivedFiles().size(), 2u);
    for (const RecRow& row : rows) {
        EXPECT_EQ(row.from, "FAR END");
        EXPECT_EQ(row.pages, 2);
        EXPECT_EQ(row.date, QDate::currentDate().toString("yyyyMMdd").toStdString());
        EXPECT_TRUE(std::regex_match(row.time, std::regex("[0-2][0-9]:[0-5][0-9]"))) << row.time;
        EXPECT_TRUE(std::regex_match(row.file, std::regex("FAX[0-9]{4}\\.APF"))) << row.file;
        EXPECT_EQ(row.notes, "");
        EXPECT_FALSE(row.archived);
        const std::vector<Bitmap> got = FaxFilePages(foundation::GetReceiveFolder() + row.file);
        ASSERT_EQ(got.size(), sent.size()) << row.file;
        for (size_t i = 0; i < sent.size(); ++i)
            EXPECT_TRUE(TrimWhiteRows(got[i]) == TrimWhiteRows(sent[i])) << row.file << " page " << i + 1;
    }

    const std::string log = Log();
    const std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}  ";
    EXPECT_TRUE(std::regex_search(log, std::regex("^" + stamp + "Start: \r\n"))) << log;
    for (const char* text : {"Opening com port: COM7", "Opened com port OK", "Checking for modem", "Config",
                             "Start Receive Mode ", "Receiving a fax ", "2 pages received from FAR END",
                             "Stopped receive mode ", "Finish: "})
        EXPECT_TRUE(std::regex_search(log, std::regex(stamp + std::regex_replace(text, std::regex("[.]"), "\\.") + "\r\n")))
            << text << " missing from\n" << log;
    EXPECT_NE(log.find("\r\n  Fax Class: "), std::string::npos) << log;
    // Each call is logged once.
    size_t received = 0;
    for (size_t at = log.find("pages received from"); at != std::string::npos; at = log.find("pages received from", at + 1))
        ++received;
    EXPECT_EQ(received, 2u) << log;
}

TEST_F(ReceiveMode, ACallDroppedInMidPageLeavesNothingAndTheNextCallIsReceived)
{
    TempDir dir;
    const std::vector<Bitmap> sent = WritePages(dir);
    // The first call's line drops while the second page is on its way; the second call is whole.
    auto line = Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "FAR END", "--fast",
                                         "--calls", "2", "--call-delay", "3000", "--hangup-at", "45",
                                         "--hangup-calls", "1"});
    ASSERT_TRUE(line);
    StartReceiving(line->Port('A'));
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();

    WaitForCalls(*line, 2);
    EXPECT_NE(line->Results()[0].rfind("RESULT 0 ", 0), 0u) << line->Output();
    EXPECT_EQ(line->Results()[1].rfind("RESULT 0 ", 0), 0u) << line->Output();
    EXPECT_TRUE(screen->ReceiveModeOn);
    EXPECT_TRUE(screen->ReceiveFileName.empty());
    EXPECT_NE(LastReceiveErrorCode, -1);

    const std::vector<RecRow> rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].pages, 2);
    EXPECT_EQ(ReceivedFiles(), std::vector<std::string>{rows[0].file});
    EXPECT_EQ(FaxFilePages(foundation::GetReceiveFolder() + rows[0].file).size(), sent.size());
    EXPECT_EQ(sounds_, 1);

    screen->ReceiveButtonClick();
    const std::string log = Log();
    const size_t failed = log.find("Receive Failed with error: ");
    ASSERT_NE(failed, std::string::npos) << log;
    // The failed call's file was made and held its first page (the far end had it confirmed) when
    // the line dropped: it was deleted, not left behind.
    EXPECT_LT(log.find("Receiving a fax "), failed) << log;
    EXPECT_NE(log.find("Receiving a fax ", failed), std::string::npos) << log;
    EXPECT_NE(line->Results()[0].find(" pages_tx=1 "), std::string::npos) << line->Output();
}

TEST_F(ReceiveMode, TheNoticeShowsWhileWaitingAndGoesWhenACallIsAnswered)
{
    TempDir dir;
    WritePages(dir);
    auto line = Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "FAR END", "--fast"});
    ASSERT_TRUE(line);
    foundation::test::WriteFile(home_.Path() + "/ZN.INI", "[Receive]\r\nDisableReceivingFaxesNotification=0\r\n");
    StartReceiving(line->Port('A'));
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    ASSERT_NE(screen->StartingFaxForm, nullptr);
    EXPECT_EQ(screen->StartingFaxForm->windowTitle(), "Starting Receive mode...");
    EXPECT_TRUE(screen->StartingFaxForm->isVisible());
    EXPECT_TRUE(screen->StartingFaxForm->ReadyPanel->isVisible());
    EXPECT_FALSE(screen->StartingFaxForm->StartingPanel->isVisible());
    EXPECT_TRUE(screen->StartingFaxForm->okbutton->isVisible());
    WaitForCalls(*line, 1);
    EXPECT_FALSE(screen->StartingFaxForm->isVisible());
    screen->ReceiveButtonClick();
    EXPECT_FALSE(screen->ReceiveModeOn);
    EXPECT_FALSE(screen->StartingFaxForm->isVisible());
}

} // namespace
} // namespace zn::app::test
