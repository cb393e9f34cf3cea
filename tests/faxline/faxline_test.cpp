// The Class 1 line itself: dialling results, ringing and answering, and faxes between peers
// nobody here wrote (efax, spandsp's T.30 terminal) compared pixel for pixel.
#include "faxline_harness.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

using namespace faxline;
using namespace std::chrono_literals;

namespace {

// efax divides by the whole seconds a page took to send and dies of SIGFPE when it took none:
// while efax sends, the line runs at most this many times real time.
const char* const kEfaxSendingSpeed = "8";

struct DialCase {
    const char* number;
    const char* result;
};

void PrintTo(const DialCase& c, std::ostream* os) { *os << c.number << " -> " << c.result; }

class FaxlineDial : public ::testing::TestWithParam<DialCase> {};

TEST_P(FaxlineDial, NumberGivesItsResult)
{
    TempDir dir;
    auto line = Line::Start(
        dir.Path(), {"pair", "--busy", "555", "--no-dialtone", "666", "--no-answer", "777", "--ring-timeout", "2"});
    ASSERT_TRUE(line);
    ModemChat a(line->Port('A'));
    ASSERT_TRUE(a.IsOpen());
    ASSERT_EQ(a.Command("+FCLASS=1"), "OK");
    EXPECT_EQ(a.Command(std::string("D") + GetParam().number, 10s), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Numbers, FaxlineDial,
                         ::testing::Values(DialCase{"555", "BUSY"}, DialCase{"666", "NO DIALTONE"},
                                           DialCase{"777", "NO ANSWER"}),
                         [](const auto& info) { return std::string("Number") + info.param.number; });

// The line time and wall time of the first --trace line containing `text`.
std::optional<std::pair<double, double>> TraceTimes(const std::string& trace, const std::string& text)
{
    std::istringstream in(trace);
    std::string l;
    while (std::getline(in, l))
        if (l.find(text) != std::string::npos) {
            std::istringstream fields(l);
            double lineTime = 0, wallTime = 0;
            if (fields >> lineTime >> wallTime)
                return std::make_pair(lineTime, wallTime);
        }
    return std::nullopt;
}

// Two modems back to back, both in class 1, their programs played by the test.
class FaxlineBackToBack : public ::testing::Test {
protected:
    bool Open(std::vector<std::string> args = {})
    {
        args.insert(args.begin(), "pair");
        args.push_back(dir_.File("a"));
        args.push_back(dir_.File("b"));
        line_ = Line::Start(dir_.Path(), args);
        if (!line_)
            return false;
        a_ = std::make_unique<ModemChat>(dir_.File("a"));
        b_ = std::make_unique<ModemChat>(dir_.File("b"));
        return a_->Command("+FCLASS=1") == "OK" && b_->Command("+FCLASS=1") == "OK";
    }

    // A dials; true once B has heard RING.
    bool Ring()
    {
        a_->Send("ATD123\r");
        return b_->ReadUntil({"RING"}, 5s).has_value();
    }

    // A dials and B answers: both modems say CONNECT (B sends CED, then V.21 flags for DIS;
    // A hears the flags).
    bool Connect()
    {
        return Ring() && b_->Command("A", 10s) == "CONNECT" && a_->ReadUntil({"CONNECT"}, 10s).has_value();
    }

    TempDir dir_;
    std::unique_ptr<Line> line_;
    std::unique_ptr<ModemChat> a_, b_;
};

TEST_F(FaxlineBackToBack, DiallingRingsTheOtherModemWhichAnswers)
{
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Connect()) << a_->Pending() << b_->Pending();
}

TEST_F(FaxlineBackToBack, AutoAnsweringModemAnswersOnTheFirstRing)
{
    ASSERT_TRUE(Open());
    ASSERT_EQ(b_->Command("S0=1"), "OK");
    a_->Send("ATD123\r");
    EXPECT_TRUE(b_->ReadUntil({"CONNECT"}, 10s)) << b_->Pending();
    EXPECT_TRUE(a_->ReadUntil({"CONNECT"}, 10s)) << a_->Pending();
}

TEST_F(FaxlineBackToBack, FastLineKeepsRealTimeWhileAProgramOwesAFrame)
{
    ASSERT_TRUE(Open({"--fast", "--trace"}));
    ASSERT_TRUE(Connect());
    // B owes its modem the first frame: the line must not run ahead while B takes its time.
    std::this_thread::sleep_for(1500ms);
    const char dis[] = {'\xff', '\x13', '\x80', '\x00', '\xce', '\xf4', '\x10', '\x03'};
    b_->Send(std::string(dis, sizeof dis));
    ASSERT_TRUE(b_->ReadUntil({"OK"}, 10s));
    line_->Process().Terminate();
    auto owed = TraceTimes(line_->Errors(), "B > CONNECT");
    auto paid = TraceTimes(line_->Errors(), "B < [");
    ASSERT_TRUE(owed && paid) << line_->Errors();
    double lineTime = paid->first - owed->first, wallTime = paid->second - owed->second;
    EXPECT_GE(wallTime, 1.4);
    EXPECT_NEAR(lineTime, wallTime, 0.2) << line_->Errors();
}

TEST_F(FaxlineBackToBack, DiallingWhileBeingRungIsBusy)
{
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Ring());
    EXPECT_EQ(b_->Command("D456", 10s), "BUSY");
}

