// Small conversions shared by the settings forms: blank trimming, fax-class names and the
// transfer-rate lists.
#pragma once
#include <string>

namespace zn::foundation {

// Only the space character is a blank here; tabs stay.
std::string TrimLeadingBlanks(const std::string& text);
std::string TrimTrailingBlanks(const std::string& text);
std::string TrimBlanks(const std::string& text);
std::string UpperCase(std::string text); // ASCII letters only, so compares do not depend on the locale

// 0 "AutoDetect", 1 "Class 1", 2 "Class 2", 3 "Class 2.0", any other "unknown".
std::string FaxClassToText(int faxClass);

// Rate lists hold 2400, 4800, 7200, 9600, 12000, 14400 at indexes 0..5; anything unknown is 9600.
int IndexToBps(int index);
int BpsToIndex(int bps);        // for MaximumBPS
int BpsToIndexReceive(int bps); // for MaximumBPSReceive

// The platform test of the settings and printer code: this system behaves as on the NT family.
bool IsWindowsNT();

} // namespace zn::foundation
