// What tables must survive: several writers sharing a table, a production index that cannot be
// opened, and links planted beside a table by anyone who can write its folder.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>

#include "platform/file_replacement.h"
#include "xbase_diagnostics.h"
#include "xbase_test_util.h"

namespace zn::xbase::test {
namespace {

bool Have(const char* program) { return access(program, X_OK) == 0; }

class XbaseSafety : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetEngine();
        vd_SetLockTimeout(5);
    }
    void TearDown() override { ResetEngine(); }

    // Live and deleted rows as python3-dbfread counts them ("live deleted"), which stops reading at
    // an end-of-file byte in a record's deletion flag.
    std::string DbfreadCounts()
    {
        if (!Have("/usr/bin/python3"))
            return "no python3";
        WriteFile(dir_ / "count.py", "import sys, dbfread\n"
                                     "t = dbfread.DBF(sys.argv[1], load=True)\n"
                                     "print(len(t.records), len(t.deleted))\n");
        return RunCommand("/usr/bin/python3 '" + (dir_ / "count.py") + "' '" + table_ + "'");
    }

    std::vector<std::string> Temporaries()
    {
        std::vector<std::string> names;
        if (DIR* d = opendir(dir_.Path().c_str())) {
            while (dirent* e = readdir(d))
                if (platform::IsReplacementTemporary(e->d_name)
                    || std::string(e->d_name).find(".new") != std::string::npos)
                    names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }

    // Runs checks as a user other than root where the test runs as root (permissions bind only
    // others); the child's exit status is the number of failed checks.
    int AsOrdinaryUser(const std::function<int()>& checks)
    {
        if (getuid() != 0)
            return checks();
        pid_t pid = fork();
        if (pid == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(100);
            _exit(checks());
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
    }

    ScratchFolder dir_;
    std::string table_ = dir_ / "ZNPB.DBF";
    std::string cdx_ = dir_ / "ZNPB.CDX";
};

// ---- several writers --------------------------------------------------------------------------

// A appends, B appends, A fills its record in: A must not end the table after its own record,
// over the deletion flag of B's.
TEST_F(XbaseSafety, TwoSharedHandlesAppendingNeverEndTheTableInsideARecord)
{
    for (bool withTag : {false, true}) {
        SCOPED_TRACE(withTag ? "with a tag" : "without a tag");
        ResetEngine();
        ASSERT_TRUE(CreatePhoneBook(table_, {{"ZULU", "1"}}));
        int a = vd_Use(table_.c_str(), "A", 0, 2);
        ASSERT_NE(a, 0);
        if (withTag) {
            ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 1);
        }
        int b = vd_Use(table_.c_str(), "B", 0, 2);
        ASSERT_NE(b, 0);
        vd_Select(a);
        ASSERT_EQ(vd_AppendBlank(), 0);
        vd_Select(b);
        ASSERT_EQ(vd_AppendBlank(), 0);
        ASSERT_EQ(vd_Replace("NAME", 1024, "BRAVO"), 0);
        ASSERT_EQ(vd_Commit(), 0);
        vd_Select(a);
        ASSERT_EQ(vd_Replace("NAME", 1024, "ALPHA"), 0);
        ASSERT_EQ(vd_Commit(), 0);

        std::string bytes = ReadFile(table_);
        ASSERT_EQ(bytes.size(), 97u + 3 * 61 + 1);
        EXPECT_EQ(bytes[97 + 2 * 61], ' ') << "record 3's deletion flag";
        EXPECT_EQ(bytes.back(), '\x1A');
        vd_Go(3);
        EXPECT_EQ(vd_Deleted(), 0);
        EXPECT_EQ(vd_GetTrimString("NAME"), "BRAVO");
        std::string where;
        EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
        vd_CloseAll();
        if (Have("/usr/bin/python3")) {
            EXPECT_EQ(DbfreadCounts(), "3 0\n");
        }
    }
}

TEST_F(XbaseSafety, FourProcessesAppendingTogetherKeepEveryRow)
{
    constexpr int kWriters = 4, kRows = 300;
    ASSERT_TRUE(CreatePhoneBook(table_, {}));
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 0, 2), 0);
    ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 1);
    vd_CloseAll();
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        if (pid == 0) {
            vd_SetLockTimeout(30);
            if (!vd_Use(table_.c_str(), nullptr, 0, 2))
                _exit(1);
            for (int i = 0; i < kRows; ++i) {
                std::string name = "W" + std::to_string(w) + "-" + std::to_string(i);
                // Filled in after the append, as a form does: the others append in between.
                if (vd_AppendBlank() != 0)
                    _exit(2);
                usleep(50 * (i % 4));
                if (vd_Replace("NAME", 1024, name.c_str()) != 0 || vd_Commit() != 0)
                    _exit(2);
            }
            _exit(vd_Close() == 0 ? 0 : 3);
        }
        writers.push_back(pid);
    }
    for (pid_t pid : writers) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 1, 2), 0);
    EXPECT_EQ(vd_RecCount(), kWriters * kRows);
    vd_SetDeleted(1);
    vd_SetOrder(1);
    EXPECT_EQ(Walk().size(), size_t(kWriters * kRows));
    std::string where;
    EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
    vd_CloseAll();
    if (Have("/usr/bin/python3")) {
        EXPECT_EQ(DbfreadCounts(), std::to_string(kWriters * kRows) + " 0\n");
    }
}

