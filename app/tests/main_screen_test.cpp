// The main window from an empty program folder: its tables, the enabling of its commands, the
// commands on the outgoing list with the files in SEND checked afterwards, and its close query.
#include "app/fax_forms.h"
#include "app/quick_fax.h"
#include "faxdoc/gui/page_target.h"
#include "app/fax_viewer_form.h"
#include "app/viewer_form_base.h"
#include "cover/gui/designer_window.h"
#include "foundation/printer_choice.h"
#include "foundation/dialogs.h"
#include "foundation/help_window.h"
#include "app/small_forms.h"
#include "data/table/system_tables.h"
#include "data/xbase/xbase_dbf.h"
#include "foundation/gui/enter_edit.h"
#include "main_screen_fixture.h"
#include "platform/date_format.h"
#include "modal_driver.h"
#include "undeletable.h"

#include <QAction>
#include <QApplication>
#include <QUrl>
#include <QMainWindow>
#include <QDesktopServices>
#include <QDialog>
#include <QClipboard>
#include <QDir>
#include <QHelpEvent>
#include <QToolTip>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QLabel>
#include <QLocale>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTableView>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <functional>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace zn::app;
using namespace zn::app::test;
namespace fs = std::filesystem;

namespace {

void ClickIn(QWidget* dialog, const char* name)
{
    auto* b = dialog->findChild<QPushButton*>(name);
    ASSERT_NE(b, nullptr) << name;
    b->click();
}

std::string DbfFieldNames(const std::string& path)
{
    QProcess p;
    p.start("/usr/bin/python3", {"-c",
                                 "import sys, dbfread; t = dbfread.DBF(sys.argv[1]); "
                                 "print(','.join(f.name for f in t.fields), len(list(t)))",
                                 QString::fromStdString(path)});
    p.waitForFinished(20000);
    return p.readAllStandardOutput().trimmed().toStdString();
}

} // namespace

using MainScreenTest = MainScreenFixture;

TEST_F(MainScreenTest, ListsShowDatesInTheUsersShortDateForm)
{
    zn::platform::SetShortDateFormat("");
    const std::string users = zn::platform::ShortDateFormat();
    Start();
    EXPECT_TRUE(screen->VeldraneEnv1.Century());
    EXPECT_EQ(zn::platform::ShortDateFormat(), users);
}

TEST_F(MainScreenTest, PrintJobsWaitingAtStartBecomeRowsAndAJobWithoutItsFaxWaits)
{
    const std::string send = zn::foundation::GetSendFolder();
    zn::foundation::CreateDataFolders();
    for (const char* base : {"FAX00000", "FAX00001"}) {
        MakeFax(std::string(base) + ".APF");
        zn::foundation::test::WriteFile(send + base + ".JFD",
                                        std::string("555-0100\r\nJob ") + base + "\r\nAbout " + base + "\r\n");
    }
    zn::foundation::test::WriteFile(send + "FAX00002.JFD", "555-0102\r\nLate\r\nStill printing\r\n");
    Start();
    EXPECT_EQ(Subjects().size(), 2u);
    EXPECT_TRUE(GoToSubject("About FAX00000"));
    EXPECT_TRUE(GoToSubject("About FAX00001"));
    EXPECT_FALSE(SendFileExists("FAX00000.JFD"));
    EXPECT_TRUE(SendFileExists("FAX00002.JFD"));
    MakeFax("FAX00002.APF");
    screen->FormActivate();
    ASSERT_TRUE(GoToSubject("Still printing"));
    EXPECT_EQ(screen->FaxTable.FieldByName("RECIPIENT").AsString(), "Late");
    EXPECT_EQ(screen->FaxTable.FieldByName("FAXDOC").AsString(), "FAX00002.APF");
    EXPECT_FALSE(SendFileExists("FAX00002.JFD"));
}

TEST_F(MainScreenTest, AJobFileThatCannotBeDeletedAddsItsRowOnlyOnce)
{
    const std::string send = zn::foundation::GetSendFolder();
    zn::foundation::CreateDataFolders();
    MakeFax("FAX00007.APF");
    zn::foundation::test::WriteFile(send + "FAX00007.JFD", "555-0107\r\nStuck\r\nKept job file\r\n");
    {
        Undeletable lock(send + "FAX00007.JFD");
        ASSERT_TRUE(lock.Holds());
        Start();
        screen->FormActivate();
        screen->FormActivate();
        EXPECT_EQ(Subjects().size(), 1u);
        EXPECT_TRUE(GoToSubject("Kept job file"));
        EXPECT_TRUE(SendFileExists("FAX00007.JFD"));
    }
    // Once the file can go, the next activation removes it and still adds nothing.
    screen->FormActivate();
    EXPECT_FALSE(SendFileExists("FAX00007.JFD"));
    EXPECT_EQ(Subjects().size(), 1u);
}

TEST_F(MainScreenTest, AJobFileOfAnyBytesBecomesARowOfCleanTextAndIsReadOnlyAsFarAsAJobFileGoes)
{
    const std::string send = zn::foundation::GetSendFolder();
    zn::foundation::CreateDataFolders();
    MakeFax("FAX00003.APF");
    // Control characters, bytes that are no UTF-8, a subject whose 50th character is two bytes
    // long, and no end of line before a long run of zero bytes (the file is sparse).
    const std::string subject = std::string(49, 'x') + "\xc3\xa9" + "yz";
    zn::foundation::test::WriteFile(send + "FAX00003.JFD", "555\x01-0100\x7f\r\nAnn \xff\xfeSmith\x1b\x9b\r\n" + subject);
    ASSERT_EQ(::truncate((send + "FAX00003.JFD").c_str(), 64 << 20), 0);
    Start();
    ASSERT_TRUE(GoToSubject(std::string(49, 'x') + "\xc3\xa9"));
    EXPECT_EQ(screen->FaxTable.FieldByName("PHONE").AsString(), "555-0100");
    EXPECT_EQ(screen->FaxTable.FieldByName("RECIPIENT").AsString(), "Ann Smith");
    EXPECT_FALSE(SendFileExists("FAX00003.JFD"));
}

TEST_F(MainScreenTest, AMinimisedStartStaysMinimised)
{
    TMainScreen::SetStartMinimised(true);
    Start();
    TMainScreen::SetStartMinimised(false);
    EXPECT_TRUE(screen->isMinimized());
}

TEST_F(MainScreenTest, AnEmptyFolderGetsBothTablesRebuiltOnceAndEmptyLists)
{
    screen = std::make_unique<TMainScreen>();
    ASSERT_TRUE(screen->TablesOpen());
    const std::string folder = zn::foundation::GetProgramFolder();
    for (const char* file : {"ZNOUT.DBF", "ZNOUT.CDX", "ZNREC.DBF", "ZNREC.CDX"})
        EXPECT_TRUE(fs::exists(folder + file)) << file;
    // A fresh table has its opening tags only; the first activation rebuilds them all.
    EXPECT_EQ(screen->FaxVeldrane.TagArea("DATEND"), 0);
    screen->FormActivate();
    EXPECT_EQ(screen->IndexRebuilds(), 1);
    EXPECT_NE(screen->FaxVeldrane.TagArea("DATEND"), 0);
    EXPECT_NE(screen->RecVeldrane.TagArea("DATEND"), 0);
    EXPECT_TRUE(screen->FaxTable.IsEmpty());
    EXPECT_TRUE(screen->RecTable.IsEmpty());
    EXPECT_TRUE(fs::is_directory(zn::foundation::GetSendFolder()));
    EXPECT_TRUE(fs::is_directory(zn::foundation::GetReceiveFolder()));
    const std::string znpd = zn::foundation::test::ReadFile(windir_ + "/ZNPD.INI");
    EXPECT_NE(znpd.find("ZNOutPath=" + zn::foundation::GetSendFolder()), std::string::npos);
    EXPECT_EQ(screen->windowTitle(), "Tarvel");
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(DbfFieldNames(folder + "ZNOUT.DBF"),
              "SUBJECT,DATESENT,TIMESENT,RECIPIENT,PHONE,LASTRESULT,FAXDOC,FAXCOVER,NOTES,CODES,ARCHIVED 0");
    EXPECT_EQ(DbfFieldNames(folder + "ZNREC.DBF"), "DATEREC,TIMEREC,FROM,PAGES,FAXFILE,NOTES,ARCHIVED 0");
    // A later activation and a second start find DATEND and rebuild nothing.
    screen->FormActivate();
    EXPECT_EQ(screen->IndexRebuilds(), 1);
    screen.reset();
    Start();
    screen->FormActivate();
    EXPECT_EQ(screen->IndexRebuilds(), 0);
}

