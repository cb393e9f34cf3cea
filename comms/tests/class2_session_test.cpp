// Class 2 and Class 2.0 sessions against the scripted modem of the test bed: both directions, with
// ERROR, page retry, a hang-up in mid-call, a missing XON and the dialling results injected.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "apf_test_pages.h"
#include "faxdoc/apf_file.h"
#include "fax_test_bench.h"
#include "faxline_harness.h"
#include "platform/folders.h"

using namespace zn::comms;
using namespace zn::comms::test;
using namespace faxline;
using namespace std::chrono_literals;

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The simulator on a pseudo-terminal; its port is at Device().
class Class2Sim {
public:
    Class2Sim(const TempDir& dir, std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/bin/python3", Class2SimPath()});
        args.insert(args.end(), {"--log", dir.File("sim.log")});
        log_ = dir.File("sim.log");
        out_ = dir.File("sim.out");
        process_ = std::make_unique<ChildProcess>(args, out_, dir.File("sim.err"));
        for (int i = 0; i < 500 && device_.empty(); ++i) {
            std::string text = ReadText(out_);
            if (text.find("READY") != std::string::npos) {
                std::istringstream in(text);
                std::string name;
                in >> name >> device_;
            } else {
                std::this_thread::sleep_for(20ms);
            }
        }
    }
    const std::string& Device() const { return device_; }
    std::string Log() const { return ReadText(log_); }

private:
    std::string out_, device_, log_;
    std::unique_ptr<ChildProcess> process_;
};

struct Class2Case {
    uint8_t faxClass;
    std::vector<std::string> simArgs;
    std::vector<int> charts;
    int expectError; // 0: the fax goes through
    std::string name;
    std::vector<int> refused = {}; // the pages refused for their copy quality, in order
};

void PrintTo(const Class2Case& c, std::ostream* os) { *os << c.name; }

std::vector<Bitmap> Charts(const std::vector<int>& numbers)
{
    std::vector<Bitmap> pages;
    for (int n : numbers)
        if (auto b = ReadPbm(ItuChartPath(n)))
            pages.push_back(*b);
    return pages;
}

void ExpectSamePages(const std::vector<Bitmap>& got, const std::vector<Bitmap>& sent)
{
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        Bitmap g = TrimWhiteRows(got[i]), s = TrimWhiteRows(sent[i]);
        EXPECT_TRUE(g == s) << "page " << i + 1 << ": " << DescribeDifference(g, s);
    }
}

// A send session of one fax file at 14400 bit/s on the simulator's port.
struct OneFaxSend {
    OneFaxSend(const Class2Sim& sim, const std::string& file, uint8_t faxClass) : port(sim.Device()), session(events)
    {
        events.entries.push_back({"5550100", file, ""});
        session.common.faxClass = faxClass;
        session.common.StationID = "ZN ENGINE";
        session.modem.DesiredBPS = 14400;
    }
    bool Start() { return port.IsOpen() && session.Start(port.Port()) == 0; }

    TestPort port;
    RecordingEvents events;
    FaxSendSession session;
};

// A receive session for one fax on the simulator's port, its files in dir.
struct OneFaxReceive {
    OneFaxReceive(const Class2Sim& sim, const TempDir& dir, uint8_t faxClass) : port(sim.Device()), session(events)
    {
        events.receiveDir = dir.Path();
        session.common.faxClass = faxClass;
        session.common.StationID = "ZN ENGINE";
        session.common.options = foExitOnError;
        session.OneFax = true;
    }
    bool Start() { return port.IsOpen() && session.Start(port.Port()) == 0; }
    // The session ended within the limit without an error, with one fax whose pages are read.
    ::testing::AssertionResult OneFaxIn(std::chrono::seconds limit, const Class2Sim& sim, std::vector<Bitmap>& pages)
    {
        if (!events.WaitFinished(limit))
            return ::testing::AssertionFailure() << "the session did not end\n" << sim.Log();
        if (!events.Errors().empty())
            return ::testing::AssertionFailure() << "error " << events.Errors().front() << "\n" << sim.Log();
        if (events.Received().size() != 1)
            return ::testing::AssertionFailure() << events.Received().size() << " faxes received";
        if (!ReadApf(events.Received().front(), pages))
            return ::testing::AssertionFailure() << "unreadable: " << events.Received().front();
        return ::testing::AssertionSuccess();
    }

