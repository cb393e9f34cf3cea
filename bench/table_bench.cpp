// Benchmark: the grid model over ZNOUT against QSqlTableModel over SQLite with the same rows.
//   table_bench [rows] [folder] [runs]
// Steps, as a user meets them: open the table with the archive filter and show the first screen
// (30 rows) in date order; count the rows the filter lets through; jump to the last row; sort by
// subject; scroll a page. Each run of each side is a child process of its own (peak RSS is its
// own); the figures are the medians. Every run is checked: the count against the rows generated,
// the subjects of the first screen in subject order against the other side's.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "system_tables.h"
#include "table_model.h"
#include "xbase_vd.h"

namespace {

using namespace zn::data;
using Clock = std::chrono::steady_clock;
double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

constexpr int kScreen = 30;
constexpr int kSteps = 5;
const char* kStepNames[kSteps] = {"open, archive filter, first screen by date", "count the rows the filter shows",
                                  "jump to the last row", "sort by subject", "scroll a page"};

// What a run saw, for the checks: the filtered count and the subjects of the first screen in
// subject order (sorted, so that rows with equal keys may come in either order).
struct Seen {
    long count = -1;
    size_t subjects = 0;
};

struct Row {
    std::string subject, date, time, recipient, phone, result, doc, notes, codes;
    bool archived;
};

Row MakeRow(std::mt19937& rng, long i)
{
    static const char* words[] = {"invoice", "order", "quote", "contract", "report", "memo", "notice", "letter"};
    Row r;
    r.subject = std::string(words[rng() % 8]) + " " + words[rng() % 8] + " " + std::to_string(rng() % 100000);
    char d[16], t[8];
    std::snprintf(d, sizeof d, "%04u%02u%02u", 2000 + unsigned(rng() % 26), 1 + unsigned(rng() % 12),
                  1 + unsigned(rng() % 28));
    std::snprintf(t, sizeof t, "%02u:%02u", unsigned(rng() % 24), unsigned(rng() % 60));
    r.date = d;
    r.time = t;
    r.recipient = "Recipient " + std::to_string(rng() % 5000);
    r.phone = "555-" + std::to_string(1000000 + rng() % 9000000);
    r.result = "SENT";
    r.doc = "F" + std::to_string(1000000 + i) + ".APF";
    r.notes = "note " + std::to_string(rng() % 1000);
    r.codes = "C" + std::to_string(rng() % 300);
    r.archived = rng() % 5 == 0;
    return r;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Both stores, written once per row count and kept in the folder for later runs.
void Prepare(long rows, const std::string& folder)
{
    std::string dbf = folder + "/ZNOUT.DBF", sqlite = folder + "/znout.sqlite";
    if (!Exists(dbf)) {
        std::fprintf(stderr, "writing %ld rows to ZNOUT.DBF...\n", rows);
        TVeldrane maker;
        if (!MakeFaxDBF(maker, folder + "/"))
            std::exit(1);
        vd_Use(dbf.c_str(), nullptr, 2, 2);
        std::mt19937 rng(42);
        for (long i = 0; i < rows; ++i) {
            Row r = MakeRow(rng, i);
            vd_AppendBlank();
            vd_Replace("SUBJECT", 1024, r.subject.c_str());
            std::string us = r.date.substr(4, 2) + "/" + r.date.substr(6, 2) + "/" + r.date.substr(0, 4);
            vd_Replace("DATESENT", 1056, us.c_str());
            vd_Replace("TIMESENT", 1024, r.time.c_str());
            vd_Replace("RECIPIENT", 1024, r.recipient.c_str());
            vd_Replace("PHONE", 1024, r.phone.c_str());
            vd_Replace("LASTRESULT", 1024, r.result.c_str());
            vd_Replace("FAXDOC", 1024, r.doc.c_str());
            vd_Replace("NOTES", 1024, r.notes.c_str());
            vd_Replace("CODES", 1024, r.codes.c_str());
            vd_Replace("ARCHIVED", 128, r.archived);
        }
        for (const TagDef& t : FaxTags())
            if (t.opening)
                vd_IndexTag("", t.name, t.key, 0, t.flag, kTagCondition);
        vd_Close();
    }
    if (!Exists(sqlite)) {
        std::fprintf(stderr, "writing %ld rows to SQLite...\n", rows);
        sqlite3* db = nullptr;
        sqlite3_open(sqlite.c_str(), &db);
        sqlite3_exec(
            db,
            "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; CREATE TABLE ZNOUT (SUBJECT TEXT, DATESENT TEXT, "
            "TIMESENT TEXT, RECIPIENT TEXT, PHONE TEXT, LASTRESULT TEXT, FAXDOC TEXT, FAXCOVER TEXT, NOTES TEXT, "
            "CODES TEXT, ARCHIVED INTEGER); BEGIN;",
            nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO ZNOUT VALUES (?,?,?,?,?,?,?,'',?,?,?)", -1, &st, nullptr);
        std::mt19937 rng(42);
        for (long i = 0; i < rows; ++i) {
            Row r = MakeRow(rng, i);
            const std::string* texts[] = {&r.subject, &r.date, &r.time,  &r.recipient, &r.phone,
                                          &r.result,  &r.doc,  &r.notes, &r.codes};
            for (int k = 0; k < 9; ++k)
                sqlite3_bind_text(st, k + 1, texts[k]->c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(st, 10, r.archived);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        // The same orders the CDX tags give.
        sqlite3_exec(db,
                     "COMMIT; CREATE INDEX DATESENT ON ZNOUT (DATESENT DESC, TIMESENT DESC); "
                     "CREATE INDEX SUBJECT ON ZNOUT (SUBJECT); CREATE INDEX RECIPIENT ON ZNOUT (RECIPIENT); "
                     "CREATE INDEX CODES ON ZNOUT (CODES); CREATE INDEX ARCHIVED ON ZNOUT (ARCHIVED); ANALYZE;",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
}

// Reads every cell of the rows a view shows, as painting does.
template <typename Model>
size_t ReadScreen(const Model& model, int first, int count)
{
    size_t bytes = 0;
    for (int r = first; r < first + count && r < model.rowCount(); ++r)
        for (int c = 0; c < model.columnCount(); ++c)
            bytes += model.data(model.index(r, c)).toString().size();
    return bytes;
}

// The rows the archive filter lets through, from the generator.
long NotArchived(long rows)
{
    std::mt19937 rng(42);
    long n = 0;
    for (long i = 0; i < rows; ++i)
        n += MakeRow(rng, i).archived ? 0 : 1;
    return n;
}

template <typename Model>
size_t HashColumn(const Model& model, int column, int count)
{
    std::vector<std::string> texts;
    for (int r = 0; r < count && r < model.rowCount(); ++r)
        texts.push_back(model.data(model.index(r, column)).toString().trimmed().toUpper().toStdString());
    std::sort(texts.begin(), texts.end());
    std::string all;
    for (const std::string& t : texts)
        all += t + "\n";
    return std::hash<std::string>()(all);
}

void RunOurs(const std::string& folder, double* ms, Seen* seen)
{
    auto t = Clock::now();
    TTable table;
    table.SetExclusive(true);
    TDataSource source(&table);
    TVeldrane veldrane(&source);
    if (!OpenFaxDBF(table, veldrane, folder + "/"))
        std::exit(2);
    veldrane.SetOrder(veldrane.TagArea("DATESENT"));
    table.First();
    TTableModel model(&table);
    model.SetWindowSize(kScreen);
    ReadScreen(model, 0, kScreen);
    ms[0] = MsSince(t);

    t = Clock::now();
    seen->count = veldrane.QueryRecCount();
    ms[1] = MsSince(t);

    t = Clock::now();
    table.Last();
    ReadScreen(model, 0, kScreen);
    ms[2] = MsSince(t);

    t = Clock::now();
    veldrane.SetOrder(veldrane.TagArea("SUBJECT"));
    table.First();
    ReadScreen(model, 0, kScreen);
    ms[3] = MsSince(t);
    seen->subjects = HashColumn(model, model.FieldColumn("SUBJECT"), kScreen);

    t = Clock::now();
    model.MoveBy(kScreen);
    ReadScreen(model, 0, kScreen);
    ms[4] = MsSince(t);
    if (model.rowCount() != kScreen)
        std::exit(3);
}

void RunPeer(const std::string& folder, double* ms, Seen* seen)
{
    auto t = Clock::now();
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE");
    db.setDatabaseName(QString::fromStdString(folder + "/znout.sqlite"));
    if (!db.open())
        std::exit(4);
    QSqlTableModel model(nullptr, db);
    model.setTable("ZNOUT");
    model.setFilter("ARCHIVED = 0");
    model.setSort(model.record().indexOf("DATESENT"), Qt::DescendingOrder);
    model.select();
    ReadScreen(model, 0, kScreen);
    ms[0] = MsSince(t);

    t = Clock::now();
    QSqlQuery count("SELECT COUNT(*) FROM ZNOUT WHERE ARCHIVED = 0", db);
    if (count.next())
        seen->count = count.value(0).toLongLong();
    ms[1] = MsSince(t);

    // A view can show the last row only once the model has fetched every row before it.
    t = Clock::now();
    while (model.canFetchMore())
        model.fetchMore();
    ReadScreen(model, model.rowCount() - kScreen, kScreen);
    ms[2] = MsSince(t);

    t = Clock::now();
    model.setSort(model.record().indexOf("SUBJECT"), Qt::AscendingOrder);
    model.select();
    ReadScreen(model, 0, kScreen);
    ms[3] = MsSince(t);
    seen->subjects = HashColumn(model, model.record().indexOf("SUBJECT"), kScreen);

    t = Clock::now();
    ReadScreen(model, kScreen, kScreen);
    ms[4] = MsSince(t);
    if (model.rowCount() < 2 * kScreen)
        std::exit(5);
}

struct Result {
    double ms[kSteps];
    Seen seen;
    long peakKb;
};

Result RunChild(bool ours, const std::string& folder)
{
    int fd[2];
    if (pipe(fd) != 0)
        std::exit(1);
    pid_t child = fork();
    if (child == 0) {
        close(fd[0]);
        int argc = 1;
        char name[] = "table_bench";
        char* argv[] = {name, nullptr};
        QCoreApplication app(argc, argv);
        Result r{};
        ours ? RunOurs(folder, r.ms, &r.seen) : RunPeer(folder, r.ms, &r.seen);
        (void)!write(fd[1], &r, sizeof r);
        _exit(0);
    }
    close(fd[1]);
    Result r{};
    if (read(fd[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) {
        std::fprintf(stderr, "run failed\n");
        std::exit(1);
    }
    close(fd[0]);
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    r.peakKb = usage.ru_maxrss;
    return r;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string folder = argc > 2 ? argv[2] : "/tmp/table_bench_" + std::to_string(rows);
    int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    mkdir(folder.c_str(), 0755);
    // Written in a child of its own, so that the runs forked later do not inherit its memory.
    pid_t writer = fork();
    if (writer == 0) {
        Prepare(rows, folder);
        _exit(0);
    }
    int status = 0;
    waitpid(writer, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return 1;

    const long expected = NotArchived(rows);
    std::vector<double> ours[kSteps], peer[kSteps];
    std::vector<double> oursKb, peerKb;
    for (int i = 0; i < runs; ++i) {
        Result a = RunChild(true, folder), b = RunChild(false, folder);
        if (a.seen.count != expected || b.seen.count != expected || a.seen.subjects != b.seen.subjects) {
            std::fprintf(
                stderr, "MISMATCH: rows not archived %ld, zn counted %ld, SQLite %ld; first screen by subject %s\n",
                expected, a.seen.count, b.seen.count, a.seen.subjects == b.seen.subjects ? "agrees" : "differs");
            return 1;
        }
        for (int s = 0; s < kSteps; ++s) {
            ours[s].push_back(a.ms[s]);
            peer[s].push_back(b.ms[s]);
        }
        oursKb.push_back(static_cast<double>(a.peakKb));
        peerKb.push_back(static_cast<double>(b.peakKb));
    }
    std::printf("%ld rows, median of %d runs\n", rows, runs);
    std::printf("| step | zn grid model (ms) | QSqlTableModel/SQLite (ms) | ratio |\n|---|---|---|---|\n");
    for (int s = 0; s < kSteps; ++s) {
        double a = Median(ours[s]), b = Median(peer[s]);
        std::printf("| %s | %.2f | %.2f | %.3f |\n", kStepNames[s], a, b, b > 0 ? a / b : 0.0);
    }
    double a = Median(oursKb) / 1024, b = Median(peerKb) / 1024;
    std::printf("| peak RSS (MB) | %.1f | %.1f | %.3f |\n", a, b, a / b);
    std::printf("every run checked: %ld rows not archived counted by both, first screen by subject the same\n",
                expected);
    return 0;
}