// A reader walking a shared table in tag order while another process moves keys about and appends
// (leaves split and merge, pages the reader holds go stale): every walk succeeds, its keys never go
// backwards, and each row the writer leaves alone is met exactly once.
TEST_F(XbaseSafety, AWalkInTagOrderStaysWholeWhileAnotherProcessRewritesTheIndex)
{
    constexpr int kStable = 1500, kMoving = 600;
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < kStable + kMoving; ++i) {
        char name[40];
        snprintf(name, sizeof name, "%s%05d-padding-to-fill-leaves", i < kStable ? "S" : "M", (i * 7919) % 100000);
        rows.push_back({name, std::to_string(i)});
    }
    ASSERT_TRUE(CreatePhoneBook(table_, rows));
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 0, 2), 0);
    ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 1);
    vd_CloseAll();
    int stop[2];
    ASSERT_EQ(pipe(stop), 0);
    pid_t writer = fork();
    if (writer == 0) {
        close(stop[1]);
        fcntl(stop[0], F_SETFL, O_NONBLOCK);
        vd_SetLockTimeout(30);
        if (!vd_Use(table_.c_str(), nullptr, 0, 2))
            _exit(1);
        char c;
        for (int round = 0; read(stop[0], &c, 1) < 0; ++round) {
            long recno = kStable + 1 + (round * 37) % kMoving;
            char name[40];
            // Moving rows jump between both ends of the order, past every stable row.
            snprintf(name, sizeof name, "%s%05d-moved", round % 2 ? "A" : "Z", round % 100000);
            if (vd_Go(recno) != 0 || vd_Replace("NAME", 1024, name) != 0 || vd_Commit() != 0)
                _exit(2);
            if (round % 50 == 0
                && (vd_AppendBlank() != 0 || vd_Replace("NAME", 1024, ("N" + std::to_string(round)).c_str()) != 0
                    || vd_Commit() != 0))
                _exit(3);
        }
        _exit(vd_Close() == 0 ? 0 : 4);
    }
    close(stop[0]);
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 0, 2), 0);
    vd_SetOrder(1);
    int walks = 0;
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
         std::chrono::steady_clock::now() < until || walks < 3; ++walks) {
        std::string previous;
        std::map<long, int> stableSeen;
        ASSERT_EQ(vd_GoTop(), 0) << vd_LastErrorText();
        while (!vd_Eof()) {
            std::string name = vd_GetTrimString("NAME");
            ASSERT_GE(name, previous) << "walk " << walks;
            previous = name;
            if (name[0] == 'S')
                ++stableSeen[vd_RecNo()];
            ASSERT_EQ(vd_Skip(1), 0) << vd_LastErrorText();
        }
        ASSERT_EQ(stableSeen.size(), size_t(kStable)) << "walk " << walks;
        for (const auto& [recno, times] : stableSeen)
            ASSERT_EQ(times, 1) << "record " << recno << " in walk " << walks;
    }
    close(stop[1]);
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string where;
    EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
}