    TestPort port;
    RecordingEvents events;
    FaxReceiveSession session;
};

class Class2Send : public ::testing::TestWithParam<Class2Case> {
protected:
    TempDir dir_;
};

TEST_P(Class2Send, EndsAsTheModemDecides)
{
    const Class2Case& c = GetParam();
    std::vector<std::string> args = c.simArgs;
    args.insert(args.end(), {"--rx-dir", dir_.File("rx"), "--speedup", "50"});
    Class2Sim sim(dir_, args);
    ASSERT_FALSE(sim.Device().empty());
    auto pages = Charts(c.charts);
    ASSERT_TRUE(WriteApf(dir_.File("out.apf"), pages, true));

    OneFaxSend tx(sim, dir_.File("out.apf"), c.faxClass);
    ASSERT_TRUE(tx.Start());
    RecordingEvents& events = tx.events;
    FaxSendSession& session = tx.session;
    ASSERT_TRUE(events.WaitFinished(120s));
    EXPECT_EQ(events.RefusedPages(), c.refused) << sim.Log();
    if (c.expectError) {
        ASSERT_FALSE(events.Errors().empty()) << sim.Log();
        EXPECT_EQ(events.Errors().front(), c.expectError) << sim.Log();
        EXPECT_EQ(events.Logs(), (std::vector<int>{lfTransmitStart, lfTransmitFail}));
        return;
    }
    ASSERT_TRUE(events.Errors().empty()) << events.Errors().front() << "\n" << sim.Log();
    // Each page the far end refused is logged as sent again.
    std::vector<int> logs{lfTransmitStart};
    logs.insert(logs.end(), c.refused.size(), lfPageResent);
    logs.push_back(lfTransmitOK);
    EXPECT_EQ(events.Logs(), logs);
    EXPECT_EQ(session.common.remoteID, "+1 555 0100");
    std::vector<Bitmap> got;
    for (size_t i = 1; i <= pages.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "rx/page-%03zu.pbm", i);
        auto b = ReadPbm(dir_.File(name));
        ASSERT_TRUE(b) << name << "\n" << sim.Log();
        got.push_back(*b);
    }
    ExpectSamePages(got, pages);
}

INSTANTIATE_TEST_SUITE_P(
    Dialogues, Class2Send,
    ::testing::Values(
        Class2Case{fcClass2, {}, {1}, 0, "Class2OnePage"}, Class2Case{fcClass20, {}, {1}, 0, "Class20OnePage"},
        Class2Case{fcClass2, {}, {1, 2, 3}, 0, "Class2ThreePages"},
        Class2Case{fcClass20, {}, {1, 2, 3}, 0, "Class20ThreePages"},
        Class2Case{fcDetect, {"--fclass-list", "0,1,2,2.0"}, {2}, 0, "DetectedClass20"},
        Class2Case{fcDetect, {"--fclass-list", "0,2"}, {2}, 0, "DetectedClass2"},
        Class2Case{fcClass2, {"--rtn", "1"}, {1, 2}, 0, "Class2PageRetry", {1}},
        Class2Case{fcClass20, {"--rtn", "1"}, {1, 2}, 0, "Class20PageRetry", {1}},
        Class2Case{fcClass2, {"--rtn", "1", "--rtn", "1", "--rtn", "1"}, {1}, 0, "Class2PageRetryOnce", {1}},
        Class2Case{fcClass2, {"--no-xon"}, {1}, 0, "Class2MissingXon"},
        Class2Case{fcClass2, {"--error", "+FDT:1"}, {1}, ecFaxBadModemResult, "Class2ErrorToFDT"},
        Class2Case{fcClass20, {"--hangup-in-page", "2"}, {1, 2}, ecFaxBadModemResult, "Class20HangupInPage"},
        Class2Case{fcClass2, {"--hangup-in-page", "1"}, {1}, ecFaxBadModemResult, "Class2HangupInPage"},
        Class2Case{fcClass2, {"--dial-result", "*=BUSY"}, {1}, ecFaxBusy, "Class2Busy"},
        Class2Case{fcClass20, {"--dial-result", "*=NO CARRIER"}, {1}, ecFaxNoCarrier, "Class20NoCarrier"},
        Class2Case{fcClass2, {"--dial-result", "*=NO DIALTONE"}, {1}, ecFaxNoDialTone, "Class2NoDialtone"}),
    [](const auto& info) { return info.param.name; });

