// The engine through its entry points: tables, navigation, orders, filters, seek, pack, sharing.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "xbase_diagnostics.h"
#include "xbase_test_util.h"

namespace zn::xbase::test {
namespace {

class XbaseEngine : public ::testing::Test {
protected:
    void SetUp() override { ResetEngine(); }
    void TearDown() override { ResetEngine(); }

    // ZNOUT's layout with a few rows: subject, date sent (blank = unsent), time, archived.
    void MakeOutgoing(const std::vector<std::tuple<std::string, std::string, std::string, bool>>& rows)
    {
        ASSERT_TRUE(CreateTable(table_, {{"SUBJECT", "C", 50, 0},
                                         {"DATESENT", "D", 8, 0},
                                         {"TIMESENT", "C", 5, 0},
                                         {"RECIPIENT", "C", 35, 0},
                                         {"PHONE", "C", 25, 0},
                                         {"LASTRESULT", "C", 100, 0},
                                         {"FAXDOC", "C", 12, 0},
                                         {"FAXCOVER", "C", 12, 0},
                                         {"NOTES", "C", 50, 0},
                                         {"CODES", "C", 25, 0},
                                         {"ARCHIVED", "L", 1, 0}}));
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
        for (const auto& [subject, date, time, archived] : rows) {
            ASSERT_EQ(vd_AppendBlank(), 0);
            vd_Replace("SUBJECT", 1024, subject.c_str());
            vd_Replace("DATESENT", 1024, date.c_str());
            vd_Replace("TIMESENT", 1024, time.c_str());
            vd_Replace("ARCHIVED", 128, archived);
        }
        ASSERT_EQ(vd_Commit(), 0);
    }

    void BuildOpeningTags()
    {
        EXPECT_EQ(vd_IndexTag("", "DATESENT", "DTOS(DATESENT)+TIMESENT", 0, 1, ".not. deleted()"), 1);
        EXPECT_EQ(vd_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, 0, ".not. deleted()"), 2);
        EXPECT_EQ(vd_IndexTag("", "RECIPIENT", "UPPER(RECIPIENT)", 0, 0, ".not. deleted()"), 3);
        EXPECT_EQ(vd_IndexTag("", "CODES", "UPPER(CODES)", 0, 0, ".not. deleted()"), 4);
        EXPECT_EQ(vd_IndexTag("", "ARCHIVED", "ARCHIVED", 0, 0, ".not. deleted()"), 5);
    }

