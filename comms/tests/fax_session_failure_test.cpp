// Calls that fail: busy and unanswered numbers, a cancel in the middle of a page, a far end that
// hangs up in the middle of a page, and modems that answer garbage, nothing, or vanish. Each
// session ends with its error, never hangs, and records no partial file as a fax.
#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <signal.h>

#include "apf_test_pages.h"
#include "fax_test_bench.h"
#include "faxline_harness.h"
#include "pty_pair.h"

using namespace zn::comms;
using namespace zn::comms::test;
using namespace faxline;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> ApfFilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n.size() > 4 && n.substr(n.size() - 4) == ".APF")
                names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

// Enough of a page to be well inside it: at 14400 bit/s about 2 s of the line.
constexpr int32_t kBytesIntoThePage = 4096;

// Waits until a status report shows the call in the middle of a page of data: the page's bytes
// are crossing the line. A send knows the page's length: the page must not be through yet.
::testing::AssertionResult InTheMiddleOfAPage(RecordingEvents& events, int pageStatus)
{
    if (!WaitFor(
            [&] {
                PageProgress p = events.Progress();
                return p.status == pageStatus && p.bytes >= kBytesIntoThePage;
            },
            120s))
        return ::testing::AssertionFailure() << "no page data crossed the line";
    const PageProgress p = events.Progress();
    if (p.length > 0 && p.bytes >= p.length)
        return ::testing::AssertionFailure() << "the page was through: " << p.bytes << " of " << p.length;
    return ::testing::AssertionSuccess() << "page " << p.page << ", " << p.bytes << " bytes";
}

class FailingCall : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto b = ReadPbm(ItuChartPath(1));
        ASSERT_TRUE(b);
        // Long enough for a cancel or a hang-up in the middle of it.
        Bitmap band = b->Rows(400, 1400);
        ASSERT_TRUE(WriteApf(dir_.File("out.apf"), {band, band}, true));
    }
    void Configure(FaxSession& s)
    {
        s.common.faxClass = fcClass1;
        s.common.StationID = "ZN ENGINE";
        s.modem.DesiredBPS = 14400;
    }
    TempDir dir_;
};

struct DialCase {
    const char* number;
    int error;
};

void PrintTo(const DialCase& c, std::ostream* os) { *os << c.number << " -> " << c.error; }

class DialResult : public FailingCall, public ::testing::WithParamInterface<DialCase> {};

TEST_P(DialResult, EndsTheEntryWithItsError)
{
    auto line =
        Line::Start(dir_.Path(), {"answer", "--fast", "--rx-file", dir_.File("rx.tif"), "--busy", "555", "--no-answer",
                                  "777", "--no-dialtone", "666", "--ring-timeout", "2", "--calls", "9"});
    ASSERT_TRUE(line);
    TestPort port(line->Port('A'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.entries.push_back({GetParam().number, dir_.File("out.apf"), ""});
    FaxSendSession session(events);
    Configure(session);
    session.common.DialAttempts = 2;
    session.common.DialRetryWait = 18;
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(events.WaitFinished(60s));
    ASSERT_FALSE(events.Errors().empty());
    EXPECT_EQ(events.Errors().front(), GetParam().error);
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfTransmitStart, lfTransmitFail}));
}

INSTANTIATE_TEST_SUITE_P(Numbers, DialResult,
                         ::testing::Values(DialCase{"555", ecFaxBusy}, DialCase{"777", ecFaxBusy},
                                           DialCase{"666", ecFaxNoDialTone}),
                         [](const auto& info) { return std::string("Number") + info.param.number; });