// Bytes this process has read so far (files, pipes and sockets alike).
long long BytesRead()
{
    std::ifstream in("/proc/self/io");
    std::string key;
    long long value = 0;
    while (in >> key >> value)
        if (key == "rchar:")
            return value;
    return -1;
}

// Appends `count` received rows to ZNREC (the window closed) and rebuilds its index, as a table
// that has grown over years of receiving looks.
void AppendReceivedRows(const std::string& folder, int count)
{
    {
        zn::xbase::DbfTable dbf;
        ASSERT_EQ(dbf.Open(folder + "ZNREC.DBF", zn::xbase::OpenMode::Exclusive), zn::xbase::Err::Ok);
        const size_t length = size_t(dbf.RecordLength());
        std::vector<char> records(length * size_t(count));
        for (int i = 0; i < count; ++i) {
            char* record = records.data() + length * size_t(i);
            dbf.BlankRecord(record);
            char file[16];
            std::snprintf(file, sizeof file, "%08d.APF", i + 1);
            const std::map<std::string, std::string> values = {
                {"DATEREC", "20261201"}, {"TIMEREC", "10:30"}, {"FROM", "SENDER " + std::to_string(i % 977)},
                {"PAGES", " 1"},         {"FAXFILE", file},   {"ARCHIVED", "F"}};
            for (const zn::xbase::Field& f : dbf.Fields())
                if (auto v = values.find(f.name); v != values.end())
                    std::memcpy(record + f.offset, v->second.data(), std::min(v->second.size(), size_t(f.length)));
        }
        ASSERT_EQ(dbf.WriteRecords(1, uint32_t(count), records.data()), zn::xbase::Err::Ok);
        dbf.SetCount(uint32_t(count));
        ASSERT_EQ(dbf.WriteHeader(), zn::xbase::Err::Ok);
    }
    zn::data::TTable table;
    zn::data::TDataSource source(&table);
    zn::data::TVeldrane veldrane(&source);
    ASSERT_TRUE(zn::data::OpenRecFaxDBF(table, veldrane, folder));
    zn::data::BuildTags(veldrane, zn::data::RecFaxTags(), false);
}

// A start shows the first screen of a large received-fax table without reading the rest of it;
// only after a receive that did not end cleanly does it read every row, to list a fax a crash
// kept from its row, and then it leaves no mark for the next start.
TEST_F(MainScreenTest, AStartReadsEveryReceivedRowOnlyAfterAReceiveThatDidNotEndCleanly)
{
    Start();
    screen.reset();
    const std::string folder = zn::foundation::GetProgramFolder();
    constexpr int kRows = 40000;
    AppendReceivedRows(folder, kRows);
    if (HasFailure())
        return;
    const long long tableBytes = static_cast<long long>(fs::file_size(folder + "ZNREC.DBF"));
    for (const bool interrupted : {false, true}) {
        SCOPED_TRACE(interrupted ? "after a receive that did not end cleanly" : "after a clean end");
        MarkUnrecordedReceive(folder, interrupted);
        const long long before = BytesRead();
        Start();
        const long long read = BytesRead() - before;
        ASSERT_TRUE(screen->TablesOpen());
        screen->SelectTab(1);
        EXPECT_FALSE(screen->RecTable.IsEmpty());
        if (interrupted)
            EXPECT_GE(read, tableBytes);
        else
            EXPECT_LT(read, tableBytes / 4) << "of a table of " << tableBytes << " bytes";
        EXPECT_FALSE(UnrecordedReceiveMarked(folder));
        screen.reset();
    }
}

TEST_F(MainScreenTest, ATableThatCannotBeOpenedClosesTheWindowWithoutTouchingIt)
{
    // ZNOUT.DBF is not a table at all.
    zn::foundation::test::WriteFile(zn::foundation::GetProgramFolder() + "ZNOUT.DBF", "this is not a table");
    screen = std::make_unique<TMainScreen>();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Unable to open/create the FAX datafile - closing program");
    EXPECT_FALSE(screen->TablesOpen());
    // The first activation comes while the close message is pending; the close wins.
    screen->show();
    screen->FormActivate();
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_FALSE(screen->isVisible());
    EXPECT_FALSE(fs::exists(windir_ + "/ZNPD.INI")); // the activation stopped before the tables
    EXPECT_EQ(zn::foundation::test::ReadFile(zn::foundation::GetProgramFolder() + "ZNOUT.DBF"), "this is not a table");
}

// A start stopped by a damaged table never read the settings, so it must not write them: the
// user's port, name and number stay as they were, byte for byte.
struct DamageCase {
    const char* name;
    const char* table;
    std::function<bool(const std::string& path)> damage; // false: cannot be done here
};

class DamagedTableTest : public MainScreenFixture, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedTableTest, LeavesTheSettingsFileByteForByte)
{
    Start();
    screen->close();
    screen.reset();
    const std::string ini = zn::foundation::GetIniFileName();
    const std::string settings = "; set up by hand\r\n[Modem]\r\nComPort=0x2\r\nInitString=AT&F,E0\r\n\r\n"
                                 "[User]\r\nName = Ada\r\nFax=+49 30 1234\r\n[Dialing]\r\nDialPrefix=9,\r\n";
    zn::foundation::test::WriteFile(ini, settings);
    const std::string table = zn::foundation::GetProgramFolder() + GetParam().table;
    std::unique_ptr<Undeletable> locked;
    if (!GetParam().damage(table))
        GTEST_SKIP() << "this damage cannot be made here";
    if (std::string(GetParam().name).find("NotWritable") != std::string::npos) {
        locked = std::make_unique<Undeletable>(table);
        if (!locked->Holds() || ::access(table.c_str(), W_OK) == 0)
            GTEST_SKIP() << "a file cannot be made unwritable for this user here";
    }
    zn::foundation::Settings() = zn::foundation::SettingsValues();
    screen = std::make_unique<TMainScreen>();
    screen->show();
    for (int i = 0; i < 20 && screen->isVisible(); ++i)
        QApplication::processEvents();
    ASSERT_FALSE(boxes.empty());
    EXPECT_NE(boxes[0].text.find("Unable to open/create the FAX"), std::string::npos) << boxes[0].text;
    EXPECT_FALSE(screen->isVisible());
    screen.reset();
    locked.reset();
    EXPECT_EQ(zn::foundation::test::ReadFile(ini), settings);
}

bool Emptied(const std::string& path)
{
    zn::foundation::test::WriteFile(path, "");
    return true;
}
bool CutTo20(const std::string& path)
{
    fs::resize_file(path, 20);
    return true;
}
bool Zeroed(const std::string& path)
{
    zn::foundation::test::WriteFile(path, std::string(fs::file_size(path), '\0'));
    return true;
}
bool RandomBytes(const std::string& path)
{
    std::string bytes(4096, '\0');
    unsigned seed = 12345;
    for (char& c : bytes)
        c = char((seed = seed * 1103515245u + 12345u) >> 16);
    zn::foundation::test::WriteFile(path, bytes);
    return true;
}
bool Untouched(const std::string&) { return true; }