    ScratchFolder dir_;
    std::string table_ = dir_ / "ZNOUT.DBF";
};

TEST_F(XbaseEngine, CreatedTableReportsItsFields)
{
    MakeOutgoing({});
    EXPECT_EQ(vd_FieldCount(), 11);
    EXPECT_EQ(vd_FieldName(2), "DATESENT");
    EXPECT_EQ(vd_FieldType(11), "L");
    EXPECT_EQ(vd_FieldWidth(6), 100);
    EXPECT_EQ(vd_FieldOffset(1), 1);
    EXPECT_EQ(vd_FieldOffset(2), 51);
    EXPECT_EQ(vd_FieldNum("recipient"), 4);
    EXPECT_EQ(vd_RecSize(), 1 + 50 + 8 + 5 + 35 + 25 + 100 + 12 + 12 + 50 + 25 + 1);
    EXPECT_EQ(vd_RecCount(), 0);
    EXPECT_TRUE(vd_Eof());
    EXPECT_TRUE(vd_Bof());
    EXPECT_EQ(vd_RecNo(), 1); // RecCount + 1
}

TEST_F(XbaseEngine, RejectsBadFieldDefinitions)
{
    EXPECT_FALSE(CreateTable(dir_ / "A.DBF", {{"NAME", "C", 0, 0}}));
    EXPECT_FALSE(CreateTable(dir_ / "B.DBF", {{"NAME", "X", 5, 0}}));
    EXPECT_FALSE(CreateTable(dir_ / "C.DBF", {{"1NAME", "C", 5, 0}}));
    EXPECT_FALSE(CreateTable(dir_ / "D.DBF", {{"NAME", "C", 5, 0}, {"name", "C", 5, 0}}));
    EXPECT_FALSE(CreateTable(dir_ / "E.DBF", {{"AMOUNT", "N", 21, 0}}));
}

TEST_F(XbaseEngine, ValuesRoundTripThroughTheFile)
{
    ASSERT_TRUE(CreateTable(
        table_,
        {{"NAME", "C", 10, 0}, {"BORN", "D", 8, 0}, {"OK", "L", 1, 0}, {"PAGES", "N", 2, 0}, {"AMOUNT", "N", 8, 2}}));
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    vd_AppendBlank();
    EXPECT_EQ(vd_Replace("NAME", 1024, "a name that is too long"), 0);
    EXPECT_EQ(vd_Replace("BORN", 1056, "07/04/96"), 0);
    EXPECT_EQ(vd_Replace("OK", 128, true), 0);
    EXPECT_EQ(vd_Replace("PAGES", 1024, "12"), 0);
    EXPECT_EQ(vd_Replace("AMOUNT", 8, -3.14159), 0);
    EXPECT_EQ(vd_Replace("PAGES", 1024, "123"), static_cast<int>(Err::ValueTooWide));
    vd_Close();
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 1, 2), 0);
    EXPECT_EQ(vd_GetString("NAME"), "a name tha");
    EXPECT_EQ(vd_GetString("BORN"), "19960704");
    EXPECT_EQ(vd_GetDateString("BORN"), "07/04/96");
    vd_SetCentury(1);
    vd_SetDateFormat(4);
    EXPECT_EQ(vd_GetDateString("BORN"), "04.07.1996");
    EXPECT_EQ(vd_GetLogical("OK"), 1);
    EXPECT_EQ(vd_GetString("PAGES"), "12");
    EXPECT_EQ(vd_GetString("AMOUNT"), "   -3.14");
    EXPECT_EQ(vd_GetTrimString("NAME"), "a name tha");
    EXPECT_EQ(vd_Replace("NAME", 1024, "x"), static_cast<int>(Err::ReadOnly));
}

TEST_F(XbaseEngine, NavigationHonoursTheDeletedSettingAndTheFilter)
{
    MakeOutgoing({{"one", "", "", false}, {"two", "", "", true}, {"three", "", "", false}, {"four", "", "", true}});
    vd_Go(3);
    vd_Delete();
    EXPECT_EQ(Walk(), (std::vector<long>{1, 2, 3, 4}));
    vd_SetDeleted(1);
    EXPECT_EQ(Walk(), (std::vector<long>{1, 2, 4}));
    EXPECT_EQ(WalkBack(), (std::vector<long>{4, 2, 1}));
    ASSERT_EQ(vd_Query(".not. ARCHIVED"), 0);
    EXPECT_EQ(vd_DBFilter(), ".not. ARCHIVED");
    EXPECT_EQ(Walk(), (std::vector<long>{1}));
    EXPECT_EQ(vd_QueryRecCount(), 1);
    vd_Skip(1);
    EXPECT_TRUE(vd_Eof());
    EXPECT_EQ(vd_RecNo(), vd_RecCount() + 1);
    vd_GoTop();
    vd_Skip(-1);
    EXPECT_TRUE(vd_Bof());
    EXPECT_EQ(vd_RecNo(), 1);
    ASSERT_EQ(vd_Query(nullptr), 0);
    EXPECT_EQ(vd_QueryRecCount(), 3);
    EXPECT_NE(vd_Query(".not. NOSUCHFIELD"), 0);
}

TEST_F(XbaseEngine, EmptyFilteredViewIsAtBothEnds)
{
    MakeOutgoing({{"one", "", "", true}});
    vd_Query(".not. archived");
    vd_GoTop();
    EXPECT_TRUE(vd_Eof());
    EXPECT_TRUE(vd_Bof());
    EXPECT_EQ(vd_RecNo(), 2);
    EXPECT_EQ(vd_QueryRecCount(), 0);
}

