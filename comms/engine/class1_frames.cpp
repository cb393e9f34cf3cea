#include "class1_frames.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace zn::comms {

namespace {
constexpr uint8_t DLE = 0x10, ETX = 0x03;
}

const std::vector<FaxRate>& FaxRates()
{
    static const std::vector<FaxRate> rates = {
        {14400, modV17, 0x20, "145", "146"}, {12000, modV17, 0x28, "121", "122"}, {9600, modV17, 0x24, "97", "98"},
        {9600, modV29, 0x04, "96", "96"},    {7200, modV17, 0x2C, "73", "74"},    {7200, modV29, 0x0C, "72", "72"},
        {4800, modV27ter, 0x08, "48", "48"}, {2400, modV27ter, 0x00, "24", "24"},
    };
    return rates;
}

uint8_t RatesFromCodes(const std::string& codeList)
{
    uint8_t mask = 0;
    std::string item;
    std::istringstream in(codeList);
    const auto& rates = FaxRates();
    while (std::getline(in, item, ',')) {
        std::string digits;
        for (char c : item)
            if (std::isdigit(static_cast<unsigned char>(c)))
                digits += c;
        for (size_t i = 0; i < rates.size(); ++i)
            if (digits == rates[i].longCode)
                mask = uint8_t(mask | 1u << i);
    }
    return mask;
}

uint8_t ModulationsOfRates(uint8_t rates)
{
    uint8_t m = 0;
    for (size_t i = 0; i < FaxRates().size(); ++i)
        if (rates & (1u << i))
            m |= FaxRates()[i].modulation;
    return m;
}

uint8_t ModulationsFromDis(uint8_t octet2)
{
    uint8_t m = modV27ter;
    if (octet2 & 0x04)
        m |= modV29;
    if ((octet2 & 0x24) == 0x24)
        m |= modV17;
    return m;
}

uint8_t DisRateBits(uint8_t modulations)
{
    uint8_t bits = 0;
    if (modulations & modV27ter)
        bits |= 0x08;
    if (modulations & modV29)
        bits |= 0x04;
    // V.17 is only coded together with V.27ter and V.29 (11, 12 and 14 set).
    if ((modulations & modV17) && (modulations & modV29))
        bits |= 0x2C;
    return bits;
}

int RateIndexFromDcs(uint8_t octet2)
{
    const auto& rates = FaxRates();
    for (size_t i = 0; i < rates.size(); ++i)
        if (rates[i].dcsBits == (octet2 & kDcsRateMask))
            return int(i);
    return -1;
}

int ChooseRate(uint8_t localRates, uint8_t remoteModulations, int32_t maxBps, int from)
{
    const auto& rates = FaxRates();
    for (size_t i = size_t(std::max(from, 0)); i < rates.size(); ++i)
        if ((localRates & (1u << i)) && (rates[i].modulation & remoteModulations) && rates[i].bitRate <= maxBps)
            return int(i);
    return -1;
}

uint8_t ScanTimeCodeFromOctet3(uint8_t octet3)
{
    static const uint8_t codes[8] = {5, 1, 3, 4, 7, 6, 2, 0};
    return codes[(octet3 & 0x70) >> 4];
}

uint8_t ScanTimeBitsForDcs(uint8_t code, bool fine)
{
    static const uint8_t normal[8] = {0x70, 0x10, 0x20, 0x20, 0x00, 0x00, 0x40, 0x40};
    static const uint8_t fineBits[8] = {0x70, 0x10, 0x10, 0x20, 0x20, 0x00, 0x00, 0x40};
    return (fine ? fineBits : normal)[code & 7];
}

std::vector<uint8_t> BuildFrame(uint8_t fcf, bool final, const std::vector<uint8_t>& info)
{
    std::vector<uint8_t> f = {0xFF, uint8_t(final ? 0x13 : 0x03), fcf};
    for (uint8_t b : info) {
        f.push_back(b);
        if (b == DLE)
            f.push_back(DLE);
    }
    f.push_back(DLE);
    f.push_back(ETX);
    return f;
}

std::vector<uint8_t> BuildIdFrame(uint8_t fcf, const std::string& stationId)
{
    std::string id = stationId.substr(0, 20);
    std::vector<uint8_t> info(20 - id.size(), ' ');
    for (auto it = id.rbegin(); it != id.rend(); ++it)
        info.push_back(uint8_t(*it));
    return BuildFrame(fcf, false, info);
}

std::string StationIdFromFrame(const std::vector<uint8_t>& info)
{
    std::string id;
    for (size_t i = std::min<size_t>(info.size(), 20); i > 0; --i)
        id += char(info[i - 1]);
    auto first = id.find_first_not_of(' ');
    auto last = id.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : id.substr(first, last - first + 1);
}