// A walk reads records ahead in runs. Whoever changes the rows just ahead of it — another process
// sharing the table, or the walking area itself — the rest of the walk shows the rows as a walk
// begun afresh after the change does: a row renamed, one deleted (Deleted on), one appended.
struct ReadAheadCase {
    const char* name;
    const char* tag; // "" record order
    bool descending;
    bool indexed;    // shared: without a production index nothing tells of changes
    bool exclusive;  // the walking area changes the rows itself
};

class XbaseReadAhead : public XbaseSafety, public ::testing::WithParamInterface<ReadAheadCase> {
protected:
    // The rows from the current one's successor to the end, as "recno name".
    static std::vector<std::string> RestOfWalk()
    {
        std::vector<std::string> rows;
        for (vd_Skip(1); !vd_Eof(); vd_Skip(1))
            rows.push_back(std::to_string(vd_RecNo()) + " " + vd_GetTrimString("NAME"));
        return rows;
    }
    void OpenAt(long recno, int mode)
    {
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, mode, 2), 0) << vd_LastErrorText();
        vd_SetDeleted(1);
        vd_SetOrder(*GetParam().tag ? vd_TagArea(GetParam().tag) : 0);
        ASSERT_EQ(vd_Go(recno), 0);
    }
    // Appends a row, last in the order; then, after walking a few rows ahead again, renames the row
    // one step ahead to the last place of the order too and the one 300 steps ahead in its place,
    // and deletes the row two steps ahead.
    static bool Change(long current, int direction)
    {
        const char* last = direction > 0 ? "Z-" : "A-";
        if (vd_AppendBlank() != 0 || vd_Replace("NAME", 1024, (last + std::string("appended")).c_str()) != 0
            || vd_Commit() != 0 || vd_Go(current + 300 * direction) != 0)
            return false;
        std::string renamed = vd_GetTrimString("NAME") + "-renamed";
        if (vd_Go(current) != 0)
            return false;
        for (int i = 0; i < 3; ++i)
            if (vd_Skip(1) != 0)
                return false;
        return vd_Go(current + direction) == 0 && vd_Replace("NAME", 1024, (last + std::string("moved")).c_str()) == 0
               && vd_Go(current + 300 * direction) == 0 && vd_Replace("NAME", 1024, renamed.c_str()) == 0
               && vd_Go(current + 2 * direction) == 0 && vd_Delete() == 0 && vd_Commit() == 0;
    }
};

