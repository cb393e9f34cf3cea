// Benchmark: the xBase engine against SQLite on ZNOUT-shaped rows.
//   xbase_bench [rows] [folder] [engine|sqlite|both] [random|ordered|repeated|mixed]
// One side alone serves a profiler. The subjects (the key of the scan and the seeks) are random
// (default), rising with the record number, 15 texts repeated over all rows, or a fax log's mix:
// rows appended day by day, half of the subjects recurring ones, the others one-offs.
// Steps: append (one commit), build of the five opening tags, full scan in tag order, 1,000 seeks,
// a filtered count. Both sides make their commits durable (the engine syncs table and index, SQLite
// runs at synchronous=FULL) and get the same rows, made by the same generator outside the timed
// part. Each side runs in its own child process; the peak resident memory of every step is its own
// (the kernel's high-water mark is reset before each step). Every step's result is checked against
// what the generator made: a wrong count, order or row fails the run.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "xbase_vd.h"

namespace {

struct Row {
    std::string subject, datesent, timesent, recipient, phone, lastresult, faxdoc, faxcover, notes, codes;
    bool archived;
};

const char* kWords[] = {"invoice",   "order",    "quote",  "contract", "report",  "memo",    "notice", "letter",
                        "statement", "proposal", "agenda", "minutes",  "summary", "request", "reply"};

enum class Subjects { Random, Ordered, Repeated, Mixed };
Subjects gSubjects = Subjects::Random;
long gRows = 1;

Row MakeRow(std::mt19937& rng, long i)
{
    Row r;
    auto word = [&]() { return std::string(kWords[rng() % 15]); };
    switch (gSubjects) {
    case Subjects::Random: r.subject = word() + " " + word() + " " + std::to_string(rng() % 100000); break;
    case Subjects::Ordered: {
        char s[24];
        snprintf(s, sizeof s, "fax %08ld", i);
        r.subject = s;
        break;
    }
    case Subjects::Repeated: r.subject = word(); break;
    case Subjects::Mixed:
        r.subject = word() + " " + word();
        if (rng() % 2)
            r.subject += " " + std::to_string(rng() % 100000);
        break;
    }
    bool sent = rng() % 4 != 0;
    if (sent) {
        char d[16];
        if (gSubjects == Subjects::Mixed) {
            // 26 years of faxes in the order they were sent
            long day = i * (26 * 336L) / gRows;
            snprintf(d, sizeof d, "%04ld%02ld%02ld", 2000 + day / 336, 1 + day / 28 % 12, 1 + day % 28);
        } else {
            snprintf(d, sizeof d, "%04u%02u%02u", 2000 + unsigned(rng() % 26), 1 + unsigned(rng() % 12),
                     1 + unsigned(rng() % 28));
        }
        r.datesent = d;
        char t[8];
        snprintf(t, sizeof t, "%02u:%02u", unsigned(rng() % 24), unsigned(rng() % 60));
        r.timesent = t;
    }
    r.recipient = "Recipient " + std::to_string(rng() % 5000);
    r.phone = "555-" + std::to_string(1000000 + rng() % 9000000);
    r.lastresult = sent ? "SENT" : "BUSY";
    char f[32];
    snprintf(f, sizeof f, "F%07ld.APF", i);
    r.faxdoc = f;
    r.faxcover = (i % 3 == 0) ? "C" + std::to_string(i % 10000000) + ".APF" : "";
    r.notes = "note " + std::to_string(rng() % 1000);
    r.codes = "C" + std::to_string(rng() % 300);
    r.archived = rng() % 5 == 0;
    return r;
}

// Rows come in batches made while the clock is stopped.
class RowSource {
public:
    explicit RowSource(long rows) : rows_(rows) {}
    const std::vector<Row>& NextBatch()
    {
        batch_.clear();
        for (int k = 0; k < 1000 && next_ < rows_; ++k, ++next_)
            batch_.push_back(MakeRow(rng_, next_));
        return batch_;
    }

private:
    long rows_;
    long next_ = 0;
    std::mt19937 rng_{42};
    std::vector<Row> batch_;
};

using Clock = std::chrono::steady_clock;

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

uint64_t Fnv(const std::string& s)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

constexpr int kSteps = 5;
const char* kStepNames[kSteps] = {"append (one durable commit)", "build 5 tags / indexes", "full scan in tag order",
                                  "1,000 seeks", "filtered count"};

// What the generator made: the checks every side must meet.
struct Expected {
    long rows = 0;
    long notArchived = 0;
    uint64_t recipientSum = 0;                                    // order-independent sum over all rows
    std::vector<std::string> seekKeys;                            // upper-cased subjects of 1,000 rows picked at random
    std::map<std::string, std::vector<std::string>> recipientsOf; // seek key -> recipients of rows with that subject
};

Expected Expect(long rows)
{
    Expected x;
    x.rows = rows;
    std::mt19937 pick(12345);
    std::vector<long> picks;
    for (int i = 0; i < 1000; ++i)
        picks.push_back(static_cast<long>(pick() % rows));
    std::map<long, std::string> picked;
    for (long p : picks)
        picked[p];
    std::mt19937 data(42);
    for (long i = 0; i < rows; ++i) {
        Row r = MakeRow(data, i);
        if (!r.archived)
            ++x.notArchived;
        x.recipientSum += Fnv(r.recipient);
        auto it = picked.find(i);
        if (it != picked.end())
            it->second = Upper(r.subject);
    }
    for (long p : picks)
        x.seekKeys.push_back(picked[p]);
    for (auto& [p, key] : picked)
        x.recipientsOf[key];
    std::mt19937 again(42);
    for (long i = 0; i < rows; ++i) {
        Row r = MakeRow(again, i);
        auto it = x.recipientsOf.find(Upper(r.subject));
        if (it != x.recipientsOf.end())
            it->second.push_back(r.recipient);
    }
    return x;
}

// Per step: seconds and the peak resident memory while it ran.
struct Step {
    double seconds = 0;
    long peakKb = 0;
};

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

long PeakKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return atol(line.c_str() + 6);
    return 0;
}

