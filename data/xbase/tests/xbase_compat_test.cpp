// Files the engine writes, read by other xBase software (libdbd-xbase-perl's dbf_dump and
// index_dump, python3-dbfread), and tables python3-dbf writes, used by the engine.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "xbase_common.h"
#include "xbase_diagnostics.h"
#include "xbase_test_util.h"

namespace zn::xbase::test {
namespace {

bool Have(const char* program) { return access(program, X_OK) == 0; }

struct Person {
    std::string name;
    int32_t born; // julian day, 0 blank
    bool ok;
    double amount;
    bool deleted;
};

std::string UpperCase(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

class XbaseCompatibility : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetEngine();
        if (!Have("/usr/bin/dbf_dump") || !Have("/usr/bin/index_dump") || !Have("/usr/bin/python3"))
            GTEST_SKIP() << "libdbd-xbase-perl or python3 missing";
    }
    void TearDown() override { ResetEngine(); }

    // 3000 rows; tags built on the first 2000, then 1000 appended and some rows changed, so that
    // both bulk-built and incrementally split nodes are read back.
    void WriteTable()
    {
        ASSERT_TRUE(
            CreateTable(table_, {{"NAME", "C", 12, 0}, {"BORN", "D", 8, 0}, {"OK", "L", 1, 0}, {"AMT", "N", 8, 2}}));
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
        for (int i = 0; i < 3000; ++i) {
            if (i == 2000) {
                ASSERT_EQ(vd_IndexTag("", "NAME", "UPPER(NAME)", 0, 0, ".not. deleted()"), 1);
                ASSERT_EQ(vd_IndexTag("", "BORN", "BORN", 0, 0, ""), 2);
                ASSERT_EQ(vd_IndexTag("", "OK", "OK", 0, 0, ""), 3);
                ASSERT_EQ(vd_IndexTag("", "AMT", "AMT", 0, 0, ""), 4);
                ASSERT_EQ(vd_IndexTag("", "NEWEST", "DTOS(BORN)+NAME", 0, 1, ".not. deleted()"), 5);
                vd_SetOrder(0);
            }
            Person p;
            char name[16];
            snprintf(name, sizeof name, "%c%cname%04d", 'a' + (i * 7) % 26, 'A' + (i * 11) % 26, (i * 37) % 3000);
            p.name = name;
            p.born = i % 5 == 0 ? 0 : JulianDay(1990 + i % 30, 1 + i % 12, 1 + i % 28);
            p.ok = i % 3 == 0;
            p.amount = (i % 101) * 0.25 - 10;
            p.deleted = i % 7 == 3;
            ASSERT_EQ(vd_AppendBlank(), 0);
            vd_Replace("NAME", 1024, p.name.c_str());
            vd_Replace("BORN", 1024, DtosFromDate(p.born).c_str());
            vd_Replace("OK", 128, p.ok);
            vd_Replace("AMT", 8, p.amount);
            if (p.deleted)
                vd_Delete();
            people_.push_back(p);
        }
        // A few changes through the tags after they exist.
        for (int r : {5, 77, 1500, 2999}) {
            vd_Go(r);
            people_[r - 1].name = "zz" + people_[r - 1].name;
            vd_Replace("NAME", 1024, people_[r - 1].name.c_str());
            people_[r - 1].deleted = !people_[r - 1].deleted;
            if (people_[r - 1].deleted)
                vd_Delete();
            else
                vd_Recall();
        }
        ASSERT_EQ(vd_Commit(), 0);
        std::string where;
        ASSERT_EQ(CheckSelectedIndexes(where), 0) << where;
        vd_Close();
    }

    // "key recno" lines in ascending tree order, as index_dump prints them.
    template <typename Key>
    std::string Expected(Key key, bool forNotDeleted)
    {
        std::vector<std::pair<decltype(key(people_[0])), long>> entries;
        for (size_t i = 0; i < people_.size(); ++i)
            if (!forNotDeleted || !people_[i].deleted)
                entries.push_back({key(people_[i]), long(i + 1)});
        std::sort(entries.begin(), entries.end());
        std::string out;
        for (auto& e : entries)
            out += Text(e.first) + " " + std::to_string(e.second) + "\n";
        return out;
    }
    static std::string Text(const std::string& s) { return s; }
    static std::string Text(double v)
    {
        char b[64];
        snprintf(b, sizeof b, "%.15g", v);
        return b;
    }