TEST_P(XbaseReadAhead, TheRestOfAWalkShowsChangesMadeJustAheadOfIt)
{
    const ReadAheadCase& c = GetParam();
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 1; i <= 3000; ++i) {
        char name[16];
        snprintf(name, sizeof name, "N%05d", i); // names follow the record order
        rows.push_back({name, std::to_string(i)});
    }
    ASSERT_TRUE(CreatePhoneBook(table_, rows));
    if (c.indexed) {
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
        ASSERT_GT(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 0);
        ASSERT_GT(vd_IndexTag("", "NAMEDOWN", "NAME", 0, 1, ".not. deleted()"), 0);
        vd_CloseAll();
    }
    const int direction = c.descending ? -1 : 1;
    const long current = c.descending ? 2500 : 500;
    OpenAt(current, c.exclusive ? 2 : 0);
    for (int i = 0; i < 5; ++i) // read ahead from here
        ASSERT_EQ(vd_Skip(1), 0);
    ASSERT_EQ(vd_Go(current), 0);
    ASSERT_EQ(vd_RecNo(), current);
    if (c.exclusive) {
        ASSERT_TRUE(Change(current, direction)) << vd_LastErrorText();
        ASSERT_EQ(vd_Go(current), 0);
    } else {
        pid_t writer = fork();
        if (writer == 0) {
            int area = vd_Use(table_.c_str(), "WRITER", 0, 2);
            _exit(area != 0 && Change(current, direction) && vd_Close() == 0 ? 0 : 1);
        }
        int status = 0;
        waitpid(writer, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    std::vector<std::string> walked = RestOfWalk();
    vd_CloseAll();

    OpenAt(current, 1);
    std::vector<std::string> afresh = RestOfWalk();
    for (const char* change : {"-moved", "-renamed", "-appended"})
        ASSERT_TRUE(std::any_of(afresh.begin(), afresh.end(),
                                [&](const std::string& row) { return row.find(change) != std::string::npos; }))
            << change << " is not in the walk afresh";
    EXPECT_EQ(walked, afresh);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, XbaseReadAhead,
    ::testing::Values(ReadAheadCase{"RecordOrderShared", "", false, true, false},
                      ReadAheadCase{"RecordOrderSharedWithoutAnIndex", "", false, false, false},
                      ReadAheadCase{"RecordOrderExclusive", "", false, true, true},
                      ReadAheadCase{"KeysInRecordOrderShared", "NAME", false, true, false},
                      ReadAheadCase{"KeysInRecordOrderExclusive", "NAME", false, true, true},
                      ReadAheadCase{"KeysAgainstRecordOrderShared", "NAMEDOWN", true, true, false}),
    [](const ::testing::TestParamInfo<ReadAheadCase>& info) { return std::string(info.param.name); });

// What a shared open holds of its index (a descriptor, a page mapped for its header) goes with
// the close: a program opening and closing its tables all day keeps nothing of them.
TEST_F(XbaseSafety, ClosedSharedTablesLeaveNothingOfTheirIndexBehind)
{
    ASSERT_TRUE(CreatePhoneBook(table_, {{"ZULU", "1"}, {"ALPHA", "2"}}));
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    ASSERT_GT(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 0);
    vd_CloseAll();
    auto held = [this] {
        std::string maps = ReadFile("/proc/self/maps"), links;
        if (DIR* d = opendir("/proc/self/fd")) {
            while (dirent* e = readdir(d)) {
                char target[4096];
                ssize_t n = readlink(("/proc/self/fd/" + std::string(e->d_name)).c_str(), target, sizeof target);
                if (n > 0)
                    links.append(target, static_cast<size_t>(n)).push_back('\n');
            }
            closedir(d);
        }
        return (maps + links).find(cdx_) != std::string::npos;
    };
    for (int round = 0; round < 3; ++round) {
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, round % 2, 2), 0);
        vd_SetOrder(1);
        EXPECT_EQ(Walk(), (std::vector<long>{2, 1}));
        vd_CloseAll();
        EXPECT_FALSE(held()) << "round " << round;
    }
}

struct TableDamage {
    const char* name;
    long offset; // in the file
    std::string bytes;
    const char* expected; // in check's description
};

class XbaseDamagedTable : public XbaseSafety, public ::testing::WithParamInterface<TableDamage> {};

TEST_P(XbaseDamagedTable, CheckNamesTheDamage)
{
    ASSERT_TRUE(CreatePhoneBook(table_, {{"A", "1"}, {"B", "2"}, {"C", "3"}}));
    std::string bytes = ReadFile(table_);
    const TableDamage& d = GetParam();
    bytes.replace(d.offset, d.bytes.size(), d.bytes);
    WriteFile(table_, bytes);
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 1, 2), 0);
    std::string where;
    EXPECT_EQ(CheckSelectedIndexes(where), static_cast<int>(Err::CorruptTable));
    EXPECT_NE(where.find(d.expected), std::string::npos) << where;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, XbaseDamagedTable,
    ::testing::Values(TableDamage{"EndOfFileByteOverARecord", 97 + 61, "\x1A", "record 2 has the deletion flag 0x1A"},
                      TableDamage{"StrayDeletionFlag", 97 + 2 * 61, "X", "record 3 has the deletion flag 0x58"},
                      TableDamage{"CountBeyondTheData", 4, std::string("\x09\x00", 2),
                                  "counts 9 records, the file holds 3"}),
    [](const auto& info) { return std::string(info.param.name); });