struct Outcome {
    Step steps[kSteps];
    char failure[200];
};

// Collects the checks of one side; the first failure is kept.
class Checks {
public:
    explicit Checks(Outcome& o) : o_(o) {}
    void Require(bool ok, const std::string& what)
    {
        if (!ok && !o_.failure[0])
            snprintf(o_.failure, sizeof o_.failure, "%s", what.c_str());
    }

private:
    Outcome& o_;
};

// One step: its time between Start and Stop (summed), its peak memory from construction to Finish.
class Meter {
public:
    explicit Meter(Step& s) : s_(s) { ResetPeak(); }
    void Start() { t0_ = Clock::now(); }
    void Stop() { s_.seconds += std::chrono::duration<double>(Clock::now() - t0_).count(); }
    void Finish() { s_.peakKb = PeakKb(); }

private:
    Step& s_;
    Clock::time_point t0_;
};

template <typename Body>
void Measure(Step& s, Body body)
{
    Meter m(s);
    m.Start();
    body();
    m.Stop();
    m.Finish();
}

// The ordered scan: every row once, subjects never falling, the recipients those the generator made.
class ScanCheck {
public:
    void Add(const std::string& subject, const std::string& recipient)
    {
        std::string key = Upper(subject);
        if (key < last_)
            ordered_ = false;
        last_ = std::move(key);
        sum_ += Fnv(recipient);
        ++rows_;
    }
    void Verify(Checks& c, const Expected& x) const
    {
        c.Require(rows_ == x.rows, "scan: " + std::to_string(rows_) + " rows, expected " + std::to_string(x.rows));
        c.Require(ordered_, "scan: subjects out of order");
        c.Require(sum_ == x.recipientSum, "scan: the recipients read are not those written");
    }

private:
    std::string last_;
    uint64_t sum_ = 0;
    long rows_ = 0;
    bool ordered_ = true;
};

