// Benchmark: zn's main window on a ZNOUT of N rows (with its full, fresh index).
//   main_window_bench prepare FOLDER ROWS [out|rec|none]
//                                           builds FOLDER/ZNOUT and ZNREC (+CDX, all tags) with the rows in
//                                           the table named (ZNOUT by default) and FOLDER/peer.sqlite
//   main_window_bench start FOLDER          one start of the main window to its first painted screen of rows
//                                           (of its first paint when the outgoing list is empty)
//   main_window_bench peer FOLDER           the same for a QTableView over QSqlTableModel on SQLite
//   main_window_bench archive FOLDER [N]    archive and unarchive the current row N times (median, max)
//   main_window_bench run FOLDER [RUNS]     starts and peers in turn as child processes; prints the table
//   main_window_bench sizes BASE [ROWS] [RUNS]
//                                           starts on empty tables, on ROWS outgoing and on ROWS received
//                                           rows (folders prepared below BASE); prints each against empty
// A start is timed inside the process from the entry of main (QApplication included) to the end of
// the first paint of the grid with rows; the whole process, exit included, is timed by `run` from
// outside (fork to wait).
#include "app/main_screen.h"
#include "data/table/system_tables.h"
#include "foundation/settings.h"
#include "platform/message_box.h"
#include "xbase_vd.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <QTableView>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
Clock::time_point g_start;

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

const char* kWords[] = {"invoice", "order", "quote", "contract", "report", "memo", "notice", "letter"};

struct Row {
    std::string subject, datesent, timesent, recipient, phone, faxdoc;
    bool archived;
};

Row MakeRow(std::mt19937& rng, long i)
{
    Row r;
    r.subject = std::string(kWords[rng() % 8]) + " " + kWords[rng() % 8] + " " + std::to_string(i);
    char d[16], t[8];
    snprintf(d, sizeof d, "%04u%02u%02u", 2000 + unsigned(rng() % 26), 1 + unsigned(rng() % 12),
             1 + unsigned(rng() % 28));
    snprintf(t, sizeof t, "%02u:%02u", unsigned(rng() % 24), unsigned(rng() % 60));
    r.datesent = d;
    r.timesent = t;
    r.recipient = "Recipient " + std::to_string(rng() % 50000);
    r.phone = "555-" + std::to_string(1000 + rng() % 9000);
    char f[16];
    snprintf(f, sizeof f, "FAX%05ld.APF", i % 100000);
    r.faxdoc = f;
    r.archived = i % 10 == 0;
    return r;
}

// ROWS received faxes in ZNREC, the files they name not kept (a received folder cleaned up).
int AppendReceivedRows(const std::string& folder, long rows)
{
    const std::string dbf = folder + "/ZNREC.DBF";
    if (!vd_Use(dbf.c_str(), "ZNREC", 2, 2)) {
        fprintf(stderr, "open: %s\n", vd_LastErrorText().c_str());
        return 1;
    }
    std::mt19937 rng(7);
    for (long i = 0; i < rows; ++i) {
        char d[16], t[8], f[16];
        snprintf(d, sizeof d, "%04u%02u%02u", 2000 + unsigned(rng() % 26), 1 + unsigned(rng() % 12),
                 1 + unsigned(rng() % 28));
        snprintf(t, sizeof t, "%02u:%02u", unsigned(rng() % 24), unsigned(rng() % 60));
        snprintf(f, sizeof f, "FAX%04ld.APF", 1 + i % 9999);
        vd_AppendBlank();
        vd_Replace("DATEREC", 1024, d);
        vd_Replace("TIMEREC", 1024, t);
        vd_Replace("FROM", 1024, ("Sender " + std::to_string(rng() % 50000)).c_str());
        vd_Replace("PAGES", 8, double(1 + rng() % 9));
        vd_Replace("FAXFILE", 1024, f);
        vd_Replace("ARCHIVED", 128, i % 10 == 0);
    }
    vd_Commit();
    vd_CloseAll();
    return 0;
}