INSTANTIATE_TEST_SUITE_P(
    Tables, DamagedTableTest,
    ::testing::Values(DamageCase{"OutgoingEmptied", "ZNOUT.DBF", Emptied}, DamageCase{"OutgoingCut", "ZNOUT.DBF", CutTo20},
                      DamageCase{"OutgoingZeroed", "ZNOUT.DBF", Zeroed},
                      DamageCase{"OutgoingRandom", "ZNOUT.DBF", RandomBytes},
                      DamageCase{"OutgoingNotWritable", "ZNOUT.DBF", Untouched},
                      DamageCase{"ReceivedEmptied", "ZNREC.DBF", Emptied}, DamageCase{"ReceivedCut", "ZNREC.DBF", CutTo20},
                      DamageCase{"ReceivedZeroed", "ZNREC.DBF", Zeroed},
                      DamageCase{"ReceivedRandom", "ZNREC.DBF", RandomBytes},
                      DamageCase{"ReceivedNotWritable", "ZNREC.DBF", Untouched}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

struct ButtonCase {
    const char* name;
    int tab;
    bool outRows, recRows, outCover;
    // Send, Clone, Edit, Delete, View, New, AddCover, Archive, Print, Forward
    std::vector<bool> enabled;
};

class SetButtonsTest : public MainScreenFixture, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(SetButtonsTest, EnablesTheCommandsOfTheTabShown)
{
    const ButtonCase& c = GetParam();
    Start();
    if (c.outRows)
        AddOutgoing("a fax", MakeFax("FAX00000.APF").substr(zn::foundation::GetSendFolder().size()),
                    c.outCover ? "COV00000.APF" : "");
    if (c.recRows)
        AddReceived("REMOTE", "FAX0001.APF");
    screen->SelectTab(c.tab);
    TMainScreen& s = *screen;
    const std::vector<bool> got = {s.SendButton->isEnabled(),      s.mnuClone->isEnabled(),
                                   s.EditButton->isEnabled(),      s.DeleteButton->isEnabled(),
                                   s.ButtonviewPrint->isEnabled(), s.Newbutton->isEnabled(),
                                   s.AddCoverButton->isEnabled(),  s.mnuArchive->isEnabled(),
                                   s.Printbutton->isEnabled(),     s.mnuForward->isEnabled()};
    EXPECT_EQ(got, c.enabled);
    EXPECT_TRUE(s.OrderButton->isEnabled());
    EXPECT_EQ(s.FaxGrid->isEnabled(), c.outRows);
    EXPECT_EQ(s.RecFaxGrid->isEnabled(), c.recRows);
    // The menu follows the buttons.
    EXPECT_EQ(s.mnuSend->isEnabled(), s.SendButton->isEnabled());
    EXPECT_EQ(s.mnuEdit->isEnabled(), s.EditButton->isEnabled());
    EXPECT_EQ(s.mnuDelete->isEnabled(), s.DeleteButton->isEnabled());
    EXPECT_EQ(s.mnuViewPrint->isEnabled(), s.ButtonviewPrint->isEnabled());
    EXPECT_EQ(s.mnuPrint->isEnabled(), s.Printbutton->isEnabled());
    EXPECT_EQ(s.mnuNewCoverSheet->isEnabled(), s.Newbutton->isEnabled());
    EXPECT_EQ(s.mnuAddCoverSheet->isEnabled(), s.AddCoverButton->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetButtonsTest,
    ::testing::Values(ButtonCase{"OutgoingEmpty", 0, false, false, false, {0, 0, 0, 0, 0, 1, 0, 0, 0, 0}},
                      ButtonCase{"OutgoingDocument", 0, true, false, false, {1, 1, 1, 1, 1, 1, 1, 1, 1, 0}},
                      ButtonCase{"OutgoingWithCover", 0, true, false, true, {1, 1, 1, 1, 1, 1, 0, 1, 1, 0}},
                      ButtonCase{"ReceivedEmpty", 1, false, false, false, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
                      // Send keeps the state the outgoing tab gave it.
                      ButtonCase{"ReceivedRowsOutgoingRows", 1, true, true, false, {1, 0, 1, 1, 1, 0, 0, 1, 1, 1}},
                      ButtonCase{"ReceivedRowsOutgoingEmpty", 1, false, true, false, {0, 0, 1, 1, 1, 0, 0, 1, 1, 1}},
                      ButtonCase{"ReceivedEmptyOutgoingRows", 1, true, false, false, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<ButtonCase>& info) { return std::string(info.param.name); });

class OutgoingTest : public MainScreenFixture {
protected:
    void SetUp() override
    {
        Start();
        MakeFax("FAX00000.APF");
        MakeFax("FAX00001.APF");
        MakeFax("COV00000.APF");
        zn::foundation::test::WriteFile(zn::foundation::GetSendFolder() + "COV00000.fcd",
                                        "zn0001.fct\r\nX    \r\nHello\r\n");
        MakeFax("COV00001.APF"); // a cover without its .fcd file
        AddOutgoing("document only", "FAX00000.APF");
        AddOutgoing("cover only", "", "COV00000.APF");
        AddOutgoing("cover and document", "FAX00001.APF", "COV00000.APF");
        AddOutgoing("cover without data", "", "COV00001.APF");
    }
    std::string Field(const char* name) { return screen->FaxTable.FieldByName(name).AsString(); }
    std::vector<std::string> SendFiles()
    {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(zn::foundation::GetSendFolder()))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(OutgoingTest, CalculatedColumnsShowTheFileOrCoverOnlyAndYesNo)
{
    ASSERT_TRUE(GoToSubject("cover only"));
    EXPECT_EQ(Field("calcFaxFile"), "(Cover only)");
    EXPECT_EQ(Field("ISARCHIVED"), "No ");
    EXPECT_EQ(Field("ISDELETED"), "No ");
    ASSERT_TRUE(GoToSubject("document only"));
    // The file as it is on disk, whatever the row's spelling.
    const std::string expected = zn::foundation::GetProgramFolder() + "SEND/FAX00000.APF";
    ASSERT_TRUE(fs::exists(expected));
    EXPECT_EQ(Field("calcFaxFile"), expected);
    AddOutgoing("spelled otherwise", "fax00000.apf");
    ASSERT_TRUE(GoToSubject("spelled otherwise"));
    EXPECT_EQ(Field("calcFaxFile"), expected);
    EXPECT_EQ(screen->GetDatetimeAsString(true), "not sent");
}

TEST_F(OutgoingTest, ViewShowsCoverAndDocumentJoinedAndRemovesTheJoinedFileAfterwards)
{
    screen->show();
    ASSERT_TRUE(GoToSubject("cover and document"));
    ModalDriver driver;
    std::string title, status, file;
    int pages = 0;
    driver.Then([&](QWidget* d) {
        auto* viewer = dynamic_cast<zn::app::TFaxViewer*>(d);
        ASSERT_NE(viewer, nullptr);
        file = viewer->FileName;
        title = viewer->Title;
        pages = viewer->FaxViewer->NumPages();
        status = viewer->StatusText().toStdString();
        EXPECT_TRUE(fs::exists(file));
        ClickIn(d, "CloseButton");
    });
    screen->ButtonviewPrint->click();
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(title, "To: Recipient of cover and document             Sent: not sent");
    EXPECT_EQ(pages, 2) << "the cover's page and the document's";
    EXPECT_EQ(status, title + ": Page 1 of 2");
    EXPECT_NE(file.find("Temp"), std::string::npos);
    EXPECT_FALSE(fs::exists(file)) << "the joined file is removed after viewing";

    ASSERT_TRUE(GoToSubject("document only"));
    driver.Then([&](QWidget* d) {
        file = dynamic_cast<zn::app::TFaxViewer*>(d)->FileName;
        ClickIn(d, "CloseButton");
    });
    screen->ButtonviewPrint->click();
    EXPECT_EQ(fs::path(file).filename(), "FAX00000.APF");
    EXPECT_TRUE(fs::exists(file));
}

TEST_F(OutgoingTest, ViewAndPrintOfARowWithoutItsFileSayTheFileIsMissing)
{
    screen->show();
    ASSERT_TRUE(GoToSubject("document only"));
    fs::remove(zn::foundation::GetSendFolder() + "FAX00000.APF");
    screen->ButtonviewPrint->click();
    zn::foundation::SetPrinterNamesForTest(std::vector<std::string>{"Tarvel Fax Printer", "Paper"});
    zn::foundation::SetPrinterIndex(1);
    screen->Printbutton->click();
    zn::foundation::SetPrinterNamesForTest(std::nullopt);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Error - fax file missing");
    EXPECT_EQ(boxes[1].text, "Error - fax file missing");
}

// A fax file that is there but damaged: Print says so instead of doing nothing, and leaves the file
// as it was. A file whose header still reads gets the print dialog; its pages then fail to print.
struct DamagedFax {
    const char* name;
    std::function<std::string(const std::string& good)> damage;
    bool offersTheDialog;
    const char* text;
};

class DamagedFaxPrint : public OutgoingTest, public ::testing::WithParamInterface<DamagedFax> {};

TEST_P(DamagedFaxPrint, SaysSoAndKeepsTheFile)
{
    const std::string file = zn::foundation::GetSendFolder() + "FAX00000.APF";
    const std::string damaged = GetParam().damage(zn::foundation::test::ReadFile(file));
    zn::foundation::test::WriteFile(file, damaged);
    zn::foundation::SetPrinterNamesForTest(std::vector<std::string>{"Tarvel Fax Printer", "Paper"});
    zn::foundation::SetPrinterIndex(1);
    zn::faxdoc::TImagePageTarget target(850, 1100, 100);
    screen->fxFaxPrinter1.SetPageTarget(&target);
    ASSERT_TRUE(GoToSubject("document only"));
    ModalDriver driver;
    driver.Then([](QWidget* d) { d->findChild<QPushButton*>("BitBtn1")->click(); });
    screen->Printbutton->click();
    screen->fxFaxPrinter1.SetPageTarget(nullptr);
    zn::foundation::SetPrinterNamesForTest(std::nullopt);
    EXPECT_EQ(driver.Seen().size(), GetParam().offersTheDialog ? 1u : 0u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, GetParam().text);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_TRUE(target.Sheets().empty());
    EXPECT_EQ(zn::foundation::test::ReadFile(file), damaged);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DamagedFaxPrint,
    ::testing::Values(DamagedFax{"Empty", [](const std::string&) { return std::string(); }, false,
                                 "Error opening fax file"},
                      DamagedFax{"NotAFaxFile", [](const std::string& good) { return std::string(good.size(), 'x'); },
                                 false, "Error opening fax file"},
                      DamagedFax{"CutShortInThePage",
                                 [](const std::string& good) { return good.substr(0, good.size() / 2); }, true,
                                 "File is not an APF file"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OutgoingTest, CloneCopiesTheDocumentUnderANewName)
{
    ASSERT_TRUE(GoToSubject("document only"));
    answers = {zn::platform::IDYES};
    screen->mnuCloneClick();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0].text, "Clone the current fax?\r\n(subject: \"document only\")");
    EXPECT_EQ(boxes[0].caption, "Clone");
    ASSERT_TRUE(GoToSubject("[clone]document only"));
    EXPECT_EQ(Field("FAXDOC"), "FAX00002.APF");
    EXPECT_EQ(Field("FAXCOVER"), "");
    EXPECT_EQ(Field("PHONE"), "555-0100");
    EXPECT_EQ(Field("RECIPIENT"), "Recipient of document only");
    EXPECT_EQ(zn::foundation::test::ReadFile(zn::foundation::GetSendFolder() + "FAX00002.APF"),
              zn::foundation::test::ReadFile(zn::foundation::GetSendFolder() + "FAX00000.APF"));
}

TEST_F(OutgoingTest, CloneOfCoverAndDocumentCopiesCoverDataAndAnsweringNoDoesNothing)
{
    ASSERT_TRUE(GoToSubject("cover and document"));
    answers = {zn::platform::IDNO};
    screen->mnuCloneClick();
    EXPECT_EQ(Subjects().size(), 4u);
    ASSERT_TRUE(GoToSubject("cover and document"));
    answers = {zn::platform::IDYES};
    screen->mnuCloneClick();
    ASSERT_TRUE(GoToSubject("[clone]cover and document"));
    EXPECT_EQ(Field("FAXDOC"), "FAX00002.APF");
    EXPECT_EQ(Field("FAXCOVER"), "COV00002.APF");
    EXPECT_EQ(zn::foundation::test::ReadFile(zn::foundation::GetSendFolder() + "COV00002.fcd"),
              "zn0001.fct\r\nX    \r\nHello\r\n");
}

TEST_F(OutgoingTest, ACoverWithoutItsDataFileIsNotCloned)
{
    // A row with a document and a cover that has no .fcd file.
    AddOutgoing("mixed", "FAX00001.APF", "COV00001.APF");
    ASSERT_TRUE(GoToSubject("mixed"));
    answers = {zn::platform::IDYES};
    screen->mnuCloneClick();
    ASSERT_TRUE(GoToSubject("[clone]mixed"));
    EXPECT_EQ(Field("FAXDOC"), "FAX00002.APF");
    EXPECT_EQ(Field("FAXCOVER"), "");
    EXPECT_FALSE(SendFileExists("COV00002.APF"));
}

TEST_F(OutgoingTest, ACloneWhoseCopyFailsAddsNoRowAndLeavesNoFile)
{
    const std::string big = MakeFax("FAX00009.APF", 300);
    AddOutgoing("big", "FAX00009.APF");
    ASSERT_TRUE(GoToSubject("big"));
    const auto before = SendFiles();
    answers = {zn::platform::IDYES};
    // Writes past 64 KB fail, as on a full disk; the fax is larger, the tables smaller.
    ASSERT_GT(fs::file_size(big), 100000u);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    screen->mnuCloneClick();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(GoToSubject("[clone]big"));
    EXPECT_EQ(Subjects().size(), 5u);
    EXPECT_EQ(SendFiles(), before);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[1].text.find("could not be copied"), std::string::npos);
}

TEST_F(OutgoingTest, DeletingADocumentOnlyFaxAsksAndRemovesRowAndFile)
{
    ASSERT_TRUE(GoToSubject("document only"));
    answers = {zn::platform::IDYES};
    screen->DeleteButtonClick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Delete the current fax?\r\n(subject: \"document only\")");
    EXPECT_EQ(boxes[0].caption, "Delete");
    EXPECT_FALSE(GoToSubject("document only"));
    EXPECT_FALSE(SendFileExists("FAX00000.APF"));
    EXPECT_TRUE(SendFileExists("FAX00001.APF"));
}

struct DeleteChoice {
    const char* name;
    int choice;
    bool rowStays;
    const char* docAfter;
    const char* coverAfter;
    bool docFile, coverFile, coverData;
};

class DeleteWhatTest : public OutgoingTest, public ::testing::WithParamInterface<DeleteChoice> {};

TEST_P(DeleteWhatTest, TheChoiceDecidesWhatGoes)
{
    const DeleteChoice& c = GetParam();
    ASSERT_TRUE(GoToSubject("cover and document"));
    ModalDriver driver;
    driver.Then([&](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), "Delete Fax");
        d->findChild<QRadioButton*>(QString("WhatToDelete%1").arg(c.choice))->click();
        ClickIn(d, "OkButton");
    });
    screen->DeleteButtonClick();
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(GoToSubject("cover and document"), c.rowStays);
    if (c.rowStays) {
        EXPECT_EQ(Field("FAXDOC"), c.docAfter);
        EXPECT_EQ(Field("FAXCOVER"), c.coverAfter);
    }
    EXPECT_EQ(SendFileExists("FAX00001.APF"), c.docFile);
    EXPECT_EQ(SendFileExists("COV00000.APF"), c.coverFile);
    EXPECT_EQ(SendFileExists("COV00000.fcd"), c.coverData);
}

INSTANTIATE_TEST_SUITE_P(Choices, DeleteWhatTest,
                         ::testing::Values(DeleteChoice{"Cover", 0, true, "FAX00001.APF", "", true, false, false},
                                           DeleteChoice{"Body", 1, true, "", "COV00000.APF", false, true, true},
                                           DeleteChoice{"Both", 2, false, "", "", false, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OutgoingTest, CancellingTheDeleteChoiceKeepsEverything)
{
    ASSERT_TRUE(GoToSubject("cover and document"));
    ModalDriver driver;
    driver.Then([](QWidget* d) { ClickIn(d, "Cancelbutton"); });
    screen->DeleteButtonClick();
    EXPECT_TRUE(GoToSubject("cover and document"));
    EXPECT_EQ(Field("FAXDOC"), "FAX00001.APF");
    EXPECT_TRUE(SendFileExists("FAX00001.APF"));
}

TEST_F(OutgoingTest, AFileThatCannotBeDeletedKeepsItsRowAndTheUserIsTold)
{
    ASSERT_TRUE(GoToSubject("document only"));
    Undeletable lock(zn::foundation::GetSendFolder() + "FAX00000.APF");
    if (!lock.Holds())
        GTEST_SKIP() << "no way to make a file undeletable here";
    answers = {zn::platform::IDYES};
    screen->DeleteButtonClick();
    EXPECT_TRUE(GoToSubject("document only"));
    EXPECT_EQ(Field("FAXDOC"), "FAX00000.APF");
    EXPECT_TRUE(SendFileExists("FAX00000.APF"));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[1].text.find("could not be deleted"), std::string::npos);
    EXPECT_NE(boxes[1].text.find("FAX00000.APF"), std::string::npos);
}

TEST_F(OutgoingTest, EditWritesTheFiveFieldsOnAcceptOnly)
{
    ASSERT_TRUE(GoToSubject("document only"));
    ModalDriver driver;
    driver.Then([](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), "Fax Information Editor");
        EXPECT_EQ(d->findChild<QLineEdit*>("Recipient")->text(), "Recipient of document only");
        d->findChild<QLineEdit*>("Subject")->setText("edited subject");
        d->findChild<QLineEdit*>("Notes")->setText("call first");
        ClickIn(d, "CancelButton");
    });
    driver.Then([](QWidget* d) {
        d->findChild<QLineEdit*>("Subject")->setText("edited subject");
        d->findChild<QLineEdit*>("Notes")->setText("call first");
        d->findChild<QLineEdit*>("Codes")->setText("X1");
        ClickIn(d, "OKButton");
    });
    screen->EditButtonClick();
    EXPECT_TRUE(GoToSubject("document only"));
    screen->EditButtonClick();
    ASSERT_TRUE(GoToSubject("edited subject"));
    EXPECT_EQ(Field("NOTES"), "call first");
    EXPECT_EQ(Field("CODES"), "X1");
    EXPECT_EQ(Field("FAXDOC"), "FAX00000.APF");
}

TEST_F(OutgoingTest, ArchiveHidesTheRowShowArchivedBringsItBackUnarchiveRestores)
{
    ASSERT_TRUE(GoToSubject("cover only"));
    EXPECT_EQ(screen->mnuArchive->text(), "&Archive");
    answers = {zn::platform::IDYES};
    screen->mnuArchiveClick();
    EXPECT_EQ(boxes.back().text, "Archive the current fax?\r(subject: cover only)");
    EXPECT_EQ(boxes.back().caption, "Archive");
    EXPECT_FALSE(GoToSubject("cover only"));
    screen->mnuShowArchives->trigger();
    ASSERT_TRUE(GoToSubject("cover only"));
    screen->SetArchiveCaptions();
    EXPECT_EQ(screen->mnuArchive->text(), "Un&Archive");
    EXPECT_EQ(Field("ISARCHIVED"), "Yes");
    answers = {zn::platform::IDYES};
    screen->mnuArchiveClick();
    EXPECT_EQ(boxes.back().text, "UnArchive the current fax?\r(subject: cover only)");
    screen->mnuShowArchives->trigger();
    EXPECT_TRUE(GoToSubject("cover only"));
}

// What the outgoing grid shows: the subjects of its rows, and the subject of the selected row.
std::vector<std::string> GridSubjects(zn::data::TDBGrid& grid, std::string* selected = nullptr)
{
    const QAbstractItemModel* model = grid.View()->model();
    int column = -1;
    for (int c = 0; c < model->columnCount(); ++c)
        if (zn::data::TField* f = grid.Model().ColumnField(c); f && f->FieldName() == "SUBJECT")
            column = c;
    std::vector<std::string> out;
    if (column < 0)
        return out;
    for (int r = 0; r < model->rowCount(); ++r)
        out.push_back(model->data(model->index(r, column), Qt::DisplayRole).toString().trimmed().toStdString());
    if (selected) {
        const QModelIndex current = grid.View()->currentIndex();
        *selected = current.isValid() ? out.at(size_t(current.row())) : std::string();
    }
    return out;
}

// With archived faxes hidden, an archived row leaves the list at once and the cursor stays on a
// neighbour: the next row, or the one before when it was the last.
TEST_F(OutgoingTest, ArchivingTakesTheRowOffTheListAtOnceAndKeepsTheCursorNextToIt)
{
    screen->show();
    QApplication::setActiveWindow(screen.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(screen.get()));
    QTableView* view = screen->FaxGrid->View();
    const std::vector<std::string> before = GridSubjects(*screen->FaxGrid);
    ASSERT_EQ(before.size(), 4u);
    for (const size_t row : {size_t(1), size_t(2)}) { // a middle row, then the last one
        const std::vector<std::string> shown = GridSubjects(*screen->FaxGrid);
        const std::string gone = shown.at(row);
        const std::string neighbour = row + 1 < shown.size() ? shown.at(row + 1) : shown.at(row - 1);
        const int column = view->currentIndex().isValid() ? view->currentIndex().column() : 0;
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(view->model()->index(int(row), column)).center());
        std::string selected;
        GridSubjects(*screen->FaxGrid, &selected);
        ASSERT_EQ(selected, gone);
        answers = {zn::platform::IDYES};
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        ASSERT_EQ(boxes.back().caption, "Archive");
        const std::vector<std::string> after = GridSubjects(*screen->FaxGrid, &selected);
        EXPECT_EQ(after.size(), shown.size() - 1);
        EXPECT_EQ(std::count(after.begin(), after.end(), gone), 0) << gone;
        EXPECT_EQ(selected, neighbour);
        EXPECT_EQ(Field("SUBJECT"), neighbour);
    }
    // Shown again, they are red and marked "Yes".
    screen->mnuShowArchives->trigger();
    EXPECT_EQ(GridSubjects(*screen->FaxGrid).size(), 4u);
}

TEST_F(OutgoingTest, ArchivedRowsAreDrawnRed)
{
    ASSERT_TRUE(GoToSubject("cover only"));
    screen->FaxTable.Edit();
    screen->FaxTable.FieldByName("ARCHIVED").SetAsBoolean(true);
    screen->FaxTable.Post();
    screen->mnuShowArchives->trigger();
    const QAbstractItemModel* model = screen->FaxGrid->View()->model();
    int red = 0, other = 0;
    for (int r = 0; r < model->rowCount(); ++r) {
        const QVariant color = model->data(model->index(r, 0), Qt::ForegroundRole);
        const bool isRed = color.isValid() && color.value<QBrush>().color() == QColor(Qt::red);
        (isRed ? red : other) += 1;
    }
    EXPECT_EQ(red, 1);
    EXPECT_EQ(other, 3);
}

TEST_F(OutgoingTest, SortMenuChecksItsEntryAndOrdersTheList)
{
    screen->mnuSubject->trigger();
    EXPECT_TRUE(screen->mnuSubject->isChecked());
    EXPECT_FALSE(screen->mnuDateSent->isChecked());
    EXPECT_EQ(Subjects(),
              (std::vector<std::string>{"cover and document", "cover only", "cover without data", "document only"}));
    EXPECT_EQ(screen->FaxVeldrane.TagName(screen->FaxVeldrane.IndexOrd()), "SUBJECT");
}

TEST_F(OutgoingTest, MenuShortcutsWinOverTheGridsClipboardKeys)
{
    screen->show();
    QApplication::setActiveWindow(screen.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(screen.get()));
    QTableView* view = screen->FaxGrid->View();
    view->setFocus();
    QApplication::clipboard()->clear();
    answers = {zn::platform::IDNO};
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Clone");
    EXPECT_TRUE(QApplication::clipboard()->text().isEmpty());
    answers = {zn::platform::IDNO};
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].caption, "Archive");
    answers = {zn::platform::IDNO};
    QTest::keyClick(view, Qt::Key_D, Qt::ControlModifier);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[2].caption, "Delete");
}

