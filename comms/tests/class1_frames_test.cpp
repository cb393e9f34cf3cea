// Class 1 frames: the T.30 rate table in DIS and DCS, frame layout, parsing, scan times, and the
// Class 2/2.0 parameter reports.
#include <gtest/gtest.h>

#include "comms/engine/class1_frames.h"
#include "platform/tests/param_name.h"

using namespace zn::comms;

namespace {

std::vector<uint8_t> Info(const std::vector<uint8_t>& frame)
{
    // Address, control, FCF in front; DLE ETX behind.
    return std::vector<uint8_t>(frame.begin() + 3, frame.end() - 2);
}

// "V27ter_V29_V17" for a set of modulations, as the cases' names say it.
std::string ModulationsName(uint8_t modulations)
{
    std::string name;
    for (const auto& [bit, text] : {std::pair{modV27ter, "V27ter"}, std::pair{modV29, "V29"}, std::pair{modV17, "V17"}})
        if (modulations & bit)
            name += (name.empty() ? "" : "_") + std::string(text);
    return name;
}

struct DcsRateCase {
    uint8_t field;
    int32_t bitRate;
    Modulation modulation;
    const char* longCode;
    const char* shortCode;
};

class DcsRate : public ::testing::TestWithParam<DcsRateCase> {};

TEST_P(DcsRate, WholeFieldSelectsRateAndModulation)
{
    const DcsRateCase& c = GetParam();
    int index = RateIndexFromDcs(uint8_t(0x02 | c.field));
    ASSERT_GE(index, 0);
    const FaxRate& r = FaxRates()[size_t(index)];
    EXPECT_EQ(r.bitRate, c.bitRate);
    EXPECT_EQ(r.modulation, c.modulation);
    EXPECT_STREQ(r.longCode, c.longCode);
    EXPECT_STREQ(r.shortCode, c.shortCode);
    // And the DCS we build for that entry carries the same field.
    DcsParams p;
    p.rateIndex = index;
    auto frame = BuildDCS(p);
    EXPECT_EQ(frame[4] & kDcsRateMask, c.field);
    EXPECT_EQ(DecodeDCS(Info(frame)).rateIndex, index);
}

INSTANTIATE_TEST_SUITE_P(
    T30, DcsRate,
    ::testing::Values(DcsRateCase{0x20, 14400, modV17, "145", "146"}, DcsRateCase{0x28, 12000, modV17, "121", "122"},
                      DcsRateCase{0x24, 9600, modV17, "97", "98"}, DcsRateCase{0x2C, 7200, modV17, "73", "74"},
                      DcsRateCase{0x04, 9600, modV29, "96", "96"}, DcsRateCase{0x0C, 7200, modV29, "72", "72"},
                      DcsRateCase{0x08, 4800, modV27ter, "48", "48"}, DcsRateCase{0x00, 2400, modV27ter, "24", "24"}),
                         [](const ::testing::TestParamInfo<DcsRateCase>& info) { return ModulationsName(info.param.modulation) + "_" + std::to_string(info.param.bitRate); });

TEST(DcsRate, ReservedFieldIsRefused)
{
    EXPECT_EQ(RateIndexFromDcs(0x10), -1);
    EXPECT_EQ(RateIndexFromDcs(0x1C), -1);
}

struct DisCase {
    uint8_t modulations;
    uint8_t field;
};

class DisRate : public ::testing::TestWithParam<DisCase> {};

TEST_P(DisRate, AdvertisesOnlyStandardCombinations)
{
    DisParams p;
    p.modulations = GetParam().modulations;
    auto frame = BuildDIS(p);
    EXPECT_EQ(frame[4] & kDcsRateMask, GetParam().field);
    EXPECT_EQ(DecodeDIS(Info(frame)).modulations, GetParam().modulations);
}

INSTANTIATE_TEST_SUITE_P(T30, DisRate,
                         ::testing::Values(DisCase{modV27ter, 0x08}, DisCase{modV27ter | modV29, 0x0C},
                                           DisCase{modV27ter | modV29 | modV17, 0x2C}),
                         [](const ::testing::TestParamInfo<DisCase>& info) { return ModulationsName(info.param.modulations); });

struct ChooseCase {
    const char* modemList;
    uint8_t remote;
    int32_t desired;
    int32_t bitRate;
    Modulation modulation;
};

class Choose : public ::testing::TestWithParam<ChooseCase> {};

TEST_P(Choose, FastestRateBothOfferWithinDesired)
{
    const ChooseCase& c = GetParam();
    int index = ChooseRate(RatesFromCodes(c.modemList), c.remote, c.desired);
    ASSERT_GE(index, 0);
    EXPECT_EQ(FaxRates()[size_t(index)].bitRate, c.bitRate);
    EXPECT_EQ(FaxRates()[size_t(index)].modulation, c.modulation);
}

const char* kFullModem = "24,48,72,73,74,96,97,98,121,122,145,146";

INSTANTIATE_TEST_SUITE_P(Cases, Choose,
                         ::testing::Values(ChooseCase{kFullModem, modV27ter | modV29 | modV17, 14400, 14400, modV17},
                                           ChooseCase{kFullModem, modV27ter | modV29 | modV17, 12000, 12000, modV17},
                                           ChooseCase{kFullModem, modV27ter | modV29 | modV17, 9600, 9600, modV17},
                                           ChooseCase{kFullModem, modV27ter | modV29, 14400, 9600, modV29},
                                           ChooseCase{kFullModem, modV27ter | modV29, 7200, 7200, modV29},
                                           ChooseCase{kFullModem, modV27ter, 14400, 4800, modV27ter},
                                           ChooseCase{kFullModem, modV27ter | modV29 | modV17, 4800, 4800, modV27ter},
                                           // A DIS offering 9600 to a modem that lists no more than 7200 selects 7200.
                                           ChooseCase{"24,48,72", modV27ter | modV29, 14400, 7200, modV29}),
                         [](const ::testing::TestParamInfo<ChooseCase>& info) {
                             const ChooseCase& c = info.param;
                             return (c.modemList == kFullModem ? std::string("FullModem") : zn::test::ParamName({"Modem", c.modemList}))
                                    + "_Offers_" + ModulationsName(c.remote) + "_UpTo" + std::to_string(c.desired);
                         });

TEST(StepDown, WalksEveryLowerRateTheTwoSidesShare)
{
    uint8_t local = RatesFromCodes(kFullModem);
    std::vector<int32_t> rates;
    for (int i = ChooseRate(local, modV27ter | modV29 | modV17, 14400); i >= 0;
         i = ChooseRate(local, modV27ter | modV29 | modV17, 14400, i + 1))
        rates.push_back(FaxRates()[size_t(i)].bitRate);
    EXPECT_EQ(rates, (std::vector<int32_t>{14400, 12000, 9600, 9600, 7200, 7200, 4800, 2400}));
    EXPECT_EQ(ChooseRate(local, modV27ter, 14400, 7 + 1), -1); // nothing below 2400
}

TEST(Dis, AnyPageWidthCapabilityTakesWideRows)
{
    for (uint8_t width : {1, 2, 3})
        EXPECT_TRUE(DecodeDIS({0x00, 0x4E, uint8_t(0x80 | width)}).wide) << int(width);
    EXPECT_FALSE(DecodeDIS({0x00, 0x4E, 0x80}).wide);
}

TEST(Dis, FineAndScanTime)
{
    DecodedCaps c = DecodeDIS({0x00, 0x4E, 0xA0});
    EXPECT_TRUE(c.fine);
    EXPECT_EQ(c.scanTimeCode, 3); // 0x20: 10 ms
    EXPECT_FALSE(DecodeDIS({0x00, 0x0E, 0x80}).fine);
}

TEST(ScanTime, DcsBitsReadBackAsTheirCode)
{
    // The code written for a resolution decodes to a code with the same time at that resolution.
    for (uint8_t code = 0; code < 8; ++code)
        for (bool fine : {false, true}) {
            uint8_t back = ScanTimeCodeFromOctet3(ScanTimeBitsForDcs(code, fine));
            EXPECT_EQ(MinimumRowBytes(back, fine, 8000), MinimumRowBytes(code, fine, 8000))
                << int(code) << (fine ? " fine" : " normal");
        }
}

TEST(Frames, LayoutAndStuffing)
{
    EXPECT_EQ(BuildFrame(fcfMCF, true), (std::vector<uint8_t>{0xFF, 0x13, 0x8C, 0x10, 0x03}));
    EXPECT_EQ(BuildFrame(fcfCSI, false, {0x10}), (std::vector<uint8_t>{0xFF, 0x03, 0x40, 0x10, 0x10, 0x10, 0x03}));
}

TEST(Frames, StationIdTravelsLastCharacterFirst)
{
    auto frame = BuildIdFrame(fcfTSI, "+1 555");
    ASSERT_EQ(frame.size(), 3u + 20u + 2u);
    EXPECT_EQ(frame[2], 0x43);
    EXPECT_EQ(std::string(frame.begin() + 3, frame.begin() + 23), std::string(14, ' ') + "555 1+");
    EXPECT_EQ(StationIdFromFrame(Info(frame)), "+1 555");
}

TEST(Frames, GarbageBeforeTheAddressIsIgnored)
{
    ReceivedFrame f = ParseFrame(std::string("\r\n\x05z") + "\xFF\x13\x84");
    ASSERT_TRUE(f.valid);
    EXPECT_TRUE(f.final);
    EXPECT_EQ(f.fcf, 0x84);
    EXPECT_FALSE(ParseFrame("OK").valid);
}

TEST(Frames, TrainingCheckLastsOneAndAHalfSeconds)
{
    EXPECT_EQ(BuildTCF(9600).size(), 1728u + 2u);
    EXPECT_EQ(BuildTCF(14400).size(), 2592u + 2u);
    EXPECT_EQ(BuildTCF(14400).back(), 0x03);
}

struct ReportCase {
    std::string text;
    bool class20;
    bool fine;
    int32_t bitRate;
    int width;
    bool ecm;
    uint8_t scanTime;
};

class Class2Report : public ::testing::TestWithParam<ReportCase> {};

TEST_P(Class2Report, ValuesAreReadByPosition)
{
    const ReportCase& c = GetParam();
    Class2Params p = ParseClass2Params(c.text, c.class20);
    ASSERT_TRUE(p.valid);
    EXPECT_EQ(p.fine, c.fine);
    EXPECT_EQ(p.bitRate, c.bitRate);
    EXPECT_EQ(p.width, c.width);
    EXPECT_EQ(p.ECM, c.ecm);
    EXPECT_EQ(p.scanTimeCode, c.scanTime);
}

INSTANTIATE_TEST_SUITE_P(Reports, Class2Report,
                         ::testing::Values(ReportCase{"1,5,0,2,0,0,0,0", false, true, 14400, 0, false, 0},
                                           ReportCase{"0,3,1,2,0,1,0,5", false, false, 9600, 1, true, 5},
                                           // Class 2.0: spaces, a resolution bit map, more than one digit.
                                           ReportCase{"3,4, 2,2,0,0,0,7", true, true, 12000, 2, false, 7},
                                           ReportCase{"10,1,0,2,0,2,0,4", true, false, 4800, 0, true, 4},
                                           ReportCase{"1,5,0,2,0,0,0,0,0", true, true, 14400, 0, false, 0}),
                         [](const ::testing::TestParamInfo<ReportCase>& info) { return zn::test::ParamName({"Report", info.param.text}); });

} // namespace
