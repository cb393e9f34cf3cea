#include "foundation/locale_formats.h"

#include <QLocale>
#include <QRegularExpression>

#include <array>

namespace zn::foundation {

namespace {

// A separator as one character; characters outside Latin-1 (narrow no-break spaces ...) keep the default.
char SingleChar(const QString& text, char def)
{
    if (text.size() != 1 || text[0].unicode() > 0x7F)
        return text.size() == 1 && text[0].unicode() == 0xA0 ? ' ' : def;
    return static_cast<char>(text[0].unicode());
}

// The locale's amount 1 in money, with the symbol written "$", digits "1" and blanks " ".
QString CurrencyPattern(const QLocale& locale, double amount)
{
    QString text = locale.toCurrencyString(amount, "$", 0);
    text.replace(QChar(0xA0), ' ').replace(QChar(0x202F), ' ');
    text.remove(QChar(0x200E)).remove(QChar(0x200F));
    return text;
}

// The Windows number of a currency layout: its place in the table, 0 when it is not there.
template <size_t N>
int LayoutNumber(const QString& pattern, const std::array<const char*, N>& layouts)
{
    for (size_t i = 0; i < N; ++i) {
        if (pattern == QLatin1String(layouts[i]))
            return static_cast<int>(i);
    }
    return 0;
}

// Qt writes months as M and minutes as m; the program's format strings write both as m.
std::string DateFormatOf(QString format) { return format.replace('M', 'm').toStdString(); }

int DecimalsOf(const QLocale& locale)
{
    const QString text = locale.toCurrencyString(1.0);
    const int point = text.lastIndexOf(locale.decimalPoint());
    if (point < 0)
        return 0;
    int digits = 0;
    for (int i = point + 1; i < text.size() && text[i].isDigit(); ++i)
        ++digits;
    return digits;
}

} // namespace

LocaleFormats FormatsOfLocale(const QLocale& locale)
{
    static const std::array<const char*, 4> positive = {"$1", "1$", "$ 1", "1 $"};
    static const std::array<const char*, 16> negative = {"($1)", "-$1",  "$-1",   "$1-",  "(1$)", "-1$",
                                                         "1-$",  "1$-",  "-1 $",  "-$ 1", "1 $-", "$ 1-",
                                                         "$ -1", "1- $", "($ 1)", "(1 $)"};
    LocaleFormats f;
    f.CurrencyString = locale.currencySymbol().toStdString();
    f.CurrencyFormat = LayoutNumber(CurrencyPattern(locale, 1), positive);
    f.NegCurrFormat = LayoutNumber(CurrencyPattern(locale, -1), negative);
    f.ThousandSeparator = SingleChar(locale.groupSeparator(), ',');
    f.DecimalSeparator = SingleChar(locale.decimalPoint(), '.');
    f.CurrencyDecimals = DecimalsOf(locale);

    const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
    if (!shortDate.isEmpty())
        f.ShortDateFormat = DateFormatOf(shortDate);
    const QString longDate = locale.dateFormat(QLocale::LongFormat);
    if (!longDate.isEmpty())
        f.LongDateFormat = DateFormatOf(longDate);
    const QRegularExpression separator("[dMy]+([^dMy' ])[dMy]");
    const auto dateMatch = separator.match(shortDate);
    if (dateMatch.hasMatch())
        f.DateSeparator = SingleChar(dateMatch.captured(1), '/');

    const QString time = locale.timeFormat(QLocale::ShortFormat);
    const auto timeMatch = QRegularExpression("[hH]+([^hHm])m").match(time);
    if (timeMatch.hasMatch())
        f.TimeSeparator = SingleChar(timeMatch.captured(1), ':');
    if (!locale.amText().isEmpty())
        f.TimeAMString = locale.amText().toStdString();
    if (!locale.pmText().isEmpty())
        f.TimePMString = locale.pmText().toStdString();
    const bool leadingZero = time.contains("hh", Qt::CaseInsensitive);
    const bool twelveHours = time.contains('a', Qt::CaseInsensitive);
    const std::string hour = leadingZero ? "hh" : "h";
    const std::string suffix = twelveHours ? " AMPM" : "";
    f.ShortTimeFormat = hour + ":mm" + suffix;
    f.LongTimeFormat = hour + ":mm:ss" + suffix;
    return f;
}

LocaleFormats& CurrentLocaleFormats()
{
    static LocaleFormats formats = FormatsOfLocale(QLocale::system());
    return formats;
}

void ReloadLocaleFormats() { CurrentLocaleFormats() = FormatsOfLocale(QLocale::system()); }

} // namespace zn::foundation
