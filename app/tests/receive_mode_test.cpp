// Receive mode of the main window over the fax line test bed: spandsp's fax terminal calls modem A
// again and again while the window's receive component stays armed on it.
#include "app/error_display_form.h"
#include "app/notice_forms.h"
#include "app/small_forms.h"
#include <QLabel>
#include "comms/tests/apf_test_pages.h"
#include "fax_pages.h"
#include "efax_pair.h"
#include "main_screen_fixture.h"
#include "undeletable.h"
#include "modal_driver.h"
#include "silent_modem.h"

#include "comms/tests/class2_sim_process.h"
#include "faxdoc/gui/page_target.h"
#include "foundation/printer_choice.h"
#include "platform/messages.h"
#include "platform/folders.h"
#include "comms/base/error_codes.h"
#include "comms/base/exceptions.h"
#include "faxline_harness.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <regex>
#include <signal.h>
#include <unistd.h>

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
        TMainScreen::SetModemWatchIntervalForTest(0);
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
    // faxClass as ZN.INI keeps it: 1 is Class 1, 2 is Class 2.
    void StartReceiving(const std::string& device, int faxClass = 1)
    {
        ::setenv("ZN_COM7", device.c_str(), 1);
        if (!screen)
            Start();
        auto& s = foundation::Settings();
        s.PortNotConfigured = false;
        s.ComPort = 6; // COM7
        s.FaxClassReceive = faxClass;
        s.MaximumBPSReceive = 14400;
        s.Fax = "+1 555 0199";
        s.Wav = home_.Path() + "/ring.wav";
        foundation::test::WriteFile(s.Wav, "RIFF");
        screen->ReceiveButtonClick();
    }
    // The window on a line whose terminal makes one call with the two pages.
    std::unique_ptr<Line> StartWithOneCall(const TempDir& dir)
    {
        WritePages(dir);
        auto line = Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "FAR END", "--fast"});
        if (line) {
            ::setenv("ZN_COM7", line->Port('A').c_str(), 1);
            Start();
        }
        return line;
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
        for (const QString& n :
             QDir(QString::fromStdString(foundation::GetReceiveFolder())).entryList({"*.APF", "*.apf"}, QDir::Files))
            names.push_back(n.toStdString());
        return names;
    }
    std::string Log() const
    {
        std::ifstream in(foundation::GetProgramFolder() + "Lastrec.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Processes events until done() or the bound.
    static bool Until(const std::function<bool()>& done, int bound = 60000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < bound)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    static int Count(const char* folder)
    {
        int n = 0;
        if (DIR* d = ::opendir(folder)) {
            while (dirent* e = ::readdir(d))
                n += e->d_name[0] != '.';
            ::closedir(d);
        }
        return n;
    }
    static std::string ThreadNames()
    {
        std::string names;
        if (DIR* d = ::opendir("/proc/self/task")) {
            while (dirent* e = ::readdir(d)) {
                if (e->d_name[0] == '.')
                    continue;
                std::string name = foundation::test::ReadFile(std::string("/proc/self/task/") + e->d_name + "/comm");
                while (!name.empty() && name.back() == '\n')
                    name.pop_back();
                names += name + ", ";
            }
            ::closedir(d);
        }
        return names;
    }
    static long ResidentKb()
    {
        std::ifstream in("/proc/self/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("VmRSS:", 0) == 0)
                return std::atol(line.c_str() + 6);
        return -1;
    }
    // The UUCP lock files this process owns.
    static int OwnLockFiles() { return foundation::test::LockFilesOf(::getpid()); }
    // A port closed while its dispatcher's threads were still leaving finishes its close, and gives
    // its lock back, from the message loop.
    static bool LocksGivenBack()
    {
        return Until([] { return OwnLockFiles() == 0; }, 10000);
    }
    // The next error window is read (its caption and text kept) and closed, as a user does.
    static void ReadNextErrorWindow(ModalDriver& driver, std::string& caption, std::string& text)
    {
        driver.Then([&caption, &text](QWidget* w) {
            caption = w->windowTitle().toStdString();
            text = static_cast<TShowErrorForm*>(w)->Memo1->toPlainText().toStdString();
            static_cast<QDialog*>(w)->done(1);
        });
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
    Start();
    foundation::Settings().DisableReceivingFaxesNotification = false;
    StartReceiving(line->Port('A'));
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    // The notice tells how to end receive mode until the first call is answered.
    auto* notice = screen->findChild<TStartingFaxForm*>("TStartingFaxForm");
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->windowTitle().toStdString(), "Starting Receive mode...");
    EXPECT_TRUE(notice->ReadyPanel->isVisible());
    EXPECT_FALSE(notice->StartingPanel->isVisible());
    EXPECT_TRUE(notice->okbutton->isVisible());
    notice->DoNotShow->click();
    EXPECT_TRUE(foundation::Settings().DisableReceivingFaxesNotification);
    EXPECT_EQ(screen->ReceiveButton->text().toStdString(), "STOP");
    EXPECT_EQ(screen->ReceiveButton->toolTip().toStdString(), "Stop receiving faxes");
    EXPECT_EQ(screen->mnuReceive->text().remove('&').toStdString(), "Stop Receiving Faxes");

    WaitForCalls(*line, 2);
    for (const std::string& r : line->Results())
        EXPECT_EQ(r.rfind("RESULT 0 ", 0), 0u) << r;
    EXPECT_TRUE(screen->ReceiveModeOn);
    EXPECT_EQ(sounds_, 2);
    EXPECT_FALSE(notice->isVisible()) << "hidden once a call is answered";
    EXPECT_TRUE(screen->ReceiveFileName.empty());

    screen->ReceiveButtonClick();
    EXPECT_FALSE(screen->ReceiveModeOn);
    EXPECT_EQ(screen->ReceiveButton->text().toStdString(), "Receive");
    EXPECT_EQ(screen->ReceiveButton->toolTip().toStdString(), "Start receiving faxes");
    EXPECT_EQ(screen->mnuReceive->text().remove('&').toStdString(), "Receive Faxes");

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
    for (const char* text :
         {"Opening com port: COM7", "Opened com port OK", "Checking for modem", "Config", "Start Receive Mode ",
          "Receiving a fax ", "2 pages received from FAR END", "Stopped receive mode ", "Finish: "})
        EXPECT_TRUE(
            std::regex_search(log, std::regex(stamp + std::regex_replace(text, std::regex("[.]"), "\\.") + "\r\n")))
            << text << " missing from\n"
            << log;
    EXPECT_NE(log.find("\r\n  Fax Class: "), std::string::npos) << log;
    // Each call is logged once.
    size_t received = 0;
    for (size_t at = log.find("pages received from"); at != std::string::npos;
         at = log.find("pages received from", at + 1))
        ++received;
    EXPECT_EQ(received, 2u) << log;
}

TEST_F(ReceiveMode, ACallDroppedInMidPageLeavesNothingAndTheNextCallIsReceived)
{
    TempDir dir;
    const std::vector<Bitmap> sent = WritePages(dir);
    // The first call's line drops while the second page is on its way; the second call is whole.
    auto line =
        Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "FAR END", "--fast", "--calls",
                                 "2", "--call-delay", "3000", "--hangup-at", "45", "--hangup-calls", "1"});
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

// A fax that arrives whole while its row cannot be written (the table will not take writes): the
// file stays in RECEIVE and the user is told so, instead of the fax vanishing from sight.
TEST_F(ReceiveMode, AFaxWhoseRowCannotBeWrittenIsKeptAndTheUserIsTold)
{
    TempDir dir;
    WritePages(dir);
    auto line = Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "FAR END", "--fast"});
    ASSERT_TRUE(line);
    StartReceiving(line->Port('A'));
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    std::optional<Undeletable> frozen(std::in_place, foundation::GetProgramFolder() + "ZNREC.DBF");
    if (!frozen->Holds())
        GTEST_SKIP() << "no way to make a table refuse writes here";
    std::string caption, text;
    ModalDriver driver;
    ReadNextErrorWindow(driver, caption, text);
    WaitForCalls(*line, 1);
    EXPECT_TRUE(Until([&] { return !caption.empty(); }, 10000));
    frozen.reset();
    EXPECT_EQ(line->Results()[0].rfind("RESULT 0 ", 0), 0u) << line->Output();
    const std::vector<std::string> files = ReceivedFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(FaxFilePages(foundation::GetReceiveFolder() + files[0]).size(), 2u);
    EXPECT_EQ(caption, "Received Fax Not Recorded");
    EXPECT_EQ(text.rfind("Tarvel received a fax but could not add it to the list of received faxes.", 0), 0u) << text;
    EXPECT_NE(text.find(files[0]), std::string::npos) << text;
    EXPECT_TRUE(screen->ReceiveModeOn);
    screen->ReceiveButtonClick();
}

