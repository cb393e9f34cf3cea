// Quarter turns checked against netpbm's pamflip, and the black-keeping scaler on one-pixel lines.
#include "faxdoc/mono_transform.h"
#include "faxdoc/tests/test_support.h"
#include "faxdoc/unpacker.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace zn::faxdoc {
namespace {

using namespace zn::faxdoc::test;

TMonoBitmap FromRaster(const TRaster& r, bool blackIsOne)
{
    TMonoBitmap bm = WhitePage(r.width, r.height, blackIsOne);
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x)
            if (r.Row(y)[x >> 3] & (0x80 >> (x & 7))) {
                uint8_t& b = bm.Row(y)[x >> 3];
                b = blackIsOne ? static_cast<uint8_t>(b | (0x80 >> (x & 7)))
                               : static_cast<uint8_t>(b & ~(0x80 >> (x & 7)));
            }
    return bm;
}

TRaster ToRaster(const TMonoBitmap& bm)
{
    TRaster r = Blank(bm.width, bm.height);
    for (int y = 0; y < bm.height; ++y)
        for (int x = 0; x < bm.width; ++x)
            if (bm.Pixel(x, y) == bm.blackIsOne)
                r.Set(x, y);
    return r;
}

// A picture whose width is no multiple of 8 or 16, with marks that tell every turn apart.
TRaster Asymmetric()
{
    TRaster r = Blank(1100, 37);
    for (int x = 0; x < 1100; x += 3)
        r.Set(x, 0);
    for (int y = 0; y < 37; ++y)
        r.Set(5, y);
    for (int i = 0; i < 30; ++i)
        r.Set(1000 + i, i);
    r.Set(1099, 36);
    return r;
}

struct TurnCase {
    int quarterTurns;
    const char* pamflip;
};

class QuarterTurns : public ::testing::TestWithParam<std::tuple<TurnCase, bool>> {};

TEST_P(QuarterTurns, MatchPamflip)
{
    if (!HaveProgram("pamflip"))
        GTEST_SKIP() << "pamflip is not installed";
    const auto [turn, blackIsOne] = GetParam();
    TTempDir dir;
    const TRaster original = Asymmetric();
    WritePbm(dir.Path("in.pbm"), original);
    ASSERT_EQ(RunCommand(std::string("pamflip ") + turn.pamflip + " '" + dir.Path("in.pbm") + "' > '"
                         + dir.Path("out.pbm") + "'"),
              0);
    const TMonoBitmap turned = RotateQuarterTurns(FromRaster(original, blackIsOne), turn.quarterTurns);
    EXPECT_EQ(turned.blackIsOne, blackIsOne);
    EXPECT_TRUE(ToRaster(turned) == ReadPbm(dir.Path("out.pbm")));
}

INSTANTIATE_TEST_SUITE_P(Turns, QuarterTurns,
                         ::testing::Combine(::testing::Values(TurnCase{1, "-cw"}, TurnCase{2, "-r180"},
                                                              TurnCase{3, "-ccw"}, TurnCase{-1, "-ccw"},
                                                              TurnCase{5, "-cw"}),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<TurnCase, bool>>& info) {
                             const int turns = std::get<0>(info.param).quarterTurns;
                             return (turns < 0 ? "Minus" : "") + std::to_string(std::abs(turns)) + "Turns"
                                    + (std::get<1>(info.param) ? "_BlackIsOne" : "_BlackIsZero");
                         });

TEST(QuarterTurnsOfAPage, A1728By1100PageTurnedOnceIs1100By1728)
{
    const TMonoBitmap page = WhitePage(1728, 1100, false);
    const TMonoBitmap turned = RotateQuarterTurns(page, 1);
    EXPECT_EQ(turned.width, 1100);
    EXPECT_EQ(turned.height, 1728);
    EXPECT_GE(turned.stride * 8, 1100);
    const TMonoBitmap back = RotateQuarterTurns(turned, 3);
    EXPECT_EQ(back.width, 1728);
    EXPECT_EQ(back.bits, page.bits);
}