// The seeks: every key found, on a row with that subject and one of its recipients.
class SeekCheck {
public:
    explicit SeekCheck(const Expected& x) : x_(x) {}
    void Found(const std::string& key, const std::string& subject, const std::string& recipient)
    {
        ++found_;
        auto it = x_.recipientsOf.find(key);
        if (Upper(subject) != key || it == x_.recipientsOf.end())
            return;
        for (const std::string& r : it->second)
            if (r == recipient) {
                ++right_;
                return;
            }
    }
    void Verify(Checks& c) const
    {
        c.Require(found_ == 1000 && right_ == 1000,
                  "seeks: " + std::to_string(found_) + " found, " + std::to_string(right_) + " right");
    }

private:
    const Expected& x_;
    long found_ = 0, right_ = 0;
};

std::string Trim(std::string s)
{
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

void Engine(long rows, const std::string& folder, const Expected& x, Outcome& o)
{
    Checks checks(o);
    std::string path = folder + "/ZNOUT.DBF";
    unlink(path.c_str());
    unlink((folder + "/ZNOUT.CDX").c_str());
    vd_SetDeleted(1); // as the program runs
    vd_CreateNew(path.c_str(), "XXXXXXXXXX", 2, 11);
    struct {
        const char* n;
        const char* t;
        int w;
    } fields[] = {{"SUBJECT", "C", 50}, {"DATESENT", "D", 8},     {"TIMESENT", "C", 5}, {"RECIPIENT", "C", 35},
                  {"PHONE", "C", 25},   {"LASTRESULT", "C", 100}, {"FAXDOC", "C", 12},  {"FAXCOVER", "C", 12},
                  {"NOTES", "C", 50},   {"CODES", "C", 25},       {"ARCHIVED", "L", 1}};
    for (auto& f : fields)
        vd_CreateField(f.n, f.t, f.w, 0);
    vd_CreateExec();
    vd_Close();
    if (!vd_Use(path.c_str(), "ZNOUT", 2, 2)) {
        fprintf(stderr, "open: %s\n", vd_LastErrorText().c_str());
        exit(1);
    }

    Meter append(o.steps[0]);
    RowSource source(rows);
    for (;;) {
        const std::vector<Row>& batch = source.NextBatch();
        if (batch.empty())
            break;
        append.Start();
        for (const Row& r : batch) {
            vd_AppendBlank();
            vd_Replace("SUBJECT", 1024, r.subject.c_str());
            vd_Replace("DATESENT", 1024, r.datesent.c_str());
            vd_Replace("TIMESENT", 1024, r.timesent.c_str());
            vd_Replace("RECIPIENT", 1024, r.recipient.c_str());
            vd_Replace("PHONE", 1024, r.phone.c_str());
            vd_Replace("LASTRESULT", 1024, r.lastresult.c_str());
            vd_Replace("FAXDOC", 1024, r.faxdoc.c_str());
            vd_Replace("FAXCOVER", 1024, r.faxcover.c_str());
            vd_Replace("NOTES", 1024, r.notes.c_str());
            vd_Replace("CODES", 1024, r.codes.c_str());
            vd_Replace("ARCHIVED", 128, r.archived);
        }
        append.Stop();
    }
    append.Start();
    checks.Require(vd_Commit() == 0, "commit: " + vd_LastErrorText());
    append.Stop();
    append.Finish();
    checks.Require(vd_RecCount() == rows, "append: record count");

    Measure(o.steps[1], [&] {
        checks.Require(vd_IndexTag("", "DATESENT", "DTOS(DATESENT)+TIMESENT", 0, 1, ".not. deleted()") > 0,
                       "tag DATESENT");
        checks.Require(vd_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, 0, ".not. deleted()") > 0, "tag SUBJECT");
        checks.Require(vd_IndexTag("", "RECIPIENT", "UPPER(RECIPIENT)", 0, 0, ".not. deleted()") > 0, "tag RECIPIENT");
        checks.Require(vd_IndexTag("", "CODES", "UPPER(CODES)", 0, 0, ".not. deleted()") > 0, "tag CODES");
        checks.Require(vd_IndexTag("", "ARCHIVED", "ARCHIVED", 0, 0, ".not. deleted()") > 0, "tag ARCHIVED");
    });

    ScanCheck seen;
    Measure(o.steps[2], [&] {
        vd_SetOrder(vd_TagArea("SUBJECT"));
        for (vd_GoTop(); !vd_Eof(); vd_Skip(1))
            seen.Add(vd_GetString("SUBJECT"), Trim(vd_GetString("RECIPIENT")));
    });
    seen.Verify(checks, x);

    SeekCheck seeks(x);
    Measure(o.steps[3], [&] {
        for (const std::string& k : x.seekKeys)
            if (vd_Seek(k.c_str()))
                seeks.Found(k, Trim(vd_GetString("SUBJECT")), Trim(vd_GetString("RECIPIENT")));
    });
    seeks.Verify(checks);

    long n = 0;
    Measure(o.steps[4], [&] {
        vd_SetOrder(0);
        vd_Query(".not. archived");
        n = vd_QueryRecCount();
    });
    checks.Require(n == x.notArchived,
                   "filtered count " + std::to_string(n) + ", expected " + std::to_string(x.notArchived));
    vd_CloseAll();
}

