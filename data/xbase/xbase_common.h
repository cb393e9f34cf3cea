// Result codes, field layout, engine settings and date arithmetic shared by the xBase engine's parts.
#pragma once
#include <cstdint>
#include <string>

namespace zn::xbase {

// Negative engine result codes; 0 is success. Texts in ErrorText.
enum class Err : int {
    Ok = 0,
    FileNotFound = -1,
    FileOpen = -2,
    FileRead = -3,
    FileWrite = -4,
    InUse = -5,
    LockTimeout = -6,
    CorruptTable = -7,
    CorruptIndex = -8,
    NoSuchField = -9,
    ExprSyntax = -10,
    ExprType = -11,
    NoArea = -12,
    NoOrder = -13,
    ReadOnly = -14,
    ExclusiveNeeded = -15,
    BadArgument = -16,
    NoFreeArea = -17,
    ValueTooWide = -18,
    NoSuchTag = -19,
    KeyTooLong = -20,
    BadTagName = -21,
    BadField = -22,
    NotFound = -23,
    OutOfMemory = -24,
    // An index changed under a read that took no lock; the read is done again under the lock. It
    // never leaves the engine.
    IndexChanged = -25,
};

const char* ErrorText(Err e);

enum class OpenMode { Shared = 0, ReadOnly = 1, Exclusive = 2 };

struct Field {
    std::string name; // upper case, at most 10 characters
    char type = 'C';  // C, D, L, N (F read as N); other letters are kept as raw text
    int length = 0;
    int decimals = 0;
    int offset = 0; // in the record; the deletion flag is byte 0, so the first field is at 1
};

// Engine-wide settings (the environment of the table components).
struct Settings {
    bool deleted = false; // hide records marked deleted
    bool century = false;
    int dateFormat = 0; // 0 American .. 6 Spanish
    bool exact = false;
    bool softSeek = false;
    int lockTimeoutSeconds = 1;
    int memoBlockSize = 64;
    bool fastRead = false;
};

// Julian day numbers: 2000-01-01 is 2451545; 0 stands for the empty date.
int32_t JulianDay(int year, int month, int day);
void CivilDate(int32_t julian, int& year, int& month, int& day);
bool ValidDate(int year, int month, int day);
int32_t Today();
// "YYYYMMDD" -> julian day; blanks or anything invalid -> 0.
int32_t DateFromDtos(const char* text, size_t length);
std::string DtosFromDate(int32_t julian); // 8 blanks for the empty date
// The date texts of the date-format and century settings.
std::string DtocFromDate(int32_t julian, const Settings& settings);
int32_t DateFromDtoc(const std::string& text, const Settings& settings);
// Two-digit years fall within the fifty years either side of the current year.
int ExpandYear(int twoDigitYear);

// Character field and key comparisons follow SET EXACT: with it off, a shorter right-hand text
// matches the start of the left-hand one.
int CompareText(const std::string& left, const std::string& right, bool exact);

} // namespace zn::xbase
