#include "foundation/locale_formats.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace zn::foundation {
namespace {

TEST(LocaleFormatsTest, UnitedStates)
{
    const LocaleFormats f = FormatsOfLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(f.CurrencyString, "$");
    EXPECT_EQ(f.CurrencyFormat, 0);
    EXPECT_EQ(f.ThousandSeparator, ',');
    EXPECT_EQ(f.DecimalSeparator, '.');
    EXPECT_EQ(f.CurrencyDecimals, 2);
    EXPECT_EQ(f.DateSeparator, '/');
    EXPECT_EQ(f.ShortDateFormat, "m/d/yy");
    EXPECT_EQ(f.TimeSeparator, ':');
    EXPECT_EQ(f.ShortTimeFormat, "h:mm AMPM");
    EXPECT_EQ(f.LongTimeFormat, "h:mm:ss AMPM");
    EXPECT_EQ(f.TimeAMString, "AM");
}

TEST(LocaleFormatsTest, Germany)
{
    const LocaleFormats f = FormatsOfLocale(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(f.CurrencyString, "€");
    EXPECT_EQ(f.CurrencyFormat, 3); // "1 €"
    EXPECT_EQ(f.NegCurrFormat, 8);  // "-1 €"
    EXPECT_EQ(f.ThousandSeparator, '.');
    EXPECT_EQ(f.DecimalSeparator, ',');
    EXPECT_EQ(f.DateSeparator, '.');
    EXPECT_EQ(f.ShortDateFormat, "dd.mm.yy");
    EXPECT_EQ(f.ShortTimeFormat, "hh:mm");
    EXPECT_EQ(f.LongTimeFormat, "hh:mm:ss");
}

TEST(LocaleFormatsTest, ReloadFillsTheProcessWideFormats)
{
    CurrentLocaleFormats().ShortTimeFormat.clear();
    ReloadLocaleFormats();
    EXPECT_FALSE(CurrentLocaleFormats().ShortTimeFormat.empty());
    EXPECT_FALSE(CurrentLocaleFormats().LongDateFormat.empty());
}

} // namespace
} // namespace zn::foundation
