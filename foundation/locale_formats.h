// The user's locale formats for dates, times and money, in the format strings the rest of the
// program uses ("m/d/yy", "mmmm d, yyyy", "h:mm AMPM" ...).
#pragma once
#include <string>

class QLocale;

namespace zn::foundation {

struct LocaleFormats {
    std::string CurrencyString;
    int CurrencyFormat = 0; // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
    int NegCurrFormat = 0;  // 0 "($1)" .. 15 "(1 $)", the Windows numbering
    char ThousandSeparator = ',';
    char DecimalSeparator = '.';
    int CurrencyDecimals = 0;
    char DateSeparator = '/';
    std::string ShortDateFormat = "m/d/yy";
    std::string LongDateFormat = "mmmm d, yyyy";
    char TimeSeparator = ':';
    std::string TimeAMString = "am";
    std::string TimePMString = "pm";
    std::string ShortTimeFormat;
    std::string LongTimeFormat;
};

LocaleFormats FormatsOfLocale(const QLocale& locale);
LocaleFormats& CurrentLocaleFormats(); // process-wide, filled by ReloadLocaleFormats
// Re-reads the user's locale; called once at start.
void ReloadLocaleFormats();

} // namespace zn::foundation