// A call comes in while RECEIVE has no numbered name left (FAX0001.APF to FAX9999.APF and
// NONAME.APF exist), or takes no new file at all.
struct StoreCase {
    const char* name;
    bool numbersTaken;   // FAX0001.APF .. FAX9999.APF and NONAME.APF are there
    bool folderClosed;   // RECEIVE takes no new file
    const char* stored;  // the file the fax is kept in; "" when it cannot be kept
};

void PrintTo(const StoreCase& c, std::ostream* os) { *os << c.name; }

class ReceiveModeStoring : public ReceiveMode, public ::testing::WithParamInterface<StoreCase> {};

TEST_P(ReceiveModeStoring, AFaxIsKeptUnderAFreeNameOrTheUserIsToldItCouldNotBe)
{
    const StoreCase& c = GetParam();
    LastReceiveErrorCode = -1;
    TempDir dir;
    const std::vector<Bitmap> sent = WritePages(dir);
    auto line = Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "FAR END", "--fast"});
    ASSERT_TRUE(line);
    StartReceiving(line->Port('A'));
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    const std::string folder = foundation::GetReceiveFolder();
    std::vector<std::string> before;
    if (c.numbersTaken) {
        for (int n = 1; n <= 9999; ++n) {
            char name[16];
            std::snprintf(name, sizeof name, "FAX%04d.APF", n);
            std::ofstream(folder + name) << "earlier fax";
        }
        std::ofstream(folder + "NONAME.APF") << "earlier fax";
        before = ReceivedFiles();
    }
    std::optional<ClosedFolder> closed;
    if (c.folderClosed) {
        closed.emplace(folder);
        if (!closed->Holds()) {
            closed.reset();
            screen->ReceiveButtonClick();
            GTEST_SKIP() << "no way to close a folder to this user here";
        }
    }
    std::string caption, text;
    ModalDriver driver;
    ReadNextErrorWindow(driver, caption, text);
    WaitForCalls(*line, 1);
    const bool told = Until([&] { return !caption.empty(); }, 3000);
    closed.reset();
    EXPECT_TRUE(screen->ReceiveModeOn) << "receive mode goes on for the next call";
    screen->ReceiveButtonClick();
    const std::string log = Log();
    EXPECT_EQ(log.find(comms::ErrorCodeToText(comms::ecNoFilename)), std::string::npos) << log;
    const std::vector<RecRow> rows = Rows();
    if (*c.stored) {
        EXPECT_EQ(line->Results()[0].rfind("RESULT 0 ", 0), 0u) << line->Output();
        EXPECT_FALSE(told) << caption << ": " << text;
        ASSERT_EQ(rows.size(), 1u) << log;
        EXPECT_EQ(rows[0].file, c.stored);
        EXPECT_EQ(rows[0].pages, 2);
        const std::vector<Bitmap> got = FaxFilePages(folder + c.stored);
        ASSERT_EQ(got.size(), sent.size());
        for (size_t i = 0; i < sent.size(); ++i)
            EXPECT_TRUE(TrimWhiteRows(got[i]) == TrimWhiteRows(sent[i])) << "page " << i + 1;
        // Every earlier fax is as it was.
        for (const char* earlier : {"FAX0001.APF", "FAX9999.APF", "NONAME.APF"})
            EXPECT_EQ(foundation::test::ReadFile(folder + earlier), "earlier fax") << earlier;
        std::vector<std::string> after = ReceivedFiles();
        after.erase(std::remove(after.begin(), after.end(), c.stored), after.end());
        EXPECT_EQ(after, before);
        return;
    }
    EXPECT_TRUE(rows.empty());
    EXPECT_TRUE(ReceivedFiles().empty());
    ASSERT_TRUE(told) << "nothing on the screen\n" << log;
    EXPECT_EQ(caption, "Failed To Receive Incoming Fax");
    const std::string place = platform::ResolvePath(folder);
    EXPECT_EQ(text.rfind("Tarvel failed to receive an incoming fax: it could not be stored in the folder " + place, 0),
              0u)
        << text;
    EXPECT_NE(log.find("Receive Failed: the incoming fax could not be stored in " + place), std::string::npos) << log;
    EXPECT_NE(LastReceiveErrorCode, -1);
}