TEST_F(OutgoingTest, APrintJobArrivingWhileACommandWorksIsTakenWhenItEnds)
{
    MakeFax("FAX00005.APF");
    zn::foundation::test::WriteFile(zn::foundation::GetSendFolder() + "FAX00005.JFD",
                                    "555-0199\r\nJob Recipient\r\nJob Subject\r\n");
    ASSERT_TRUE(GoToSubject("document only"));
    const int runsBefore = screen->PickupRuns();
    bool sawJobDuringCommand = true;
    zn::platform::SetMessageBoxHook([&](const std::string&, const std::string&, unsigned) {
        // The clone question is up: the application is activated meanwhile.
        screen->FormActivate();
        sawJobDuringCommand = Subjects().size() != 4u || !SendFileExists("FAX00005.JFD");
        return int(zn::platform::IDYES);
    });
    screen->mnuCloneClick();
    EXPECT_FALSE(sawJobDuringCommand);
    EXPECT_TRUE(GoToSubject("[clone]document only"));
    QApplication::processEvents();
    EXPECT_EQ(screen->PickupRuns(), runsBefore + 1);
    EXPECT_FALSE(screen->PickupDeferred());
    ASSERT_TRUE(GoToSubject("Job Subject"));
    EXPECT_EQ(Field("FAXDOC"), "FAX00005.APF");
    EXPECT_EQ(Field("PHONE"), "555-0199");
    EXPECT_EQ(Field("RECIPIENT"), "Job Recipient");
    EXPECT_FALSE(SendFileExists("FAX00005.JFD"));
}