// A header whose count fell short of the records after it (restored from an older copy, or not
// written by a program that died): in sole use the next append goes after those records, not over
// them.
TEST_F(XbaseSafety, AnAppendAfterAHeaderCountThatFellShortKeepsTheRecordsBeyondIt)
{
    ASSERT_TRUE(CreatePhoneBook(table_, {{"A", "1"}, {"B", "2"}, {"C", "3"}}));
    std::string bytes = ReadFile(table_);
    bytes.replace(4, 4, std::string("\x01\x00\x00\x00", 4));
    WriteFile(table_, bytes);
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0) << vd_LastErrorText();
    EXPECT_EQ(vd_RecCount(), 3);
    ASSERT_EQ(vd_AppendBlank(), 0);
    ASSERT_EQ(vd_Replace("NAME", 1024, "D"), 0);
    ASSERT_EQ(vd_Commit(), 0);
    EXPECT_EQ(vd_RecNo(), 4);
    vd_CloseAll();

    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 1, 2), 0);
    std::vector<std::string> names;
    for (long r : Walk()) {
        vd_Go(r);
        names.push_back(vd_GetTrimString("NAME"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "C", "D"}));
    vd_CloseAll();
    if (Have("/usr/bin/python3")) {
        EXPECT_EQ(DbfreadCounts(), "4 0\n");
    }
}

// ---- production indexes that cannot be opened -------------------------------------------------

struct IndexDamage {
    const char* name;
    std::function<void(const std::string& cdx)> apply;
    Err fault;
};

class XbaseUnusableIndex : public XbaseSafety, public ::testing::WithParamInterface<IndexDamage> {
protected:
    void MakeIndexedTable()
    {
        ASSERT_TRUE(CreatePhoneBook(table_, {{"ZULU", "1"}, {"ALPHA", "2"}}));
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
        ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 1);
        ASSERT_EQ(vd_IndexTag("", "PHONE", "PHONE", 0, 0, ""), 2);
        vd_CloseAll();
    }
};

TEST_P(XbaseUnusableIndex, IsReportedAndRefusesWritesUntilRemoved)
{
    MakeIndexedTable();
    GetParam().apply(cdx_);
    const std::string tableBefore = ReadFile(table_);
    struct stat before {};
    ASSERT_EQ(stat(cdx_.c_str(), &before), 0);
    for (int mode : {0, 2}) {
        ResetEngine();
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, mode, 2), 0) << vd_LastErrorText();
        EXPECT_EQ(vd_SysProp(3001, 0), static_cast<int>(GetParam().fault));
        EXPECT_NE(SelectedIndexFault().find("ZNPB.CDX"), std::string::npos);
        std::string where;
        EXPECT_NE(CheckSelectedIndexes(where), 0);
        EXPECT_NE(where.find("index " + cdx_), std::string::npos) << where;
        // Writes of every kind fail instead of leaving the index stale.
        EXPECT_NE(vd_AppendBlank(), 0);
        vd_Go(1);
        vd_Replace("NAME", 1024, "CHANGED");
        EXPECT_NE(vd_Commit(), 0);
        EXPECT_NE(vd_Pack(), 0);
        // A new tag does not replace the file and with it the tags in it.
        EXPECT_EQ(vd_IndexTag("", "NEW", "PHONE", 0, 0, ""), 0);
        vd_CloseAll();
        EXPECT_EQ(ReadFile(table_), tableBefore);
        struct stat after {};
        ASSERT_EQ(stat(cdx_.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mtime, before.st_mtime);
    }
    // The program's rebuild: the file deleted, then every tag built again.
    ResetEngine();
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    vd_CloseIndexes();
    ASSERT_EQ(std::system(("rm -rf '" + cdx_ + "'").c_str()), 0);
    EXPECT_EQ(vd_SysProp(3001, 0), 0);
    EXPECT_EQ(vd_AppendBlank(), 0);
    EXPECT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 1);
    EXPECT_EQ(vd_IndexTag("", "PHONE", "PHONE", 0, 0, ""), 2);
    std::string where;
    EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
}