INSTANTIATE_TEST_SUITE_P(Folders, ReceiveModeStoring,
                         ::testing::Values(StoreCase{"EveryNumberTaken", true, false, "NONAME1.APF"},
                                           StoreCase{"FolderTakesNoFile", false, true, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

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

// A call from efax on the other modem of the back-to-back pair: its row names efax's station and
// the file holds its pages pixel for pixel.
TEST_F(ReceiveMode, ACallFromEfaxBecomesARowWithItsPages)
{
    if (!HaveProgram("efax"))
        GTEST_SKIP() << "efax is not installed";
    TempDir dir;
    const EfaxPair pair = StartPairForEfax(dir);
    ASSERT_TRUE(pair.line);
    StartReceiving(pair.ours);
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    auto efax = StartPeer(dir, "tx",
                          {"efax", "-v", "ewinchm", "-d", pair.efax, "-o1", "-l", "EFAX SENDER", "-h", "", "-t", "123",
                           ItuChartPath(1), ItuChartPath(2)});
    ASSERT_TRUE(Until([&] { return !efax->Running() && !screen->FaxComingIn && Rows().size() == 1; }, 120000)) << Log();
    EXPECT_EQ(efax->Wait(std::chrono::seconds(10)), 0);
    screen->ReceiveButtonClick();

    const std::vector<RecRow> rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].from, "EFAX SENDER");
    EXPECT_EQ(rows[0].pages, 2);
    const std::vector<Bitmap> got = FaxFilePages(foundation::GetReceiveFolder() + rows[0].file);
    ASSERT_EQ(got.size(), 2u);
    for (int n : {1, 2})
        EXPECT_EQ(CompareBelowHeader(got[size_t(n - 1)], *ReadPbm(ItuChartPath(n))), "") << "page " << n;
    EXPECT_EQ(sounds_, 1);
}

// A call that goes on after EOM into a second document delivers two files: each gets its row, and
// neither is left in RECEIVE unrecorded.
TEST_F(ReceiveMode, ACallThatDeliversTwoFilesRecordsARowForEach)
{
    TempDir dir;
    comms::test::Class2SimProcess modem(dir, {"--speedup", "50", "--ring-delay", "0.3", "--calls", "1", "--remote-id",
                                              "TWO PARTS", "--send", ItuChartPath(1), "--send", ItuChartPath(2),
                                              "--send", ItuChartPath(3), "--eom-after", "1"});
    ASSERT_FALSE(modem.Device().empty());
    StartReceiving(modem.Device(), 2);
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    ASSERT_TRUE(Until([this] { return Rows().size() >= 2 && !screen->FaxComingIn; })) << Log() << modem.Log();
    screen->ReceiveButtonClick();

    // In the order the files were made (their names count up).
    std::vector<RecRow> rows = Rows();
    std::sort(rows.begin(), rows.end(), [](const RecRow& a, const RecRow& b) { return a.file < b.file; });
    ASSERT_EQ(rows.size(), 2u) << Log();
    std::vector<std::string> recorded;
    for (const RecRow& row : rows) {
        EXPECT_EQ(row.from, "TWO PARTS");
        recorded.push_back(row.file);
    }
    EXPECT_EQ(rows[0].pages, 1);
    EXPECT_EQ(rows[1].pages, 2);
    std::vector<std::string> files = ReceivedFiles();
    std::sort(files.begin(), files.end());
    std::sort(recorded.begin(), recorded.end());
    EXPECT_EQ(files, recorded) << "every file in RECEIVE has its row";
    const std::vector<Bitmap> first = FaxFilePages(foundation::GetReceiveFolder() + rows[0].file);
    const std::vector<Bitmap> second = FaxFilePages(foundation::GetReceiveFolder() + rows[1].file);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_TRUE(TrimWhiteRows(first[0]) == TrimWhiteRows(*ReadPbm(ItuChartPath(1)))) << rows[0].file;
    EXPECT_TRUE(TrimWhiteRows(second[0]) == TrimWhiteRows(*ReadPbm(ItuChartPath(2)))) << rows[1].file;
    EXPECT_TRUE(TrimWhiteRows(second[1]) == TrimWhiteRows(*ReadPbm(ItuChartPath(3)))) << rows[1].file;
    EXPECT_EQ(sounds_, 2);
}

// A page refused for its copy quality and sent again is in the session's log, with the counts it
// was refused for: otherwise the user sees "Receiving page 1" twice and cannot tell why.
TEST_F(ReceiveMode, ARefusedPageIsLoggedWithItsCountsAndTheFaxArrivesWhole)
{
    TempDir dir;
    comms::test::Class2SimProcess modem(dir, {"--speedup", "50", "--ring-delay", "0.3", "--calls", "1", "--send",
                                              ItuChartPath(1), "--bad-copy", "1"});
    ASSERT_FALSE(modem.Device().empty());
    StartReceiving(modem.Device(), 2);
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    ASSERT_TRUE(Until([this] { return Rows().size() >= 1 && !screen->FaxComingIn; })) << Log() << modem.Log();
    screen->ReceiveButtonClick();
    const std::string log = Log();
    const auto refused = log.find("Page 1 refused for its copy quality (2376 rows, 396 bad, at most 360 bad in a row)");
    ASSERT_NE(refused, std::string::npos) << log;
    EXPECT_NE(log.find("1 pages received", refused), std::string::npos) << "the page came again after it\n" << log;
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].pages, 1);
}