int Prepare(const std::string& folder, long rows, const std::string& table = "out")
{
    const long outRows = table == "out" ? rows : 0;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    ::setenv("ZN_HOME", folder.c_str(), 1);
    const std::string dbf = folder + "/ZNOUT.DBF";
    {
        zn::data::TVeldrane make;
        if (!zn::data::MakeFaxDBF(make, folder + "/"))
            return 1;
    }
    {
        zn::data::TVeldrane make;
        if (!zn::data::MakeRecFaxDBF(make, folder + "/"))
            return 1;
    }
    if (table == "rec" && AppendReceivedRows(folder, rows) != 0)
        return 1;
    if (!vd_Use(dbf.c_str(), "ZNOUT", 2, 2)) {
        fprintf(stderr, "open: %s\n", vd_LastErrorText().c_str());
        return 1;
    }
    std::mt19937 rng(42);
    std::vector<Row> all;
    all.reserve(outRows);
    for (long i = 0; i < outRows; ++i) {
        Row r = MakeRow(rng, i);
        vd_AppendBlank();
        vd_Replace("SUBJECT", 1024, r.subject.c_str());
        vd_Replace("DATESENT", 1024, r.datesent.c_str());
        vd_Replace("TIMESENT", 1024, r.timesent.c_str());
        vd_Replace("RECIPIENT", 1024, r.recipient.c_str());
        vd_Replace("PHONE", 1024, r.phone.c_str());
        vd_Replace("LASTRESULT", 1024, "OK");
        vd_Replace("FAXDOC", 1024, r.faxdoc.c_str());
        vd_Replace("ARCHIVED", 128, r.archived);
        all.push_back(std::move(r));
    }
    vd_Commit();
    vd_CloseAll();
    {
        // Every tag, DATEND included, as the rebuild leaves them: a fresh index.
        zn::data::TTable table;
        zn::data::TDataSource source(&table);
        zn::data::TVeldrane veldrane(&source);
        if (!zn::data::OpenFaxDBF(table, veldrane, folder + "/"))
            return 1;
        zn::data::BuildTags(veldrane, zn::data::FaxTags(), false);
        table.Close();
        zn::data::TTable rec;
        zn::data::TDataSource recSource(&rec);
        zn::data::TVeldrane recVeldrane(&recSource);
        if (!zn::data::OpenRecFaxDBF(rec, recVeldrane, folder + "/"))
            return 1;
        zn::data::BuildTags(recVeldrane, zn::data::RecFaxTags(), false);
        rec.Close();
    }
    // The peer's copy of the same rows, with the indexes its queries use.
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "prepare");
    db.setDatabaseName(QString::fromStdString(folder + "/peer.sqlite"));
    if (!db.open())
        return 1;
    QSqlQuery q(db);
    q.exec("CREATE TABLE znout (subject TEXT, datesent TEXT, timesent TEXT, recipient TEXT, phone TEXT, "
           "lastresult TEXT, faxdoc TEXT, faxcover TEXT, notes TEXT, codes TEXT, archived INTEGER)");
    db.transaction();
    q.prepare("INSERT INTO znout VALUES (?, ?, ?, ?, ?, 'OK', ?, '', '', '', ?)");
    for (const Row& r : all) {
        q.addBindValue(QString::fromStdString(r.subject));
        q.addBindValue(QString::fromStdString(r.datesent));
        q.addBindValue(QString::fromStdString(r.timesent));
        q.addBindValue(QString::fromStdString(r.recipient));
        q.addBindValue(QString::fromStdString(r.phone));
        q.addBindValue(QString::fromStdString(r.faxdoc));
        q.addBindValue(r.archived ? 1 : 0);
        q.exec();
    }
    db.commit();
    q.exec("CREATE INDEX datesent ON znout (datesent DESC, timesent DESC)");
    q.exec("CREATE INDEX subject ON znout (subject)");
    // The first screen is "archived = 0 ORDER BY datesent DESC": the index a SQLite user makes for it
    // serves the filter and the order at once, so that no sort runs in a temporary B-tree.
    q.exec("CREATE INDEX archived_datesent ON znout (archived, datesent DESC, timesent DESC)");
    db.close();
    return 0;
}