void Overwrite(const std::string& path, long offset, const std::string& bytes)
{
    std::string content = ReadFile(path);
    content.replace(offset, bytes.size(), bytes);
    WriteFile(path, content);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, XbaseUnusableIndex,
    ::testing::Values(IndexDamage{"HalfWritten",
                                  [](const std::string& c) { Overwrite(c, 480, std::string("\x01", 1)); },
                                  Err::CorruptIndex},
                      IndexDamage{"Truncated", [](const std::string& c) { WriteFile(c, ReadFile(c).substr(0, 700)); },
                                  Err::CorruptIndex},
                      IndexDamage{"Garbled", [](const std::string& c) { Overwrite(c, 12, std::string("\x00\x00", 2)); },
                                  Err::CorruptIndex},
                      IndexDamage{"NotAFile",
                                  [](const std::string& c) {
                                      unlink(c.c_str());
                                      mkdir(c.c_str(), 0755);
                                  },
                                  Err::FileOpen}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(XbaseSafety, AnIndexThatCannotBeWrittenGivesItsOrdersAndRefusesWrites)
{
    ASSERT_TRUE(CreatePhoneBook(table_, {{"ZULU", "1"}, {"ALPHA", "2"}}));
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 1);
    vd_CloseAll();
    chmod(dir_.Path().c_str(), 0777);
    chmod(table_.c_str(), 0666);
    chmod(cdx_.c_str(), 0444);
    const std::string before = ReadFile(table_);
    int failed = AsOrdinaryUser([this] {
        int failures = 0;
        if (!vd_Use(table_.c_str(), nullptr, 0, 2))
            return 50;
        failures += vd_SysProp(3001, 0) == static_cast<int>(Err::ReadOnly) ? 0 : 1;
        vd_SetOrder(1);
        failures += Walk() == std::vector<long>{2, 1} ? 0 : 1;
        failures += vd_AppendBlank() != 0 ? 0 : 1;
        vd_Go(1);
        vd_Replace("NAME", 1024, "AAA");
        failures += vd_Commit() != 0 ? 0 : 1;
        vd_CloseAll();
        return failures;
    });
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(ReadFile(table_), before);
}

// A FIFO where the table or its index should be is refused at once, not waited on.
TEST_F(XbaseSafety, AFifoInPlaceOfTheTableOrItsIndexIsRefused)
{
    ASSERT_EQ(mkfifo(table_.c_str(), 0600), 0);
    for (int mode : {0, 1, 2}) {
        EXPECT_EQ(vd_Use(table_.c_str(), nullptr, mode, 2), 0) << mode;
        EXPECT_EQ(vd_LastError(), static_cast<int>(Err::FileOpen));
    }
    ASSERT_EQ(unlink(table_.c_str()), 0);
    ASSERT_TRUE(CreatePhoneBook(table_, {{"A", "1"}}));
    ASSERT_EQ(mkfifo(cdx_.c_str(), 0600), 0);
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 1, 2), 0);
    EXPECT_EQ(vd_SysProp(3001, 0), static_cast<int>(Err::FileOpen));
    EXPECT_EQ(Walk(), std::vector<long>{1});
}

// ---- planted links ----------------------------------------------------------------------------

TEST_F(XbaseSafety, LinksPlantedBesideTheTableAreNeitherFollowedNorPutInPlace)
{
    ASSERT_TRUE(CreatePhoneBook(table_, {{"ZULU", "1"}, {"ALPHA", "2"}, {"MIKE", "3"}}));
    WriteFile(dir_ / "victim", "precious");
    for (const char* name : {"ZNPB.DBF.new", "ZNPB.CDX.new", "NEW.DBF.new"})
        ASSERT_EQ(symlink((dir_ / "victim").c_str(), (dir_ / name).c_str()), 0);
    // A dangling link where the production index is to be made.
    ASSERT_EQ(symlink((dir_ / "made-by-the-link").c_str(), cdx_.c_str()), 0);

    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    EXPECT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ""), 0) << "the link's target is not created";
    EXPECT_NE(access((dir_ / "made-by-the-link").c_str(), F_OK), 0);
    ASSERT_EQ(unlink(cdx_.c_str()), 0);
    ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ""), 1);
    vd_Go(2);
    vd_Delete();
    ASSERT_EQ(vd_Pack(), 0);
    EXPECT_EQ(vd_RecCount(), 2);
    vd_CloseAll();
    ASSERT_TRUE(CreateTable(dir_ / "NEW.DBF", {{"A", "C", 5, 0}}));

    EXPECT_EQ(ReadFile(dir_ / "victim"), "precious");
    for (const std::string& path : {table_, cdx_, dir_ / "NEW.DBF"}) {
        struct stat st {};
        ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << path << " became a link";
    }
    std::vector<std::string> left = Temporaries();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"NEW.DBF.new", "ZNPB.CDX.new", "ZNPB.DBF.new"}))
        << "nothing but the planted links is left beside the table";
}

} // namespace
} // namespace zn::xbase::test