// A modem that never answers holds the start for the check's whole time-out: meanwhile the window
// keeps handling events, and pressing Receive again gives the start up without the question.
TEST_F(ReceiveMode, ReceivePressedAgainCancelsTheModemCheckWhileTheWindowKeepsWorking)
{
    SilentModem modem;
    ASSERT_FALSE(modem.Device().empty());
    int ticksWhileChecking = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (screen && screen->Status->text() == "Checking for modem...")
            ++ticksWhileChecking;
        if (ticksWhileChecking == 5)
            screen->ReceiveButton->click();
    });
    ticker.start(20);
    Start();
    foundation::Settings().ResetString = "ATZ";
    StartReceiving(modem.Device());
    ticker.stop();
    EXPECT_GE(ticksWhileChecking, 5);
    EXPECT_FALSE(screen->ReceiveModeOn);
    EXPECT_EQ(screen->ReceiveButton->text().toStdString(), "Receive");
    EXPECT_TRUE(Until([this] { return !screen->FxComPort1.Open(); }, 10000));
    EXPECT_TRUE(LocksGivenBack());
    const std::string log = Log();
    EXPECT_NE(log.find("  Start cancelled by the user\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Error checking for modem"), std::string::npos) << log;
}

// Receive mode with logging: asked first, then the notice, and the port's log ends up in ZNIN.LOG.
TEST_F(ReceiveMode, LoggingModeKeepsThePortsLogInZnin)
{
    TempDir dir;
    auto line = StartWithOneCall(dir);
    ASSERT_TRUE(line);
    auto& s = foundation::Settings();
    s.PortNotConfigured = false;
    s.ComPort = 6;
    s.FaxClassReceive = 1;
    answers.push_back(platform::IDYES);
    ModalDriver modal;
    modal.Then([](QWidget* w) { static_cast<QDialog*>(w)->accept(); });
    screen->mnuReceiveLog->trigger();
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    EXPECT_EQ(modal.Seen(), std::vector<std::string>{"TTellUserAboutReceiveLog"});
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().caption, "LOGGING MODE");
    EXPECT_FALSE(screen->mnuReceiveLog->isEnabled());
    WaitForCalls(*line, 1);
    screen->ReceiveButtonClick();
    EXPECT_TRUE(screen->mnuReceiveLog->isEnabled());
    EXPECT_FALSE(screen->LoggingMode);
    EXPECT_EQ(Rows().size(), 1u);
    const std::string znin = foundation::test::ReadFile(foundation::GetProgramFolder() + "ZNIN.LOG");
    EXPECT_NE(znin.find("AT"), std::string::npos) << "the modem dialogue is in the log";
    EXPECT_NE(Log().find("  Logging on\r\n"), std::string::npos) << Log();
}

