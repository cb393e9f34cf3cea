// The fax log clean-up window on a fixture of outgoing and received entries with real fax files:
// each delete command through the main window's menu, then the tables read back with dbfread after
// the index rebuild has packed them, and the files of each entry checked in SEND and Receive.
#include "app/log_cleanup.h"
#include "main_screen_fixture.h"
#include "modal_driver.h"
#include "undeletable.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <set>

using namespace zn::app;
using namespace zn::app::test;
using zn::platform::IDNO;
using zn::platform::IDYES;

namespace {

struct OutRow {
    const char* subject;
    const char* recipient;
    QDate sent;
    bool archived;
    const char* doc;
    const char* cover;
};
const OutRow kOut[] = {
    {"old sent", "Smith \"Q\" & Co", QDate(2026, 1, 10), false, "FAX00001.APF", "COV00001.APF"},
    {"new sent", "Smith", QDate(2026, 11, 20), false, "FAX00002.APF", ""},
    {"unsent", "O'Brien [x]", QDate(), false, "FAX00003.APF", ""},
    {"archived", "Jones", QDate(2026, 2, 1), true, "FAX00004.APF", ""},
};
struct RecRow {
    const char* from;
    QDate date;
    bool archived;
    const char* file;
};
const RecRow kRec[] = {
    {"ACME", QDate(2026, 3, 1), false, "R0000001.APF"},
    {"Bob \"the\" Fax", QDate(2026, 12, 1), true, "R0000002.APF"},
};

// Rows of a DBF as dbfread sees them (records marked deleted left out): one field per row.
std::multiset<std::string> DbfColumn(const std::string& path, const std::string& field)
{
    QProcess p;
    p.start("/usr/bin/python3", {"-c",
                                 "import sys, dbfread\n"
                                 "for r in dbfread.DBF(sys.argv[1], encoding='latin-1'):\n"
                                 "    print((r[sys.argv[2]] or '').strip())\n",
                                 QString::fromStdString(path), QString::fromStdString(field)});
    p.waitForFinished(20000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    std::multiset<std::string> out;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            out.insert(line.toStdString());
    return out;
}

class CleanupFixture : public MainScreenFixture {
protected:
    void SetUp() override
    {
        Start();
        const std::string model = MakeFax("MODEL.APF");
        auto copy = [&](const std::string& to) {
            std::filesystem::copy_file(model, to, std::filesystem::copy_options::overwrite_existing);
        };
        const std::string send = zn::foundation::GetSendFolder();
        const std::string receive = zn::foundation::GetReceiveFolder();
        std::filesystem::create_directories(receive);
        zn::data::TTable& t = screen->FaxTable;
        for (const OutRow& r : kOut) {
            copy(send + r.doc);
            if (*r.cover) {
                copy(send + r.cover);
                zn::foundation::test::WriteFile(send + "COV00001.fcd", "zn0001.fct\r\nX    \r\nHello\r\n");
            }
            t.Append();
            t.FieldByName("SUBJECT").SetAsString(r.subject);
            t.FieldByName("RECIPIENT").SetAsString(r.recipient);
            t.FieldByName("PHONE").SetAsString("555-0100");
            if (r.sent.isValid())
                t.FieldByName("DATESENT").SetAsDate(r.sent);
            t.FieldByName("ARCHIVED").SetAsBoolean(r.archived);
            t.FieldByName("FAXDOC").SetAsString(r.doc);
            t.FieldByName("FAXCOVER").SetAsString(r.cover);
            t.Post();
        }
        zn::data::TTable& rt = screen->RecTable;
        for (const RecRow& r : kRec) {
            copy(receive + r.file);
            rt.Append();
            rt.FieldByName("DATEREC").SetAsDate(r.date);
            rt.FieldByName("TIMEREC").SetAsString("10:30");
            rt.FieldByName("FROM").SetAsString(r.from);
            rt.FieldByName("PAGES").SetAsInteger(1);
            rt.FieldByName("FAXFILE").SetAsString(r.file);
            rt.FieldByName("ARCHIVED").SetAsBoolean(r.archived);
            rt.Post();
        }
        std::filesystem::remove(model);
        screen->SetButtons();
    }

    // Opens the window from the menu; `inside` runs on it once it shows, then it is closed.
    void RunWindow(std::function<void(TDMForm&)> inside)
    {
        rebuildsBefore_ = screen->IndexRebuilds();
        // The commands run in the window's own loop, so that the driver can answer their dialogs.
        driver_.Then([inside](QWidget* w) {
            auto* form = dynamic_cast<TDMForm*>(w);
            ASSERT_NE(form, nullptr);
            QTimer::singleShot(0, form, [form, inside] {
                inside(*form);
                form->Button1->click();
            });
        });
        screen->FaxLogFileCleanup1->trigger();
    }

    bool Exists(const std::string& folder, const std::string& name)
    {
        return QFile::exists(QString::fromStdString(folder + name));
    }

    bool Told(const std::string& text)
    {
        for (const Box& b : boxes)
            if (b.text == text)
                return true;
        return false;
    }

    int Rebuilds() const { return screen->IndexRebuilds() - rebuildsBefore_; }

    // No file is left moved aside in SEND or Receive.
    void ExpectNoAsideFiles()
    {
        for (const std::string& f : {zn::foundation::GetSendFolder(), zn::foundation::GetReceiveFolder()})
            for (const auto& e : std::filesystem::directory_iterator(f))
                EXPECT_NE(e.path().extension(), ".deleting") << e.path();
    }

    ModalDriver driver_;
    int rebuildsBefore_ = 0;
};

struct CleanupCase {
    const char* name;
    bool received; // the command runs on the "Incoming Faxes" tab
    void (TDMForm::*command)();
    std::function<void(QWidget*)> dialog; // answers the date or conditions dialog, if any
    std::vector<int> answers;
    std::set<std::string> outLeft; // subjects still in ZNOUT after the pack
    std::set<std::string> recLeft; // senders still in ZNREC
    const char* told;
};

void PrintTo(const CleanupCase& c, std::ostream* os) { *os << c.name; }

std::function<void(QWidget*)> PickDate(QDate date)
{
    return [date](QWidget* d) {
        static_cast<TDateSelector*>(d)->SetDate(date);
        Find<QPushButton>(d, "OKButton")->click();
    };
}

std::function<void(QWidget*)> Where(const char* radio, const char* edit, const char* value, bool exact)
{
    return [=](QWidget* d) {
        Find<QRadioButton>(d, radio)->setChecked(true);
        Find<QLineEdit>(d, edit)->setText(QString::fromUtf8(value));
        Find<QCheckBox>(d, "ExactMatch")->setChecked(exact);
        Find<QPushButton>(d, "OKButton")->click();
    };
}

const std::set<std::string> kAllOut = {"old sent", "new sent", "unsent", "archived"};
const std::set<std::string> kAllRec = {"ACME", "Bob \"the\" Fax"};

class CleanupCommandTest : public CleanupFixture, public ::testing::WithParamInterface<CleanupCase> {};

TEST_P(CleanupCommandTest, RowsAndTheirFilesGoOrStayAfterThePack)
{
    const CleanupCase& c = GetParam();
    answers.assign(c.answers.begin(), c.answers.end());
    RunWindow([&](TDMForm& form) {
        form.PageControl1->setCurrentIndex(c.received ? 1 : 0);
        if (c.dialog)
            driver_.Then(c.dialog);
        (form.*c.command)();
    });
    EXPECT_TRUE(driver_.Done());
    EXPECT_TRUE(Told(c.told)) << (boxes.empty() ? "" : boxes.back().text);
    const bool changed = c.outLeft != kAllOut || c.recLeft != kAllRec;
    EXPECT_EQ(Rebuilds(), changed ? 1 : 0);

    const std::string send = zn::foundation::GetSendFolder();
    const std::string receive = zn::foundation::GetReceiveFolder();
    const std::string folder = zn::foundation::GetProgramFolder();
    screen.reset();
    const auto subjects = DbfColumn(folder + "ZNOUT.DBF", "SUBJECT");
    EXPECT_EQ(std::set<std::string>(subjects.begin(), subjects.end()), c.outLeft);
    EXPECT_EQ(subjects.size(), c.outLeft.size());
    const auto senders = DbfColumn(folder + "ZNREC.DBF", "FROM");
    EXPECT_EQ(std::set<std::string>(senders.begin(), senders.end()), c.recLeft);
    for (const OutRow& r : kOut) {
        const bool kept = c.outLeft.count(r.subject) > 0;
        EXPECT_EQ(Exists(send, r.doc), kept) << r.subject;
        if (*r.cover) {
            EXPECT_EQ(Exists(send, r.cover), kept) << r.subject;
            EXPECT_EQ(Exists(send, "COV00001.fcd"), kept) << r.subject;
        }
    }
    for (const RecRow& r : kRec)
        EXPECT_EQ(Exists(receive, r.file), c.recLeft.count(r.from) > 0) << r.from;
    ExpectNoAsideFiles();
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CleanupCommandTest,
    ::testing::Values(
        CleanupCase{"ByDateOutgoingKeepsUnsent",
                    false,
                    &TDMForm::DeleteSome,
                    PickDate(QDate(2026, 6, 1)),
                    {IDYES},
                    {"new sent", "unsent"},
                    kAllRec,
                    "2 deleted."},
        CleanupCase{"ByDateReceived",
                    true,
                    &TDMForm::DeleteSome,
                    PickDate(QDate(2026, 6, 1)),
                    {IDYES},
                    kAllOut,
                    {"Bob \"the\" Fax"},
                    "1 deleted."},
        CleanupCase{"ByDateAnsweredNo",
                    false,
                    &TDMForm::DeleteSome,
                    PickDate(QDate(2026, 6, 1)),
                    {IDNO},
                    kAllOut,
                    kAllRec,
                    "Delete all outgoing faxes prior to Monday, June 1, 2026 (action is permanent)?"},
        CleanupCase{"ArchivedOutgoing",
                    false,
                    &TDMForm::mnuDeleteAllArchivedFaxesClick,
                    {},
                    {IDYES},
                    {"old sent", "new sent", "unsent"},
                    kAllRec,
                    "1 deleted."},
        CleanupCase{"ArchivedReceived",
                    true,
                    &TDMForm::mnuDeleteAllArchivedFaxesClick,
                    {},
                    {IDYES},
                    kAllOut,
                    {"ACME"},
                    "1 deleted."},
        CleanupCase{
            "Sent", false, &TDMForm::mnuDeleteAllthatHaveBeenSentClick, {}, {IDYES}, {"unsent"}, kAllRec, "3 deleted."},
        CleanupCase{"NotSent",
                    false,
                    &TDMForm::mnuDeleteAllThatHaveNOTBeenSentClick,
                    {},
                    {IDYES},
                    {"old sent", "new sent", "archived"},
                    kAllRec,
                    "1 deleted."},
        CleanupCase{"AllOutgoing", false, &TDMForm::DeleteAllFaxes1Click, {}, {IDYES}, {}, kAllRec, "4 deleted."},
        CleanupCase{"AllReceived", true, &TDMForm::DeleteAllFaxes1Click, {}, {IDYES}, kAllOut, {}, "2 deleted."},
        CleanupCase{"RecipientExact",
                    false,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    Where("rRecipient", "FaxRECIPIENT", " smith ", true),
                    {IDYES},
                    {"old sent", "unsent", "archived"},
                    kAllRec,
                    "1 deleted."},
        CleanupCase{"RecipientPartial",
                    false,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    Where("rRecipient", "FaxRECIPIENT", "smith", false),
                    {IDYES},
                    {"unsent", "archived"},
                    kAllRec,
                    "2 deleted."},
        CleanupCase{"PhoneExact",
                    false,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    Where("rPhone", "FaxPHONE", "555-0100", true),
                    {IDYES},
                    {},
                    kAllRec,
                    "4 deleted."},
        // Values that would rewrite a condition built as text: each deletes only what it names.
        CleanupCase{"DoubleQuoteExact",
                    false,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    Where("rRecipient", "FaxRECIPIENT", "Smith \"Q\" & Co", true),
                    {IDYES},
                    {"new sent", "unsent", "archived"},
                    kAllRec,
                    "1 deleted."},
        CleanupCase{"QuoteInjectionDeletesNothing",
                    false,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    Where("rRecipient", "FaxRECIPIENT", "x\" .or. \"1\"=\"1", true),
                    {IDYES},
                    kAllOut,
                    kAllRec,
                    "0 deleted."},
        CleanupCase{"PartialInjectionDeletesNothing",
                    false,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    Where("rRecipient", "FaxRECIPIENT", "\"$\"\" .or. .t. .or. \"", false),
                    {IDYES},
                    kAllOut,
                    kAllRec,
                    "0 deleted."},
        CleanupCase{"DoubleQuotePartial",
                    false,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    Where("rRecipient", "FaxRECIPIENT", "\"", false),
                    {IDYES},
                    {"new sent", "unsent", "archived"},
                    kAllRec,
                    "1 deleted."},
        CleanupCase{"SingleQuotePartial",
                    false,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    Where("rRecipient", "FaxRECIPIENT", "'", false),
                    {IDYES},
                    {"old sent", "new sent", "archived"},
                    kAllRec,
                    "1 deleted."},
        CleanupCase{"BracketsExact",
                    false,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    Where("rRecipient", "FaxRECIPIENT", "o'brien [X]", true),
                    {IDYES},
                    {"old sent", "new sent", "archived"},
                    kAllRec,
                    "1 deleted."},
        CleanupCase{"ClosingBracketPartial",
                    false,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    Where("rRecipient", "FaxRECIPIENT", "]", false),
                    {IDYES},
                    {"old sent", "new sent", "archived"},
                    kAllRec,
                    "1 deleted."},
        CleanupCase{"FromWithQuotesPartial",
                    true,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    Where("rFrom", "FaxFROM", "bob \"THE\"", false),
                    {IDYES},
                    kAllOut,
                    {"ACME"},
                    "1 deleted."},
        CleanupCase{"ConditionsAnsweredNo",
                    false,
                    &TDMForm::mnuDeleteAllFaxesMeetingCertainConditionsClick,
                    [](QWidget* d) {
                        Find<QPushButton>(d, "OKButton")->click(); // asked, answered No, dialog stays
                        Find<QPushButton>(d, "CancelButton")->click();
                    },
                    {IDNO},
                    kAllOut,
                    kAllRec,
                    "Are you sure you wish to delete all faxes matching this criteria?"}),
    [](const ::testing::TestParamInfo<CleanupCase>& info) { return std::string(info.param.name); });

TEST_F(CleanupFixture, TheWindowListsEveryEntryAndPutsTheFilterBack)
{
    // The main list hides archived rows; the window shows them all.
    ASSERT_FALSE(screen->FaxVeldrane.Filter().empty());
    const std::string filter = screen->FaxVeldrane.Filter();
    std::vector<std::string> titles;
    long rows = 0;
    RunWindow([&](TDMForm& form) {
        EXPECT_EQ(form.windowTitle().toStdString(), "Fax Log Cleanup Utility");
        EXPECT_TRUE(form.Actions->isEnabled());
        EXPECT_TRUE(form.mnuDeleteAllthatHaveBeenSent->isVisible());
        EXPECT_EQ(form.PageControl1->tabText(0).toStdString(), "Outgoing Faxes");
        for (int c = 0; c < form.SendGrid->Model().columnCount(); ++c)
            titles.push_back(form.SendGrid->Model().headerData(c, Qt::Horizontal).toString().toStdString());
        for (screen->FaxTable.First(); !screen->FaxTable.Eof(); screen->FaxTable.Next())
            ++rows;
        form.PageControl1->setCurrentIndex(1);
        EXPECT_FALSE(form.mnuDeleteAllthatHaveBeenSent->isVisible());
        EXPECT_FALSE(form.mnuDeleteAllThatHaveNOTBeenSent->isVisible());
    });
    EXPECT_EQ(rows, 4);
    ASSERT_GE(titles.size(), 2u);
    EXPECT_EQ(titles[0], "Deleted?");
    EXPECT_EQ(titles[1], "Archived?");
    EXPECT_EQ(screen->FaxVeldrane.Filter(), filter);
    EXPECT_EQ(Subjects().size(), 3u);
}

TEST_F(CleanupFixture, DeletingEveryEntryDisablesTheGridAndCaptionsTheTab)
{
    answers = {IDYES};
    RunWindow([&](TDMForm& form) {
        form.DeleteAllFaxes1Click();
        EXPECT_FALSE(form.SendGrid->isEnabled());
        EXPECT_FALSE(form.Actions->isEnabled());
        EXPECT_EQ(form.PageControl1->tabText(0).toStdString(), "OutGoing Faxes (none)");
        EXPECT_EQ(form.PageControl1->tabText(1).toStdString(), "Incoming Faxes");
        EXPECT_TRUE(form.EntriesDeleted());
        EXPECT_FALSE(form.ByDate());
    });
    EXPECT_TRUE(Told("4 deleted."));
}

TEST_F(CleanupFixture, DeleteCurrentFaxTakesItsFilesAndMovesToTheNext)
{
    std::string next;
    answers = {IDYES};
    RunWindow([&](TDMForm& form) {
        zn::data::TTable& t = screen->FaxTable;
        zn::data::TVeldrane& v = screen->FaxVeldrane;
        v.SetOrder(0);
        t.First();
        ASSERT_EQ(t.FieldByName("SUBJECT").AsString(), "old sent");
        form.mnuToggleDeletedStateClick();
        next = t.FieldByName("SUBJECT").AsString();
    });
    EXPECT_EQ(boxes.at(0).text, "Delete this fax? (action is permanent)");
    EXPECT_EQ(boxes.at(0).caption, "DELETE");
    EXPECT_EQ(next, "new sent");
    EXPECT_FALSE(Exists(zn::foundation::GetSendFolder(), "FAX00001.APF"));
    EXPECT_FALSE(Exists(zn::foundation::GetSendFolder(), "COV00001.APF"));
    EXPECT_FALSE(Exists(zn::foundation::GetSendFolder(), "COV00001.fcd"));
    EXPECT_EQ(Rebuilds(), 1);
    const std::string folder = zn::foundation::GetProgramFolder();
    screen.reset();
    EXPECT_EQ(DbfColumn(folder + "ZNOUT.DBF", "SUBJECT").count("old sent"), 0u);
}

// An entry whose files cannot all be deleted keeps its row and every one of its files; the others
// of the run go as usual, and the tables open and read cleanly after the pack.
TEST_F(CleanupFixture, AnEntryWithAnUndeletableFileKeepsItsRowAndAllItsFiles)
{
    const std::string send = zn::foundation::GetSendFolder();
    Undeletable lock(send + "FAX00001.APF");
    if (!lock.Holds())
        GTEST_SKIP() << "no way to make a file undeletable here";
    answers = {IDYES};
    RunWindow([](TDMForm& form) { form.mnuDeleteAllthatHaveBeenSentClick(); });
    EXPECT_TRUE(Told("2 deleted."));
    EXPECT_TRUE(Told("1 fax(es) were kept: their files could not be deleted."));
    EXPECT_TRUE(Exists(send, "FAX00001.APF"));
    EXPECT_TRUE(Exists(send, "COV00001.APF"));
    EXPECT_TRUE(Exists(send, "COV00001.fcd"));
    EXPECT_FALSE(Exists(send, "FAX00002.APF"));
    EXPECT_FALSE(Exists(send, "FAX00004.APF"));
    const std::string folder = zn::foundation::GetProgramFolder();
    screen.reset();
    const auto subjects = DbfColumn(folder + "ZNOUT.DBF", "SUBJECT");
    EXPECT_EQ(subjects, (std::multiset<std::string>{"old sent", "unsent"}));
}

// One entry of a batch whose file cannot be moved keeps its row and all its files; the rest of the
// batch goes with one commit, and nothing is left aside.
struct BlockedCase {
    const char* name;
    const char* file; // in SEND, made impossible to move
    bool folder;      // a folder of that name in its place, else an immutable file
};

void PrintTo(const BlockedCase& c, std::ostream* os) { *os << c.name; }

class CleanupBlockedTest : public CleanupFixture, public ::testing::WithParamInterface<BlockedCase> {};

TEST_P(CleanupBlockedTest, TheBlockedEntryStaysWholeAndTheOthersGo)
{
    const BlockedCase& c = GetParam();
    const std::string send = zn::foundation::GetSendFolder();
    std::unique_ptr<Undeletable> lock;
    if (c.folder) {
        std::filesystem::remove(send + c.file);
        std::filesystem::create_directory(send + c.file);
    } else {
        lock = std::make_unique<Undeletable>(send + c.file);
        if (!lock->Holds())
            GTEST_SKIP() << "no way to make a file undeletable here";
    }
    answers = {IDYES};
    RunWindow([](TDMForm& form) { form.DeleteAllFaxes1Click(); });
    EXPECT_TRUE(Told("3 deleted."));
    EXPECT_TRUE(Told("1 fax(es) were kept: their files could not be deleted."));
    for (const char* kept : {"FAX00001.APF", "COV00001.APF", "COV00001.fcd"})
        EXPECT_TRUE(Exists(send, kept)) << kept;
    EXPECT_EQ(std::filesystem::is_directory(send + c.file), c.folder);
    for (const char* gone : {"FAX00002.APF", "FAX00003.APF", "FAX00004.APF"})
        EXPECT_FALSE(Exists(send, gone)) << gone;
    ExpectNoAsideFiles();
    EXPECT_EQ(Rebuilds(), 1);
    const std::string folder = zn::foundation::GetProgramFolder();
    screen.reset();
    lock.reset();
    EXPECT_EQ(DbfColumn(folder + "ZNOUT.DBF", "SUBJECT"), (std::multiset<std::string>{"old sent"}));
    const auto senders = DbfColumn(folder + "ZNREC.DBF", "FROM");
    EXPECT_EQ(std::set<std::string>(senders.begin(), senders.end()), kAllRec);
}

INSTANTIATE_TEST_SUITE_P(Blocked, CleanupBlockedTest,
                         ::testing::Values(BlockedCase{"FolderInPlaceOfTheCoverData", "COV00001.fcd", true},
                                           BlockedCase{"ImmutableCover", "COV00001.APF", false}),
                         [](const ::testing::TestParamInfo<BlockedCase>& info) {
                             return std::string(info.param.name);
                         });

// A clean-up cut short (the process killed) leaves files aside. When zn next starts, and when the
// window next opens, those of entries still in the log come back and the others, whose row is
// deleted or gone, are removed.
class CleanupCutShortTest : public CleanupFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(CleanupCutShortTest, FilesLeftAsideAreSettled)
{
    namespace fs = std::filesystem;
    const bool atStart = GetParam();
    const std::string send = zn::foundation::GetSendFolder();
    const std::string receive = zn::foundation::GetReceiveFolder();
    auto putAside = [](const std::string& path) { fs::rename(path, path + ".deleting"); };
    putAside(send + "COV00001.APF");                                        // a live entry caught half-way
    fs::copy_file(send + "FAX00002.APF", send + "FAX00002.APF.deleting");   // a live entry with both
    putAside(receive + "R0000001.APF");                                     // a live received entry
    zn::foundation::test::WriteFile(send + "FAX09999.APF.deleting", "APF"); // its row packed away
    // An entry whose row was marked deleted before the process died: its file stays gone.
    zn::data::TTable& t = screen->FaxTable;
    for (t.First(); !t.Eof() && t.FieldByName("SUBJECT").AsString() != "unsent"; t.Next()) {}
    ASSERT_FALSE(t.Eof());
    t.Delete();
    putAside(send + "FAX00003.APF");

    if (atStart) {
        screen->close();
        screen.reset();
        Start(); // the clean-up window is not opened
    } else {
        RunWindow([](TDMForm&) {});
        EXPECT_EQ(Rebuilds(), 0);
    }
    for (const char* back : {"FAX00001.APF", "COV00001.APF", "COV00001.fcd", "FAX00002.APF", "FAX00004.APF"})
        EXPECT_TRUE(Exists(send, back)) << back;
    EXPECT_TRUE(Exists(receive, "R0000001.APF"));
    EXPECT_TRUE(Exists(receive, "R0000002.APF"));
    EXPECT_FALSE(Exists(send, "FAX00003.APF"));
    EXPECT_FALSE(Exists(send, "FAX09999.APF"));
    ExpectNoAsideFiles();
    const std::string folder = zn::foundation::GetProgramFolder();
    screen.reset();
    EXPECT_EQ(DbfColumn(folder + "ZNOUT.DBF", "SUBJECT"),
              (std::multiset<std::string>{"old sent", "new sent", "archived"}));
    const auto senders = DbfColumn(folder + "ZNREC.DBF", "FROM");
    EXPECT_EQ(std::set<std::string>(senders.begin(), senders.end()), kAllRec);
}

INSTANTIATE_TEST_SUITE_P(When, CleanupCutShortTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "ZnStarts" : "TheWindowOpens");
                         });

