// Index-build sorting: the same order as a plain sort, in memory or through merged runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "xbase_sort.h"
#include "xbase_test_util.h"

namespace zn::xbase {
namespace {

struct Shape {
    const char* name;
    int keyLength;
    size_t memory; // bytes; small values force runs through the temporary file
    int entries;
};

class XbaseKeySorter : public ::testing::TestWithParam<Shape> {};

TEST_P(XbaseKeySorter, OrdersByKeyThenRecordNumber)
{
    const Shape& s = GetParam();
    test::ScratchFolder dir;
    KeySorter sorter(s.keyLength, dir.Path(), s.memory);
    std::mt19937 rng(s.keyLength);
    std::vector<std::pair<std::vector<uint8_t>, uint32_t>> expected;
    for (int i = 0; i < s.entries; ++i) {
        std::vector<uint8_t> key(s.keyLength, ' ');
        // Long shared prefixes and many duplicates, with the differences past the first 24 bytes.
        for (int b = std::max(0, s.keyLength - 3); b < s.keyLength; ++b)
            key[b] = static_cast<uint8_t>('A' + rng() % 3);
        key[0] = static_cast<uint8_t>(rng() % 2 ? 0xFF : 'M');
        uint32_t recno = static_cast<uint32_t>(rng() % 100000);
        ASSERT_EQ(sorter.Add(key.data(), recno), Err::Ok);
        expected.push_back({key, recno});
    }
    ASSERT_EQ(sorter.Finish(), Err::Ok);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorter.Count(), expected.size());
    for (const auto& [key, recno] : expected) {
        const uint8_t* k = nullptr;
        uint32_t r = 0;
        bool more = false;
        ASSERT_EQ(sorter.Next(k, r, more), Err::Ok);
        ASSERT_TRUE(more);
        ASSERT_EQ(std::vector<uint8_t>(k, k + s.keyLength), key);
        ASSERT_EQ(r, recno);
    }
    const uint8_t* k = nullptr;
    uint32_t r = 0;
    bool more = true;
    ASSERT_EQ(sorter.Next(k, r, more), Err::Ok);
    EXPECT_FALSE(more);
}

INSTANTIATE_TEST_SUITE_P(Shapes, XbaseKeySorter,
                         ::testing::Values(Shape{"InMemory", 40, 24u << 20, 5000}, Shape{"ManyRuns", 40, 1, 20000},
                                           Shape{"OneByteKeys", 1, 1, 5000}, Shape{"LongestKeys", 240, 1, 3000},
                                           Shape{"Empty", 10, 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace zn::xbase
