// Counting the rows a view or a condition lets through: from a tag when one holds exactly those
// rows, else by reading the table; and commits that are on disk when they return.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "xbase_test_util.h"

namespace {

// Every fdatasync of this process, by the file it was made on, in order.
std::mutex syncLock;
std::vector<std::string> syncedFiles;

// The files synced since the last call.
std::vector<std::string> TakeSynced()
{
    std::lock_guard<std::mutex> g(syncLock);
    std::vector<std::string> out;
    out.swap(syncedFiles);
    return out;
}

} // namespace

extern "C" int fdatasync(int fd)
{
    char link[64], target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    {
        std::lock_guard<std::mutex> g(syncLock);
        syncedFiles.push_back(n > 0 ? std::string(target, size_t(n)) : std::string());
    }
    return static_cast<int>(syscall(SYS_fdatasync, fd));
}

namespace zn::xbase::test {
namespace {

struct Row {
    bool archived;
    bool deleted;
};

// Rows with every mix of archived and deleted, in an irregular pattern.
std::vector<Row> Rows(int n)
{
    std::vector<Row> rows;
    for (int i = 0; i < n; ++i)
        rows.push_back({i % 3 == 0 || i % 7 == 0, i % 5 == 1});
    return rows;
}

class XbaseCount : public ::testing::Test {
protected:
    void SetUp() override { ResetEngine(); }
    void TearDown() override { ResetEngine(); }

    void MakeTable(const std::vector<Row>& rows)
    {
        ASSERT_TRUE(CreateTable(table_, {{"SUBJECT", "C", 20, 0}, {"ARCHIVED", "L", 1, 0}}));
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
        for (size_t i = 0; i < rows.size(); ++i) {
            ASSERT_EQ(vd_AppendBlank(), 0);
            vd_Replace("SUBJECT", 1024, ("fax " + std::to_string(i)).c_str());
            vd_Replace("ARCHIVED", 128, rows[i].archived);
            if (rows[i].deleted)
                vd_Delete();
        }
        ASSERT_EQ(vd_Commit(), 0);
    }

    static long Expected(const std::vector<Row>& rows, bool hideDeleted, int archived /* -1 any */)
    {
        return static_cast<long>(std::count_if(rows.begin(), rows.end(), [&](const Row& r) {
            if (hideDeleted && r.deleted)
                return false;
            return archived < 0 || r.archived == (archived == 1);
        }));
    }