TEST_F(XbaseEngine, TagsGetOrdersInBuildOrderAndSortTheirKeys)
{
    MakeOutgoing({{"Charlie", "20240102", "10:00", false},
                  {"alpha", "", "", false},
                  {"Bravo", "20240102", "09:00", true},
                  {"delta", "20231231", "23:59", false}});
    BuildOpeningTags();
    EXPECT_EQ(vd_SysProp(3000, 0), 5);
    EXPECT_EQ(vd_TagName(1), "DATESENT");
    EXPECT_EQ(vd_TagName(5), "ARCHIVED");
    EXPECT_EQ(vd_TagName(6), "");
    EXPECT_EQ(vd_TagArea("subject"), 2);
    EXPECT_EQ(vd_TagArea("DATEND"), 0);
    EXPECT_EQ(vd_IndexKey(2), "UPPER(SUBJECT)");
    EXPECT_EQ(SelectedIndexCondition(2), ".not. deleted()");
    EXPECT_TRUE(SelectedIndexDescending(1));

    vd_SetOrder(2);
    EXPECT_EQ(Walk(), (std::vector<long>{2, 3, 1, 4}));
    EXPECT_EQ(WalkBack(), (std::vector<long>{4, 1, 3, 2}));
    // Descending: newest first, the unsent (blank date) last.
    vd_SetOrder(1);
    EXPECT_EQ(Walk(), (std::vector<long>{1, 3, 4, 2}));
    EXPECT_EQ(WalkBack(), (std::vector<long>{2, 4, 3, 1}));
    vd_SetOrder(5);
    EXPECT_EQ(Walk(), (std::vector<long>{1, 2, 4, 3}));
    EXPECT_EQ(vd_SetOrder(0), 5);
    EXPECT_EQ(Walk(), (std::vector<long>{1, 2, 3, 4}));
    std::string where;
    EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
}

TEST_F(XbaseEngine, ATagBuiltAgainKeepsItsOrder)
{
    MakeOutgoing({{"b", "", "", false}, {"a", "", "", true}});
    BuildOpeningTags();
    EXPECT_EQ(vd_IndexTag("", "subject", "UPPER(SUBJECT)+NOTES", 0, 1, ""), 2);
    EXPECT_EQ(vd_TagName(2), "SUBJECT");
    EXPECT_EQ(vd_IndexKey(2), "UPPER(SUBJECT)+NOTES");
    EXPECT_EQ(Walk(), (std::vector<long>{1, 2}));
    vd_Close();
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 1, 2), 0);
    EXPECT_EQ(vd_SysProp(3000, 0), 5);
    EXPECT_EQ(vd_TagArea("SUBJECT"), 2);
    EXPECT_EQ(vd_TagArea("ARCHIVED"), 5);
    std::string where;
    EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
}

// Keys beyond the sorting memory go through merged runs; the tag must come out the same.
TEST_F(XbaseEngine, IndexBuildLargerThanItsSortingMemory)
{
    ASSERT_TRUE(CreateTable(table_, {{"TEXT", "C", 120, 0}}));
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    for (int i = 0; i < 200000; ++i) {
        vd_AppendBlank();
        std::string text = std::string(100, 'x') + std::to_string((i * 7919) % 200000);
        vd_Replace("TEXT", 1024, text.c_str());
    }
    ASSERT_EQ(vd_IndexTag("", "TEXT", "TEXT", 0, 0, ""), 1);
    std::string where;
    EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
    std::string previous;
    long seen = 0;
    for (vd_GoTop(); !vd_Eof(); vd_Skip(1), ++seen) {
        std::string text = vd_GetString("TEXT");
        ASSERT_LE(previous, text);
        previous = text;
    }
    EXPECT_EQ(seen, 200000);
}

TEST_F(XbaseEngine, DescendingFlagKeepsEveryUnsentFax)
{
    MakeOutgoing({{"a", "", "", false}, {"b", "", "", false}, {"c", "", "", false}});
    EXPECT_EQ(vd_IndexTag("", "DATESENT", "DTOS(DATESENT)+TIMESENT", 0, 1, ".not. deleted()"), 1);
    EXPECT_EQ(vd_IndexTag("", "DATEND", "DTOS(DATESENT)+TIMESENT", 0, 0, ".not. deleted()"), 2);
    vd_SetOrder(1);
    EXPECT_EQ(Walk(), (std::vector<long>{3, 2, 1}));
    vd_SetOrder(2);
    EXPECT_EQ(Walk(), (std::vector<long>{1, 2, 3}));
}