// Ends the loop after the first paint of the view's viewport that shows rows.
class FirstPaint : public QObject {
public:
    FirstPaint(QAbstractItemView* view, double* ms, bool wantRows = true) : view_(view), ms_(ms), wantRows_(wantRows)
    {
        view->viewport()->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && view_->model() && (view_->model()->rowCount() > 0 || !wantRows_)
            && *ms_ < 0) {
            view_->viewport()->removeEventFilter(this);
            *ms_ = 0;
            // The clock stops once this paint has been done.
            QTimer::singleShot(0, qApp, [this] {
                *ms_ = MsSince(g_start);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    QAbstractItemView* view_;
    double* ms_;
    bool wantRows_;
};

long PeakKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

int Start(int argc, char** argv, const std::string& folder)
{
    ::setenv("ZN_HOME", folder.c_str(), 1);
    ::setenv("ZN_WINDIR", (folder + "/win").c_str(), 1);
    QApplication app(argc, argv);
    zn::foundation::Settings().ProgramVersion = zn::app::kProgramVersion;
    double ms = -1;
    zn::app::TMainScreen screen;
    FirstPaint watch(screen.FaxGrid->View(), &ms, !screen.FaxTable.IsEmpty());
    screen.show();
    app.exec();
    printf("%.1f %ld\n", ms, PeakKb());
    return 0;
}

int Peer(int argc, char** argv, const std::string& folder)
{
    QApplication app(argc, argv);
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE");
    db.setDatabaseName(QString::fromStdString(folder + "/peer.sqlite"));
    if (!db.open())
        return 1;
    QMainWindow window;
    window.setWindowTitle("peer");
    auto* view = new QTableView(&window);
    QSqlTableModel model(nullptr, db);
    model.setTable("znout");
    model.setFilter("archived = 0");
    model.setSort(1, Qt::DescendingOrder);
    model.select();
    view->setModel(&model);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    window.setCentralWidget(view);
    window.resize(760, 480);
    double ms = -1;
    FirstPaint watch(view, &ms);
    window.show();
    app.exec();
    printf("%.1f %ld\n", ms, PeakKb());
    return 0;
}

int Archive(int argc, char** argv, const std::string& folder, int times)
{
    ::setenv("ZN_HOME", folder.c_str(), 1);
    ::setenv("ZN_WINDIR", (folder + "/win").c_str(), 1);
    QApplication app(argc, argv);
    zn::platform::SetMessageBoxHook(
        [](const std::string&, const std::string&, unsigned) { return int(zn::platform::IDYES); });
    zn::app::TMainScreen screen;
    screen.FormActivate();
    screen.mnuShowArchives->trigger(); // the row stays in view when it is archived
    std::vector<double> ms;
    for (int i = 0; i < times; ++i) {
        const auto t = Clock::now();
        screen.mnuArchiveClick();
        ms.push_back(MsSince(t));
    }
    std::sort(ms.begin(), ms.end());
    printf("%.3f %.3f\n", ms[ms.size() / 2], ms.back());
    return 0;
}

// Runs this program as a child and reads its line; the wall time from fork to wait comes back too.
std::vector<double> Child(const char* self, const std::vector<std::string>& args, double* wallMs)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const auto t = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        std::vector<char*> argv{const_cast<char*>(self)};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(self, argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    *wallMs = MsSince(t);
    std::vector<double> values;
    for (char* p = out.data(); *p;) {
        char* end = nullptr;
        const double v = strtod(p, &end);
        if (end == p)
            break;
        values.push_back(v);
        p = end;
    }
    return values;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int Run(const char* self, const std::string& folder, int runs)
{
    std::vector<double> ours, oursWall, oursKb, peer, peerWall, peerKb;
    for (int i = 0; i < runs + 1; ++i) { // the first pair warms the disk cache
        double wall = 0;
        auto a = Child(self, {"start", folder}, &wall);
        if (i > 0 && a.size() == 2) {
            ours.push_back(a[0]);
            oursWall.push_back(wall);
            oursKb.push_back(a[1]);
        }
        auto b = Child(self, {"peer", folder}, &wall);
        if (i > 0 && b.size() == 2) {
            peer.push_back(b[0]);
            peerWall.push_back(wall);
            peerKb.push_back(b[1]);
        }
    }
    double wall = 0;
    auto arch = Child(self, {"archive", folder, "21"}, &wall);
    printf("%-44s %12s %12s %8s\n", "step (median of runs)", "zn", "SQLite peer", "ratio");
    auto line = [](const char* what, double a, double b) {
        printf("%-44s %12.1f %12.1f %8.2f\n", what, a, b, b > 0 ? a / b : 0.0);
    };
    line("start to first painted rows, in process (ms)", Median(ours), Median(peer));
    line("whole process, start to exit (ms)", Median(oursWall), Median(peerWall));
    line("peak memory (MB)", Median(oursKb) / 1024, Median(peerKb) / 1024);
    if (arch.size() == 2)
        printf("%-44s %12.3f (max %.3f)\n", "archive or unarchive one row (ms)", arch[0], arch[1]);
    return 0;
}

// zn's start on empty tables against its start on ROWS rows in either table.
int Sizes(const char* self, const std::string& base, long rows, int runs)
{
    struct Case {
        std::string label, table;
    };
    const std::vector<Case> cases = {{"empty tables", "none"},
                                     {std::to_string(rows) + " outgoing rows", "out"},
                                     {std::to_string(rows) + " received rows", "rec"}};
    printf("%-26s %14s %14s %10s %8s\n", "zn's start (median)", "painted (ms)", "process (ms)", "peak (MB)",
           "ratio");
    double emptyMs = 0;
    for (const Case& c : cases) {
        const std::string folder = base + "/" + c.table;
        double wall = 0;
        if (Child(self, {"prepare", folder, std::to_string(rows), c.table}, &wall).size() != 0)
            return 1;
        std::vector<double> ms, walls, kb;
        for (int i = 0; i < runs + 1; ++i) { // the first start warms the disk cache
            auto a = Child(self, {"start", folder}, &wall);
            if (i > 0 && a.size() == 2) {
                ms.push_back(a[0]);
                walls.push_back(wall);
                kb.push_back(a[1]);
            }
        }
        if (c.table == "none")
            emptyMs = Median(ms);
        printf("%-26s %14.1f %14.1f %10.1f %8.2f\n", c.label.c_str(), Median(ms), Median(walls), Median(kb) / 1024,
               emptyMs > 0 ? Median(ms) / emptyMs : 0.0);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    g_start = Clock::now();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc < 3) {
        fprintf(stderr, "usage: main_window_bench prepare|start|peer|archive|run|sizes FOLDER [ROWS|RUNS]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const std::string folder = std::filesystem::absolute(argv[2]).string();
    if (mode == "prepare") {
        QCoreApplication app(argc, argv);
        return Prepare(folder, argc > 3 ? atol(argv[3]) : 1000, argc > 4 ? argv[4] : "out");
    }
    if (mode == "start")
        return Start(argc, argv, folder);
    if (mode == "peer")
        return Peer(argc, argv, folder);
    if (mode == "archive")
        return Archive(argc, argv, folder, argc > 3 ? atoi(argv[3]) : 21);
    if (mode == "run")
        return Run(argv[0], folder, argc > 3 ? atoi(argv[3]) : 5);
    if (mode == "sizes")
        return Sizes(argv[0], folder, argc > 3 ? atol(argv[3]) : 1000000, argc > 4 ? atoi(argv[4]) : 5);
    return 2;
}
