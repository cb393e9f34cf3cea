// The "Rebuild Indexes" window over the system's tables: deleted rows gone, every tag built with
// DATEND last, the order selected before selected again, the job run once however often the window
// is activated, progress shown from the engine, and a rebuild that fails half-way losing no rows.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include "platform/message_box.h"
#include "rebuild_indexes.h"
#include "table_test_util.h"

namespace zn::data::test {
namespace {

class Rebuild : public TableFixture {
protected:
    void SetUp() override
    {
        TableFixture::SetUp();
        Link(fax_, faxSource_, faxV_);
        Link(rec_, recSource_, recV_);
        Link(phone_, phoneSource_, phoneV_);
        // The main window's table components are exclusive; packing needs that.
        fax_.SetExclusive(true);
        rec_.SetExclusive(true);
        ASSERT_TRUE(OpenFaxDBF(fax_, faxV_, folder_));
        ASSERT_TRUE(OpenRecFaxDBF(rec_, recV_, folder_));
        ASSERT_TRUE(OpenPhoneDBF(phone_, phoneV_, false, folder_));
        for (int i = 0; i < 40; ++i)
            AppendFax(fax_, {"Fax " + std::to_string(i), "202601" + std::to_string(10 + i % 20), "09:00", "R"});
        for (int i = 0; i < 10; ++i) {
            rec_.Append();
            rec_.FieldByName("FROM").SetAsString("Station " + std::to_string(i));
            rec_.FieldByName("DATEREC").SetAsDate(QDate(2026, 2, 1 + i));
            rec_.Post();
        }
        for (const char* name : {"Ann", "Bob", "Cy"}) {
            phone_.Append();
            phone_.FieldByName("NAME").SetAsString(name);
            phone_.Post();
        }
        // Rows marked deleted: three outgoing, two received, one phone-book entry.
        for (TTable* t : {&fax_, &fax_, &fax_, &rec_, &rec_, &phone_}) {
            t->First();
            t->Delete();
        }
        phone_.Close();
        faxV_.SetOrder(faxV_.TagArea("SUBJECT"));
        tables_ = RebuildTables{&fax_, &faxV_, &rec_, &recV_, &phone_, &phoneV_, folder_};
        zn::platform::SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            boxes_.push_back(text);
            return zn::platform::IDOK;
        });
    }
    void TearDown() override
    {
        zn::platform::SetMessageBoxHook({});
        TableFixture::TearDown();
    }
    std::vector<std::string> Tags(TVeldrane& v)
    {
        std::vector<std::string> tags;
        for (int i = 1; !v.TagName(i).empty(); ++i)
            tags.push_back(v.TagName(i));
        return tags;
    }
    // The rows of a table and those marked deleted, as python3-dbfread counts them.
    std::string LiveAndDeleted(const std::string& table)
    {
        return RunCommand("/usr/bin/python3 -c \"import dbfread,sys; t=dbfread.DBF(sys.argv[1]); "
                          "print(len(t), len(t.deleted))\" '"
                          + folder_ + table + "'");
    }
    // Shows the window and runs the loop until it closes or gives up.
    void Run(TRebuildInd& window)
    {
        window.show();
        QElapsedTimer clock;
        clock.start();
        while (window.isVisible() && clock.elapsed() < 20000 && (window.Finished() || window.Error().empty()))
            QApplication::processEvents(QEventLoop::AllEvents, 50);
    }

    TTable fax_, rec_, phone_;
    TDataSource faxSource_, recSource_, phoneSource_;
    TVeldrane faxV_, recV_, phoneV_;
    RebuildTables tables_;
    std::vector<std::string> boxes_;
};