class BlackKeeping : public ::testing::TestWithParam<bool> {};

TEST_P(BlackKeeping, OnePixelLinesSurviveEveryReduction)
{
    const bool blackIsOne = GetParam();
    TRaster r = Blank(1728, 2200);
    for (int x = 0; x < 1728; ++x)
        r.Set(x, 1001); // one row
    for (int y = 0; y < 2200; ++y)
        r.Set(777, y); // one column
    r.Set(1500, 300);  // one dot
    const TMonoBitmap page = FromRaster(r, blackIsOne);
    for (const auto& [w, h] : {std::pair{864, 1100}, {432, 550}, {1296, 1650}, {100, 127}, {577, 733}}) {
        const TRaster out = ToRaster(ScaleKeepingBlack(page, w, h));
        ASSERT_EQ(out.width, w);
        ASSERT_EQ(out.height, h);
        auto ink = [&](int x, int y) { return (out.Row(y)[x >> 3] >> (7 - (x & 7))) & 1; };
        int fullRows = 0, fullColumns = 0, total = 0;
        for (int y = 0; y < h; ++y) {
            int n = 0;
            for (int x = 0; x < w; ++x)
                n += ink(x, y);
            fullRows += n == w;
            total += n;
        }
        for (int x = 0; x < w; ++x) {
            int n = 0;
            for (int y = 0; y < h; ++y)
                n += ink(x, y);
            fullColumns += n == h;
        }
        EXPECT_EQ(fullRows, 1) << w << "x" << h;
        EXPECT_EQ(fullColumns, 1) << w << "x" << h;
        EXPECT_EQ(total, w + h - 1 + 1) << "the line, the column and the dot, nothing else at " << w << "x" << h;
    }
}

TEST_P(BlackKeeping, HalvingAPartKeepsItsLinesAndNothingBeyondThePart)
{
    const bool blackIsOne = GetParam();
    TRaster r = Blank(1728, 40);
    for (int x = 0; x < 1728; ++x)
        r.Set(x, 21);
    r.Set(1101, 5); // beyond the part
    r.Set(1100, 6); // the part's last column... of the next pair
    r.Set(1099, 7); // the part's last column
    const TRaster out = ToRaster(ScalePartKeepingBlack(FromRaster(r, blackIsOne), 0, 0, 1100, 40, 550, 20));
    ASSERT_EQ(out.width, 550);
    auto ink = [&](int x, int y) { return (out.Row(y)[x >> 3] >> (7 - (x & 7))) & 1; };
    int total = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 550; ++x)
            total += ink(x, y);
    EXPECT_EQ(total, 550 + 1);
    for (int x = 0; x < 550; ++x)
        EXPECT_EQ(ink(x, 10), 1);
    EXPECT_EQ(ink(549, 3), 1);
}

TEST_P(BlackKeeping, EnlargingRepeatsPixelsAndAPartIsCutFromThePage)
{
    const bool blackIsOne = GetParam();
    TRaster r = Blank(16, 4);
    r.Set(3, 1);
    const TMonoBitmap page = FromRaster(r, blackIsOne);
    const TRaster big = ToRaster(ScaleKeepingBlack(page, 32, 8));
    TRaster expected = Blank(32, 8);
    for (int y : {2, 3})
        for (int x : {6, 7})
            expected.Set(x, y);
    EXPECT_TRUE(big == expected);
    const TRaster part = ToRaster(ScalePartKeepingBlack(page, 2, 0, 4, 4, 2, 2));
    TRaster expectedPart = Blank(2, 2);
    expectedPart.Set(0, 0);
    EXPECT_TRUE(part == expectedPart);
}

INSTANTIATE_TEST_SUITE_P(Polarity, BlackKeeping, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "BlackIsOne" : "BlackIsZero"; });

} // namespace
} // namespace zn::faxdoc
