// A writer killed with SIGKILL at random moments (during appends, replaces, a pack, an index
// build) leaves a table that opens with every committed row intact, and indexes that are either
// correct or recognised as stale (the table then opens without tags).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "xbase_diagnostics.h"
#include "xbase_test_util.h"

namespace zn::xbase::test {
namespace {

constexpr int kKills = 8;

class XbaseKilledWriter : public ::testing::Test {
protected:
    void SetUp() override { ResetEngine(); }
    void TearDown() override { ResetEngine(); }

    // Runs `child` in a forked process that reports progress as ints on a pipe; once `reports`
    // values have arrived, waits `delayMicros` and kills it. Returns every value it reported.
    template <typename Body>
    std::vector<int> RunAndKill(Body child, int reports, int delayMicros)
    {
        vd_CloseAll();
        int fd[2];
        EXPECT_EQ(pipe(fd), 0);
        pid_t pid = fork();
        if (pid == 0) {
            close(fd[0]);
            auto report = [&](int v) {
                if (write(fd[1], &v, sizeof v) != sizeof v)
                    _exit(3);
            };
            child(report);
            _exit(0);
        }
        close(fd[1]);
        std::vector<int> seen;
        int v;
        while (static_cast<int>(seen.size()) < reports && read(fd[0], &v, sizeof v) == sizeof v)
            seen.push_back(v);
        usleep(delayMicros);
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        while (read(fd[0], &v, sizeof v) == sizeof v)
            seen.push_back(v);
        close(fd[0]);
        return seen;
    }

    // Tags either agree with the records or are gone.
    void ExpectIndexesSound()
    {
        std::string where;
        if (vd_SysProp(3000, 0) > 0) {
            EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
        }
    }

    // A stale index is rebuilt, as the program does when it misses its tags, so that the next
    // round again writes through tags.
    void RebuildStaleTags()
    {
        bool stale = vd_SysProp(3000, 0) == 0;
        vd_CloseAll();
        if (!stale)
            return;
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
        vd_CloseIndexes();
        ::unlink((dir_ / "T.CDX").c_str());
        ASSERT_EQ(vd_IndexTag("", "NAME", "UPPER(NAME)", 0, 0, ".not. deleted()"), 1);
        ASSERT_EQ(vd_IndexTag("", "N", "N", 0, 1, ""), 2);
        vd_CloseAll();
    }

    void MakeTable(int rows, bool withTags, int deleteEvery = 0)
    {
        ASSERT_TRUE(CreateTable(table_, {{"NAME", "C", 20, 0}, {"N", "N", 8, 0}}));
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 2, 2), 0);
        for (int i = 1; i <= rows; ++i) {
            vd_AppendBlank();
            vd_Replace("NAME", 1024, ("row" + std::to_string(i)).c_str());
            vd_Replace("N", 8, double(i));
            if (deleteEvery && i % deleteEvery == 0)
                vd_Delete();
        }
        if (withTags) {
            ASSERT_EQ(vd_IndexTag("", "NAME", "UPPER(NAME)", 0, 0, ".not. deleted()"), 1);
            ASSERT_EQ(vd_IndexTag("", "N", "N", 0, 1, ""), 2);
        }
        vd_CloseAll();
    }

    ScratchFolder dir_;
    std::string table_ = dir_ / "T.DBF";
    std::mt19937 rng_{20240229};
};

class XbaseKilledAppender : public XbaseKilledWriter, public ::testing::WithParamInterface<int> {};

TEST_P(XbaseKilledAppender, KeepsEveryCommittedRow)
{
    int mode = GetParam();
    MakeTable(0, true);
    std::vector<long> guaranteed; // rows some round committed
    for (int round = 0; round < kKills; ++round) {
        vd_CloseAll();
        int before = 0;
        {
            ASSERT_NE(vd_Use(table_.c_str(), nullptr, 0, 2), 0);
            before = static_cast<int>(vd_RecCount());
            vd_CloseAll();
        }
        int target = 1 + static_cast<int>(rng_() % 5);
        std::vector<int> committed = RunAndKill(
            [&](auto report) {
                if (!vd_Use(table_.c_str(), nullptr, mode, 2))
                    _exit(2);
                int n = static_cast<int>(vd_RecCount());
                for (int i = n + 1;; ++i) {
                    vd_AppendBlank();
                    vd_Replace("NAME", 1024, ("row" + std::to_string(i)).c_str());
                    vd_Replace("N", 8, double(i));
                    if (i % 7 == 0) {
                        vd_Commit();
                        report(i);
                    }
                }
            },
            target, static_cast<int>(rng_() % 3000));
        ASSERT_FALSE(committed.empty());
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 0, 2), 0) << vd_LastErrorText();
        long count = vd_RecCount();
        EXPECT_GE(count, committed.back());
        EXPECT_GE(count, before);
        vd_SetOrder(0);
        // Rows a killed round appended without committing may stay blank; committed ones may not.
        for (long r = before + 1; r <= committed.back(); ++r)
            guaranteed.push_back(r);
        for (long r : guaranteed) {
            vd_Go(r);
            ASSERT_EQ(vd_GetTrimString("NAME"), "row" + std::to_string(r));
            ASSERT_EQ(vd_EvalString("STR(N, 8)"),
                      (std::string(8, ' ') + std::to_string(r)).substr(std::to_string(r).size()));
        }
        ExpectIndexesSound();
        RebuildStaleTags();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, XbaseKilledAppender, ::testing::Values(0, 2),
                         [](const auto& info) { return info.param == 0 ? "Shared" : "Exclusive"; });