TEST_F(Rebuild, PacksAndBuildsEveryTagWithDatendLast)
{
    TRebuildInd window(tables_);
    EXPECT_EQ(window.windowTitle(), "Rebuild Indexes");
    std::vector<int> gauge;
    QObject::connect(window.Gauge1(), &QProgressBar::valueChanged, [&](int v) { gauge.push_back(v); });
    // A second activation while the job runs (the window is hidden and shown from a timer that
    // fires inside the job's progress handling) must not start another job.
    bool reshownDuringJob = false;
    QTimer::singleShot(0, &window, [&] {
        QTimer::singleShot(0, &window, [&] {
            reshownDuringJob = window.JobRuns() == 1 && !window.Finished();
            window.hide();
            window.show();
        });
    });
    Run(window);
    EXPECT_TRUE(reshownDuringJob);
    EXPECT_TRUE(window.Finished()) << window.Error();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.JobRuns(), 1);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(window.WhatAmIDoing()->text(), "Rebuilding PHONE file indexes");
    EXPECT_FALSE(gauge.empty());
    EXPECT_NE(std::find(gauge.begin(), gauge.end(), 100), gauge.end());

    EXPECT_EQ(Tags(faxV_),
              (std::vector<std::string>{"DATESENT", "SUBJECT", "RECIPIENT", "CODES", "ARCHIVED", "DATEND"}));
    EXPECT_EQ(Tags(recV_), (std::vector<std::string>{"DATETIME", "FROM", "ARCHIVED", "DATEND"}));
    EXPECT_NE(faxV_.TagArea("DATEND"), 0);
    EXPECT_NE(recV_.TagArea("DATEND"), 0);
    EXPECT_EQ(faxV_.IndexOrd(), 2); // SUBJECT, as before
    EXPECT_EQ(faxV_.RecCount(), 37);
    EXPECT_EQ(recV_.RecCount(), 8);
    EXPECT_TRUE(fax_.Active());
    EXPECT_FALSE(phone_.Active());

    fax_.Close();
    rec_.Close();
    int status = -1;
    std::string rows = RunCommand("dbf_dump --fields SUBJECT '" + folder_ + "ZNOUT.DBF' | wc -l", &status);
    EXPECT_EQ(rows, "37\n");
    std::string keys = RunCommand("index_dump --type=char '" + folder_ + "ZNOUT.CDX' DATEND | wc -l");
    EXPECT_EQ(keys, "37\n");
    EXPECT_EQ(RunCommand("index_dump --type=char '" + folder_ + "ZNPB.CDX' NAME | cut -c1-3"), "Bob\nCy \n");
    EXPECT_EQ(LiveAndDeleted("ZNREC.DBF"), "8 0\n");
    EXPECT_EQ(LiveAndDeleted("ZNOUT.DBF"), "37 0\n");
}

TEST_F(Rebuild, GaugeMovesOnlyForProgressKeys)
{
    TRebuildInd window(tables_);
    window.Gauge1()->setValue(10);
    QKeyEvent ordinary(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QApplication::sendEvent(&window, &ordinary);
    EXPECT_EQ(window.Gauge1()->value(), 10);
    QKeyEvent progress(QEvent::KeyPress, 0xFFCE, Qt::NoModifier);
    QApplication::sendEvent(&window, &progress);
    EXPECT_EQ(window.Gauge1()->value(), 50);
}

TEST_F(Rebuild, PhoneBookHeldByAnotherProgramIsLeftAsItIs)
{
    OtherProgram other([this] { return vd_Use((folder_ + "ZNPB.DBF").c_str(), nullptr, 0, 2) != 0; });
    ASSERT_TRUE(other.Holding());
    TRebuildInd window(tables_);
    Run(window);
    other.Release();
    EXPECT_TRUE(window.Finished());
    EXPECT_EQ(faxV_.RecCount(), 37);
    // ZNPB still has its deleted row: it was not packed.
    EXPECT_EQ(LiveAndDeleted("ZNPB.DBF"), "2 1\n");
}

TEST_F(Rebuild, FailureHalfWayLosesNoRows)
{
    // The disk fills: no file may grow past 4 KB, so packing ZNOUT (12 KB) aside fails.
    struct rlimit before;
    getrlimit(RLIMIT_FSIZE, &before);
    struct rlimit small = before;
    small.rlim_cur = 4096;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    TRebuildInd window(tables_);
    Run(window);
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(window.Finished());
    EXPECT_FALSE(window.Error().empty());
    EXPECT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(window.isVisible()); // stays open until the user closes it
    EXPECT_EQ(window.WhatAmIDoing()->text().toStdString(), window.Error());
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(window.JobRuns(), 1); // showing it again to add the close button runs nothing
    window.close();

    // Every table opens again with all its rows, the marked ones included.
    fax_.Close();
    rec_.Close();
    ASSERT_TRUE(OpenFaxDBF(fax_, faxV_, folder_));
    ASSERT_TRUE(OpenRecFaxDBF(rec_, recV_, folder_));
    EXPECT_EQ(faxV_.RecCount(), 40);
    EXPECT_EQ(recV_.RecCount(), 10);
    faxV_.Query("");
    EXPECT_EQ(faxV_.QueryRecCount(), 37);
    EXPECT_EQ(LiveAndDeleted("ZNOUT.DBF"), "37 3\n");
    EXPECT_EQ(LiveAndDeleted("ZNREC.DBF"), "8 2\n");
}

} // namespace
} // namespace zn::data::test