TEST_F(XbaseEngine, WritesKeepEveryTagCurrent)
{
    MakeOutgoing({{"mike", "", "", false}, {"bravo", "", "", false}, {"x-ray", "", "", false}});
    BuildOpeningTags();
    vd_SetOrder(2);
    vd_Go(1);
    vd_Replace("SUBJECT", 1024, "alpha");
    vd_Go(3);
    vd_Delete();
    vd_AppendBlank();
    vd_Replace("SUBJECT", 1024, "charlie");
    vd_Replace("DATESENT", 1024, "20250101");
    vd_Commit();
    EXPECT_EQ(Walk(), (std::vector<long>{1, 2, 4})); // the deleted row left the FOR tag
    vd_Go(3);
    vd_Recall();
    vd_Commit();
    EXPECT_EQ(Walk(), (std::vector<long>{1, 2, 4, 3}));
    std::string where;
    EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
}

TEST_F(XbaseEngine, SkipFollowsARecordWhoseKeyChanged)
{
    MakeOutgoing({{"a", "", "", false}, {"c", "", "", false}, {"e", "", "", false}});
    vd_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, 0, ".not. deleted()");
    vd_GoTop();
    vd_Replace("SUBJECT", 1024, "d"); // record 1 moves between c and e
    vd_Skip(1);
    EXPECT_EQ(vd_RecNo(), 3);
    vd_Skip(-2);
    EXPECT_EQ(vd_RecNo(), 2);
}

TEST_F(XbaseEngine, SeekSoftSeekExactAndScope)
{
    MakeOutgoing(
        {{"SMITH", "", "", false}, {"ADAMS", "", "", false}, {"SMYTHE", "", "", false}, {"JONES", "", "", false}});
    vd_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, 0, ".not. deleted()");
    EXPECT_EQ(vd_Seek("SMY"), 1);
    EXPECT_EQ(vd_RecNo(), 3);
    EXPECT_EQ(vd_KeyData().substr(0, 6), "SMYTHE");
    EXPECT_EQ(vd_Seek("BAKER"), 0);
    EXPECT_TRUE(vd_Eof());
    vd_SetSoftSeek(1);
    EXPECT_EQ(vd_Seek("BAKER"), 0);
    EXPECT_EQ(vd_RecNo(), 4);
    vd_SetSoftSeek(0);
    vd_SetExact(1);
    EXPECT_EQ(vd_Seek("SMY"), 0);
    EXPECT_EQ(vd_Seek("SMITH"), 1);
    vd_SetExact(0);
    ASSERT_EQ(vd_SetScope("B", "SMITH"), 0);
    EXPECT_EQ(Walk(), (std::vector<long>{4, 1}));
    EXPECT_EQ(vd_QueryRecCount(), 2);
    vd_SetScope(nullptr, nullptr);
    EXPECT_EQ(Walk(), (std::vector<long>{2, 4, 1, 3}));
    vd_SetOrder(0);
    EXPECT_EQ(vd_Seek("SMITH"), 0);
    EXPECT_EQ(vd_LastError(), static_cast<int>(Err::NoOrder));
}

TEST_F(XbaseEngine, SeekOnDescendingDateTagFindsTheFirstInItsOrder)
{
    MakeOutgoing({{"a", "20240101", "08:00", false}, {"b", "20240101", "09:00", false}, {"c", "20230101", "", false}});
    vd_IndexTag("", "DATESENT", "DTOS(DATESENT)+TIMESENT", 0, 1, ".not. deleted()");
    EXPECT_EQ(vd_Seek("20240101"), 1);
    EXPECT_EQ(vd_RecNo(), 2);
    vd_Skip(1);
    EXPECT_EQ(vd_RecNo(), 1);
}

