#include "date_format.h"

#include <QDateTime>
#include <QLocale>

#include <cctype>
#include <cstdio>
#include <mutex>

namespace zn::platform {
namespace {

int Weekday(const DateTime& when) // 1 Monday .. 7 Sunday, as QLocale counts
{
    const QDate date(when.year, when.month, when.day);
    return date.isValid() ? date.dayOfWeek() : 1;
}

std::string Number(int value, int digits)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
    return buffer;
}

bool StartsWithCI(const std::string& text, size_t pos, const char* prefix)
{
    for (size_t i = 0; prefix[i]; ++i) {
        if (pos + i >= text.size() || std::toupper(static_cast<unsigned char>(text[pos + i])) != prefix[i])
            return false;
    }
    return true;
}

// Whether the hour at pos is a 12-hour one: an am/pm marker comes before the next hour letter.
bool TwelveHourClockAhead(const std::string& format, size_t pos)
{
    bool quoted = false;
    for (size_t p = pos; p < format.size(); ++p) {
        const char c = format[p];
        if (c == '"' || c == '\'') {
            quoted = !quoted;
        } else if (!quoted && (c == 'a' || c == 'A')) {
            return StartsWithCI(format, p, "AM/PM") || StartsWithCI(format, p, "A/P")
                   || StartsWithCI(format, p, "AMPM");
        } else if (!quoted && (c == 'h' || c == 'H')) {
            return false;
        }
    }
    return false;
}

std::string ToStd(const QString& text) { return text.toStdString(); }

void Append(std::string& out, const std::string& format, const DateTime& when, int depth);

void AppendFormat(std::string& out, const std::string& format, const DateTime& when, int depth)
{
    const QLocale locale;
    char lastToken = 0;
    bool twelveHour = false;
    size_t i = 0;
    while (i < format.size()) {
        const char starter = format[i++];
        const char letter = char(std::toupper(static_cast<unsigned char>(starter)));
        char token = letter;
        size_t count = 1;
        auto takeRun = [&] {
            while (i < format.size() && std::toupper(static_cast<unsigned char>(format[i])) == letter) {
                ++count;
                ++i;
            }
        };
        if (std::isalpha(static_cast<unsigned char>(token))) {
            if (token == 'M' && lastToken == 'H')
                token = 'N';
            lastToken = token;
        }
        switch (token) {
        case 'Y':
            takeRun();
            out += count <= 2 ? Number(when.year % 100, 2) : Number(when.year, 4);
            break;
        case 'M':
            takeRun();
            if (count <= 2)
                out += Number(when.month, int(count));
            else
                out += ToStd(locale.monthName(when.month, count == 3 ? QLocale::ShortFormat : QLocale::LongFormat));
            break;
        case 'D':
            takeRun();
            if (count <= 2)
                out += Number(when.day, int(count));
            else if (count <= 4)
                out += ToStd(locale.dayName(Weekday(when), count == 3 ? QLocale::ShortFormat : QLocale::LongFormat));
            else
                Append(out, count == 5 ? ShortDateFormat() : LongDateFormat(), when, depth);
            break;
        case 'H': {
            takeRun();
            twelveHour = twelveHour || TwelveHourClockAhead(format, i);
            int hour = when.hour;
            if (twelveHour)
                hour = hour == 0 ? 12 : hour > 12 ? hour - 12 : hour;
            out += Number(hour, count >= 2 ? 2 : 1);
            break;
        }
        case 'N':
            takeRun();
            out += Number(when.minute, count >= 2 ? 2 : 1);
            break;
        case 'S':
            takeRun();
            out += Number(when.second, count >= 2 ? 2 : 1);
            break;
        case 'Z':
            takeRun();
            out += Number(when.msec, count >= 2 ? 3 : 1);
            break;
        case 'T':
            takeRun();
            Append(out, count == 1 ? ShortTimeFormat() : LongTimeFormat(), when, depth);
            break;
        case 'C':
            takeRun();
            Append(out, ShortDateFormat(), when, depth);
            if (when.hour || when.minute || when.second || when.msec) {
                out += ' ';
                Append(out, LongTimeFormat(), when, depth);
            }
            break;
        case 'A': {
            const size_t at = i - 1;
            const bool pm = when.hour >= 12;
            if (StartsWithCI(format, at, "AM/PM")) {
                out += format.substr(at + (pm ? 3 : 0), 2);
                i = at + 5;
                twelveHour = true;
            } else if (StartsWithCI(format, at, "A/P")) {
                out += format[at + (pm ? 2 : 0)];
                i = at + 3;
                twelveHour = true;
            } else if (StartsWithCI(format, at, "AMPM")) {
                out += ToStd(pm ? locale.pmText() : locale.amText());
                i = at + 4;
                twelveHour = true;
            } else {
                out += starter;
            }
            break;
        }
        case '"':
        case '\'': {
            const size_t close = format.find(starter, i);
            out += format.substr(i, close == std::string::npos ? std::string::npos : close - i);
            i = close == std::string::npos ? format.size() : close + 1;
            break;
        }
        default: out += starter;
        }
    }
}

void Append(std::string& out, const std::string& format, const DateTime& when, int depth)
{
    if (depth < 2) // a locale form never names another; this only stops a runaway
        AppendFormat(out, format, when, depth + 1);
}

// Turns one of Qt's locale format strings into the letters above.
std::string FromQtFormat(const QString& qt)
{
    const std::string f = qt.toStdString();
    std::string out;
    size_t i = 0;
    while (i < f.size()) {
        const char c = f[i];
        size_t run = 1;
        while (i + run < f.size() && f[i + run] == c)
            ++run;
        switch (c) {
        case 'd':
        case 'y':
        case 's':
        case 'z': out.append(run, c); break;
        case 'M': out.append(run, 'm'); break;
        case 'h':
        case 'H': out.append(run, 'h'); break;
        case 'm': out.append(run, 'n'); break;
        case 'A':
        case 'a':
            // "AP"/"A" and "ap"/"a" mark the half of the day, in that case.
            out += c == 'A' ? "AM/PM" : "am/pm";
            if (i + run < f.size() && (f[i + run] == 'P' || f[i + run] == 'p'))
                ++run;
            break;
        case 't': // time zone: not shown; drop the blank before it
            while (!out.empty() && out.back() == ' ')
                out.pop_back();
            break;
        case '\'': {
            if (run >= 2 && run % 2 == 0) { // '' is a quote character
                out.append(run / 2, '\'');
                break;
            }
            const size_t close = f.find('\'', i + 1);
            const std::string text = f.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
            out += "\"" + text + "\"";
            run = (close == std::string::npos ? f.size() : close + 1) - i;
            break;
        }
        default:
            if (std::isalpha(static_cast<unsigned char>(c)))
                out += "\"" + std::string(run, c) + "\"";
            else
                out.append(run, c);
        }
        i += run;
    }
    return out;
}

} // namespace