void Sql(sqlite3* db, const char* text)
{
    char* error = nullptr;
    if (sqlite3_exec(db, text, nullptr, nullptr, &error) != SQLITE_OK) {
        fprintf(stderr, "sqlite: %s: %s\n", text, error);
        exit(1);
    }
}

void Peer(long rows, const std::string& folder, const Expected& x, Outcome& o)
{
    Checks checks(o);
    std::string path = folder + "/znout.sqlite";
    unlink(path.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    Sql(db, "PRAGMA synchronous=FULL");
    Sql(db, "CREATE TABLE znout(subject TEXT, datesent TEXT, timesent TEXT, recipient TEXT, phone TEXT,"
            " lastresult TEXT, faxdoc TEXT, faxcover TEXT, notes TEXT, codes TEXT, archived INTEGER)");

    Meter append(o.steps[0]);
    RowSource source(rows);
    append.Start();
    Sql(db, "BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO znout VALUES(?,?,?,?,?,?,?,?,?,?,?)", -1, &insert, nullptr);
    append.Stop();
    for (;;) {
        const std::vector<Row>& batch = source.NextBatch();
        if (batch.empty())
            break;
        append.Start();
        for (const Row& r : batch) {
            const std::string* texts[] = {&r.subject,    &r.datesent, &r.timesent, &r.recipient, &r.phone,
                                          &r.lastresult, &r.faxdoc,   &r.faxcover, &r.notes,     &r.codes};
            for (int c = 0; c < 10; ++c)
                sqlite3_bind_text(insert, c + 1, texts[c]->c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 11, r.archived);
            checks.Require(sqlite3_step(insert) == SQLITE_DONE, "insert");
            sqlite3_reset(insert);
        }
        append.Stop();
    }
    append.Start();
    sqlite3_finalize(insert);
    Sql(db, "COMMIT");
    append.Stop();
    append.Finish();

    Measure(o.steps[1], [&] {
        Sql(db, "CREATE INDEX i_datesent ON znout(datesent DESC, timesent DESC)");
        Sql(db, "CREATE INDEX i_subject ON znout(upper(subject))");
        Sql(db, "CREATE INDEX i_recipient ON znout(upper(recipient))");
        Sql(db, "CREATE INDEX i_codes ON znout(upper(codes))");
        Sql(db, "CREATE INDEX i_archived ON znout(archived)");
    });

    auto text = [](sqlite3_stmt* s, int column) {
        return std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, column)));
    };
    ScanCheck seen;
    Measure(o.steps[2], [&] {
        sqlite3_stmt* rowsInOrder = nullptr;
        sqlite3_prepare_v2(db, "SELECT subject, recipient FROM znout ORDER BY upper(subject)", -1, &rowsInOrder,
                           nullptr);
        while (sqlite3_step(rowsInOrder) == SQLITE_ROW)
            seen.Add(text(rowsInOrder, 0), text(rowsInOrder, 1));
        sqlite3_finalize(rowsInOrder);
    });
    seen.Verify(checks, x);

    SeekCheck seeks(x);
    Measure(o.steps[3], [&] {
        sqlite3_stmt* lookup = nullptr;
        sqlite3_prepare_v2(
            db, "SELECT subject, recipient FROM znout WHERE upper(subject) = ? ORDER BY upper(subject) LIMIT 1", -1,
            &lookup, nullptr);
        for (const std::string& k : x.seekKeys) {
            sqlite3_bind_text(lookup, 1, k.c_str(), -1, SQLITE_TRANSIENT);
            if (sqlite3_step(lookup) == SQLITE_ROW)
                seeks.Found(k, text(lookup, 0), text(lookup, 1));
            sqlite3_reset(lookup);
        }
        sqlite3_finalize(lookup);
    });
    seeks.Verify(checks);

    long n = 0;
    Measure(o.steps[4], [&] {
        sqlite3_stmt* counter = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM znout WHERE NOT archived", -1, &counter, nullptr);
        sqlite3_step(counter);
        n = static_cast<long>(sqlite3_column_int64(counter, 0));
        sqlite3_finalize(counter);
    });
    checks.Require(n == x.notArchived,
                   "filtered count " + std::to_string(n) + ", expected " + std::to_string(x.notArchived));
    sqlite3_close(db);
}

