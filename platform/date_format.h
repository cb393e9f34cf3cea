// Date and time texts in the Parts' format strings ("yyyy-mm-dd hh:nn:ss", "mmdd", the locale's
// short and long forms): y year, m month (or minutes right after h), d day, h hour, n minutes, s seconds,
// ddd/dddd and mmm/mmmm names, am/pm; text in double or single quotes is copied.
#pragma once
#include <ctime>
#include <string>

namespace zn::platform {

struct DateTime { int year, month, day, hour, minute, second, msec; };
DateTime Now();
std::string FormatDateTime(const std::string& format, const DateTime& when);

// The user's locale forms, as format strings of the kind above (set once at start-up).
std::string ShortDateFormat();
std::string LongDateFormat();
std::string ShortTimeFormat();
std::string LongTimeFormat();

} // namespace zn::platform