TEST_F(XbaseKilledWriter, ReplacerLeavesCommittedValues)
{
    const int rows = 200;
    MakeTable(rows, true);
    for (int round = 0; round < kKills; ++round) {
        unsigned seed = static_cast<unsigned>(rng_());
        // Each step sets record r to "upd<k>"/k; steps are reported once committed.
        auto step = [rows](std::mt19937& g, int k) {
            (void)k;
            return 1 + static_cast<int>(g() % rows);
        };
        std::vector<int> committed = RunAndKill(
            [&](auto report) {
                if (!vd_Use(table_.c_str(), nullptr, 0, 2))
                    _exit(2);
                std::mt19937 g(seed);
                for (int k = 1;; ++k) {
                    vd_Go(step(g, k));
                    vd_Replace("NAME", 1024, ("upd" + std::to_string(k + round * 100000)).c_str());
                    vd_Replace("N", 8, double(k + round * 100000));
                    vd_Commit();
                    report(k);
                }
            },
            1 + static_cast<int>(rng_() % 50), static_cast<int>(rng_() % 2000));
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 0, 2), 0) << vd_LastErrorText();
        ASSERT_EQ(vd_RecCount(), rows);
        std::mt19937 g(seed);
        int last = committed.empty() ? 0 : committed.back();
        std::map<int, int> expected;
        for (int k = 1; k <= last; ++k)
            expected[step(g, k)] = k + round * 100000;
        int inflightRecord = step(g, last + 1);
        for (auto [r, value] : expected) {
            vd_Go(r);
            std::string name = vd_GetTrimString("NAME");
            if (r == inflightRecord && name == "upd" + std::to_string(last + 1 + round * 100000))
                continue;
            EXPECT_EQ(name, "upd" + std::to_string(value)) << "record " << r;
        }
        ExpectIndexesSound();
        RebuildStaleTags();
    }
}

TEST_F(XbaseKilledWriter, PackLosesNoLiveRow)
{
    const int rows = 20000;
    for (int round = 0; round < kKills; ++round) {
        ::unlink(table_.c_str());
        ::unlink((dir_ / "T.CDX").c_str());
        MakeTable(rows, true, 3);
        RunAndKill(
            [&](auto report) {
                if (!vd_Use(table_.c_str(), nullptr, 2, 2))
                    _exit(2);
                report(1);
                vd_Pack();
                report(2);
                pause();
            },
            1, static_cast<int>(rng_() % 60000));
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 0, 2), 0) << vd_LastErrorText();
        long count = vd_RecCount();
        ASSERT_TRUE(count == rows || count == rows - rows / 3) << count;
        // Live rows in their order, whichever table survived.
        vd_SetDeleted(1);
        long expected = 1;
        long seen = 0;
        for (vd_GoTop(); !vd_Eof(); vd_Skip(1), ++expected) {
            if (expected % 3 == 0)
                ++expected;
            ASSERT_EQ(vd_GetTrimString("NAME"), "row" + std::to_string(expected));
            ++seen;
        }
        EXPECT_EQ(seen, rows - rows / 3);
        vd_SetDeleted(0);
        ExpectIndexesSound();
        vd_CloseAll();
        if (count == rows - rows / 3) {
            EXPECT_TRUE(TemporariesOf(table_).empty()) << "the packed copy was put in place";
        }
    }
}

TEST_F(XbaseKilledWriter, IndexBuildLeavesSoundOrNoTags)
{
    const int rows = 30000;
    MakeTable(rows, false);
    for (int round = 0; round < kKills; ++round) {
        ::unlink((dir_ / "T.CDX").c_str());
        RunAndKill(
            [&](auto report) {
                if (!vd_Use(table_.c_str(), nullptr, 0, 2))
                    _exit(2);
                report(1);
                vd_IndexTag("", "NAME", "UPPER(NAME)", 0, 0, ".not. deleted()");
                vd_IndexTag("", "N", "N", 0, 1, "");
                vd_IndexTag("", "BOTH", "UPPER(NAME)+STR(N, 8)", 0, 0, "");
                report(2);
                pause();
            },
            1, static_cast<int>(rng_() % 80000));
        ASSERT_NE(vd_Use(table_.c_str(), nullptr, 0, 2), 0) << vd_LastErrorText();
        EXPECT_EQ(vd_RecCount(), rows);
        ExpectIndexesSound();
        vd_CloseAll();
    }
}

} // namespace
} // namespace zn::xbase::test