// Print on receipt: each received fax goes to the printer the settings name, to the current one when
// that printer is gone, and is only stored when no printer is usable.
struct PrintCase {
    const char* name;
    std::vector<std::string> printers;
    int currentBefore;
    const char* wanted;
    size_t sheets;
    int currentAfter;
};

class ReceiveModePrinting : public ReceiveMode, public ::testing::WithParamInterface<PrintCase> {
protected:
    void TearDown() override
    {
        foundation::SetPrinterNamesForTest(std::nullopt);
        foundation::SetPrinterIndex(-1);
        ReceiveMode::TearDown();
    }
};

TEST_P(ReceiveModePrinting, EachFaxIsPrintedAsTheSettingsSay)
{
    const PrintCase c = GetParam();
    foundation::SetPrinterNamesForTest(c.printers);
    foundation::SetPrinterIndex(c.currentBefore);
    TempDir dir;
    auto line = StartWithOneCall(dir);
    ASSERT_TRUE(line);
    faxdoc::TImagePageTarget target(850, 1100, 100);
    screen->fxFaxPrinter1.SetPageTarget(&target);
    foundation::Settings().PrintOnReceipt = true;
    foundation::Settings().PrintOnReceiptPrinter = c.wanted;
    StartReceiving(line->Port('A'));
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    WaitForCalls(*line, 1);
    screen->ReceiveButtonClick();

    ASSERT_EQ(Rows().size(), 1u) << "the fax is stored and listed whatever the printer does";
    EXPECT_EQ(target.Sheets().size(), c.sheets);
    EXPECT_EQ(foundation::PrinterIndex(), c.currentAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Printers, ReceiveModePrinting,
    ::testing::Values(PrintCase{"TheNamedPrinter", {"Tarvel Fax Printer", "Paper", "Desk"}, -1, "Desk", 2, 2},
                      PrintCase{"TheCurrentWhenTheNamedIsGone", {"Tarvel Fax Printer", "Paper"}, 1, "Gone", 2, 1},
                      PrintCase{"NoneWithoutAPrinter", {}, -1, "Default Windows Printer", 0, -1}),
    [](const auto& info) { return std::string(info.param.name); });

// Receive mode runs unattended for days: a modem unplugged while it waits for a ring is noticed,
// shown and logged, receive mode ends, and it starts again once the modem is back.
TEST_F(ReceiveMode, AModemThatGoesAwayEndsReceiveModeAndCanBeStartedAgainWhenBack)
{
    TMainScreen::SetModemWatchIntervalForTest(100);
    TempDir dir;
    auto first = std::make_unique<comms::test::Class2SimProcess>(dir, std::vector<std::string>{"--speedup", "50"});
    ASSERT_FALSE(first->Device().empty());
    StartReceiving(first->Device(), 2);
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    EXPECT_EQ(OwnLockFiles() > 0, true);

    ::kill(first->Process().Pid(), SIGKILL); // unplugged
    first->Process().Wait(std::chrono::seconds(10));
    ASSERT_TRUE(Until([this] { return !screen->ReceiveModeOn; })) << "still waiting on a modem that is gone";
    EXPECT_TRUE(screen->ModemGone());
    EXPECT_FALSE(screen->FxComPort1.Open());
    EXPECT_TRUE(LocksGivenBack());
    EXPECT_EQ(screen->ReceiveButton->text().toStdString(), "Receive");
    EXPECT_EQ(screen->Status->text().toStdString(), "No modem on COM7");
    const std::string log = Log();
    EXPECT_TRUE(std::regex_search(log, std::regex("  The modem on COM7 \\(.*\\) is gone\r\n"))) << log;
    EXPECT_LT(log.find(" is gone"), log.find("Stopped receive mode ")) << log;

    // Plugged in again (the same COM port, a new device node): receive mode starts as before.
    TempDir again; // the simulator's files of the first run stay out of the way
    comms::test::Class2SimProcess second(again, {"--speedup", "50"});
    ASSERT_FALSE(second.Device().empty());
    StartReceiving(second.Device(), 2);
    EXPECT_TRUE(screen->ReceiveModeOn) << Log();
    EXPECT_FALSE(screen->ModemGone());
    screen->ReceiveButtonClick();
    EXPECT_FALSE(screen->ReceiveModeOn);
}

// SIGTERM or SIGINT in the middle of a call: the call is cancelled, the unfinished fax deleted and
// the port with its lock files released, and nothing asks the user anything.
TEST_F(ReceiveMode, EndingBySignalInACallLeavesNoFileAndNoLock)
{
    TempDir dir;
    WritePages(dir);
    auto line = Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "FAR END"});
    ASSERT_TRUE(line);
    StartReceiving(line->Port('A'));
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    ASSERT_TRUE(Until([this] { return !screen->ReceiveFileName.empty(); })) << Log();
    // The fax being received is on disk, under a name of its own until it is whole.
    EXPECT_TRUE(ReceivedFiles().empty());
    EXPECT_EQ(QDir(QString::fromStdString(foundation::GetReceiveFolder())).entryList(QDir::Files).size(), 1);

    screen->EndBySignal();
    platform::ClearQuitRequest(); // the program would end here; the test goes on
    EXPECT_FALSE(screen->ReceiveModeOn);
    EXPECT_FALSE(screen->FxComPort1.Open());
    EXPECT_TRUE(LocksGivenBack());
    EXPECT_TRUE(QDir(QString::fromStdString(foundation::GetReceiveFolder())).entryList(QDir::Files).empty());
    EXPECT_TRUE(screen->ReceiveFileName.empty());
    EXPECT_EQ(Rows().size(), 0u);
    EXPECT_TRUE(boxes.empty());
}