TEST_F(OutgoingTest, ColumnsAndWidthsComeBackAsTheyWereAfterARestart)
{
    auto columns = [this] {
        std::vector<std::string> names;
        for (int c = 0; c < screen->FaxGrid->Model().columnCount(); ++c)
            names.push_back(screen->FaxGrid->Model().ColumnField(c)->FieldName());
        return names;
    };
    std::vector<int> widths = screen->FaxGrid->ColumnWidths();
    widths[0] += 33;
    widths.back() += 44;
    screen->FaxGrid->SetColumnWidths(widths);
    const auto names = columns();
    EXPECT_EQ(names.back(), "calcFaxFile");
    screen->show();
    screen->close();
    Start();
    EXPECT_EQ(columns(), names);
    EXPECT_EQ(screen->FaxGrid->ColumnWidths(), widths);
}

TEST_F(OutgoingTest, RebuildIndexesDropsDeletedRowsAndKeepsTheRest)
{
    ASSERT_TRUE(GoToSubject("cover only"));
    screen->FaxTable.Delete();
    screen->mnuRebuildIndexes->trigger();
    EXPECT_EQ(screen->IndexRebuilds(), 2); // the first activation's and this one
    EXPECT_EQ(Subjects().size(), 3u);
    EXPECT_EQ(screen->FaxTable.RecordCount(), 3);
    EXPECT_NE(screen->FaxVeldrane.TagArea("DATEND"), 0);
    EXPECT_TRUE(GoToSubject("cover and document"));
}