TEST_F(XbaseEngine, PackDropsDeletedRowsAndRebuildsTags)
{
    MakeOutgoing({{"d", "", "", false}, {"c", "", "", false}, {"b", "", "", false}, {"a", "", "", false}});
    BuildOpeningTags();
    vd_Go(2);
    vd_Delete();
    vd_Go(4);
    vd_Delete();
    std::vector<int> progress;
    vd_SetGaugeHook([&progress](int p) { progress.push_back(p); });
    ASSERT_EQ(vd_Pack(), 0);
    EXPECT_EQ(vd_RecCount(), 2);
    EXPECT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::all_of(progress.begin(), progress.end(), [](int p) { return p >= 0 && p <= 100; }));
    EXPECT_EQ(vd_SysProp(3000, 0), 5);
    vd_SetOrder(2);
    EXPECT_EQ(Walk(), (std::vector<long>{2, 1}));
    vd_GoTop();
    EXPECT_EQ(vd_GetTrimString("SUBJECT"), "b");
    std::string where;
    EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
    vd_Close();
    EXPECT_TRUE(TemporariesOf(table_).empty());
}

// A disk that fills while the indexes are rebuilt fails the pack and leaves no half-built index
// file beside the table.
TEST_F(XbaseEngine, PackThatRunsOutOfSpaceLeavesNoTemporaryIndex)
{
    MakeOutgoing({{"d", "", "", false}, {"c", "", "", false}, {"b", "", "", false}, {"a", "", "", false}});
    BuildOpeningTags();
    vd_Go(2);
    vd_Delete();
    ASSERT_EQ(vd_Commit(), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Room for the packed table, not for the rebuilt index.
        const rlimit limit{3000, 3000};
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(vd_Pack() == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(access((dir_ / "ZNOUT.CDX").c_str(), F_OK), 0);
    EXPECT_TRUE(TemporariesOf(dir_ / "ZNOUT.CDX").empty());
    EXPECT_TRUE(TemporariesOf(table_).empty());
    // The table is packed; the old index, marked as being rewritten, is not trusted.
    vd_CloseAll();
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    EXPECT_EQ(vd_RecCount(), 3);
    EXPECT_EQ(vd_SysProp(3000, 0), 0);
}

TEST_F(XbaseEngine, PackNeedsExclusiveUse)
{
    MakeOutgoing({{"a", "", "", false}});
    vd_Close();
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 0, 2), 0);
    EXPECT_EQ(vd_Pack(), static_cast<int>(Err::ExclusiveNeeded));
}

TEST_F(XbaseEngine, MissingIndexFileOpensWithoutTags)
{
    MakeOutgoing({{"a", "", "", false}, {"b", "", "", false}});
    BuildOpeningTags();
    vd_Close();
    ASSERT_EQ(unlink((dir_ / "ZNOUT.CDX").c_str()), 0);
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    EXPECT_EQ(vd_SysProp(3000, 0), 0);
    EXPECT_EQ(vd_TagArea("DATEND"), 0);
    EXPECT_EQ(vd_RecCount(), 2);
    EXPECT_EQ(vd_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, 0, ".not. deleted()"), 1);
}

struct Damage {
    const char* name;
    long offset; // negative: from the end
    std::string bytes;
};

class XbaseDamagedIndex : public XbaseEngine, public ::testing::WithParamInterface<Damage> {};