TEST_F(FailingCall, CancelInTheMiddleOfAPageEndsTheCallAtBothEnds)
{
    auto line = Line::Start(dir_.Path(), {"answer", "--rx-file", dir_.File("rx.tif")});
    ASSERT_TRUE(line);
    TestPort port(line->Port('A'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.entries.push_back({"5550100", dir_.File("out.apf"), ""});
    FaxSendSession session(events);
    Configure(session);
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(InTheMiddleOfAPage(events, fsSendingPage));
    session.Cancel(); // on this thread, as the user's cancel runs on the GUI thread
    ASSERT_TRUE(events.WaitFinished(60s));
    EXPECT_EQ(events.FinishCode(), ecCancelRequested);
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfTransmitStart, lfTransmitFail}));
    // The fax terminal sees the call end without the fax.
    ASSERT_TRUE(line->Process().Wait(60s));
    auto results = line->Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].find("RESULT 0 "), std::string::npos) << results[0];
}

TEST_F(FailingCall, CancelWhileReceivingAPageLeavesNoFax)
{
    auto b = ReadPbm(ItuChartPath(3));
    ASSERT_TRUE(b);
    ASSERT_TRUE(WriteFaxTiff(dir_.File("tx.tif"), {*b}));
    auto line = Line::Start(dir_.Path(), {"call", "--tx-file", dir_.File("tx.tif")});
    ASSERT_TRUE(line);
    TestPort port(line->Port('A'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.receiveDir = dir_.Path();
    FaxReceiveSession session(events);
    Configure(session);
    session.OneFax = true;
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(InTheMiddleOfAPage(events, fsGettingPage));
    session.Cancel();
    ASSERT_TRUE(events.WaitFinished(60s));
    EXPECT_EQ(events.FinishCode(), ecCancelRequested);
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfReceiveStart, lfReceiveFail}));
    EXPECT_TRUE(ApfFilesIn(dir_.Path()).empty());
    ASSERT_TRUE(line->Process().Wait(60s));
    auto results = line->Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].find("RESULT 0 "), std::string::npos) << results[0];
}

TEST_F(FailingCall, FarEndHangingUpInTheMiddleOfAPageEndsTheSend)
{
    if (!HaveProgram("efax"))
        GTEST_SKIP() << "efax is not installed";
    auto line = Line::Start(dir_.Path(), {"pair", "--calls", "1"});
    ASSERT_TRUE(line);
    ChildProcess rx({"efax", "-d", line->Port('B'), "-o1", "-r", dir_.File("rx")}, dir_.File("rx.out"),
                    dir_.File("rx.log"));
    TestPort port(line->Port('A'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.entries.push_back({"123", dir_.File("out.apf"), ""});
    FaxSendSession session(events);
    Configure(session);
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(InTheMiddleOfAPage(events, fsSendingPage));
    kill(rx.Pid(), SIGKILL);
    ASSERT_TRUE(events.WaitFinished(120s));
    // The modem's NO CARRIER ends the send: the far end disconnected, nobody cancelled.
    EXPECT_EQ(events.Errors(), std::vector<int>{ecCancelRequested});
    EXPECT_EQ(events.FinishCode(), ecCancelRequested);
    const std::vector<int> statuses = events.Statuses();
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), fsUserAbort), 0);
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfTransmitStart, lfTransmitFail}));
}

TEST_F(FailingCall, FarEndHangingUpInTheMiddleOfAPageLeavesNoFax)
{
    if (!HaveProgram("efax"))
        GTEST_SKIP() << "efax is not installed";
    auto line = Line::Start(dir_.Path(), {"pair", "--calls", "1"});
    ASSERT_TRUE(line);
    TestPort port(line->Port('B'));
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.receiveDir = dir_.Path();
    FaxReceiveSession session(events);
    Configure(session);
    session.OneFax = true;
    session.common.options = foExitOnError;
    ASSERT_EQ(session.Start(port.Port()), 0);
    ChildProcess tx({"efax", "-d", line->Port('A'), "-o1", "-t", "123", ItuChartPath(1)}, dir_.File("tx.out"),
                    dir_.File("tx.log"));
    ASSERT_TRUE(InTheMiddleOfAPage(events, fsGettingPage));
    kill(tx.Pid(), SIGKILL);
    ASSERT_TRUE(events.WaitFinished(120s));
    EXPECT_EQ(events.Errors(), std::vector<int>{ecCancelRequested});
    EXPECT_EQ(events.FinishCode(), ecCancelRequested);
    EXPECT_TRUE(events.Received().empty());
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfReceiveStart, lfReceiveFail}));
    EXPECT_TRUE(ApfFilesIn(dir_.Path()).empty());
}

