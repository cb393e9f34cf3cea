// Class 1 sessions on the fax line test bed: the engine sends to and receives from spandsp's T.30
// fax terminal and efax, and the pages arrive pixel for pixel.
#include <gtest/gtest.h>

#include "apf_test_pages.h"
#include "fax_test_bench.h"
#include "faxline_harness.h"

using namespace zn::comms;
using namespace zn::comms::test;
using namespace faxline;
using namespace std::chrono_literals;

namespace {

std::vector<Bitmap> Charts(const std::vector<int>& numbers)
{
    std::vector<Bitmap> pages;
    for (int n : numbers) {
        auto b = ReadPbm(ItuChartPath(n));
        if (b)
            pages.push_back(*b);
    }
    return pages;
}

void ExpectSamePages(const std::vector<Bitmap>& got, const std::vector<Bitmap>& sent)
{
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        Bitmap g = TrimWhiteRows(got[i]), s = TrimWhiteRows(sent[i]);
        int firstDiff = -1;
        for (int y = 0; y < std::min(g.height, s.height) && firstDiff < 0; ++y)
            if (!(g.Rows(y, 1) == s.Rows(y, 1)))
                firstDiff = y;
        EXPECT_TRUE(g == s) << "page " << i + 1 << ": " << DescribeDifference(g, s) << ", first differing row "
                            << firstDiff;
    }
}

class Class1Session : public ::testing::Test {
protected:
    void Configure(FaxSession& s, int32_t bps)
    {
        s.common.faxClass = fcClass1;
        s.common.StationID = "ZN ENGINE";
        s.modem.DesiredBPS = bps;
    }
    TempDir dir_;
};

struct SendCase {
    std::vector<int> charts;
    bool fast;
    int32_t bps;
    const char* modems;
    int expectRate;
};

void PrintTo(const SendCase& c, std::ostream* os)
{
    *os << c.charts.size() << " pages at " << c.bps << " to " << c.modems;
}

class Class1SendToTerminal : public Class1Session, public ::testing::WithParamInterface<SendCase> {};

TEST_P(Class1SendToTerminal, PagesArrivePixelExact)
{
    const SendCase& c = GetParam();
    std::vector<std::string> args{"answer", "--rx-file", dir_.File("rx.tif"), "--ident", "FAR END", "--modems", c.modems};
    if (c.fast)
        args.push_back("--fast");
    auto line = Line::Start(dir_.Path(), args);
    ASSERT_TRUE(line);
    auto pages = Charts(c.charts);
    ASSERT_TRUE(WriteApf(dir_.File("out.apf"), pages, true));

    TestPort port(line->Port('A'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.entries.push_back({"5550100", dir_.File("out.apf"), ""});
    FaxSendSession session(events);
    Configure(session, c.bps);
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(events.WaitFinished(300s));
    EXPECT_TRUE(events.Errors().empty()) << events.Errors().front();
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfTransmitStart, lfTransmitOK}));
    EXPECT_EQ(session.common.remoteID, "FAR END");
    ASSERT_EQ(line->Process().Wait(30s), 0) << line->Output();
    auto results = line->Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NE(results[0].find("rate=" + std::to_string(c.expectRate)), std::string::npos) << results[0];
    auto got = ReadTiffPages(dir_.File("rx.tif"));
    ASSERT_TRUE(got);
    ExpectSamePages(*got, pages);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, Class1SendToTerminal,
    ::testing::Values(SendCase{{1}, true, 14400, "v27ter,v29,v17", 14400},
                      SendCase{{1}, false, 14400, "v27ter,v29,v17", 14400},
                      SendCase{{1, 2, 3}, true, 14400, "v27ter,v29,v17", 14400},
                      SendCase{{2}, true, 12000, "v27ter,v29,v17", 12000},
                      SendCase{{2}, true, 9600, "v27ter,v29,v17", 9600},
                      SendCase{{2}, true, 14400, "v27ter,v29", 9600},
                      SendCase{{2}, true, 7200, "v27ter,v29", 7200},
                      SendCase{{2}, true, 14400, "v27ter", 4800},
                      SendCase{{2}, true, 4800, "v27ter,v29,v17", 4800}),
    [](const auto& info) {
        const SendCase& c = info.param;
        std::string name = std::to_string(c.charts.size()) + "Pages" + (c.fast ? "Fast" : "RealTime") + "Desired"
                           + std::to_string(c.bps) + "FarEnd";
        for (const char* p = c.modems; *p; ++p)
            if (std::isalnum(static_cast<unsigned char>(*p)))
                name += *p;
        return name;
    });

struct ReceiveCase {
    std::vector<int> charts;
    bool fast;
    int32_t bps;
    const char* modems;
    int expectRate;
};

void PrintTo(const ReceiveCase& c, std::ostream* os)
{
    *os << c.charts.size() << " pages at " << c.bps << " from " << c.modems;
}

class Class1ReceiveFromTerminal : public Class1Session, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(Class1ReceiveFromTerminal, PagesArrivePixelExact)
{
    const ReceiveCase& c = GetParam();
    auto pages = Charts(c.charts);
    ASSERT_TRUE(WriteFaxTiff(dir_.File("tx.tif"), pages));
    std::vector<std::string> args{"call", "--tx-file", dir_.File("tx.tif"), "--ident", "FAR END", "--modems", c.modems};
    if (c.fast)
        args.push_back("--fast");
    auto line = Line::Start(dir_.Path(), args);
    ASSERT_TRUE(line);

    TestPort port(line->Port('A'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.receiveDir = dir_.Path();
    FaxReceiveSession session(events);
    Configure(session, c.bps);
    session.OneFax = true;
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(events.WaitFinished(300s));
    EXPECT_TRUE(events.Errors().empty()) << events.Errors().front();
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfReceiveStart, lfReceiveOK}));
    EXPECT_EQ(session.common.remoteID, "FAR END");
    ASSERT_EQ(line->Process().Wait(30s), 0) << line->Output();
    auto results = line->Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NE(results[0].find("rate=" + std::to_string(c.expectRate)), std::string::npos) << results[0];
    ASSERT_EQ(events.Received().size(), 1u);
    std::vector<Bitmap> got;
    ASSERT_TRUE(ReadApf(events.Received().front(), got));
    ExpectSamePages(got, pages);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, Class1ReceiveFromTerminal,
    ::testing::Values(ReceiveCase{{1}, true, 14400, "v27ter,v29,v17", 14400},
                      ReceiveCase{{1}, false, 14400, "v27ter,v29,v17", 14400},
                      ReceiveCase{{4, 5, 6}, true, 14400, "v27ter,v29,v17", 14400},
                      ReceiveCase{{2}, true, 12000, "v27ter,v29,v17", 14400},
                      ReceiveCase{{2}, true, 9600, "v27ter,v29,v17", 9600},
                      ReceiveCase{{2}, true, 14400, "v27ter,v29", 9600},
                      ReceiveCase{{2}, true, 4800, "v27ter,v29,v17", 4800},
                      ReceiveCase{{2}, true, 14400, "v27ter", 4800}),
    [](const auto& info) {
        const ReceiveCase& c = info.param;
        std::string name = std::to_string(c.charts.size()) + "Pages" + (c.fast ? "Fast" : "RealTime") + "Desired"
                           + std::to_string(c.bps) + "FarEnd";
        for (const char* p = c.modems; *p; ++p)
            if (std::isalnum(static_cast<unsigned char>(*p)))
                name += *p;
        return name;
    });

} // namespace