    ScratchFolder dir_;
    std::string table_ = dir_ / "PEOPLE.DBF";
    std::vector<Person> people_;
};

TEST_F(XbaseCompatibility, DbfDumpReadsEveryLiveRecord)
{
    WriteTable();
    int status = 0;
    std::string out = RunCommand("dbf_dump '" + table_ + "'", &status);
    ASSERT_EQ(status, 0);
    std::string expected;
    for (const Person& p : people_) {
        if (p.deleted)
            continue;
        char amount[32];
        snprintf(amount, sizeof amount, "%.15g", p.amount);
        std::string born = p.born ? DtosFromDate(p.born) : "";
        expected += p.name + ":" + born + ":" + (p.ok ? "1" : "0") + ":" + amount + "\n";
    }
    EXPECT_EQ(out, expected);
}

TEST_F(XbaseCompatibility, IndexDumpReadsEveryTagInOrder)
{
    WriteTable();
    std::string cdx = dir_ / "PEOPLE.CDX";
    int status = 0;
    EXPECT_EQ(RunCommand("index_dump --type=char '" + cdx + "' NAME", &status),
              Expected([](const Person& p) { return UpperCase(p.name); }, true));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(RunCommand("index_dump --type=num '" + cdx + "' BORN"),
              Expected([](const Person& p) { return double(p.born); }, false));
    EXPECT_EQ(RunCommand("index_dump --type=char '" + cdx + "' OK"),
              Expected([](const Person& p) { return std::string(p.ok ? "T" : "F"); }, false));
    EXPECT_EQ(RunCommand("index_dump --type=num '" + cdx + "' AMT"),
              Expected([](const Person& p) { return p.amount; }, false));
    // A descending tag is stored ascending and walked backwards by the engine.
    EXPECT_EQ(RunCommand("index_dump --type=char '" + cdx + "' NEWEST"), Expected(
                                                                             [](const Person& p) {
                                                                                 std::string k =
                                                                                     DtosFromDate(p.born) + p.name;
                                                                                 k.erase(k.find_last_not_of(' ') + 1);
                                                                                 return k;
                                                                             },
                                                                             true));
}

TEST_F(XbaseCompatibility, DbfreadReadsFieldsCountsAndDeletionFlags)
{
    WriteTable();
    const char* script =
        "import sys, dbfread\n"
        "t = dbfread.DBF(sys.argv[1], load=True)\n"
        "print(len(t.records), len(t.deleted))\n"
        "for r in t.records:\n"
        "    print(r['NAME'], r['BORN'].strftime('%Y%m%d') if r['BORN'] else '-', int(r['OK']), '%.2f' % r['AMT'])\n";
    WriteFile(dir_ / "read.py", script);
    int status = 0;
    std::string out = RunCommand("/usr/bin/python3 '" + (dir_ / "read.py") + "' '" + table_ + "'", &status);
    ASSERT_EQ(status, 0) << out;
    long live = std::count_if(people_.begin(), people_.end(), [](const Person& p) { return !p.deleted; });
    std::string expected = std::to_string(live) + " " + std::to_string(people_.size() - live) + "\n";
    for (const Person& p : people_) {
        if (p.deleted)
            continue;
        char line[128];
        snprintf(line, sizeof line, "%s %s %d %.2f\n", p.name.c_str(), p.born ? DtosFromDate(p.born).c_str() : "-",
                 p.ok ? 1 : 0, p.amount);
        expected += line;
    }
    EXPECT_EQ(out, expected);
}

TEST_F(XbaseCompatibility, TablesWrittenByPythonDbfOpenFilterIndexAndSort)
{
    const char* script =
        "import sys, datetime, dbf\n"
        "t = dbf.Table(sys.argv[1], 'SUBJECT C(20); DATESENT D; ARCHIVED L; PAGES N(3,0)', dbf_type='db3')\n"
        "t.open(dbf.READ_WRITE)\n"
        "rows = [('delta', datetime.date(2024, 3, 1), False, 4), ('alpha', None, False, 1),\n"
        "        ('charlie', datetime.date(2023, 12, 31), True, 12), ('bravo', datetime.date(2024, 3, 1), False, 2),\n"
        "        ('echo', None, True, 0)]\n"
        "for r in rows:\n"
        "    t.append(r)\n"
        "dbf.delete(t[3])\n"
        "t.close()\n";
    WriteFile(dir_ / "write.py", script);
    std::string path = dir_ / "ZNOUT.DBF";
    int status = 0;
    std::string out = RunCommand("/usr/bin/python3 '" + (dir_ / "write.py") + "' '" + path + "' 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    ASSERT_NE(vd_Use(path.c_str(), nullptr, 2, 2), 0) << vd_LastErrorText();
    EXPECT_EQ(vd_RecCount(), 5);
    vd_Go(4);
    EXPECT_EQ(vd_Deleted(), 1);
    vd_Go(2);
    EXPECT_EQ(vd_EvalLogical("EMPTY(DATESENT)"), 1);
    EXPECT_EQ(vd_GetDateString("DATESENT"), "  /  /  ");
    vd_Go(3);
    EXPECT_EQ(vd_GetLogical("ARCHIVED"), 1);
    EXPECT_EQ(vd_EvalString("STR(PAGES, 3)"), " 12");

    vd_SetDeleted(1);
    ASSERT_EQ(vd_Query(".not. ARCHIVED"), 0);
    EXPECT_EQ(Walk(), (std::vector<long>{1, 2}));
    EXPECT_EQ(vd_QueryRecCount(), 2);
    vd_Query(nullptr);
    ASSERT_EQ(vd_IndexTag("", "DATESENT", "DTOS(DATESENT)+SUBJECT", 0, 1, ".not. deleted()"), 1);
    EXPECT_EQ(Walk(), (std::vector<long>{1, 3, 5, 2}));
    ASSERT_EQ(vd_IndexTag("", "SUBJECT", "UPPER(SUBJECT)", 0, 0, ".not. deleted()"), 2);
    EXPECT_EQ(Walk(), (std::vector<long>{2, 3, 1, 5}));
    vd_SetDeleted(0);
    vd_SetOrder(0);
    ASSERT_EQ(vd_Query("DATESENT < CTOD(\"01/01/2024\") .and. .not. EMPTY(DATESENT)"), 0);
    EXPECT_EQ(Walk(), (std::vector<long>{3}));
    vd_Close();
    // And dbfread agrees with the engine's index flag and header after the tags were added.
    EXPECT_EQ(RunCommand("dbf_dump --fields SUBJECT '" + path + "'"), "delta\nalpha\ncharlie\necho\n");
}

TEST_F(XbaseCompatibility, HandBuiltReferenceIndexReadsBack)
{
    // The three-name table of the format notes: keys ADAMS(2), SMITH(1), SMYTHE(3).
    ASSERT_TRUE(CreateTable(table_, {{"NAME", "C", 10, 0}}));
    ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
    for (const char* n : {"SMITH", "ADAMS", "SMYTHE"}) {
        vd_AppendBlank();
        vd_Replace("NAME", 1024, n);
    }
    ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ""), 1);
    vd_Close();
    std::string cdx = ReadFile(dir_ / "PEOPLE.CDX");
    ASSERT_EQ(cdx.size(), 3072u);
    // Every byte the reference file has, except the change counter at offset 8.
    struct Span {
        size_t at;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Span> reference = {
        {0x0000, {0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0x000C, {0x0A, 0x00, 0xE0, 0x01}},
        {0x01F8, {0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00}},
        {0x0400, {0x03, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xE1, 0x01, 0xFF, 0xFF}},
        {0x0410, {0x00, 0x00, 0x0F, 0x0F, 0x10, 0x04, 0x04, 0x03, 0x00, 0x06, 0x60}},
        {0x05FC, {0x4E, 0x41, 0x4D, 0x45}},
        {0x0600, {0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x60, 0x01}},
        {0x07F8, {0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00}},
        {0x0800, {0x4E, 0x41, 0x4D, 0x45, 0x00, 0x00}},
        {0x0A00, {0x03, 0x00, 0x03, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD1, 0x01, 0xFF, 0xFF}},
        {0x0A10, {0x00, 0x00, 0x0F, 0x0F, 0x10, 0x04, 0x04, 0x03, 0x02, 0x00, 0x50, 0x01, 0x00, 0x50, 0x03, 0x00}},
        {0x0A20, {0x42}},
        {0x0BF2, {0x59, 0x54, 0x48, 0x45, 0x53, 0x4D, 0x49, 0x54, 0x48, 0x41, 0x44, 0x41, 0x4D, 0x53}},
    };
    std::string expected(3072, '\0');
    for (const Span& s : reference)
        for (size_t i = 0; i < s.bytes.size(); ++i)
            expected[s.at + i] = static_cast<char>(s.bytes[i]);
    cdx.replace(8, 4, 4, '\0');
    size_t differs = 0;
    while (differs < cdx.size() && cdx[differs] == expected[differs])
        ++differs;
    EXPECT_EQ(differs, cdx.size()) << "first difference at offset " << differs;
    EXPECT_EQ(RunCommand("index_dump --type=char '" + (dir_ / "PEOPLE.CDX") + "' NAME"),
              "ADAMS 2\nSMITH 1\nSMYTHE 3\n");
}

} // namespace
} // namespace zn::xbase::test