std::vector<uint8_t> BuildDIS(const DisParams& p)
{
    // Octet 2: receiver T.4 operation, fine resolution, rates. Octet 3: 1728/2048 rows, A4 and B4
    // length, 0 ms scan time, extended. Octet 4: nothing more.
    return BuildFrame(fcfDIS, true, {0x00, uint8_t(0x42 | DisRateBits(p.modulations)), 0xF9, 0x00});
}

std::vector<uint8_t> BuildDCS(const DcsParams& p)
{
    const FaxRate& rate = FaxRates()[size_t(p.rateIndex)];
    uint8_t o2 = uint8_t((p.fine ? 0x42 : 0x02) | rate.dcsBits);
    uint8_t o3 = uint8_t(ScanTimeBitsForDcs(p.scanTimeCode, p.fine) | 0x88 | (p.wide ? 0x01 : 0x00));
    return BuildFrame(fcfDCS, true, {0x00, o2, o3, 0x00});
}

std::vector<uint8_t> BuildTCF(int32_t bitRate)
{
    size_t n = std::min<size_t>(size_t(bitRate / 100) * 18, 8192);
    std::vector<uint8_t> t(n, 0);
    t.push_back(DLE);
    t.push_back(ETX);
    return t;
}

void TrainingCount::Add(uint8_t c)
{
    ++bytes;
    if (c != 0) {
        ++nonZero;
        zeroRun = 0;
        return;
    }
    longestZeroRun = std::max(longestZeroRun, ++zeroRun);
}

bool TrainingIsGood(const TrainingCount& t, int32_t bitRate)
{
    if (t.bytes <= 0)
        return false;
    if (bitRate > 0 && t.longestZeroRun >= bitRate / 8)
        return true;
    return int64_t(t.nonZero) * 100 / t.bytes < 10;
}

ReceivedFrame ParseFrame(const std::string& bytes)
{
    ReceivedFrame f;
    auto start = bytes.find('\xFF');
    if (start == std::string::npos || bytes.size() < start + 3)
        return f;
    f.valid = true;
    f.final = (uint8_t(bytes[start + 1]) & 0x10) != 0;
    f.fcf = uint8_t(bytes[start + 2]);
    f.info.assign(bytes.begin() + long(start) + 3, bytes.end());
    return f;
}

namespace {
DecodedCaps DecodeCommon(const std::vector<uint8_t>& info)
{
    DecodedCaps c;
    uint8_t o2 = info.size() > 1 ? info[1] : 0;
    uint8_t o3 = info.size() > 2 ? info[2] : 0;
    c.fine = (o2 & 0x40) != 0;
    c.scanTimeCode = ScanTimeCodeFromOctet3(o3);
    c.length = o3 & 0x0C;
    return c;
}
} // namespace

DecodedCaps DecodeDIS(const std::vector<uint8_t>& info)
{
    DecodedCaps c = DecodeCommon(info);
    uint8_t o2 = info.size() > 1 ? info[1] : 0;
    uint8_t o3 = info.size() > 2 ? info[2] : 0;
    c.modulations = ModulationsFromDis(o2);
    c.wide = (o3 & 0x03) != 0; // 255 mm, or 255 and 303 mm: both take 2048-pixel rows
    return c;
}

DecodedCaps DecodeDCS(const std::vector<uint8_t>& info)
{
    DecodedCaps c = DecodeCommon(info);
    uint8_t o2 = info.size() > 1 ? info[1] : 0;
    uint8_t o3 = info.size() > 2 ? info[2] : 0;
    c.rateIndex = RateIndexFromDcs(o2);
    c.wide = (o3 & 0x03) == 1;
    return c;
}

std::vector<long> ReportNumbers(const std::string& text, bool class20)
{
    std::vector<long> v;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        auto first = item.find_first_not_of(" \t\"");
        v.push_back(first == std::string::npos ? 0 : std::strtol(item.c_str() + first, nullptr, class20 ? 16 : 10));
    }
    return v;
}

Class2Params ParseClass2Params(const std::string& text, bool class20)
{
    Class2Params p;
    const std::vector<long> v = ReportNumbers(text, class20);
    if (v.size() < 2)
        return p;
    p.valid = true;
    p.fine = (v[0] & 1) != 0;
    static const int32_t bps[6] = {2400, 4800, 7200, 9600, 12000, 14400};
    p.bitRate = v[1] >= 0 && v[1] <= 5 ? bps[v[1]] : 9600;
    if (v.size() > 2)
        p.width = int(v[2]);
    if (v.size() > 5)
        p.ECM = v[5] == 1 || v[5] == 2;
    if (v.size() > 7)
        p.scanTimeCode = uint8_t(v[7] & 7);
    return p;
}

} // namespace zn::comms