// A modem of our own making on a pseudo-terminal: it answers what the test says, or nothing.
class OddModem : public FailingCall {
protected:
    void Answer(const std::function<std::string(const std::string&)>& reply)
    {
        stop_ = false;
        thread_ = std::thread([this, reply] {
            std::string pending;
            while (!stop_) {
                std::string got = pty_.Receive(1, 20);
                if (got.empty())
                    continue;
                pending += got;
                auto cr = pending.find('\r');
                if (cr == std::string::npos)
                    continue;
                std::string command = pending.substr(0, cr);
                pending.erase(0, cr + 1);
                std::string r = reply(command);
                if (r == "<vanish>") {
                    pty_.CloseMaster();
                    return;
                }
                pty_.Send(r);
            }
        });
    }
    void TearDown() override
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    PtyPair pty_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

TEST_F(OddModem, GarbageAnswersFailThePrepare)
{
    Answer([](const std::string&) { return std::string("\r\n\x01\x7f#?garbage\r\n"); });
    TestPort port(pty_.SlavePath());
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    FaxSendSession session(events);
    Configure(session);
    session.modem.responseTimeout = 18;
    EXPECT_EQ(session.Start(port.Port()), ecFaxBadModemResult);
    EXPECT_TRUE(events.WaitFinished(10s));
}

TEST_F(OddModem, SilentModemTimesOutInTheFirstStep)
{
    Answer([](const std::string&) { return std::string(); });
    TestPort port(pty_.SlavePath());
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.receiveDir = dir_.Path();
    FaxReceiveSession session(events);
    Configure(session);
    session.modem.responseTimeout = 18;
    session.common.options = foExitOnError;
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(events.WaitFinished(30s));
    ASSERT_FALSE(events.Errors().empty());
    EXPECT_EQ(events.Errors().front(), ecTimeout);
}

TEST_F(OddModem, ModemVanishingAfterTheDialEndsTheSend)
{
    Answer([](const std::string& command) {
        if (command.rfind("ATD", 0) == 0)
            return std::string("<vanish>");
        if (command == "AT+FTM=?")
            return std::string("\r\n24,48,72,96\r\n\r\nOK\r\n");
        return std::string("\r\nOK\r\n");
    });
    TestPort port(pty_.SlavePath());
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.entries.push_back({"123", dir_.File("out.apf"), ""});
    FaxSendSession session(events);
    Configure(session);
    session.modem.DialWait = 36;
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(events.WaitFinished(60s));
    ASSERT_FALSE(events.Errors().empty());
    EXPECT_EQ(events.Errors().front(), ecNoAnswer);
    EXPECT_EQ(events.Logs(), (std::vector<int>{lfTransmitStart, lfTransmitFail}));
}

TEST_F(OddModem, ModemGoingSilentAfterAnsweringLeavesNoFax)
{
    int rings = 0;
    Answer([&rings](const std::string& command) {
        if (command == "ATA")
            return std::string("\r\nCONNECT\r\n"); // then nothing more
        return std::string("\r\nOK\r\n");
    });
    TestPort port(pty_.SlavePath());
    ASSERT_TRUE(port.IsOpen());
    RecordingEvents events;
    events.receiveDir = dir_.Path();
    FaxReceiveSession session(events);
    Configure(session);
    session.common.options = foExitOnError;
    session.modem.responseTimeout = 36;
    ASSERT_EQ(session.Start(port.Port()), 0);
    ASSERT_TRUE(WaitFor([&] { return session.State() == rfWaiting; }, 10s));
    pty_.Send("\r\nRING\r\n");
    ASSERT_TRUE(events.WaitFinished(60s));
    ASSERT_FALSE(events.Errors().empty());
    EXPECT_TRUE(events.Received().empty());
    EXPECT_TRUE(ApfFilesIn(dir_.Path()).empty());
    (void)rings;
}

} // namespace