TEST_F(OutgoingTest, ShowHintsIsSavedInTheSettingsFile)
{
    EXPECT_TRUE(screen->mnuShowHint->isChecked());
    screen->mnuShowHint->trigger();
    EXPECT_FALSE(zn::foundation::Settings().HintsOn);
    const std::string ini = zn::foundation::test::ReadFile(zn::foundation::GetIniFileName());
    EXPECT_NE(ini.find("[Hints]\r\nOn=0"), std::string::npos) << ini;
    // A hint request reaches no control now, and does again once hints are back on.
    screen->show();
    auto askForHint = [this] {
        QToolTip::hideText();
        QHelpEvent request(QEvent::ToolTip, QPoint(5, 5), screen->SendButton->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(screen->SendButton, &request);
        return QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
    };
    EXPECT_EQ(askForHint(), "");
    screen->mnuShowHint->trigger();
    EXPECT_TRUE(zn::foundation::Settings().HintsOn);
    EXPECT_EQ(askForHint(), screen->SendButton->toolTip().toStdString());
    QToolTip::hideText();
}

TEST_F(OutgoingTest, GridOrderFilesSkipAFieldThatNoLongerExists)
{
    TMainScreen& s = *screen;
    s.SaveGridOrders(s.FaxTable, *s.FaxGrid, "Out");
    const std::string gco = zn::foundation::test::ReadFile(zn::foundation::GetProgramFolder() + "Out.gco");
    EXPECT_EQ(gco.find("calcFaxFile"), std::string::npos);
    EXPECT_NE(gco.find("SUBJECT\r\n"), std::string::npos);
    EXPECT_NE(gco.find("ISARCHIVED\r\n"), std::string::npos);
    zn::foundation::test::WriteFile(zn::foundation::GetProgramFolder() + "Out.gco",
                                    "RECIPIENT\r\nNOSUCHFIELD\r\nSUBJECT\r\n");
    zn::foundation::test::WriteFile(zn::foundation::GetProgramFolder() + "Out.gcs", "77\r\nwide\r\n99\r\n");
    s.LoadGridOrders(s.FaxTable, *s.FaxGrid, "Out");
    EXPECT_EQ(s.FaxTable.FieldByName("RECIPIENT").Index(), 0);
    EXPECT_EQ(s.FaxTable.FieldByName("SUBJECT").Index(), 2);
    const std::vector<int> widths = s.FaxGrid->ColumnWidths();
    ASSERT_GE(widths.size(), 3u);
    EXPECT_EQ(widths[0], 77);
    EXPECT_EQ(widths[2], 99);
}

// Rows come from other programs too. A row whose file names have a folder part ("../ZN.INI") gets
// nothing outside SEND and Receive deleted, copied or opened: the files are left alone and the
// user is told.
struct ForeignCase {
    const char* name;
    bool received;
    const char* doc;   // FAXDOC, or FAXFILE of a received row
    const char* cover; // FAXCOVER
    std::function<void(TMainScreen&, ModalDriver&, std::deque<int>&)> command;
};

class ForeignNameTest : public MainScreenFixture, public ::testing::WithParamInterface<ForeignCase> {};

TEST_P(ForeignNameTest, LeavesFilesOutsideTheFaxFoldersAlone)
{
    const ForeignCase& c = GetParam();
    Start();
    screen->show();
    const std::string folder = zn::foundation::GetProgramFolder();
    const std::string outside = MakeFax("out.APF", 3, folder);
    const std::string faxBytes = zn::foundation::test::ReadFile(outside);
    const std::string settings = "[User]\r\nName=Ada\r\n";
    zn::foundation::test::WriteFile(folder + "ZN.INI", settings);
    fs::create_directories(zn::foundation::GetReceiveFolder());
    if (c.received) {
        AddReceived("CRAFTED", c.doc);
        screen->SelectTab(1);
    } else {
        AddOutgoing("crafted", c.doc, c.cover);
        ASSERT_TRUE(GoToSubject("crafted"));
    }
    fs::create_directories(zn::foundation::GetSendFolder());
    ModalDriver driver;
    c.command(*screen, driver, answers);
    EXPECT_EQ(zn::foundation::test::ReadFile(outside), faxBytes);
    EXPECT_EQ(zn::foundation::test::ReadFile(folder + "ZN.INI"), settings);
    EXPECT_TRUE(fs::exists(folder + "ZNREC.DBF"));
    EXPECT_TRUE(fs::is_empty(zn::foundation::GetSendFolder())) << "a file was copied into SEND";
    bool told = false;
    for (const Box& b : boxes)
        told = told || b.text.find(*c.cover ? c.cover : c.doc) != std::string::npos;
    EXPECT_TRUE(told);
}

// Answers a modal window that should never have opened, and records it.
void Refuse(ModalDriver& driver)
{
    driver.Then([](QWidget* d) {
        ADD_FAILURE() << "opened " << d->objectName().toStdString();
        static_cast<QDialog*>(d)->reject();
    });
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ForeignNameTest,
    ::testing::Values(
        ForeignCase{"DeleteOutgoing", false, "../ZN.INI", "../ZNREC.DBF",
                    [](TMainScreen& s, ModalDriver& driver, std::deque<int>&) {
                        driver.Then([](QWidget* d) {
                            d->findChild<QRadioButton*>("WhatToDelete2")->click();
                            ClickIn(d, "OkButton");
                        });
                        s.DeleteButton->click();
                    }},
        ForeignCase{"CloneOutgoing", false, "../out.APF", "",
                    [](TMainScreen& s, ModalDriver&, std::deque<int>& answers) {
                        answers = {zn::platform::IDYES};
                        s.mnuClone->trigger();
                    }},
        ForeignCase{"ViewOutgoing", false, "../out.APF", "",
                    [](TMainScreen& s, ModalDriver& driver, std::deque<int>&) {
                        Refuse(driver);
                        s.ButtonviewPrint->click();
                    }},
        ForeignCase{"DeleteReceived", true, "../out.APF", "",
                    [](TMainScreen& s, ModalDriver&, std::deque<int>& answers) {
                        answers = {zn::platform::IDYES};
                        s.DeleteButton->click();
                    }},
        ForeignCase{"ViewReceived", true, "../out.APF", "",
                    [](TMainScreen& s, ModalDriver& driver, std::deque<int>&) {
                        Refuse(driver);
                        s.ButtonviewPrint->click();
                    }},
        ForeignCase{"ForwardReceived", true, "../out.APF", "",
                    [](TMainScreen& s, ModalDriver& driver, std::deque<int>& answers) {
                        answers = {zn::platform::IDYES};
                        Refuse(driver);
                        s.mnuForward->trigger();
                    }}),
    [](const ::testing::TestParamInfo<ForeignCase>& info) { return std::string(info.param.name); });

class ReceivedTest : public MainScreenFixture {
protected:
    void SetUp() override
    {
        Start();
        MakeFax("FAX0001.APF", 3, zn::foundation::GetReceiveFolder());
        AddReceived("REMOTE ONE", "FAX0001.APF");
        screen->SelectTab(1);
    }
};

TEST_F(ReceivedTest, ForwardCopiesTheFaxIntoANewOutgoingRow)
{
    answers = {zn::platform::IDYES};
    ModalDriver driver;
    driver.Then([](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), "Forward fax from: REMOTE ONE");
        EXPECT_TRUE(d->findChild<QLineEdit*>("Recipient")->text().isEmpty());
        d->findChild<QLineEdit*>("Recipient")->setText("Head Office");
        d->findChild<QLineEdit*>("FaxNumber")->setText("555-0142");
        d->findChild<QLineEdit*>("Subject")->setText("FYI");
        ClickIn(d, "OKButton");
    });
    screen->mnuForward->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Forward the current fax to be sent?\r\n(from: REMOTE ONE)");
    EXPECT_EQ(boxes[0].caption, "Forward");
    EXPECT_EQ(screen->NoteBook->currentIndex(), 0);
    ASSERT_TRUE(GoToSubject("FYI"));
    EXPECT_EQ(screen->FaxTable.FieldByName("FAXDOC").AsString(), "FWD00000.APF");
    EXPECT_EQ(screen->FaxTable.FieldByName("PHONE").AsString(), "555-0142");
    EXPECT_EQ(zn::foundation::test::ReadFile(zn::foundation::GetSendFolder() + "FWD00000.APF"),
              zn::foundation::test::ReadFile(zn::foundation::GetReceiveFolder() + "FAX0001.APF"));
}