// The receiving program killed (SIGKILL) at a moment of a call, and started again on the same
// program folder. The child is this test program itself, running only the receiving half below.
struct CrashCase {
    const char* name;
    const char* at;     // "received": once the sender was told the fax arrived; "page2": inside page 2
    bool listed;        // the next start lists the fax
};

void PrintTo(const CrashCase& c, std::ostream* os) { *os << c.name; }

class ReceiveModeCrash : public ReceiveMode, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(ReceiveModeCrash, AFaxIsListedAfterACrashExactlyWhenItsSenderWasToldItArrived)
{
    const CrashCase& c = GetParam();
    TempDir dir;
    const std::vector<Bitmap> pages = WritePages(dir);
    // Inside page 2 the line runs at most 4 times real time, so that the child sees its status.
    auto line = Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "FAR END", "--speed",
                                         c.listed ? "1000" : "4"});
    ASSERT_TRUE(line);
    foundation::CreateDataFolders();
    ::setenv("ZN_CRASH_HOME", foundation::GetProgramFolder().c_str(), 1);
    ::setenv("ZN_CRASH_PORT", line->Port('A').c_str(), 1);
    ::setenv("ZN_CRASH_AT", c.at, 1);
    ::setenv("TMPDIR", dir.Path().c_str(), 1);
    ChildProcess child({"/proc/self/exe", "--gtest_also_run_disabled_tests",
                        "--gtest_filter=ReceiveMode.DISABLED_ReceivesUntilKilled"},
                       dir.File("child.out"), dir.File("child.err"));
    const auto status = child.Wait(std::chrono::seconds(300));
    for (const char* name : {"ZN_CRASH_HOME", "ZN_CRASH_PORT", "ZN_CRASH_AT", "TMPDIR"})
        ::unsetenv(name);
    ASSERT_TRUE(status) << "the receiving program was not killed";
    ASSERT_EQ(*status, 128 + SIGKILL) << foundation::test::ReadFile(dir.File("child.out"));

    Start(); // the next start, on the same program folder
    const auto rows = Rows();
    const auto names = QDir(QString::fromStdString(foundation::GetReceiveFolder())).entryList(QDir::Files);
    if (!c.listed) {
        EXPECT_TRUE(rows.empty());
        EXPECT_TRUE(names.empty()) << names.join(", ").toStdString();
        return;
    }
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].file, "FAX0001.APF");
    EXPECT_EQ(rows[0].pages, 2);
    EXPECT_EQ(QString::fromStdString(rows[0].from).trimmed().toStdString(), "FAR END");
    EXPECT_FALSE(rows[0].archived);
    EXPECT_EQ(names, QStringList{"FAX0001.APF"});
    std::vector<Bitmap> got;
    ASSERT_TRUE(comms::test::ReadApf(foundation::GetReceiveFolder() + "FAX0001.APF", got));
    ASSERT_EQ(got.size(), pages.size());
    for (size_t i = 0; i < pages.size(); ++i)
        EXPECT_TRUE(TrimWhiteRows(got[i]) == TrimWhiteRows(pages[i])) << "page " << i + 1;
    // Listed once: a third start adds no second row.
    screen.reset();
    Start();
    EXPECT_EQ(Rows().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Moments, ReceiveModeCrash,
                         ::testing::Values(CrashCase{"KilledOnceTheSenderHeardItArrived", "received", true},
                                           CrashCase{"KilledInsidePage2", "page2", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The child of ReceiveModeCrash: receive mode over $ZN_CRASH_HOME on $ZN_CRASH_PORT, killing
// itself at the moment $ZN_CRASH_AT names, before the program does anything more.
TEST_F(ReceiveMode, DISABLED_ReceivesUntilKilled)
{
    const char* home = std::getenv("ZN_CRASH_HOME");
    const char* port = std::getenv("ZN_CRASH_PORT");
    const char* at = std::getenv("ZN_CRASH_AT");
    if (!home || !port || !at)
        GTEST_SKIP() << "runs only as the child of ReceiveModeCrash";
    ::setenv("ZN_HOME", home, 1);
    StartReceiving(port);
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    const std::string moment = at;
    auto& fax = screen->FxReceiveFax1;
    if (moment == "received") {
        auto inner = fax.OnFaxLog;
        fax.OnFaxLog = [inner](comms::TFxCustomAbstractFax& cp, int code) {
            if (code == comms::lfReceiveOK)
                ::raise(SIGKILL);
            inner(cp, code);
        };
    } else {
        auto inner = fax.OnFaxStatus;
        fax.OnFaxStatus = [inner, &fax](comms::TFxCustomAbstractFax& cp, bool first, bool last) {
            if (fax.GetCurrentPage() == 2 && fax.GetProgressCode() == 4824 && fax.GetBytesTransferred() > 2000)
                ::raise(SIGKILL);
            inner(cp, first, last);
        };
    }
    Until([] { return false; }, 240000);
    ADD_FAILURE() << "the moment to die never came\n" << Log();
}

// Twenty calls in a row on a receive mode left armed: as many threads and descriptors at the end
// as after the first call, and memory that does not grow call by call.
TEST_F(ReceiveMode, TwentyCallsLeaveNoThreadsDescriptorsOrMemoryBehind)
{
    constexpr size_t kCalls = 20;
    TempDir dir;
    const Bitmap strip = ReadPbm(ItuChartPath(1))->Rows(0, 240);
    ASSERT_TRUE(WriteFaxTiff(dir.File("tx.tif"), {strip}));
    auto line = Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "SOAK", "--fast",
                                         "--calls", std::to_string(kCalls), "--call-delay", "300"});
    ASSERT_TRUE(line);
    StartReceiving(line->Port('A'));
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();

    struct Sample {
        int threads, descriptors;
        long kb;
    };
    std::vector<Sample> samples;
    size_t rows = 0;
    qint64 doneAt = 0;
    QElapsedTimer timer;
    timer.start();
    while (samples.size() < kCalls && timer.elapsed() < 600000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        size_t now = 0;
        data::TTable& t = screen->RecTable;
        for (t.First(); !t.Eof(); t.Next())
            ++now;
        if (now > rows && !screen->FaxComingIn) {
            rows = now;
            samples.push_back({Count("/proc/self/task"), Count("/proc/self/fd"), ResidentKb()});
        }
        // Every call made and the window idle, yet rows missing: a few seconds more, then the verdict.
        if (line->Results().size() == kCalls && !screen->FaxComingIn) {
            if (doneAt == 0)
                doneAt = timer.elapsed();
            else if (timer.elapsed() - doneAt > 3000)
                break;
        }
    }
    ASSERT_EQ(samples.size(), kCalls) << line->Output() << Log();
    for (const std::string& r : line->Results())
        EXPECT_EQ(r.rfind("RESULT 0 ", 0), 0u) << r;
    EXPECT_EQ(ReceivedFiles().size(), kCalls);
    std::string series;
    for (const Sample& x : samples)
        series += std::to_string(x.threads) + "/" + std::to_string(x.descriptors) + " ";
    // Nothing grows call by call: the calls after the fifth add no thread and no descriptor. (Under
    // load a few helper threads start during the first calls, once; their names are shown.)
    EXPECT_EQ(samples.back().threads, samples[4].threads)
        << "threads/descriptors after each call: " << series << "; threads: " << ThreadNames();
    EXPECT_EQ(samples.back().descriptors, samples[4].descriptors) << series;
    // Allocator noise aside, memory settles after the first calls: the last fifteen calls together
    // add less than one page image would.
    EXPECT_LT(samples.back().kb - samples[4].kb, 1024)
        << samples[4].kb << " KB after call 5, " << samples.back().kb << " KB after call 20";
    screen->ReceiveButtonClick();
    EXPECT_TRUE(LocksGivenBack());
}

} // namespace
} // namespace zn::app::test

