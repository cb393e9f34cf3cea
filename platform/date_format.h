// Date and time texts from the format strings our date texts are written in ("yyyy-mm-dd hh:nn:ss",
// "mmdd", the locale's short and long forms). Letters, in either case:
//   d dd        day;  ddd dddd short/long day name;  ddddd dddddd the locale's short/long date
//   m mm        month; mmm mmmm short/long month name; right after an h or hh: minutes
//   yy yyyy     year;  h hh hour (12-hour when am/pm, a/p or ampm follows); n nn minutes;
//   s ss        seconds; z zzz milliseconds; t tt the locale's short/long time;
//   c           the locale's short date, then " " and the long time unless it is midnight;
//   am/pm a/p   copied in the case written, choosing the half of the day; ampm the locale's text.
// Text in double or single quotes is copied; any other character is copied as it is.
#pragma once
#include <ctime>
#include <string>

namespace zn::platform {

struct DateTime {
    int year, month, day, hour, minute, second, msec;
};
DateTime Now();                  // local time
DateTime FromTimeT(time_t when); // local time
std::string FormatDateTime(const std::string& format, const DateTime& when);

// The user's locale forms (QLocale's default), as format strings of the kind above. They are read
// from the locale at each call, so a changed locale shows at once.
std::string ShortDateFormat();
// Replaces the locale's short date form for the whole process (the table settings do this); an
// empty text gives the locale's form back. Returns the form in force before.
std::string SetShortDateFormat(const std::string& format);
std::string LongDateFormat();
std::string ShortTimeFormat();
std::string LongTimeFormat();

} // namespace zn::platform