// The viewer's status gives the time as the lists do: hours and minutes, whatever the locale's
// own short form (the C locale's has seconds).
TEST_F(ReceivedTest, TheViewerShowsTheTimeAsTheListsDo)
{
    QLocale::setDefault(QLocale::c());
    screen->show();
    ModalDriver driver;
    std::string status;
    driver.Then([&](QWidget* d) {
        // The viewer loads its file once it is up.
        QTimer::singleShot(100, d, [&status, d] {
            if (auto* viewer = dynamic_cast<TViewerFormBase*>(d))
                status = viewer->StatusText().toStdString();
            else
                status = "not a viewer: " + d->objectName().toStdString();
            ClickIn(d, "CloseButton");
        });
    });
    screen->ButtonviewPrint->click();
    QLocale::setDefault(QLocale::system());
    EXPECT_TRUE(driver.Done());
    EXPECT_NE(status.find(" at 10:30: Page 1 of "), std::string::npos) << status;
    EXPECT_EQ(status.find("10:30:00"), std::string::npos) << status;
}

TEST_F(ReceivedTest, NotesAndDeleteOnTheReceivedList)
{
    ModalDriver driver;
    driver.Then([](QWidget* d) {
        EXPECT_EQ(d->windowTitle(), "Received Fax Notes");
        EXPECT_EQ(d->findChild<QLabel*>("Descript")->text(), "From: REMOTE ONE");
        d->findChild<QLineEdit*>("Notes")->setText("pay by Friday");
        ClickIn(d, "OKButton");
    });
    screen->EditButtonClick();
    EXPECT_EQ(screen->RecTable.FieldByName("NOTES").AsString(), "pay by Friday");
    answers = {zn::platform::IDYES};
    screen->DeleteButtonClick();
    EXPECT_EQ(boxes.back().text, "Delete the current fax?\r\n(from: \"REMOTE ONE\")");
    EXPECT_TRUE(screen->RecTable.IsEmpty());
    EXPECT_FALSE(fs::exists(zn::foundation::GetReceiveFolder() + "FAX0001.APF"));
    EXPECT_FALSE(screen->DeleteButton->isEnabled());
}