Outcome RunChild(void (*body)(long, const std::string&, const Expected&, Outcome&), long rows,
                 const std::string& folder, const Expected& x)
{
    int fd[2];
    if (pipe(fd) != 0)
        exit(1);
    pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        Outcome o{};
        body(rows, folder, x, o);
        if (write(fd[1], &o, sizeof o) != sizeof o)
            _exit(1);
        _exit(0);
    }
    close(fd[1]);
    Outcome o{};
    if (read(fd[0], &o, sizeof o) != sizeof o) {
        fprintf(stderr, "child failed\n");
        exit(1);
    }
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    long rows = argc > 1 ? atol(argv[1]) : 1000000;
    if (rows < 1)
        return 2;
    std::string folder = argc > 2 ? argv[2] : "/tmp/xbase_bench";
    std::string mk = "mkdir -p '" + folder + "'";
    if (system(mk.c_str()) != 0)
        return 1;
    std::string only = argc > 3 ? argv[3] : "";
    const std::string subjects = argc > 4 ? argv[4] : "random";
    gRows = rows;
    if (subjects == "ordered")
        gSubjects = Subjects::Ordered;
    else if (subjects == "repeated")
        gSubjects = Subjects::Repeated;
    else if (subjects == "mixed")
        gSubjects = Subjects::Mixed;
    else if (subjects != "random")
        return 2;
    Expected x = Expect(rows);
    Outcome ours = only == "sqlite" ? Outcome{} : RunChild(Engine, rows, folder, x);
    Outcome peer = only == "engine" ? Outcome{} : RunChild(Peer, rows, folder, x);
    printf("%ld ZNOUT-shaped rows, %s subjects; both sides sync each commit\n\n", rows, subjects.c_str());
    printf("| step | xBase engine (s) | SQLite (s) | ratio | engine peak (MB) | SQLite peak (MB) |\n"
           "|---|---:|---:|---:|---:|---:|\n");
    for (int i = 0; i < kSteps; ++i) {
        const Step& a = ours.steps[i];
        const Step& b = peer.steps[i];
        printf("| %s | %.3f | %.3f | %.2f | %.1f | %.1f |\n", kStepNames[i], a.seconds, b.seconds,
               b.seconds > 0 ? a.seconds / b.seconds : 0.0, a.peakKb / 1024.0, b.peakKb / 1024.0);
    }
    int status = 0;
    if (ours.failure[0])
        printf("\nxBase engine FAILED: %s\n", ours.failure), status = 1;
    if (peer.failure[0])
        printf("\nSQLite FAILED: %s\n", peer.failure), status = 1;
    if (!status)
        printf("\nevery step's result checked against the rows generated: ok\n");
    return status;
}