TEST_F(FaxlineBackToBack, CalledPortInUseIsBusy)
{
    ASSERT_TRUE(Open());
    ASSERT_EQ(b_->Command("H1"), "OK"); // off hook
    EXPECT_EQ(a_->Command("D123", 10s), "BUSY");
}

TEST_F(FaxlineBackToBack, FarEndClosingItsPortEndsTheCall)
{
    ASSERT_TRUE(Open());
    ASSERT_TRUE(Connect());
    b_.reset();
    // No modem lines on a pseudo-terminal: the caller learns of the hang-up as NO CARRIER.
    EXPECT_TRUE(a_->ReadUntil({"NO CARRIER"}, 15s)) << a_->Pending();
}

// ---- efax as the far end ----------------------------------------------------------------------

class FaxlineEfax : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveProgram("efax"))
            GTEST_SKIP() << "efax is not installed";
    }

    std::unique_ptr<ChildProcess> Efax(const std::string& name, std::vector<std::string> args)
    {
        std::vector<std::string> argv{"efax", "-v", "ewinchm"};
        argv.insert(argv.end(), args.begin(), args.end());
        return StartPeer(dir_, name, argv);
    }

    // The fax terminal calls efax and sends `pages`; efax must receive each pixel for pixel, at
    // its resolution when the page has one.
    void TerminalSendsToEfax(const std::vector<Bitmap>& pages)
    {
        ASSERT_TRUE(WriteFaxTiff(dir_.File("tx.tif"), pages));
        auto line = Line::Start(dir_.Path(), {"call", "--fast", "--tx-file", dir_.File("tx.tif"), dir_.File("a")});
        ASSERT_TRUE(line);
        auto rx = Efax("rx", {"-d", dir_.File("a"), "-o1", "-r", dir_.File("rx")});
        EXPECT_EQ(rx->Wait(100s), 0);
        EXPECT_EQ(line->Process().Wait(20s), 0) << line->Output();
        for (size_t p = 0; p < pages.size(); p++) {
            auto got = ReadTiffPages(dir_.File("rx.00" + std::to_string(p + 1)));
            ASSERT_TRUE(got) << "page " << p + 1;
            EXPECT_EQ(DescribeDifference(got->front(), pages[p]), "") << "page " << p + 1;
            if (pages[p].yResolution > 0) {
                EXPECT_EQ(got->front().yResolution, pages[p].yResolution) << "page " << p + 1;
            }
        }
    }

    TempDir dir_;
};

class FaxlineEfaxToEfax : public FaxlineEfax, public ::testing::WithParamInterface<bool> {};

TEST_P(FaxlineEfaxToEfax, PageCrossesBackToBackPairPixelExact)
{
    bool fast = GetParam();
    std::vector<std::string> args{"pair", "--calls", "1"};
    if (fast)
        args.insert(args.end(), {"--speed", kEfaxSendingSpeed});
    args.push_back(dir_.File("a"));
    args.push_back(dir_.File("b"));
    auto line = Line::Start(dir_.Path(), args);
    ASSERT_TRUE(line);
    auto rx = Efax("rx", {"-d", dir_.File("b"), "-o1", "-r", dir_.File("rx")});
    auto tx = Efax("tx", {"-d", dir_.File("a"), "-o1", "-h", "", "-t", "123", ItuChartPath(1)});
    EXPECT_EQ(tx->Wait(100s), 0);
    EXPECT_EQ(rx->Wait(20s), 0);
    auto sent = ReadPbm(ItuChartPath(1));
    auto got = ReadTiffPages(dir_.File("rx.001"));
    ASSERT_TRUE(sent && got);
    ASSERT_EQ(got->size(), 1u);
    EXPECT_EQ(CompareBelowHeader(got->front(), *sent), "");
}