// The rows of a page as the simulated modem counts them.
constexpr int kReportedRows = 2376;

class Class2Receive : public ::testing::TestWithParam<Class2Case> {
protected:
    TempDir dir_;
};

TEST_P(Class2Receive, PagesArriveOrTheCallFails)
{
    const Class2Case& c = GetParam();
    std::vector<std::string> args = c.simArgs;
    auto pages = Charts(c.charts);
    for (int n : c.charts)
        args.insert(args.end(), {"--send", ItuChartPath(n)});
    args.insert(args.end(), {"--speedup", "50", "--ring-delay", "0.2"});
    Class2Sim sim(dir_, args);
    ASSERT_FALSE(sim.Device().empty());

    OneFaxReceive rx(sim, dir_, c.faxClass);
    ASSERT_TRUE(rx.Start());
    RecordingEvents& events = rx.events;
    FaxReceiveSession& session = rx.session;
    ASSERT_TRUE(events.WaitFinished(120s));
    // A refused page is logged with the counts it was refused for, as the modem gave them.
    EXPECT_EQ(events.RefusedPages(), c.refused) << sim.Log();
    for (const Refusal& r : events.Refusals()) {
        EXPECT_EQ(r.quality.rows, kReportedRows) << sim.Log();
        EXPECT_GT(r.quality.badRows, 0);
        EXPECT_FALSE(CopyQualityAcceptable(r.quality));
    }
    if (c.expectError) {
        ASSERT_FALSE(events.Errors().empty());
        EXPECT_EQ(events.Errors().front(), c.expectError) << sim.Log();
        EXPECT_TRUE(events.Received().empty());
        // Nothing of a failed call is left, under a fax's name or any other.
        for (const auto& name : zn::platform::ListFolderCI(dir_.Path(), "*.APF*"))
            ADD_FAILURE() << "the failed call left " << name;
        return;
    }
    ASSERT_TRUE(events.Errors().empty()) << events.Errors().front() << "\n" << sim.Log();
    EXPECT_EQ(session.common.remoteID, "+1 555 0100");
    ASSERT_EQ(events.Received().size(), 1u);
    std::vector<Bitmap> got;
    ASSERT_TRUE(ReadApf(events.Received().front(), got));
    ExpectSamePages(got, pages);
}