TEST_P(XbaseDamagedIndex, OpensTheTableWithoutTags)
{
    MakeOutgoing({{"a", "", "", false}, {"b", "", "", false}});
    BuildOpeningTags();
    vd_Close();
    std::string cdx = dir_ / "ZNOUT.CDX";
    std::string bytes = ReadFile(cdx);
    const Damage& d = GetParam();
    if (d.offset == -1) {
        bytes.resize(700);
    } else {
        bytes.replace(d.offset, d.bytes.size(), d.bytes);
    }
    WriteFile(cdx, bytes);
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0) << vd_LastErrorText();
    EXPECT_EQ(vd_SysProp(3000, 0), 0);
    EXPECT_EQ(Walk(), (std::vector<long>{1, 2}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, XbaseDamagedIndex,
                         ::testing::Values(Damage{"Truncated", -1, ""},
                                           Damage{"RootPastTheEnd", 0, std::string("\x00\xF0\xFF\x00", 4)},
                                           Damage{"WriteInProgressMark", 480, std::string("\x01", 1)},
                                           Damage{"BadKeyLength", 12, std::string("\x00\x00", 2)},
                                           Damage{"CollatedTag", 0x600 + 494, "GENERAL"},
                                           Damage{"NullableTag", 0x600 + 14, "\x62"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(XbaseEngine, ExclusiveOpenExcludesEveryOtherOpen)
{
    MakeOutgoing({{"a", "", "", false}});
    vd_Close();
    int shared = vd_Use(table_.c_str(), "ONE", 0, 2);
    ASSERT_NE(shared, 0);
    EXPECT_EQ(vd_Use(table_.c_str(), "TWO", 2, 2), 0);
    EXPECT_EQ(vd_LastError(), static_cast<int>(Err::InUse));
    EXPECT_NE(vd_Use(table_.c_str(), "THREE", 0, 2), 0);
    vd_CloseAll();
    ASSERT_NE(vd_Use(table_.c_str(), "ONE", 2, 2), 0);
    EXPECT_EQ(vd_Use(table_.c_str(), "TWO", 0, 2), 0);
    EXPECT_EQ(vd_Use(table_.c_str(), "TWO", 1, 2), 0);
}

TEST_F(XbaseEngine, SharedOpensSeeEachOthersCommittedRows)
{
    ASSERT_TRUE(CreatePhoneBook(table_, {{"ZULU", "1"}, {"ALPHA", "2"}}));
    int one = vd_Use(table_.c_str(), "ONE", 0, 2);
    ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 1);
    int two = vd_Use(table_.c_str(), "TWO", 0, 2);
    ASSERT_NE(two, 0);
    EXPECT_EQ(vd_TagArea("NAME"), 1);
    vd_SetOrder(1);
    vd_AppendBlank();
    vd_Replace("NAME", 1024, "MIKE");
    vd_Commit();
    vd_Select(one);
    vd_SetOrder(1);
    EXPECT_EQ(vd_RecCount(), 3);
    EXPECT_EQ(Walk(), (std::vector<long>{2, 3, 1}));
    vd_Go(1);
    vd_Replace("NAME", 1024, "BRAVO");
    vd_Commit();
    vd_Select(two);
    EXPECT_EQ(Walk(), (std::vector<long>{2, 1, 3}));
    vd_GoTop();
    vd_Skip(1);
    EXPECT_EQ(vd_GetTrimString("NAME"), "BRAVO");
    std::string where;
    EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
}

// As zn and znptf do with the phone book: two processes, each with the table open shared.
TEST_F(XbaseEngine, TwoProcessesShareATableThroughItsLocks)
{
    ASSERT_TRUE(CreatePhoneBook(table_, {{"ZULU", "1"}, {"ALPHA", "2"}}));
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 0, 2), 0);
    ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 1);
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    pid_t pid = fork();
    if (pid == 0) {
        char c = 0;
        bool ok = vd_Use(table_.c_str(), "OTHER", 0, 2) != 0 && vd_AppendBlank() == 0
                  && vd_Replace("NAME", 1024, "MIKE") == 0 && vd_Commit() == 0 && vd_Rlock(1) == 1;
        c = ok ? '1' : 'x';
        if (write(toParent[1], &c, 1) != 1 || read(toChild[0], &c, 1) != 1)
            _exit(1);
        vd_Unlock(0);
        c = '2';
        if (write(toParent[1], &c, 1) != 1)
            _exit(1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(toParent[0], &c, 1), 1);
    ASSERT_EQ(c, '1');
    EXPECT_EQ(vd_RecCount(), 3);
    EXPECT_EQ(Walk(), (std::vector<long>{2, 3, 1}));
    EXPECT_EQ(vd_Rlock(1), 0);
    EXPECT_EQ(vd_Use(table_.c_str(), "MINE", 2, 2), 0); // no exclusive use while shared elsewhere
    ASSERT_EQ(write(toChild[1], "go", 1), 1);
    ASSERT_EQ(read(toParent[0], &c, 1), 1);
    EXPECT_EQ(vd_Rlock(1), 1);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]})
        close(fd);
}