INSTANTIATE_TEST_SUITE_P(Timing, FaxlineEfaxToEfax, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Fast" : "RealTime"; });

TEST_F(FaxlineEfax, EfaxSendsTwoPagesToTheFaxTerminal)
{
    auto line = Line::Start(dir_.Path(), {"answer", "--speed", kEfaxSendingSpeed, "--rx-file", dir_.File("rx.tif"),
                                          "--ident", "+1 555 0100", dir_.File("a")});
    ASSERT_TRUE(line);
    auto tx = Efax("tx", {"-d", dir_.File("a"), "-o1", "-l", "+1 555 0199", "-h", "", "-t", "123", ItuChartPath(1),
                          ItuChartPath(2)});
    EXPECT_EQ(tx->Wait(100s), 0);
    EXPECT_EQ(line->Process().Wait(20s), 0) << line->Output();
    auto results = line->Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NE(results[0].find("RESULT 0 "), std::string::npos) << results[0];
    EXPECT_NE(results[0].find("pages_rx=2"), std::string::npos) << results[0];
    EXPECT_NE(results[0].find("remote=\"+1 555 0199\""), std::string::npos) << results[0];
    auto got = ReadTiffPages(dir_.File("rx.tif"));
    ASSERT_TRUE(got);
    ASSERT_EQ(got->size(), 2u);
    for (int p = 0; p < 2; p++) {
        auto sent = ReadPbm(ItuChartPath(p + 1));
        ASSERT_TRUE(sent);
        EXPECT_EQ(CompareBelowHeader((*got)[static_cast<size_t>(p)], *sent), "") << "page " << p + 1;
    }
}

TEST_F(FaxlineEfax, FaxTerminalSendsFineThenStandardPageToEfax)
{
    auto fine = ReadPbm(ItuChartPath(1));
    auto tall = ReadPbm(ItuChartPath(2));
    ASSERT_TRUE(fine && tall);
    fine->yResolution = 196;
    Bitmap standard; // every other row of chart 2: the same page at 98 rows per inch
    standard.width = tall->width;
    standard.yResolution = 98;
    for (int y = 0; y < tall->height; y += 2) {
        Bitmap row = tall->Rows(y, 1);
        standard.bits.insert(standard.bits.end(), row.bits.begin(), row.bits.end());
        standard.height++;
    }
    TerminalSendsToEfax({*fine, standard});
}

TEST_F(FaxlineEfax, FaxTerminalCallsAndSendsTwoPagesToEfax)
{
    auto page1 = ReadPbm(ItuChartPath(1));
    auto page2 = ReadPbm(ItuChartPath(3));
    ASSERT_TRUE(page1 && page2);
    TerminalSendsToEfax({*page1, *page2});
}

} // namespace

namespace {

// The fax terminal's modems decide the rate efax ends up sending at.
struct RateCase {
    const char* modems;
    const char* maxRate; // what the line carries cleanly ("0": everything)
    int rate;
};

void PrintTo(const RateCase& c, std::ostream* os)
{
    *os << c.modems << " over a line good to " << c.maxRate << " -> " << c.rate;
}

class FaxlineRates : public FaxlineEfax, public ::testing::WithParamInterface<RateCase> {};

TEST_P(FaxlineRates, EfaxSendsAtTheRateTheTerminalAndLineAllow)
{
    const RateCase& c = GetParam();
    auto line = Line::Start(dir_.Path(), {"answer", "--speed", kEfaxSendingSpeed, "--modems", c.modems, "--max-rate",
                                          c.maxRate, "--rx-file", dir_.File("rx.tif"), dir_.File("a")});
    ASSERT_TRUE(line);
    auto tx = Efax("tx", {"-d", dir_.File("a"), "-o1", "-h", "", "-t", "123", ItuChartPath(2)});
    EXPECT_EQ(tx->Wait(100s), 0);
    EXPECT_EQ(line->Process().Wait(20s), 0) << line->Output();
    auto results = line->Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_NE(results[0].find("rate=" + std::to_string(c.rate) + " "), std::string::npos) << results[0];
    auto sent = ReadPbm(ItuChartPath(2));
    auto got = ReadTiffPages(dir_.File("rx.tif"));
    ASSERT_TRUE(sent && got);
    ASSERT_EQ(got->size(), 1u);
    EXPECT_EQ(CompareBelowHeader(got->front(), *sent), "");
}

INSTANTIATE_TEST_SUITE_P(Modems, FaxlineRates,
                         ::testing::Values(RateCase{"v17,v29,v27ter", "0", 14400}, RateCase{"v29,v27ter", "0", 9600},
                                           RateCase{"v27ter", "0", 4800},
                                           // 14400 fails its training check (FTT); efax steps down.
                                           RateCase{"v17,v29,v27ter", "12000", 12000}),
                         [](const auto& info) {
                             std::string name = info.param.modems;
                             name = name.substr(0, name.find(','));
                             return name + "LineGoodTo" + info.param.maxRate;
                         });

TEST_F(FaxlineEfax, LineDroppingInThePageFailsBothEfaxes)
{
    auto line = Line::Start(dir_.Path(), {"pair", "--speed", kEfaxSendingSpeed, "--calls", "1", "--hangup-at", "20",
                                          dir_.File("a"), dir_.File("b")});
    ASSERT_TRUE(line);
    auto rx = Efax("rx", {"-d", dir_.File("b"), "-o1", "-r", dir_.File("rx")});
    auto tx = Efax("tx", {"-d", dir_.File("a"), "-o1", "-h", "", "-t", "123", ItuChartPath(1)});
    auto txStatus = tx->Wait(100s);
    auto rxStatus = rx->Wait(30s);
    ASSERT_TRUE(txStatus && rxStatus);
    EXPECT_NE(*txStatus, 0);
    EXPECT_NE(*rxStatus, 0);
}

TEST_F(FaxlineEfax, LineDroppingInThePageFailsTheTerminalsCall)
{
    auto line = Line::Start(dir_.Path(), {"answer", "--speed", kEfaxSendingSpeed, "--hangup-at", "20", "--rx-file",
                                          dir_.File("rx.tif"), dir_.File("a")});
    ASSERT_TRUE(line);
    auto tx = Efax("tx", {"-d", dir_.File("a"), "-o1", "-h", "", "-t", "123", ItuChartPath(1)});
    auto txStatus = tx->Wait(100s);
    ASSERT_TRUE(txStatus);
    EXPECT_NE(*txStatus, 0);
    EXPECT_EQ(line->Process().Wait(30s), 1);
    auto results = line->Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].find("RESULT 0 "), std::string::npos) << results[0];
}

} // namespace