// Rows come from other programs too: a row naming files outside SEND or Receive loses its row
// only, and the user is told; the settings file and the other table stay.
class CleanupForeignNameTest : public CleanupFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(CleanupForeignNameTest, DeletesNothingOutsideTheFaxFolders)
{
    const bool received = GetParam();
    const std::string folder = zn::foundation::GetProgramFolder();
    const std::string outside = folder + "keep.txt";
    zn::foundation::test::WriteFile(outside, "keep");
    zn::foundation::test::WriteFile(folder + "ZN.INI", "[User]\r\nName=Ada\r\n");
    if (received) {
        zn::data::TTable& rt = screen->RecTable;
        rt.Append();
        rt.FieldByName("DATEREC").SetAsDate(QDate(2026, 4, 1));
        rt.FieldByName("FROM").SetAsString("CRAFTED");
        rt.FieldByName("FAXFILE").SetAsString("../keep.txt");
        rt.Post();
    } else {
        zn::data::TTable& t = screen->FaxTable;
        t.Append();
        t.FieldByName("SUBJECT").SetAsString("crafted");
        t.FieldByName("FAXDOC").SetAsString("../ZN.INI");
        t.FieldByName("FAXCOVER").SetAsString("../ZNREC.DBF");
        t.Post();
    }
    answers = {IDYES};
    RunWindow([&](TDMForm& form) {
        form.PageControl1->setCurrentIndex(received ? 1 : 0);
        zn::data::TTable& t = received ? screen->RecTable : screen->FaxTable;
        for (t.First(); !t.Eof(); t.Next())
            if (t.FieldByName(received ? "FROM" : "SUBJECT").AsString() == (received ? "CRAFTED" : "crafted"))
                break;
        ASSERT_FALSE(t.Eof());
        form.mnuToggleDeletedStateClick();
        EXPECT_TRUE(form.EntriesDeleted());
    });
    EXPECT_TRUE(Exists(folder, "ZN.INI"));
    EXPECT_TRUE(Exists(folder, "ZNREC.DBF"));
    EXPECT_EQ(zn::foundation::test::ReadFile(outside), "keep");
    bool told = false;
    for (const Box& b : boxes)
        told = told || b.text.find(received ? "../keep.txt" : "../ZN.INI") != std::string::npos;
    EXPECT_TRUE(told);
    screen.reset();
    EXPECT_NE(zn::foundation::test::ReadFile(folder + "ZN.INI").find("Name=Ada"), std::string::npos);
    EXPECT_EQ(DbfColumn(folder + (received ? "ZNREC.DBF" : "ZNOUT.DBF"), received ? "FROM" : "SUBJECT")
                  .count(received ? "CRAFTED" : "crafted"),
              0u);
}