TEST_F(XbaseEngine, RecordLocksConflictBetweenOpensOfOneProcess)
{
    ASSERT_TRUE(CreatePhoneBook(table_, {{"A", "1"}, {"B", "2"}}));
    int one = vd_Use(table_.c_str(), "ONE", 0, 2);
    int two = vd_Use(table_.c_str(), "TWO", 0, 2);
    vd_Select(one);
    EXPECT_EQ(vd_Rlock(1), 1);
    vd_Select(two);
    EXPECT_EQ(vd_Rlock(1), 0);
    EXPECT_EQ(vd_LastError(), static_cast<int>(Err::LockTimeout));
    EXPECT_EQ(vd_Rlock(2), 1);
    vd_Go(1);
    vd_Replace("PHONE", 1024, "9");
    EXPECT_NE(vd_Commit(), 0); // the other open holds the record
    vd_Select(one);
    vd_Unlock(0);
    vd_Select(two);
    EXPECT_EQ(vd_Commit(), 0);
}

TEST_F(XbaseEngine, ExpressionsEvaluateOnTheCurrentRecord)
{
    MakeOutgoing({{"Hello", "20240229", "12:30", true}});
    vd_GoTop();
    EXPECT_EQ(vd_EvalTest("UPPER(SUBJECT)"), 1);
    EXPECT_EQ(vd_EvalTest("RECNO()"), 2);
    EXPECT_EQ(vd_EvalTest("archived"), 3);
    EXPECT_EQ(vd_EvalTest("DATESENT"), 4);
    EXPECT_EQ(vd_EvalTest("UPPER("), 0);
    EXPECT_EQ(vd_EvalString("DTOS(DATESENT)+TIMESENT"), "2024022912:30");
    EXPECT_EQ(vd_EvalString("LTRIM(STR(RECNO(), 19))"), "1");
    EXPECT_EQ(vd_EvalLogical("archived .and. \"ell\" $ SUBJECT"), 1);
    EXPECT_EQ(vd_EvalLogical("(DATESENT<CTOD(\"03/01/2024\"))"), 1);
}

TEST_F(XbaseEngine, IndexBuildReportsProgressUpToAHundred)
{
    MakeOutgoing({{"a", "", "", false}, {"b", "", "", false}});
    std::vector<int> seen;
    vd_SetGaugeHook([&seen](int p) { seen.push_back(p); });
    vd_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, 0, ".not. deleted()");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST_F(XbaseEngine, BadKeyExpressionsAreRefused)
{
    MakeOutgoing({{"a", "", "", false}});
    EXPECT_EQ(vd_IndexTag("", "BAD", "NOSUCH", 0, 0, ""), 0);
    EXPECT_EQ(vd_LastError(), static_cast<int>(Err::NoSuchField));
    EXPECT_EQ(vd_IndexTag("", "BAD", "SUBJECT+SUBJECT+SUBJECT+SUBJECT+SUBJECT", 0, 0, ""), 0);
    EXPECT_EQ(vd_LastError(), static_cast<int>(Err::KeyTooLong));
    EXPECT_EQ(vd_IndexTag("", "TOO_LONG_NAME", "SUBJECT", 0, 0, ""), 0);
    EXPECT_EQ(vd_IndexTag("", "BAD", "SUBJECT", 0, 0, "SUBJECT"), 0);
    EXPECT_EQ(vd_LastError(), static_cast<int>(Err::ExprType));
}

TEST_F(XbaseEngine, CorruptTableHeadersAreRefused)
{
    MakeOutgoing({{"a", "", "", false}});
    vd_Close();
    std::string bytes = ReadFile(table_);
    std::string broken = bytes;
    broken[8] = 10; // header length below one field
    broken[9] = 0;
    WriteFile(table_, broken);
    EXPECT_EQ(vd_Use(table_.c_str(), nullptr, 0, 2), 0);
    EXPECT_EQ(vd_LastError(), static_cast<int>(Err::CorruptTable));
    WriteFile(table_, bytes.substr(0, 20));
    EXPECT_EQ(vd_Use(table_.c_str(), nullptr, 0, 2), 0);
    EXPECT_EQ(vd_Use((dir_ / "NONE.DBF").c_str(), nullptr, 0, 2), 0);
    EXPECT_EQ(vd_LastError(), static_cast<int>(Err::FileNotFound));
}

