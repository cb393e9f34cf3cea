// The TAPI wrappers over a scripted line provider: a missing provider or entry point, results
// passed through unchanged, and the buffer sizes the structure helpers try.
#include "comms/tapi/scripted_line_provider.h"
#include "comms/tapi/tapi_binding.h"

#include "comms/base/error_codes.h"

#include <gtest/gtest.h>

using namespace zn::comms;
using namespace zn::comms::tapi;

namespace {

class TapiBinding : public ::testing::Test {
protected:
    void SetUp() override
    {
        StructureSizes() = InitialSizes{};
        provider.devices = {LineDeviceInfo{"Scripted modem (ttyA)", MediaModeDataModem, LineFeatureMakeCall, false}};
    }
    void TearDown() override
    {
        SetLineProvider(nullptr);
        StructureSizes() = InitialSizes{};
    }
    ScriptedLineProvider provider;
};

// Every wrapper, called with harmless arguments.
std::vector<std::pair<const char*, std::function<int32_t()>>> Wrappers()
{
    return {
        {"lineInitialize",
         [] {
             HLineApp a;
             uint32_t n;
             return lineInitialize(&a, nullptr, nullptr, "zn", &n);
         }},
        {"lineShutdown", [] { return lineShutdown(1); }},
        {"lineNegotiateAPIVersion",
         [] {
             uint32_t v;
             LINEEXTENSIONID x;
             return lineNegotiateAPIVersion(1, 0, ApiVersion14, ApiVersion14, &v, &x);
         }},
        {"lineOpen",
         [] {
             HLine l;
             return lineOpen(1, 0, &l, ApiVersion14, 0, 0, PrivilegeNone, MediaModeDataModem, nullptr);
         }},
        {"lineMakeCall",
         [] {
             HCall c;
             return lineMakeCall(1, &c, "", 0, nullptr);
         }},
        {"lineAccept", [] { return lineAccept(1, nullptr, 0); }},
        {"lineAnswer", [] { return lineAnswer(1, nullptr, 0); }},
        {"lineDeallocateCall", [] { return lineDeallocateCall(1); }},
        {"lineDrop", [] { return lineDrop(1, nullptr, 0); }},
        {"lineClose", [] { return lineClose(1); }},
        {"lineGetID",
         [] {
             VARSTRING v{};
             v.totalSize = sizeof v;
             return lineGetID(1, 0, 1, CallSelectCall, &v, "comm/datamodem");
         }},
        {"lineSetStatusMessages", [] { return lineSetStatusMessages(1, 0x1FFFFFF, 0x1FF); }},
        {"lineMonitorDigits", [] { return lineMonitorDigits(1, 2); }},
        {"lineGetDevCaps",
         [] {
             StructurePtr<LINEDEVCAPS> c;
             return lineGetDevCaps(1, 0, ApiVersion14, 0, c);
         }},
        {"lineGetCallInfo",
         [] {
             StructurePtr<LINECALLINFO> c;
             return lineGetCallInfo(1, c);
         }},
        {"lineGetCallStatus",
         [] {
             StructurePtr<LINECALLSTATUS> c;
             return lineGetCallStatus(1, c);
         }},
    };
}

} // namespace

TEST_F(TapiBinding, WithoutAProviderEveryWrapperFailsToLoadAndLooksAgainOnTheNextCall)
{
    SetLineProvider(nullptr);
    for (auto& [name, call] : Wrappers())
        EXPECT_EQ(call(), ecTapiLoadFail) << name;
    SetLineProvider(&provider);
    HLineApp app = 0;
    uint32_t count = 0;
    EXPECT_EQ(lineInitialize(&app, nullptr, nullptr, "zn", &count), 0);
    EXPECT_NE(app, 0u);
    EXPECT_EQ(count, 1u);
}

TEST_F(TapiBinding, AFunctionTheProviderLacksFailsToBind)
{
    SetLineProvider(&provider);
    for (auto& [name, call] : Wrappers()) {
        provider.missing = {name};
        EXPECT_EQ(call(), ecTapiGetAddrFail) << name;
        EXPECT_EQ(provider.Calls(name), 0) << name;
    }
}

TEST_F(TapiBinding, ResultsComeBackUnchangedAndMapToTheLibrarysCodes)
{
    SetLineProvider(&provider);
    HLineApp app = 0;
    uint32_t count = 0;
    ASSERT_EQ(lineInitialize(&app, nullptr, nullptr, "zn", &count), 0);
    HLine line = 0;
    ASSERT_EQ(lineOpen(app, 0, &line, ApiVersion14, 0, 7, PrivilegeNone, MediaModeDataModem, nullptr), 0);
    HCall call = 0;
    int32_t request = lineMakeCall(line, &call, "", 0, nullptr);
    EXPECT_GT(request, 0) << "an asynchronous request";
    provider.results["lineDrop"] = {LineErrCallUnavail};
    int32_t dropped = lineDrop(call, nullptr, 0);
    EXPECT_EQ(uint32_t(dropped), LineErrCallUnavail);
    EXPECT_EQ(LineErrorToCode(uint32_t(dropped)), ecTapiCallUnavail);
    EXPECT_EQ(uint32_t(lineOpen(app, 5, &line, ApiVersion14, 0, 0, PrivilegeNone, MediaModeDataModem, nullptr)),
              LineErrBadDeviceId);
}

struct Growth {
    const char* name;
    uint32_t initial;   // the first buffer
    size_t nameLength;  // the device's name
    int calls;          // calls the helper makes
    uint32_t finalSize; // the buffer handed back
};

class TapiStructureGrowth : public TapiBinding, public ::testing::WithParamInterface<Growth> {};

TEST_P(TapiStructureGrowth, TriesTheInitialSizeThen1024ThenWhatIsNeeded)
{
    const Growth& g = GetParam();
    StructureSizes().devCaps = g.initial;
    provider.devices[0].name = std::string(g.nameLength, 'm');
    SetLineProvider(&provider);
    StructurePtr<LINEDEVCAPS> caps;
    ASSERT_EQ(lineGetDevCaps(1, 0, ApiVersion14, 0, caps), 0);
    ASSERT_TRUE(caps);
    EXPECT_EQ(provider.Calls("lineGetDevCaps"), g.calls);
    EXPECT_EQ(caps->totalSize, g.finalSize);
    EXPECT_EQ(StructureText(caps.get(), caps->lineNameOffset, caps->lineNameSize), provider.devices[0].name);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TapiStructureGrowth,
                         ::testing::Values(Growth{"FitsAtOnce", 240, 3, 1, 240},
                                           Growth{"NeedsSixHundred", 240, 600 - 236 - 1, 2, 600},
                                           Growth{"TooSmallThen1024", 100, 20, 2, 1024},
                                           Growth{"TooSmallThen1024ThenNeeded", 100, 1300 - 236 - 1, 3, 1300}),
                         [](const auto& info) { return info.param.name; });

TEST_F(TapiBinding, AFailureOnALaterTryHandsBackNothing)
{
    SetLineProvider(&provider);
    provider.devices[0].name = std::string(600, 'm');
    provider.results["lineGetDevCaps"] = {0, LineErrNoMem};
    StructurePtr<LINEDEVCAPS> caps;
    EXPECT_EQ(uint32_t(lineGetDevCaps(1, 0, ApiVersion14, 0, caps)), LineErrNoMem);
    EXPECT_FALSE(caps);
}