// A page longer than a fax page can be is kept to its first rows: the file holds a page of the
// row limit, its last row the last one sent within it.
TEST(Class2ReceiveLimits, APageLongerThanAPageCanBeKeepsItsFirstRows)
{
    TempDir dir;
    const int rows = zn::faxdoc::kMaxPageRows + 300;
    {
        std::ofstream pbm(dir.File("tall.pbm"), std::ios::binary);
        pbm << "P4\n1728 " << rows << "\n";
        std::string row(216, '\0'), mark(216, '\0');
        mark[0] = mark[215] = '\xFF';
        for (int y = 0; y < rows; ++y) {
            const bool marked = y == 0 || y == zn::faxdoc::kMaxPageRows - 1 || y == zn::faxdoc::kMaxPageRows + 100;
            pbm << (marked ? mark : row);
        }
    }
    Class2Sim sim(dir, {"--send", dir.File("tall.pbm"), "--speedup", "1000", "--ring-delay", "0.2"});
    ASSERT_FALSE(sim.Device().empty());
    OneFaxReceive rx(sim, dir, fcClass2);
    ASSERT_TRUE(rx.Start());
    std::vector<Bitmap> got;
    ASSERT_TRUE(rx.OneFaxIn(300s, sim, got));
    ASSERT_EQ(got.size(), 1u);
    // The page stops at the EOL behind its last row; this reader counts the EOL as one more blank row.
    ASSERT_GE(got[0].height, zn::faxdoc::kMaxPageRows);
    ASSERT_LE(got[0].height, zn::faxdoc::kMaxPageRows + 1);
    EXPECT_FALSE(got[0].RowIsWhite(0));
    EXPECT_FALSE(got[0].RowIsWhite(zn::faxdoc::kMaxPageRows - 1));
    for (int y = zn::faxdoc::kMaxPageRows; y < got[0].height; ++y)
        EXPECT_TRUE(got[0].RowIsWhite(y));
}

// A page flagged 2048 pixels wide whose rows are 1728: refused before the number is dialled, where
// it would go out under a 2048-pixel DCS and come back rejected.
TEST(Class2SendChecks, APageWhoseRowsAreNotAsWideAsItsFlagIsRefusedBeforeDialling)
{
    TempDir dir;
    Class2Sim sim(dir, {"--speedup", "50"});
    ASSERT_FALSE(sim.Device().empty());
    ASSERT_TRUE(WriteApf(dir.File("out.apf"), Charts({1}), true));
    {
        std::fstream f(dir.File("out.apf"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(64 + 4);
        f.put(char(1 | 2 | 4)); // fine, wide, row records
    }
    ASSERT_TRUE(WriteApf(dir.File("good.apf"), Charts({2}), true));
    // As the document, and as the cover of a good document.
    for (const auto& [document, cover] : {std::pair<std::string, std::string>{"out.apf", ""}, {"good.apf", "out.apf"}}) {
        OneFaxSend tx(sim, dir.File(document), fcClass2);
        if (!cover.empty())
            tx.events.entries.front().coverFile = dir.File(cover);
        ASSERT_TRUE(tx.Start());
        ASSERT_TRUE(tx.events.WaitFinished(60s));
        ASSERT_FALSE(tx.events.Errors().empty()) << document << " " << cover;
        EXPECT_EQ(tx.events.Errors().front(), ecFaxBadFormat);
        EXPECT_EQ(tx.events.Logs(), (std::vector<int>{lfTransmitStart, lfTransmitFail}));
        EXPECT_EQ(sim.Log().find("ATD"), std::string::npos) << sim.Log();
    }
}

// A modem that holds a whole page (a buffering or a network fax modem), in real time: sending, it
// answers the end of a 28 s page (chart 6 at 14400) only once the page has crossed the line;
// receiving, its CONNECT to AT+FDR comes 19 s later (chart 2), once the page is in.
class WholePageModem : public ::testing::TestWithParam<uint8_t> {
protected:
    TempDir dir_;
};

TEST_P(WholePageModem, IsWaitedForWhileItSendsThePage)
{
    Class2Sim sim(dir_, {"--whole-page", "--rx-dir", dir_.File("rx")});
    ASSERT_FALSE(sim.Device().empty());
    auto pages = Charts({6});
    ASSERT_TRUE(WriteApf(dir_.File("out.apf"), pages, true));
    OneFaxSend tx(sim, dir_.File("out.apf"), GetParam());
    ASSERT_TRUE(tx.Start());
    RecordingEvents& events = tx.events;
    ASSERT_TRUE(events.WaitFinished(120s));
    ASSERT_TRUE(events.Errors().empty()) << events.Errors().front() << "\n" << sim.Log();
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfTransmitStart, lfTransmitOK}));
    auto got = ReadPbm(dir_.File("rx/page-001.pbm"));
    ASSERT_TRUE(got) << sim.Log();
    ExpectSamePages({*got}, pages);
}