DateTime Now()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()};
}

DateTime FromTimeT(time_t when)
{
    tm local{};
    localtime_r(&when, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 0};
}

std::string FormatDateTime(const std::string& format, const DateTime& when)
{
    std::string out;
    AppendFormat(out, format, when, 0);
    return out;
}

namespace {
std::mutex shortDateMutex;
std::string shortDateOverride;
} // namespace

std::string ShortDateFormat()
{
    {
        std::lock_guard<std::mutex> lock(shortDateMutex);
        if (!shortDateOverride.empty())
            return shortDateOverride;
    }
    return FromQtFormat(QLocale().dateFormat(QLocale::ShortFormat));
}

std::string SetShortDateFormat(const std::string& format)
{
    std::string before = ShortDateFormat();
    std::lock_guard<std::mutex> lock(shortDateMutex);
    shortDateOverride = format;
    return before;
}

std::string LongDateFormat() { return FromQtFormat(QLocale().dateFormat(QLocale::LongFormat)); }

namespace {

// The short time shows hours and minutes only, as the lists do; some locales' short form (the C
// locale's "HH:mm:ss") carries seconds, which go here with the separator before them.
QString WithoutSeconds(const QString& format)
{
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == '\'')
            quoted = !quoted;
        if (!quoted && (c == 's' || c == 'z')) {
            while (!out.isEmpty() && (out.back() == ':' || out.back() == '.'))
                out.chop(1);
            continue;
        }
        out += c;
    }
    return out;
}

} // namespace

std::string ShortTimeFormat() { return FromQtFormat(WithoutSeconds(QLocale().timeFormat(QLocale::ShortFormat))); }

std::string LongTimeFormat() { return FromQtFormat(QLocale().timeFormat(QLocale::LongFormat)); }

} // namespace zn::platform