    // Flips ARCHIVED of record `recno` in the file behind the engine's back: its tags no longer
    // agree with the table, so a count read from a tag and one read from the table differ.
    void FlipArchivedOnDisk(long recno)
    {
        int fd = open(table_.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        uint8_t h[12];
        ASSERT_EQ(pread(fd, h, sizeof h, 0), 12);
        long headerLength = h[8] | (h[9] << 8), recordLength = h[10] | (h[11] << 8);
        off_t at = headerLength + (recno - 1) * recordLength + 1 + 20;
        char c = 0;
        ASSERT_EQ(pread(fd, &c, 1, at), 1);
        c = c == 'T' ? 'F' : 'T';
        ASSERT_EQ(pwrite(fd, &c, 1, at), 1);
        close(fd);
    }

    ScratchFolder dir_;
    std::string table_ = dir_ / "ZNOUT.DBF";
};

// A filter, the Deleted setting and the tags present; the count must always be the rows'.
struct Case {
    const char* name;
    bool hideDeleted;
    const char* filter; // null: none
    int archived;       // what the filter asks: -1 any, 0 not archived, 1 archived
    const char* tagKey; // null: no tag
    const char* tagFor;
    bool served; // the tag holds exactly the rows asked for
};

class XbaseCountCases : public XbaseCount, public ::testing::WithParamInterface<Case> {};

TEST_P(XbaseCountCases, CountsTheRowsTheViewLetsThroughAndReadsThemFromAServingTag)
{
    const Case& c = GetParam();
    std::vector<Row> rows = Rows(503);
    MakeTable(rows);
    if (c.tagKey) {
        ASSERT_GT(vd_IndexTag("", "T1", c.tagKey, 0, 0, c.tagFor), 0);
    }
    vd_SetOrder(0);
    vd_SetDeleted(c.hideDeleted);
    ASSERT_EQ(vd_Query(c.filter), 0);
    ASSERT_EQ(vd_Go(17), 0);
    long expected = Expected(rows, c.hideDeleted, c.archived);
    EXPECT_EQ(vd_QueryRecCount(), expected);
    EXPECT_EQ(vd_RecNo(), 17) << "the count moved the record pointer";
    EXPECT_EQ(CountRowsMatching(c.filter), expected);

    // Made stale on purpose: a count from the tag still sees record 5 as it was (not archived and
    // not deleted), a count from the table sees the change.
    ASSERT_FALSE(rows[4].archived || rows[4].deleted);
    vd_CloseAll();
    FlipArchivedOnDisk(5);
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    vd_SetOrder(0);
    ASSERT_EQ(vd_Query(c.filter), 0);
    rows[4].archived = true;
    long fromTable = Expected(rows, c.hideDeleted, c.archived);
    EXPECT_EQ(vd_QueryRecCount(), c.served ? expected : fromTable);
}

INSTANTIATE_TEST_SUITE_P(
    Views, XbaseCountCases,
    ::testing::Values(
        Case{"ArchiveTagDeletedHidden", true, ".not. archived", 0, "ARCHIVED", ".not. deleted()", true},
        Case{"ArchiveTagOtherSpelling", true, "!ARCHIVED", 0, "ARCHIVED", "!deleted()", true},
        Case{"ArchiveTagArchivedRows", true, "(archived)", 1, "ARCHIVED", ".NOT. DELETED()", true},
        Case{"ArchiveTagDeletedShownCannotServe", false, ".not. archived", 0, "ARCHIVED", ".not. deleted()", false},
        Case{"PlainTagDeletedShown", false, ".not. archived", 0, "ARCHIVED", "", true},
        Case{"PlainTagDeletedHiddenCannotServe", true, ".not. archived", 0, "ARCHIVED", "", false},
        Case{"ForTagMatchingTheFilter", true, ".not. archived", 0, "SUBJECT", ".not. archived .and. .not. deleted()",
             true},
        Case{"ForTagInOtherOrder", true, ".not. deleted() .and. .not. archived", 0, "UPPER(SUBJECT)",
             "(.not. archived) .and. .not. deleted()", true},
        Case{"ForTagNarrowerThanAsked", true, nullptr, -1, "SUBJECT", ".not. archived .and. .not. deleted()", false},
        Case{"TextTagCannotTestTheFilter", true, ".not. archived", 0, "SUBJECT", ".not. deleted()", false},
        Case{"NoTag", true, ".not. archived", 0, nullptr, "", false},
        Case{"NoFilterDeletedTag", true, nullptr, -1, "SUBJECT", ".not. deleted()", true}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

// Tables large enough for a tag of three levels, the archived rows laid out so that the run of
// each key starts and ends anywhere in the tree: counts read from the tag agree with the rows
// before and after rows change, and they come from the tag (a change behind its back is unseen).
struct Layout {
    const char* name;
    bool (*archived)(int i, int n);
};

void PrintTo(const Layout& layout, std::ostream* out) { *out << layout.name; }

class XbaseCountLayouts : public XbaseCount, public ::testing::WithParamInterface<Layout> {};

TEST_P(XbaseCountLayouts, CountsFromALargeTagMatchTheRows)
{
    constexpr int kRows = 30000;
    std::vector<Row> rows;
    for (int i = 0; i < kRows; ++i)
        rows.push_back({GetParam().archived(i, kRows), i % 11 == 4});
    MakeTable(rows);
    ASSERT_GT(vd_IndexTag("", "ARCHIVED", "ARCHIVED", 0, 0, ".not. deleted()"), 0);
    vd_SetOrder(0);
    vd_SetDeleted(1);
    ASSERT_EQ(vd_Query(".not. archived"), 0);
    auto expectCounts = [&](const char* when) {
        EXPECT_EQ(vd_QueryRecCount(), Expected(rows, true, 0)) << when;
        EXPECT_EQ(CountRowsMatching("archived"), Expected(rows, true, 1)) << when;
        EXPECT_EQ(CountRowsMatching(""), Expected(rows, true, -1)) << when;
    };
    expectCounts("after the build");

    // Rows change sides in a spread over the table: the tag's pages split and merge.
    for (int i = 5; i < kRows; i += 37) {
        if (rows[size_t(i)].deleted)
            continue;
        ASSERT_EQ(vd_Go(i + 1), 0);
        rows[size_t(i)].archived = !rows[size_t(i)].archived;
        vd_Replace("ARCHIVED", 128, rows[size_t(i)].archived);
    }
    expectCounts("before the commit");
    ASSERT_EQ(vd_Commit(), 0);
    expectCounts("after the commit");

    vd_CloseAll();
    ASSERT_FALSE(rows[2].deleted);
    FlipArchivedOnDisk(3);
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    vd_SetOrder(0);
    ASSERT_EQ(vd_Query(".not. archived"), 0);
    expectCounts("with a row changed behind the tag");
}

INSTANTIATE_TEST_SUITE_P(Tags, XbaseCountLayouts,
                         ::testing::Values(Layout{"RunsOfManyLengths",
                                                  [](int i, int) { return (i / 7 + i / 1000) % 3 == 0; }},
                                           Layout{"Scattered", [](int i, int) { return i % 3 == 0 || i % 7 == 0; }},
                                           Layout{"NoneArchived", [](int, int) { return false; }},
                                           Layout{"AllArchived", [](int, int) { return true; }},
                                           Layout{"OnlyTheFirstRows", [](int i, int) { return i < 3; }},
                                           Layout{"AllButTheLastRows", [](int i, int n) { return i < n - 3; }}),
                         [](const ::testing::TestParamInfo<Layout>& info) { return info.param.name; });

TEST_F(XbaseCount, CountsFromATagFollowWritesNotYetCommitted)
{
    std::vector<Row> rows = Rows(200);
    MakeTable(rows);
    ASSERT_GT(vd_IndexTag("", "ARCHIVED", "ARCHIVED", 0, 0, ".not. deleted()"), 0);
    vd_SetDeleted(1);
    vd_SetOrder(0);
    ASSERT_EQ(vd_Query(".not. archived"), 0);
    // New rows, an archived row brought back, a live row deleted: none committed yet.
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(vd_AppendBlank(), 0);
        vd_Replace("ARCHIVED", 128, i % 2 == 0);
        rows.push_back({i % 2 == 0, false});
    }
    ASSERT_TRUE(rows[0].archived && !rows[0].deleted);
    ASSERT_EQ(vd_Go(1), 0);
    vd_Replace("ARCHIVED", 128, false);
    rows[0].archived = false;
    ASSERT_TRUE(!rows[2].archived && !rows[2].deleted);
    ASSERT_EQ(vd_Go(3), 0);
    vd_Delete();
    rows[2].deleted = true;
    EXPECT_EQ(vd_QueryRecCount(), Expected(rows, true, 0));
    EXPECT_EQ(CountRowsMatching("archived"), Expected(rows, true, 1));
    EXPECT_EQ(CountRowsMatching(""), Expected(rows, true, -1));
}

TEST_F(XbaseCount, ScopeAndOrderConditionLimitTheView)
{
    std::vector<Row> rows = Rows(120);
    MakeTable(rows);
    ASSERT_GT(vd_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, 0, ".not. archived"), 0);
    vd_SetDeleted(0);
    // The order's FOR condition counts as part of the view.
    EXPECT_EQ(vd_QueryRecCount(), Expected(rows, false, 0));
    // The scope too: subjects "FAX 1" .. "FAX 1zzz" are fax 1, 10..19, 100..119.
    ASSERT_EQ(vd_SetScope("FAX 1", "FAX 1zzz"), 0);
    long inScope = 0;
    for (int i = 0; i < 120; ++i)
        if (std::to_string(i)[0] == '1' && !rows[size_t(i)].archived)
            ++inScope;
    EXPECT_EQ(vd_QueryRecCount(), inScope);
    // A condition count ignores both.
    EXPECT_EQ(CountRowsMatching("archived"), Expected(rows, false, 1));
}

TEST_F(XbaseCount, BadConditionsFailWithTheEnginesError)
{
    MakeTable(Rows(10));
    EXPECT_EQ(CountRowsMatching("subject"), -1);
    EXPECT_EQ(vd_LastError(), static_cast<int>(Err::ExprType));
    EXPECT_EQ(CountRowsMatching("archived .and."), -1);
    EXPECT_EQ(vd_LastError(), static_cast<int>(Err::ExprSyntax));
    vd_CloseAll();
    EXPECT_EQ(CountRowsMatching("archived"), -1);
}

class XbaseCommit : public XbaseCount, public ::testing::WithParamInterface<int> {};

TEST_P(XbaseCommit, PutsTableThenIndexOnDisk)
{
    MakeTable(Rows(20));
    vd_CloseAll();
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, GetParam(), 2), 0);
    ASSERT_GT(vd_IndexTag("", "ARCHIVED", "ARCHIVED", 0, 0, ".not. deleted()"), 0);
    TakeSynced();
    ASSERT_EQ(vd_AppendBlank(), 0);
    vd_Replace("ARCHIVED", 128, true);
    ASSERT_EQ(vd_Commit(), 0);
    std::vector<std::string> synced = TakeSynced();
    std::string dbf = table_, cdx = dir_ / "ZNOUT.CDX";
    auto first = [&](const std::string& f) { return std::find(synced.begin(), synced.end(), f) - synced.begin(); };
    ASSERT_LT(size_t(first(dbf)), synced.size()) << "the table was not synced";
    ASSERT_LT(size_t(first(cdx)), synced.size()) << "the index was not synced";
    EXPECT_LT(first(dbf), first(cdx)) << "the keys reached the disk before the records they point at";

    // Nothing written since: a second commit syncs nothing.
    ASSERT_EQ(vd_Commit(), 0);
    EXPECT_TRUE(TakeSynced().empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, XbaseCommit, ::testing::Values(0, 2),
                         [](const ::testing::TestParamInfo<int>& info) { return info.param ? "Exclusive" : "Shared"; });

} // namespace
} // namespace zn::xbase::test
