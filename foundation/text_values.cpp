#include "foundation/text_values.h"

#include <array>
#include <cctype>

namespace zn::foundation {

namespace {

constexpr std::array<int, 6> kRates = {2400, 4800, 7200, 9600, 12000, 14400};
constexpr int kDefaultRateIndex = 3;

} // namespace

std::string TrimLeadingBlanks(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}

std::string TrimTrailingBlanks(const std::string& text)
{
    const auto last = text.find_last_not_of(' ');
    return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

std::string TrimBlanks(const std::string& text) { return TrimLeadingBlanks(TrimTrailingBlanks(text)); }

std::string UpperCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string FaxClassToText(int faxClass)
{
    static const std::array<const char*, 4> names = {"AutoDetect", "Class 1", "Class 2", "Class 2.0"};
    if (faxClass < 0 || faxClass >= static_cast<int>(names.size()))
        return "unknown";
    return names[faxClass];
}

int IndexToBps(int index)
{
    if (index < 0 || index >= static_cast<int>(kRates.size()))
        return kRates[kDefaultRateIndex];
    return kRates[index];
}

int BpsToIndex(int bps)
{
    for (size_t i = 0; i < kRates.size(); ++i) {
        if (kRates[i] == bps)
            return static_cast<int>(i);
    }
    return kDefaultRateIndex;
}

int BpsToIndexReceive(int bps) { return BpsToIndex(bps); }

bool IsWindowsNT() { return true; }

} // namespace zn::foundation
