#include "xbase_common.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace zn::xbase {

namespace {

struct ErrorEntry {
    Err code;
    const char* text;
};

const ErrorEntry kErrorTexts[] = {
    {Err::Ok, "No error"},
    {Err::FileNotFound, "File not found"},
    {Err::FileOpen, "File cannot be opened"},
    {Err::FileRead, "Read error"},
    {Err::FileWrite, "Write error (disk full or not writable)"},
    {Err::InUse, "File is in use by another"},
    {Err::LockTimeout, "Lock timed out"},
    {Err::CorruptTable, "Table file is corrupt"},
    {Err::CorruptIndex, "Index file is corrupt"},
    {Err::NoSuchField, "Field not found"},
    {Err::ExprSyntax, "Syntax error in expression"},
    {Err::ExprType, "Data type mismatch in expression"},
    {Err::NoArea, "No table is open in the work area"},
    {Err::NoOrder, "No index order is active"},
    {Err::ReadOnly, "Table is open read-only"},
    {Err::ExclusiveNeeded, "Table must be open exclusively"},
    {Err::BadArgument, "Invalid argument"},
    {Err::NoFreeArea, "No free work area"},
    {Err::ValueTooWide, "Value does not fit the field"},
    {Err::NoSuchTag, "Index tag not found"},
    {Err::KeyTooLong, "Index key is too long"},
    {Err::BadTagName, "Invalid tag name"},
    {Err::BadField, "Invalid field definition"},
    {Err::NotFound, "Record not found"},
    {Err::OutOfMemory, "Out of memory"},
    {Err::IndexChanged, "Index changed by another user"},
};

// Separator and order of day, month and year for each date format.
struct DateLayout {
    char separator;
    const char* order;
};
const DateLayout kDateLayouts[] = {
    {'/', "mdy"}, {'.', "ymd"}, {'/', "dmy"}, {'/', "dmy"}, {'.', "dmy"}, {'-', "dmy"}, {'-', "dmy"},
};

const DateLayout& LayoutOf(const Settings& s)
{
    int f = s.dateFormat;
    if (f < 0 || f > 6)
        f = 0;
    return kDateLayouts[f];
}

} // namespace

const char* ErrorText(Err e)
{
    for (const auto& entry : kErrorTexts)
        if (entry.code == e)
            return entry.text;
    return "Unknown error";
}

int32_t JulianDay(int year, int month, int day)
{
    int a = (14 - month) / 12;
    int y = year + 4800 - a;
    int m = month + 12 * a - 3;
    return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void CivilDate(int32_t julian, int& year, int& month, int& day)
{
    int a = julian + 32044;
    int b = (4 * a + 3) / 146097;
    int c = a - 146097 * b / 4;
    int d = (4 * c + 3) / 1461;
    int e = c - 1461 * d / 4;
    int m = (5 * e + 2) / 153;
    day = e - (153 * m + 2) / 5 + 1;
    month = m + 3 - 12 * (m / 10);
    year = 100 * b + d - 4800 + m / 10;
}

bool ValidDate(int year, int month, int day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int limit = kDays[month - 1];
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0))
        limit = 29;
    return day <= limit;
}

int32_t Today()
{
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    return JulianDay(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

int ExpandYear(int twoDigitYear)
{
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    int current = local.tm_year + 1900;
    int year = current / 100 * 100 + twoDigitYear;
    if (year > current + 50)
        year -= 100;
    else if (year <= current - 50)
        year += 100;
    return year;
}

int32_t DateFromDtos(const char* text, size_t length)
{
    if (length < 8)
        return 0;
    int parts[3] = {0, 0, 0};
    const int widths[3] = {4, 2, 2};
    size_t pos = 0;
    for (int p = 0; p < 3; ++p) {
        for (int i = 0; i < widths[p]; ++i, ++pos) {
            char c = text[pos];
            if (c < '0' || c > '9')
                return 0;
            parts[p] = parts[p] * 10 + (c - '0');
        }
    }
    if (!ValidDate(parts[0], parts[1], parts[2]))
        return 0;
    return JulianDay(parts[0], parts[1], parts[2]);
}

std::string DtosFromDate(int32_t julian)
{
    if (julian <= 0)
        return std::string(8, ' ');
    int y, m, d;
    CivilDate(julian, y, m, d);
    char buf[16];
    snprintf(buf, sizeof buf, "%04d%02d%02d", y % 10000, m, d);
    return buf;
}

std::string DtocFromDate(int32_t julian, const Settings& settings)
{
    const DateLayout& layout = LayoutOf(settings);
    int width = settings.century ? 10 : 8;
    if (julian <= 0) {
        std::string blank(width, ' ');
        blank[layout.order[0] == 'y' && settings.century ? 4 : 2] = layout.separator;
        blank[layout.order[0] == 'y' && settings.century ? 7 : 5] = layout.separator;
        return blank;
    }
    int y, m, d;
    CivilDate(julian, y, m, d);
    std::string out;
    char buf[8];
    for (int i = 0; i < 3; ++i) {
        if (i)
            out += layout.separator;
        switch (layout.order[i]) {
        case 'd': snprintf(buf, sizeof buf, "%02d", d); break;
        case 'm': snprintf(buf, sizeof buf, "%02d", m); break;
        default:
            if (settings.century)
                snprintf(buf, sizeof buf, "%04d", y % 10000);
            else
                snprintf(buf, sizeof buf, "%02d", y % 100);
        }
        out += buf;
    }
    return out;
}

int32_t DateFromDtoc(const std::string& text, const Settings& settings)
{
    const DateLayout& layout = LayoutOf(settings);
    int values[3] = {0, 0, 0};
    int digits[3] = {0, 0, 0};
    int part = 0;
    bool any = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (part > 2)
                return 0;
            values[part] = values[part] * 10 + (c - '0');
            if (++digits[part] > 4)
                return 0;
            any = true;
        } else if (c == ' ' && !any) {
            continue;
        } else if (c == ' ' && part == 2 && digits[2]) {
            break;
        } else {
            if (part >= 2 || !digits[part])
                return 0;
            ++part;
        }
    }
    if (!any || part != 2 || !digits[2])
        return 0;
    int y = 0, m = 0, d = 0;
    for (int i = 0; i < 3; ++i) {
        int v = values[i];
        if (layout.order[i] == 'y')
            y = digits[i] <= 2 ? ExpandYear(v) : v;
        else if (layout.order[i] == 'm')
            m = v;
        else
            d = v;
    }
    if (!ValidDate(y, m, d))
        return 0;
    return JulianDay(y, m, d);
}

int CompareText(const std::string& left, const std::string& right, bool exact)
{
    size_t n = left.size(), k = right.size();
    size_t length = exact ? std::max(n, k) : k;
    for (size_t i = 0; i < length; ++i) {
        unsigned char a = i < n ? left[i] : ' ';
        unsigned char b = i < k ? right[i] : ' ';
        if (a != b)
            return a < b ? -1 : 1;
    }
    return 0;
}

} // namespace zn::xbase
