// Benchmark: the xBase engine against SQLite on ZNOUT-shaped rows.
//   xbase_bench [rows] [folder]
// Steps: append, build of the five opening tags, full scan in tag order, 1,000 seeks, a filtered
// count. Each side runs in its own child process so that its peak RSS is its own.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

const char* kWords[] = {"invoice", "order", "quote", "contract", "report", "memo", "notice", "letter",
                        "statement", "proposal", "agenda", "minutes", "summary", "request", "reply"};

Row MakeRow(std::mt19937& rng, long i) {
  Row r;
  auto word = [&]() { return std::string(kWords[rng() % 15]); };
  r.subject = word() + " " + word() + " " + std::to_string(rng() % 100000);
  bool sent = rng() % 4 != 0;
  if (sent) {
    char d[16];
    snprintf(d, sizeof d, "%04u%02u%02u", 2000 + unsigned(rng() % 26), 1 + unsigned(rng() % 12), 1 + unsigned(rng() % 28));
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

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

constexpr int kSteps = 5;
const char* kStepNames[kSteps] = {"append", "build 5 tags / indexes", "full scan in tag order", "1,000 seeks",
                                  "filtered count"};

// Subjects of 1,000 rows picked at random, upper-cased: the keys both sides look up.
std::vector<std::string> SeekKeys(long rows) {
  std::mt19937 rng(12345);
  std::vector<long> picks;
  for (int i = 0; i < 1000; ++i) picks.push_back(static_cast<long>(rng() % rows));
  std::map<long, std::string> subjects;
  for (long p : picks) subjects[p];
  std::mt19937 data(42);
  for (long i = 0; i < rows; ++i) {
    Row r = MakeRow(data, i);
    auto it = subjects.find(i);
    if (it != subjects.end()) it->second = r.subject;
  }
  std::vector<std::string> keys;
  for (long p : picks) {
    std::string s = subjects[p];
    for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    keys.push_back(s);
  }
  return keys;
}

void Engine(long rows, const std::string& folder, double* t, long* check) {
  std::string path = folder + "/ZNOUT.DBF";
  unlink(path.c_str());
  unlink((folder + "/ZNOUT.CDX").c_str());
  std::vector<std::string> keys = SeekKeys(rows);
  vd_CreateNew(path.c_str(), "XXXXXXXXXX", 2, 11);
  struct { const char* n; const char* t; int w; } fields[] = {
      {"SUBJECT", "C", 50}, {"DATESENT", "D", 8}, {"TIMESENT", "C", 5}, {"RECIPIENT", "C", 35},
      {"PHONE", "C", 25}, {"LASTRESULT", "C", 100}, {"FAXDOC", "C", 12}, {"FAXCOVER", "C", 12},
      {"NOTES", "C", 50}, {"CODES", "C", 25}, {"ARCHIVED", "L", 1}};
  for (auto& f : fields) vd_CreateField(f.n, f.t, f.w, 0);
  vd_CreateExec();
  vd_Close();
  if (!vd_Use(path.c_str(), "ZNOUT", 2, 2)) { fprintf(stderr, "open: %s\n", vd_LastErrorText().c_str()); exit(1); }

  std::mt19937 rng(42);
  auto t0 = Clock::now();
  for (long i = 0; i < rows; ++i) {
    Row r = MakeRow(rng, i);
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
  vd_Commit();
  t[0] = Since(t0);

  t0 = Clock::now();
  vd_IndexTag("", "DATESENT", "DTOS(DATESENT)+TIMESENT", 0, 1, ".not. deleted()");
  vd_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, 0, ".not. deleted()");
  vd_IndexTag("", "RECIPIENT", "UPPER(RECIPIENT)", 0, 0, ".not. deleted()");
  vd_IndexTag("", "CODES", "UPPER(CODES)", 0, 0, ".not. deleted()");
  vd_IndexTag("", "ARCHIVED", "ARCHIVED", 0, 0, ".not. deleted()");
  t[1] = Since(t0);

  t0 = Clock::now();
  vd_SetOrder(vd_TagArea("SUBJECT"));
  long n = 0;
  size_t bytes = 0;
  for (vd_GoTop(); !vd_Eof(); vd_Skip(1)) {
    bytes += vd_GetString("RECIPIENT").size();
    ++n;
  }
  t[2] = Since(t0);
  check[0] = n;

  t0 = Clock::now();
  long found = 0;
  for (const std::string& k : keys) {
    if (vd_Seek(k.c_str())) {
      bytes += vd_GetString("RECIPIENT").size();
      ++found;
    }
  }
  t[3] = Since(t0);
  check[1] = found;

  t0 = Clock::now();
  vd_SetOrder(0);
  vd_Query(".not. archived");
  check[2] = vd_QueryRecCount();
  t[4] = Since(t0);
  vd_CloseAll();
  (void)bytes;
}

void Sql(sqlite3* db, const char* text) {
  char* error = nullptr;
  if (sqlite3_exec(db, text, nullptr, nullptr, &error) != SQLITE_OK) {
    fprintf(stderr, "sqlite: %s: %s\n", text, error);
    exit(1);
  }
}

void Peer(long rows, const std::string& folder, double* t, long* check) {
  std::string path = folder + "/znout.sqlite";
  unlink(path.c_str());
  std::vector<std::string> keys = SeekKeys(rows);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  Sql(db, "CREATE TABLE znout(subject TEXT, datesent TEXT, timesent TEXT, recipient TEXT, phone TEXT,"
          " lastresult TEXT, faxdoc TEXT, faxcover TEXT, notes TEXT, codes TEXT, archived INTEGER)");
  std::mt19937 rng(42);
  auto t0 = Clock::now();
  Sql(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO znout VALUES(?,?,?,?,?,?,?,?,?,?,?)", -1, &insert, nullptr);
  for (long i = 0; i < rows; ++i) {
    Row r = MakeRow(rng, i);
    const std::string* texts[] = {&r.subject, &r.datesent, &r.timesent, &r.recipient, &r.phone,
                                  &r.lastresult, &r.faxdoc, &r.faxcover, &r.notes, &r.codes};
    for (int c = 0; c < 10; ++c) sqlite3_bind_text(insert, c + 1, texts[c]->c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 11, r.archived);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Sql(db, "COMMIT");
  t[0] = Since(t0);

  t0 = Clock::now();
  Sql(db, "CREATE INDEX i_datesent ON znout(datesent DESC, timesent DESC)");
  Sql(db, "CREATE INDEX i_subject ON znout(upper(subject))");
  Sql(db, "CREATE INDEX i_recipient ON znout(upper(recipient))");
  Sql(db, "CREATE INDEX i_codes ON znout(upper(codes))");
  Sql(db, "CREATE INDEX i_archived ON znout(archived)");
  t[1] = Since(t0);

  t0 = Clock::now();
  sqlite3_stmt* scan = nullptr;
  sqlite3_prepare_v2(db, "SELECT recipient FROM znout ORDER BY upper(subject)", -1, &scan, nullptr);
  long n = 0;
  size_t bytes = 0;
  while (sqlite3_step(scan) == SQLITE_ROW) {
    bytes += sqlite3_column_bytes(scan, 0);
    ++n;
  }
  sqlite3_finalize(scan);
  t[2] = Since(t0);
  check[0] = n;

  t0 = Clock::now();
  sqlite3_stmt* seek = nullptr;
  sqlite3_prepare_v2(db, "SELECT recipient FROM znout WHERE upper(subject) = ? ORDER BY upper(subject) LIMIT 1", -1,
                     &seek, nullptr);
  long found = 0;
  for (const std::string& k : keys) {
    sqlite3_bind_text(seek, 1, k.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(seek) == SQLITE_ROW) {
      bytes += sqlite3_column_bytes(seek, 0);
      ++found;
    }
    sqlite3_reset(seek);
  }
  sqlite3_finalize(seek);
  t[3] = Since(t0);
  check[1] = found;

  t0 = Clock::now();
  sqlite3_stmt* count = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*) FROM znout WHERE NOT archived", -1, &count, nullptr);
  sqlite3_step(count);
  check[2] = sqlite3_column_int64(count, 0);
  sqlite3_finalize(count);
  t[4] = Since(t0);
  sqlite3_close(db);
  (void)bytes;
}

struct Outcome {
  double seconds[kSteps];
  long check[3];
  long peakKb;
};

Outcome RunChild(void (*body)(long, const std::string&, double*, long*), long rows, const std::string& folder) {
  int fd[2];
  if (pipe(fd) != 0) exit(1);
  pid_t pid = fork();
  if (pid == 0) {
    close(fd[0]);
    Outcome o{};
    body(rows, folder, o.seconds, o.check);
    if (write(fd[1], &o, sizeof o) != sizeof o) _exit(1);
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
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  o.peakKb = usage.ru_maxrss;
  return o;
}

} // namespace

int main(int argc, char** argv) {
  long rows = argc > 1 ? atol(argv[1]) : 1000000;
  std::string folder = argc > 2 ? argv[2] : "/tmp/xbase_bench";
  std::string mk = "mkdir -p '" + folder + "'";
  if (system(mk.c_str()) != 0) return 1;
  Outcome ours = RunChild(Engine, rows, folder);
  Outcome peer = RunChild(Peer, rows, folder);
  printf("%ld ZNOUT-shaped rows\n\n", rows);
  printf("| step | xBase engine (s) | SQLite (s) | ratio |\n|---|---:|---:|---:|\n");
  for (int i = 0; i < kSteps; ++i)
    printf("| %s | %.3f | %.3f | %.2f |\n", kStepNames[i], ours.seconds[i], peer.seconds[i],
           peer.seconds[i] > 0 ? ours.seconds[i] / peer.seconds[i] : 0.0);
  printf("| peak RSS (MB) | %.1f | %.1f | %.2f |\n", ours.peakKb / 1024.0, peer.peakKb / 1024.0,
         peer.peakKb ? double(ours.peakKb) / peer.peakKb : 0.0);
  printf("\nrows scanned %ld / %ld, seeks found %ld / %ld, filtered count %ld / %ld\n", ours.check[0],
         peer.check[0], ours.check[1], peer.check[1], ours.check[2], peer.check[2]);
  return 0;
}