TEST_F(XbaseEngine, TableWithMoreRecordsAnnouncedThanPresentOpensWithThoseThere)
{
    MakeOutgoing({{"a", "", "", false}, {"b", "", "", false}});
    vd_Close();
    std::string bytes = ReadFile(table_);
    bytes[4] = 9;
    WriteFile(table_, bytes);
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 0, 2), 0);
    EXPECT_EQ(vd_RecCount(), 2);
}

TEST_F(XbaseEngine, FindsTheTableAndItsIndexInAnyLetterCase)
{
    ASSERT_TRUE(CreatePhoneBook(dir_ / "znpb.dbf", {{"B", "1"}, {"A", "2"}}));
    ASSERT_NE(vd_Use((dir_ / "ZNPB.DBF").c_str(), nullptr, 2, 2), 0);
    ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 1);
    vd_Close();
    EXPECT_EQ(access((dir_ / "znpb.cdx").c_str(), F_OK), 0);
    ASSERT_NE(vd_Use((dir_ / "ZnPb").c_str(), nullptr, 0, 2), 0);
    EXPECT_EQ(vd_TagArea("name"), 1);
}

TEST_F(XbaseEngine, OpensASecondIndexFileAfterTheProductionOne)
{
    ASSERT_TRUE(CreatePhoneBook(table_, {{"B", "2"}, {"A", "1"}}));
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ""), 1);
    ASSERT_EQ(vd_IndexTag("EXTRA", "PHONE", "PHONE", 0, 1, ""), 2);
    vd_Close();
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    EXPECT_EQ(vd_SysProp(3000, 0), 1);
    EXPECT_EQ(vd_IndexOpen((dir_ / "EXTRA.CDX").c_str()), 2);
    EXPECT_EQ(vd_TagName(2), "PHONE");
    EXPECT_EQ(vd_IndexName(2), dir_ / "EXTRA.CDX");
    vd_SetOrder(2);
    EXPECT_EQ(Walk(), (std::vector<long>{1, 2}));
    EXPECT_EQ(vd_IndexOpen((dir_ / "NONE.CDX").c_str()), 0);
}

TEST_F(XbaseEngine, WorkAreasAndAliases)
{
    ASSERT_TRUE(CreatePhoneBook(table_, {{"A", "1"}}));
    int first = vd_Use(table_.c_str(), nullptr, 0, 2);
    int second = vd_Use(table_.c_str(), "OTHER", 0, 2);
    EXPECT_NE(first, second);
    EXPECT_EQ(vd_WorkArea("znout"), first);
    EXPECT_EQ(vd_WorkArea("other"), second);
    EXPECT_EQ(vd_WorkArea(nullptr), second);
    EXPECT_EQ(vd_WorkArea("missing"), 0);
    EXPECT_EQ(vd_Select(first), second);
    EXPECT_EQ(vd_SysProp(65002, second), 1);
    vd_Close();
    EXPECT_EQ(vd_SysProp(65002, first), 0);
    EXPECT_EQ(vd_RecCount(), 0);
    EXPECT_EQ(vd_LastError(), static_cast<int>(Err::NoArea));
}

TEST_F(XbaseEngine, GetAndPutRecordCopyTheRawRecord)
{
    ASSERT_TRUE(CreatePhoneBook(table_, {{"A", "1"}}));
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    std::string record(vd_RecSize(), ' ');
    ASSERT_EQ(vd_GetRecord(record.data()), 0);
    EXPECT_EQ(record.substr(0, 2), " A");
    record[1] = 'Z';
    record[0] = '*';
    ASSERT_EQ(vd_PutRecord(record.data()), 0);
    vd_Commit();
    vd_Go(1);
    EXPECT_EQ(vd_GetTrimString("NAME"), "Z");
    EXPECT_EQ(vd_Deleted(), 1);
}

} // namespace
} // namespace zn::xbase::test