namespace zn::app::test {
namespace {

struct ReceiveProgressCase {
    const char* name;
    int faxClass; // FaxClassReceive
};

class ReceiveModeProgress : public ReceiveMode, public ::testing::WithParamInterface<ReceiveProgressCase> {};

// While a page comes in, the window's status line counts its bytes as they arrive.
TEST_P(ReceiveModeProgress, TheStatusCountsThePageBytesAsTheyArrive)
{
    TempDir dir;
    const int faxClass = GetParam().faxClass;
    std::unique_ptr<Line> line;
    std::unique_ptr<comms::test::Class2SimProcess> sim;
    std::string device;
    if (faxClass == 1) {
        WritePages(dir);
        line = Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--speed", "4"});
        ASSERT_TRUE(line);
        device = line->Port('A');
    } else {
        sim = std::make_unique<comms::test::Class2SimProcess>(
            dir, std::vector<std::string>{"--send", ItuChartPath(1), "--ring-delay", "1", "--speedup", "4"});
        device = sim->Device();
    }
    ASSERT_FALSE(device.empty());
    std::vector<long> counts; // the byte counts the status line showed, in order
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        static const std::regex bytes(R"(, page 1 \((\d+) bytes\))");
        std::smatch m;
        const std::string text = screen->Status->text().toStdString();
        if (std::regex_search(text, m, bytes) && (counts.empty() || counts.back() != std::stol(m[1])))
            counts.push_back(std::stol(m[1]));
    });
    watch.start(20);
    StartReceiving(device, faxClass);
    ASSERT_TRUE(screen->ReceiveModeOn) << Log();
    ASSERT_TRUE(Until([this] { return Rows().size() == 1; }, 120000)) << Log();
    watch.stop();
    std::string shown;
    for (long c : counts)
        shown += " " + std::to_string(c);
    ASSERT_GE(counts.size(), 2u) << "the page's bytes were not counted as they came:" << shown;
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end())) << shown;
    EXPECT_GT(counts.front(), 0);
    screen->ReceiveButtonClick();
}

INSTANTIATE_TEST_SUITE_P(Classes, ReceiveModeProgress,
                         ::testing::Values(ReceiveProgressCase{"Class1", 1}, ReceiveProgressCase{"Class2", 2},
                                           ReceiveProgressCase{"Class20", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zn::app::test
