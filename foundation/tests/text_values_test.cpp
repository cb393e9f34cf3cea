#include "foundation/text_values.h"
#include "platform/tests/param_name.h"

#include <gtest/gtest.h>

namespace zn::foundation {
namespace {

struct TrimCase {
    std::string text, leading, trailing, both;
};

class TrimTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimTest, RemovesOnlySpaces)
{
    const TrimCase& c = GetParam();
    EXPECT_EQ(TrimLeadingBlanks(c.text), c.leading);
    EXPECT_EQ(TrimTrailingBlanks(c.text), c.trailing);
    EXPECT_EQ(TrimBlanks(c.text), c.both);
}

INSTANTIATE_TEST_SUITE_P(Texts, TrimTest,
                         ::testing::Values(TrimCase{"  a b  ", "a b  ", "  a b", "a b"},
                                           TrimCase{"\ta b\t", "\ta b\t", "\ta b\t", "\ta b\t"},
                                           TrimCase{"    ", "", "", ""}, TrimCase{"", "", "", ""},
                                           TrimCase{"x", "x", "x", "x"}),
                         [](const ::testing::TestParamInfo<TrimCase>& info) {
                             std::string name;
                             for (const char c : info.param.text)
                                 name += c == ' ' ? std::string("Space") : c == '\t' ? std::string("Tab") : zn::test::ParamName(std::string(1, c));
                             return name.empty() ? std::string("Empty") : name;
                         });

TEST(FaxClassToTextTest, NamesEveryClassAndUnknown)
{
    EXPECT_EQ(FaxClassToText(0), "AutoDetect");
    EXPECT_EQ(FaxClassToText(1), "Class 1");
    EXPECT_EQ(FaxClassToText(2), "Class 2");
    EXPECT_EQ(FaxClassToText(3), "Class 2.0");
    EXPECT_EQ(FaxClassToText(4), "unknown");
    EXPECT_EQ(FaxClassToText(-1), "unknown");
}

struct RateCase {
    int index, bps;
};

class RateTest : public ::testing::TestWithParam<RateCase> {};

TEST_P(RateTest, MapsBothWays)
{
    EXPECT_EQ(IndexToBps(GetParam().index), GetParam().bps);
    EXPECT_EQ(BpsToIndex(GetParam().bps), GetParam().index);
    EXPECT_EQ(BpsToIndexReceive(GetParam().bps), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Rates, RateTest,
                         ::testing::Values(RateCase{0, 2400}, RateCase{1, 4800}, RateCase{2, 7200}, RateCase{3, 9600},
                                           RateCase{4, 12000}, RateCase{5, 14400}),
                         [](const ::testing::TestParamInfo<RateCase>& info) { return "Index" + std::to_string(info.param.index); });

TEST(RateTest, UnknownValuesMeanNineSixHundred)
{
    EXPECT_EQ(IndexToBps(9), 9600);
    EXPECT_EQ(IndexToBps(-1), 9600);
    EXPECT_EQ(BpsToIndex(19200), 3);
    EXPECT_EQ(BpsToIndexReceive(0), 3);
}

} // namespace
} // namespace zn::foundation