TEST_F(MainScreenTest, ClosingWhileAFaxComesInAsksAndNoKeepsTheWindow)
{
    Start();
    screen->show();
    screen->FaxComingIn = true;
    screen->ReceiveModeOn = true;
    answers = {zn::platform::IDNO};
    screen->close();
    EXPECT_TRUE(screen->isVisible());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "You are recieving a fax. Close the program?");
    EXPECT_EQ(boxes[0].caption, "ALERT!");
    EXPECT_TRUE(screen->ReceiveModeOn);
    EXPECT_TRUE(screen->FaxTable.Active());
    answers = {zn::platform::IDYES};
    screen->close();
    EXPECT_FALSE(screen->isVisible());
    EXPECT_FALSE(screen->FaxTable.Active());
    EXPECT_TRUE(fs::exists(zn::foundation::GetProgramFolder() + "Out.gco"));
    EXPECT_NE(zn::foundation::test::ReadFile(zn::foundation::GetIniFileName()).find("[TMainScreen_Placement"),
              std::string::npos);
}

TEST_F(MainScreenTest, TheFaxReceivedMessagePlaysAnExistingSoundOnly)
{
    Start();
    std::vector<std::string> played;
    TMainScreen::SetSoundPlayerForTest([&](const std::string& p) { played.push_back(p); });
    zn::foundation::Settings().Wav = home_.Path() + "/ring.wav";
    screen->PostFaxReceived();
    QApplication::processEvents();
    EXPECT_TRUE(played.empty());
    zn::foundation::test::WriteFile(home_.Path() + "/ring.wav", "RIFF");
    screen->PostFaxReceived();
    EXPECT_TRUE(played.empty()); // queued, not called
    QApplication::processEvents();
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0], home_.Path() + "/ring.wav");
    TMainScreen::SetSoundPlayerForTest({});
}

TEST_F(MainScreenTest, ReceiveModeRefusesThePhoneBookAndThePreferences)
{
    Start();
    screen->ReceiveModeOn = true;
    screen->mnuPhoneBook->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kReceiveModeRefusal);
    screen->mnuPreferences->trigger();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, kReceiveModeRefusal);
}

TEST_F(MainScreenTest, MenusCarryTheirShortcutsAndTheAboutBoxOpens)
{
    Start();
    const std::vector<std::pair<QAction*, const char*>> keys = {
        {screen->mnuNewCoverSheet, "Ctrl+N"}, {screen->mnuAddCoverSheet, "Ctrl+O"},
        {screen->mnuEdit, "Ctrl+E"},          {screen->mnuClone, "Ctrl+C"},
        {screen->mnuDelete, "Ctrl+D"},        {screen->mnuArchive, "Ctrl+A"},
        {screen->mnuSend, "Ctrl+S"},          {screen->mnuReceive, "Ctrl+R"},
        {screen->mnuViewPrint, "Ctrl+V"},     {screen->Exit1, "Ctrl+X"}};
    for (const auto& [action, key] : keys)
        EXPECT_EQ(action->shortcut(), QKeySequence(key)) << action->objectName().toStdString();
    EXPECT_EQ(screen->findChild<QAction*>("mnuRebuildIndexes")->text(), "Rebuild &Indexes");
    EXPECT_EQ(screen->TabSet1->tabText(0), "Out&going Faxes");
    EXPECT_EQ(screen->TabSet1->tabText(1), "&Incoming Faxes");
    zn::foundation::Settings().ProgramVersion = kProgramVersion;
    ModalDriver driver;
    QString version;
    driver.Then([&](QWidget* d) {
        version = d->findChild<QLabel*>("versionlabel")->text();
        EXPECT_TRUE(d->findChild<QPushButton*>("OKButton")->isVisible());
        ClickIn(d, "OKButton");
    });
    screen->About1->trigger();
    EXPECT_EQ(version, "Version 2.9z Build 6");
}

// Records the web addresses the program asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher()
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::setUrlHandler(scheme, this, "Open");
    }
    ~UrlCatcher() override
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QStringList opened;
public slots:
    void Open(const QUrl& url) { opened << url.toString(); }
};

// Opens a menu of the menu bar by its Alt letter and picks an entry by its underlined letter, as a
// user at the keyboard would.
void PickFromMenu(QMainWindow& window, Qt::Key menuKey, Qt::Key itemKey)
{
    QTest::keyClick(&window, menuKey, Qt::AltModifier);
    QWidget* popup = nullptr;
    for (int i = 0; i < 100 && !popup; ++i) {
        QApplication::processEvents();
        popup = QApplication::activePopupWidget();
        if (!popup)
            QTest::qWait(10);
    }
    ASSERT_NE(popup, nullptr) << "no menu opened";
    QTest::keyClick(popup, itemKey);
    QApplication::processEvents();
}

TEST_F(OutgoingTest, MenuLettersShowArchivedAndOpenTheHelpContentsOnLine)
{
    screen->show();
    QApplication::setActiveWindow(screen.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(screen.get()));
    EXPECT_EQ(screen->mnuShowArchives->text(), "S&how Archived Faxes");
    ASSERT_TRUE(GoToSubject("cover only"));
    screen->FaxTable.Edit();
    screen->FaxTable.FieldByName("ARCHIVED").SetAsBoolean(true);
    screen->FaxTable.Post();
    screen->mnuShowArchivesClick();
    ASSERT_EQ(GridSubjects(*screen->FaxGrid).size(), 3u);
    PickFromMenu(*screen, Qt::Key_F, Qt::Key_H);
    EXPECT_TRUE(screen->mnuShowArchives->isChecked());
    EXPECT_EQ(GridSubjects(*screen->FaxGrid).size(), 4u);

    UrlCatcher urls;
    screen->mnuOnLine->trigger();
    EXPECT_TRUE(urls.opened.isEmpty()) << urls.opened.join(" ").toStdString();
    EXPECT_EQ(zn::foundation::ShownHelpTopic(), "Tarvel Help");
}

// The Quick-Start names the buttons by the captions the main window shows, and says what to do
// when printing to the fax printer finds znptf not running.
TEST_F(MainScreenTest, TheQuickStartUsesTheWindowsOwnCaptions)
{
    Start();
    QStringList captions;
    for (QPushButton* b : screen->ButtonBar->findChildren<QPushButton*>())
        captions << b->text().remove('&');
    captions << "STOP"; // the Receive button while receiving
    TCreateEditQuickFax coverEditor(screen.get()); // "click Save" there
    for (QPushButton* b : coverEditor.findChildren<QPushButton*>())
        captions << b->text().remove('&');
    ModalDriver driver;
    QString text;
    driver.Then([&](QWidget* d) {
        text = d->findChild<QPlainTextEdit*>("Memo1")->toPlainText();
        d->close();
    });
    screen->StartHere1->trigger();
    ASSERT_FALSE(text.isEmpty());
    const QString flat = text.simplified();
    QRegularExpression named("[Cc]lick (?:the )?([A-Z][A-Za-z]*(?: [A-Z][A-Za-z]*)*)(?: button)?");
    int buttons = 0;
    for (auto m = named.globalMatch(flat); m.hasNext();) {
        const QString name = m.next().captured(1);
        EXPECT_TRUE(captions.contains(name)) << name.toStdString() << " is no button of the main window";
        ++buttons;
    }
    EXPECT_GE(buttons, 8);
    EXPECT_TRUE(flat.contains("Tarvel Print To Fax (znptf) is not running")) << flat.toStdString();
    EXPECT_TRUE(flat.contains("print the document again"));
}

TEST_F(MainScreenTest, TheTemplateEditorCommandOpensTheDesignerModally)
{
    Start();
    QString title;
    ModalDriver driver;
    driver.Then([&](QWidget* dialog) {
        auto* designer = qobject_cast<zn::cover::gui::TCoverDesMainScreen*>(dialog);
        ASSERT_NE(designer, nullptr);
        title = designer->windowTitle();
        designer->CloseButton->click();
    });
    screen->CovreSheetTemplateEditor1->trigger();
    EXPECT_EQ(title, "Cover Sheet Template Designer");
    EXPECT_TRUE(boxes.empty());
}

#include "main_screen_test.moc"