TEST(WholePageModemReceive, IsWaitedForWhileItTakesThePage)
{
    TempDir dir;
    Class2Sim sim(dir, {"--whole-page", "--send", ItuChartPath(2), "--ring-delay", "0.2"});
    ASSERT_FALSE(sim.Device().empty());
    OneFaxReceive rx(sim, dir, fcClass2);
    rx.session.modem.DesiredBPS = 14400;
    ASSERT_TRUE(rx.Start());
    std::vector<Bitmap> got;
    ASSERT_TRUE(rx.OneFaxIn(120s, sim, got));
    ExpectSamePages(got, Charts({2}));
}

INSTANTIATE_TEST_SUITE_P(Classes, WholePageModem, ::testing::Values(fcClass2, fcClass20),
                         [](const auto& info) { return info.param == fcClass2 ? "Class2" : "Class20"; });

INSTANTIATE_TEST_SUITE_P(
    Dialogues, Class2Receive,
    ::testing::Values(Class2Case{fcClass2, {}, {1}, 0, "Class2OnePage"},
                      Class2Case{fcClass20, {}, {1}, 0, "Class20OnePage"},
                      Class2Case{fcClass2, {}, {1, 2, 3}, 0, "Class2ThreePages"},
                      Class2Case{fcClass20, {}, {1, 2, 3}, 0, "Class20ThreePages"},
                      Class2Case{
                          fcClass20, {"--hangup-after", "+FDR:2"}, {1, 2}, ecFaxSessionError, "Class20HangupInCall"},
                      Class2Case{fcClass2, {"--hangup-in-page", "1"}, {1}, ecFaxSessionError, "Class2HangupInPage"},
                      Class2Case{fcClass20, {"--error", "+FDR:2"}, {1, 2}, ecFaxBadModemResult, "Class20ErrorToFDR"},
                      Class2Case{fcDetect, {"--fclass-list", "0,2"}, {3}, 0, "DetectedClass2"},
                      // The modem confirms a damaged page but counts its bad rows: this side answers
                      // RTN, and keeps the page sent again; a page that stays bad fails the call.
                      Class2Case{fcClass2, {"--bad-copy", "2"}, {1, 2, 3}, 0, "Class2DamagedPageSentAgain", {2}},
                      Class2Case{fcClass20, {"--bad-copy", "2"}, {1, 2, 3}, 0, "Class20DamagedPageSentAgain", {2}},
                      Class2Case{fcClass20,
                                 {"--bad-copy", "2", "--bad-copy", "3", "--bad-copy", "4", "--resends", "2"},
                                 {1, 2, 3},
                                 ecFaxSessionError,
                                 "Class20PageThatStaysDamaged",
                                 {2, 2, 2}},
                      // The modem's counts alone decide: a few isolated bad rows keep the page, seven
                      // per cent of them refuse it, whichever base the modem counts in.
                      Class2Case{fcClass2, {"--row-counts", "2:2294,5,2"}, {1, 2}, 0, "Class2FewBadRowsKept"},
                      Class2Case{fcClass20, {"--row-counts", "2:2294,5,2"}, {1, 2}, 0, "Class20FewBadRowsKept"},
                      Class2Case{fcClass2, {"--row-counts", "2:2376,166,1"}, {1, 2}, 0, "Class2ManyBadRowsRefused", {2}},
                      Class2Case{fcClass20, {"--row-counts", "2:2376,166,1"}, {1, 2}, 0, "Class20ManyBadRowsRefused",
                                 {2}}),
    [](const auto& info) { return info.param.name; });

} // namespace