namespace {

// A hand-played Class 1 receiver against the fax terminal: the terminal sends its training check
// 75 ms after DCS, so the receiver must be listening (AT+FRM) by then, even on a fast line.
class FaxlineClass1Timing : public ::testing::TestWithParam<int> {};

TEST_P(FaxlineClass1Timing, ReceiverCatchesTrainingOnlyWhenPrompt)
{
    const int delayMs = GetParam();
    TempDir dir;
    ASSERT_TRUE(WriteFaxTiff(dir.File("tx.tif"), {*ReadPbm(ItuChartPath(2))}));
    auto line = Line::Start(dir.Path(), {"call", "--fast", "--call-delay", "300", "--tx-file", dir.File("tx.tif")});
    ASSERT_TRUE(line);
    ModemChat modem(line->Port('A'));
    ASSERT_EQ(modem.Command("+FCLASS=1"), "OK");
    ASSERT_TRUE(modem.ReadUntil({"RING"}, 10s));
    ASSERT_EQ(modem.Command("A", 10s), "CONNECT");
    // DIS: a G3 receiver of fine pages with V.27ter only, so that DCS asks for 4800 bit/s (AT+FRM=48).
    const char dis[] = {'\xff', '\x13', '\x80', '\x00', '\x4a', '\x70', '\x10', '\x03'};
    modem.Send(std::string(dis, sizeof dis));
    ASSERT_TRUE(modem.ReadUntil({"OK"}, 10s)) << modem.Pending();
    // Frames until DCS (FCF 0x83 from the sender; the low bit marks the caller).
    bool dcs = false;
    for (int i = 0; i < 6 && !dcs; i++) {
        ASSERT_EQ(modem.Command("+FRH=3", 10s), "CONNECT");
        auto frame = modem.ReadUntil({"OK", "ERROR"}, 10s);
        ASSERT_TRUE(frame);
        size_t start = frame->find("\xff");
        dcs = start != std::string::npos && start + 2 < frame->size()
              && (static_cast<uint8_t>((*frame)[start + 2]) & 0xfe) == 0x82;
    }
    ASSERT_TRUE(dcs);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::string result = modem.Command("+FRM=48", 10s);
    if (delayMs == 0)
        EXPECT_EQ(result, "CONNECT");
    else // 120 ms: what a receiver that waits before every command does, and misses
        EXPECT_NE(result, "CONNECT") << "the training check was missed, yet the modem connected";
}

INSTANTIATE_TEST_SUITE_P(Delays, FaxlineClass1Timing, ::testing::Values(0, 120),
                         [](const auto& info) { return "FrmAfter" + std::to_string(info.param) + "ms"; });

} // namespace
