#include "platform/date_format.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace zn::platform {
namespace {

// Tuesday 2024-03-05 07:08:09.045, and the same day at 13:05 and 00:05.
constexpr DateTime kMorning{2024, 3, 5, 7, 8, 9, 45};
constexpr DateTime kAfternoon{2024, 3, 5, 13, 5, 0, 0};
constexpr DateTime kMidnight{2024, 3, 5, 0, 5, 0, 0};

class DateFormatTest : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }
};

struct FormatCase {
    const char* format;
    DateTime when;
    const char* expected;
};

void PrintTo(const FormatCase& c, std::ostream* os)
{
    *os << "format_";
    for (const char* p = c.format; *p; ++p)
        *os << (std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
}

class FormatDateTimeTest : public DateFormatTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatDateTimeTest, GivesTheText)
{
    EXPECT_EQ(FormatDateTime(GetParam().format, GetParam().when), GetParam().expected) << GetParam().format;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatDateTimeTest,
    ::testing::Values(
        FormatCase{"yyyy-mm-dd hh:nn:ss", kMorning, "2024-03-05 07:08:09"}, FormatCase{"mmdd", kMorning, "0305"},
        FormatCase{"hh:mm", kMorning, "07:08"}, // m right after h is minutes
        FormatCase{"d/m/yy", kMorning, "5/3/24"}, FormatCase{"h:nn:ss.zzz", kMorning, "7:08:09.045"},
        FormatCase{"h:nn am/pm", kAfternoon, "1:05 pm"}, FormatCase{"hh:nn AM/PM", kMidnight, "12:05 AM"},
        FormatCase{"h:nn a/p", kAfternoon, "1:05 p"}, FormatCase{"h:nn ampm", kAfternoon, "1:05 PM"},
        FormatCase{"HH:NN", kAfternoon, "13:05"}, FormatCase{"dddd, mmmm d", kMorning, "Tuesday, March 5"},
        FormatCase{"ddd mmm", kMorning, "Tue Mar"}, FormatCase{"\"day\" d 'at' h", kMorning, "day 5 at 7"},
        FormatCase{"ddddd", kMorning, "3/5/24"}, FormatCase{"c", kMorning, "3/5/24 7:08:09 AM"},
        FormatCase{"C", DateTime{2024, 3, 5, 0, 0, 0, 0}, "3/5/24"}, FormatCase{"tt", kAfternoon, "1:05:00 PM"}),
                         ::testing::PrintToStringParamName());

TEST_F(DateFormatTest, LocaleFormsComeFromQtsLocaleInTheseLetters)
{
    EXPECT_EQ(ShortDateFormat(), "m/d/yy");
    EXPECT_EQ(ShortTimeFormat(), "h:nn AM/PM");
    EXPECT_EQ(LongTimeFormat(), "h:nn:ss AM/PM");
    EXPECT_EQ(FormatDateTime(LongDateFormat(), kMorning), "Tuesday, March 5, 2024");
}

// The short time never shows seconds, also where the locale's own short form has them.
TEST_F(DateFormatTest, TheShortTimeHasNoSeconds)
{
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(ShortTimeFormat(), "hh:nn");
    EXPECT_EQ(FormatDateTime(ShortTimeFormat(), kAfternoon), "13:05");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatDateTime(ShortTimeFormat(), kAfternoon), "13:05");
}

TEST_F(DateFormatTest, AnotherLocaleShowsAtOnce)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FormatDateTime(ShortDateFormat(), kMorning), "05.03.24");
    EXPECT_EQ(FormatDateTime(LongDateFormat(), kMorning), "Dienstag, 5. März 2024");
    EXPECT_EQ(FormatDateTime(LongTimeFormat(), kAfternoon), "13:05:00");
}

TEST(DateTimeTest, NowAndFromTimeTAgree)
{
    const DateTime now = Now();
    const DateTime fromT = FromTimeT(time(nullptr));
    EXPECT_EQ(now.year, fromT.year);
    EXPECT_EQ(now.month, fromT.month);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
}

} // namespace
} // namespace zn::platform