INSTANTIATE_TEST_SUITE_P(Tables, CleanupForeignNameTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Received" : "Outgoing");
                         });

TEST_F(CleanupFixture, TheDateSelectorStepsAndShowsTheLongDate)
{
    TDateSelector selector;
    selector.SetDate(QDate(2026, 3, 31));
    EXPECT_EQ(selector.ShowDatePanel->text().toStdString(), "Tuesday, March 31, 2026");
    selector.PrevMonth->click();
    EXPECT_EQ(selector.Date(), QDate(2026, 2, 28));
    selector.NextYear->click();
    EXPECT_EQ(selector.ShowDatePanel->text().toStdString(), "Sunday, February 28, 2027");
    selector.DoCurrentDate->click();
    EXPECT_EQ(selector.Date(), QDate::currentDate());
}

TEST_F(CleanupFixture, ABlankConditionIsRefusedAndTheDialogStays)
{
    TDeleteForConditions dialog;
    dialog.rPhone->setChecked(true);
    dialog.FaxPHONE->setText("   ");
    dialog.OKButtonClick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Please enter a value");
    EXPECT_EQ(dialog.result(), 0);
}

TEST_F(CleanupFixture, TheConditionsDialogStartsFromTheCurrentEntry)
{
    bool checked = false;
    RunWindow([&](TDMForm& form) {
        screen->FaxVeldrane.SetOrder(0);
        screen->FaxTable.First();
        driver_.Then([&](QWidget* d) {
            EXPECT_FALSE(Find<QRadioButton>(d, "rFrom")->isEnabled());
            EXPECT_TRUE(Find<QRadioButton>(d, "rRecipient")->isChecked());
            EXPECT_EQ(Find<QLineEdit>(d, "FaxRECIPIENT")->text().toStdString(), "Smith \"Q\" & Co");
            EXPECT_EQ(Find<QLineEdit>(d, "FaxPHONE")->text().toStdString(), "555-0100");
            checked = true;
            Find<QPushButton>(d, "CancelButton")->click();
        });
        form.mnuDeleteAllFaxesMeetingCertainConditionsClick();
    });
    EXPECT_TRUE(checked);
    EXPECT_EQ(Rebuilds(), 0);
}

} // namespace
