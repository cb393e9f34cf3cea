#include "fax_engine.h"

#include <cctype>
#include <cstdlib>

namespace zn::comms {

const KeywordTable& Class2Keywords()
{
    static const KeywordTable k = {"AT+FCLASS=2", "AT+FMDL?", "AT+FMFR?", "AT+FREV?", "AT+FDIS", "AT+FLID", "AT+FDCC",
                                   "+FCON",       "+FDIS",    "+FDCS",    "+FTSI",    "+FCSI",   "+FPTS",   "FHNG"};
    return k;
}

const KeywordTable& Class20Keywords()
{
    static const KeywordTable k = {"AT+FCLASS=2.0", "AT+FMI?", "AT+FMM?", "AT+FMR?", "AT+FIS", "AT+FLI", "AT+FCC",
                                   "+FCO",          "+FIS",    "+FCS",    "+FTI",    "+FCI",   "+FPS",   "FHS"};
    return k;
}

std::string DefaultInitString(bool blindDial, bool detectBusy)
{
    char x = blindDial ? (detectBusy ? '3' : '1') : (detectBusy ? '4' : '2');
    return std::string("ATE0Q0V1X") + x + "S0=0S2=43";
}

std::string NormaliseModemInit(const std::string& text)
{
    std::string s = text.substr(0, 40);
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    if (s.empty())
        return s;
    if (s.compare(0, 2, "AT") != 0)
        s = ("AT" + s).substr(0, 40);
    return s;
}

char BrDigit(int32_t bps)
{
    switch (bps) {
    case 2400: return '0';
    case 4800: return '1';
    case 7200: return '2';
    case 12000: return '4';
    case 14400: return '5';
    default: return '3';
    }
}

int32_t MinimumRowBytes(uint8_t scanTimeCode, bool fine, int32_t bitRate)
{
    static const int normalMs[8] = {0, 5, 10, 10, 20, 20, 40, 40};
    static const int fineMs[8] = {0, 5, 5, 10, 10, 20, 20, 40};
    int ms = (fine ? fineMs : normalMs)[scanTimeCode & 7];
    return int32_t(int64_t(ms) * bitRate / 8000);
}

int32_t HangupCodeOf(const std::string& response)
{
    auto colon = response.find(':');
    if (colon == std::string::npos)
        return 0;
    std::string digits;
    for (char c : response.substr(colon + 1, 3))
        if (std::isdigit(static_cast<unsigned char>(c)))
            digits += c;
    return digits.empty() ? 0 : std::atoi(digits.c_str());
}

uint8_t ReverseBits(uint8_t b)
{
    b = uint8_t((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = uint8_t((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return uint8_t((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

std::string StationIdFromReport(const std::string& value)
{
    std::string id;
    for (char c : value)
        if (c != '"')
            id += c;
    auto first = id.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    auto last = id.find_last_not_of(' ');
    return id.substr(first, last - first + 1).substr(0, 20);
}

} // namespace zn::comms
