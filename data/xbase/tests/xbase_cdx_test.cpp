// The compound index under many random writes: every tag stays equal to a model of the table.
#include <algorithm>
#include <map>
#include <random>

#include "xbase_diagnostics.h"
#include "xbase_test_util.h"

namespace zn::xbase::test {
namespace {

struct Workload {
    const char* name;
    int width;    // key width: short keys pack many to a leaf, long ones split often
    int openMode; // 2 exclusive, 0 shared (every write under the index lock)
    int operations;
};

class XbaseIndexUnderWrites : public ::testing::TestWithParam<Workload> {
protected:
    void SetUp() override { ResetEngine(); }
    void TearDown() override { ResetEngine(); }
    ScratchFolder dir_;
};

std::string RandomKey(std::mt19937& rng, int width)
{
    // Few distinct prefixes and lengths, so duplicates and shared prefixes are common.
    static const char* kStems[] = {"", "A", "AB", "ABC", "ZZ", "MIDDLE", "Q"};
    std::string s = kStems[rng() % 7];
    int extra = static_cast<int>(rng() % std::min(width, 12));
    for (int i = 0; i < extra; ++i)
        s += static_cast<char>('A' + rng() % 4);
    if (s.size() > static_cast<size_t>(width))
        s.resize(width);
    return s;
}

TEST_P(XbaseIndexUnderWrites, TagsMatchTheModel)
{
    const Workload& w = GetParam();
    std::string table = dir_ / "T.DBF";
    ASSERT_TRUE(CreateTable(table, {{"NAME", "C", w.width, 0}, {"N", "N", 6, 0}}));
    ASSERT_NE(vd_Use(table.c_str(), nullptr, w.openMode, 2), 0);
    ASSERT_EQ(vd_IndexTag("", "NAME", "NAME", 0, 0, ".not. deleted()"), 1);
    ASSERT_EQ(vd_IndexTag("", "BACK", "UPPER(NAME)", 0, 1, ""), 2);
    ASSERT_EQ(vd_IndexTag("", "N", "N", 0, 0, ""), 3);
    std::mt19937 rng(static_cast<unsigned>(w.width * 31 + w.openMode));
    struct Row {
        std::string name;
        int n;
        bool deleted;
    };
    std::vector<Row> rows;
    for (int op = 0; op < w.operations; ++op) {
        int kind = rows.empty() ? 0 : static_cast<int>(rng() % 10);
        if (kind < 4) {
            ASSERT_EQ(vd_AppendBlank(), 0);
            rows.push_back({RandomKey(rng, w.width), static_cast<int>(rng() % 1000) - 500, false});
            vd_Replace("NAME", 1024, rows.back().name.c_str());
            vd_Replace("N", 8, double(rows.back().n));
        } else {
            size_t r = rng() % rows.size();
            ASSERT_EQ(vd_Go(static_cast<long>(r + 1)), 0);
            if (kind < 7) {
                rows[r].name = RandomKey(rng, w.width);
                vd_Replace("NAME", 1024, rows[r].name.c_str());
            } else if (kind < 9) {
                rows[r].deleted = !rows[r].deleted;
                if (rows[r].deleted) {
                    vd_Delete();
                } else {
                    vd_Recall();
                }
            } else {
                rows[r].n = static_cast<int>(rng() % 1000) - 500;
                vd_Replace("N", 8, double(rows[r].n));
            }
        }
        if (op % 500 == 499) {
            ASSERT_EQ(vd_Commit(), 0);
        }
    }
    ASSERT_EQ(vd_Commit(), 0);

    std::vector<long> byName, byNumber;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].deleted)
            byName.push_back(static_cast<long>(i + 1));
        byNumber.push_back(static_cast<long>(i + 1));
    }
    auto padded = [&](size_t i) {
        std::string s = rows[i].name;
        s.resize(w.width, ' ');
        return s;
    };
    std::stable_sort(byName.begin(), byName.end(), [&](long a, long b) { return padded(a - 1) < padded(b - 1); });
    std::stable_sort(byNumber.begin(), byNumber.end(), [&](long a, long b) { return rows[a - 1].n < rows[b - 1].n; });
    std::vector<long> all(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        all[i] = static_cast<long>(i + 1);
    std::stable_sort(all.begin(), all.end(), [&](long a, long b) { return padded(a - 1) < padded(b - 1); });
    std::vector<long> descending(all.rbegin(), all.rend());

    vd_SetOrder(1);
    EXPECT_EQ(Walk(), byName);
    std::vector<long> back(byName.rbegin(), byName.rend());
    EXPECT_EQ(WalkBack(), back);
    vd_SetOrder(2);
    EXPECT_EQ(Walk(), descending);
    vd_SetOrder(3);
    EXPECT_EQ(Walk(), byNumber);
    std::string where;
    EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
    // And the same after closing and opening again.
    vd_Close();
    ASSERT_NE(vd_Use(table.c_str(), nullptr, 1, 2), 0);
    vd_SetOrder(1);
    EXPECT_EQ(Walk(), byName);
    EXPECT_EQ(CheckSelectedIndexes(where), 0) << where;
}

INSTANTIATE_TEST_SUITE_P(Shapes, XbaseIndexUnderWrites,
                         ::testing::Values(Workload{"ShortKeysExclusive", 8, 2, 6000},
                                           Workload{"LongKeysExclusive", 200, 2, 1500},
                                           Workload{"ShortKeysShared", 8, 0, 2000},
                                           Workload{"MaximumKeysShared", 240, 0, 600}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zn::xbase::test
