// The Class 2 / 2.0 simulator: its dialogue and faults spoken to directly, and whole faxes with
// efax and mgetty-fax's sendfax, the programs real Class 2 modems were made to work with.
#include "faxline_harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace faxline;
using namespace std::chrono_literals;

namespace {

constexpr char DC1 = 0x11, DC2 = 0x12, DLE = 0x10, ETX = 0x03;

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Class 2 and Class 2.0 say the same things under different keywords.
struct Generation {
    const char* fclass;
    const char *con, *csi, *dis, *dcs, *pts, *hangup50;
};
const Generation kClass2{"2", "+FCON", "+FCSI", "+FDIS", "+FDCS", "+FPTS", "+FHNG:50"};
const Generation kClass20{"2.0", "+FCO", "+FCI", "+FIS", "+FCS", "+FPS", "+FHS:32"};

void PrintTo(const Generation& g, std::ostream* os) { *os << "Class " << g.fclass; }

std::string GenerationName(const ::testing::TestParamInfo<Generation>& info)
{
    return info.param.fclass[1] ? "Class20" : "Class2";
}

class Class2SimDialogue : public ::testing::TestWithParam<Generation> {
protected:
    // Starts the simulator and puts its modem into the fax class under test.
    std::unique_ptr<ModemChat> Open(std::vector<std::string> args)
    {
        line_ = Line::StartClass2Sim(dir_.Path(), args);
        if (!line_)
            return nullptr;
        auto modem = std::make_unique<ModemChat>(line_->Port('A'));
        if (modem->Command("E0") != "OK" || modem->Command(std::string("+FCLASS=") + GetParam().fclass) != "OK")
            return nullptr;
        return modem;
    }

    // Dials and answers the far end's identity and capabilities; returns the reply.
    std::string Dial(ModemChat& modem)
    {
        EXPECT_EQ(modem.Command("D123", 10s), "OK");
        return modem.LastReply();
    }

    TempDir dir_;
    std::unique_ptr<Line> line_;
};

TEST_P(Class2SimDialogue, DiallingReportsTheFarEndInTheGenerationsWords)
{
    auto modem = Open({"--remote-id", "+44 20 7946 0000"});
    ASSERT_TRUE(modem);
    std::string reply = Dial(*modem);
    const Generation& g = GetParam();
    EXPECT_NE(reply.find(std::string(g.con) + "\r\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find(std::string(g.csi) + ":\"+44 20 7946 0000\""), std::string::npos) << reply;
    EXPECT_NE(reply.find(std::string(g.dis) + ":1,5,0,2,0,0,0,0"), std::string::npos) << reply;
}

TEST_P(Class2SimDialogue, CommandsAreEchoedUntilE0)
{
    line_ = Line::StartClass2Sim(dir_.Path(), {});
    ASSERT_TRUE(line_);
    ModemChat modem(line_->Port('A'));
    modem.Send("AT\r");
    auto got = modem.ReadUntil({"OK"}, 5s);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, "AT\r\r\nOK\r\n");
    ASSERT_EQ(modem.Command("E0"), "OK");
    modem.Send("AT\r");
    got = modem.ReadUntil({"OK"}, 5s);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, "\r\nOK\r\n");
}

TEST_P(Class2SimDialogue, V0GivesNumericResultsEndedByCr)
{
    auto modem = Open({"--dial-result", "555=BUSY"});
    ASSERT_TRUE(modem);
    modem->Send("ATV0\r");
    modem->ReadUntil({"never"}, 500ms);
    EXPECT_EQ(modem->Pending(), "0\r");
    modem->Pending().clear();
    modem->Send("ATD555\r");
    modem->ReadUntil({"never"}, 1s);
    EXPECT_EQ(modem->Pending(), "7\r");
}

TEST_P(Class2SimDialogue, DialledNumbersGiveTheirResults)
{
    auto modem =
        Open({"--dial-result", "555=BUSY", "--dial-result", "666=NO CARRIER", "--dial-result", "777=NO DIALTONE"});
    ASSERT_TRUE(modem);
    EXPECT_EQ(modem->Command("D555", 5s), "BUSY");
    EXPECT_EQ(modem->Command("D666", 5s), "NO CARRIER");
    EXPECT_EQ(modem->Command("D777", 5s), "NO DIALTONE");
}

TEST_P(Class2SimDialogue, InjectedErrorHitsOnlyTheNamedUse)
{
    auto modem = Open({"--error", "+FDT:1"});
    ASSERT_TRUE(modem);
    Dial(*modem);
    EXPECT_EQ(modem->Command("+FDT"), "ERROR");
    EXPECT_EQ(modem->Command("+FDT"), "CONNECT");
}

TEST_P(Class2SimDialogue, FarEndHangingUpAtDataCommandReportsHangupCode)
{
    auto modem = Open({"--hangup-after", "+FDT:1:50"});
    ASSERT_TRUE(modem);
    Dial(*modem);
    EXPECT_EQ(modem->Command("+FDT"), "ERROR");
    EXPECT_NE(modem->LastReply().find(GetParam().hangup50), std::string::npos) << modem->LastReply();
}

TEST_P(Class2SimDialogue, RejectedPageAsErrorLeavesTheVerdictToAsk)
{
    auto modem = Open({"--rtn", "1", "--rtn-error"});
    ASSERT_TRUE(modem);
    Dial(*modem);
    ASSERT_EQ(modem->Command("+FDT"), "CONNECT");
    modem->Send(std::string(100, '\0') + std::string{DLE, ETX});
    ASSERT_TRUE(modem->ReadUntil({"OK"}, 10s));
    EXPECT_EQ(modem->Command("+FET=2"), "ERROR");
    std::string verdict = GetParam().fclass[1] ? "+FPS?" : "+FPTS?";
    EXPECT_EQ(modem->Command(verdict), "OK");
    EXPECT_EQ(modem->LastReply(), "\r\n2\r\n\r\nOK\r\n");
}

TEST_P(Class2SimDialogue, DataCommandGivesSessionConnectAndXon)
{
    auto modem = Open({});
    ASSERT_TRUE(modem);
    Dial(*modem);
    ASSERT_EQ(modem->Command("+FDT"), "CONNECT");
    EXPECT_NE(modem->LastReply().find(std::string(GetParam().dcs) + ":1,5,0,2,0,0,0,0"), std::string::npos);
    modem->ReadUntil({"never"}, 1s);
    EXPECT_NE(modem->Pending().find(DC1), std::string::npos);
}

TEST_P(Class2SimDialogue, MissingXonFaultSendsNone)
{
    auto modem = Open({"--no-xon"});
    ASSERT_TRUE(modem);
    Dial(*modem);
    ASSERT_EQ(modem->Command("+FDT"), "CONNECT");
    modem->ReadUntil({"never"}, 1s);
    EXPECT_EQ(modem->Pending().find(DC1), std::string::npos);
}

TEST_P(Class2SimDialogue, FarEndHangingUpInThePageInterruptsTheData)
{
    auto modem = Open({"--hangup-in-page", "1"});
    ASSERT_TRUE(modem);
    Dial(*modem);
    ASSERT_EQ(modem->Command("+FDT"), "CONNECT");
    modem->Send(std::string(4000, '\0'));
    std::string hangup = std::string(GetParam().fclass[1] ? "+FHS:32" : "+FHNG:50");
    EXPECT_TRUE(modem->ReadUntil({hangup}, 10s)) << modem->Pending();
    modem->Send(std::string{DLE, ETX});
    EXPECT_TRUE(modem->ReadUntil({"ERROR"}, 10s)) << modem->Pending();
}

TEST_P(Class2SimDialogue, IncomingCallRingsAndDeliversDleStuffedPage)
{
    auto modem = Open({"--send", ItuChartPath(1), "--speedup", "50", "--ring-delay", "0.2"});
    ASSERT_TRUE(modem);
    const Generation& g = GetParam();
    ASSERT_TRUE(modem->ReadUntil({"RING"}, 5s));
    ASSERT_EQ(modem->Command("A", 10s), "OK");
    EXPECT_NE(modem->LastReply().find(std::string(g.con) + "\r\n"), std::string::npos) << modem->LastReply();
    EXPECT_NE(modem->LastReply().find(std::string(g.dcs) + ":"), std::string::npos) << modem->LastReply();
    ASSERT_EQ(modem->Command("+FDR", 10s), "CONNECT");
    modem->Send(std::string{DC2});
    // The page ends at an unstuffed DLE ETX; then come the page report and the post-page message.
    std::string data;
    bool dle = false, ended = false;
    auto end = std::chrono::steady_clock::now() + 20s;
    while (!ended && std::chrono::steady_clock::now() < end) {
        modem->ReadUntil({"never"}, 100ms);
        std::string& in = modem->Pending();
        size_t i = 0;
        for (; i < in.size() && !ended; i++) {
            if (dle) {
                dle = false;
                if (in[i] == ETX)
                    ended = true;
                else
                    data.push_back(in[i]);
            } else if (in[i] == DLE)
                dle = true;
            else
                data.push_back(in[i]);
        }
        in.erase(0, i);
    }
    ASSERT_TRUE(ended);
    EXPECT_GT(data.size(), 10000u);
    auto report = modem->ReadUntil({"OK"}, 5s);
    ASSERT_TRUE(report);
    EXPECT_NE(report->find(std::string(g.pts) + ":1"), std::string::npos) << *report;
    EXPECT_NE(report->find("+FET:2"), std::string::npos) << *report;
    EXPECT_EQ(modem->Command("+FDR"), "OK");
    EXPECT_NE(modem->LastReply().find(g.fclass[1] ? "+FHS:00" : "+FHNG:0"), std::string::npos) << modem->LastReply();
}

INSTANTIATE_TEST_SUITE_P(Generations, Class2SimDialogue, ::testing::Values(kClass2, kClass20), GenerationName);

TEST(Class2SimClasses, FclassQueryAnswersTheConfiguredList)
{
    TempDir dir;
    auto line = Line::StartClass2Sim(dir.Path(), {"--fclass-list", "(0,1,2,2.0)"});
    ASSERT_TRUE(line);
    ModemChat modem(line->Port('A'));
    ASSERT_EQ(modem.Command("E0"), "OK");
    ASSERT_EQ(modem.Command("+FCLASS=?"), "OK");
    EXPECT_EQ(modem.LastReply(), "\r\n(0,1,2,2.0)\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Command("+FCLASS=2.0"), "OK");
    EXPECT_EQ(modem.Command("+FCLASS=8"), "ERROR");
}

// ---- whole faxes with the peers ---------------------------------------------------------------

struct PeerCase {
    const char* efaxClass; // efax -o: 2 or 0 (Class 2.0)
    bool peerSends;
};

void PrintTo(const PeerCase& c, std::ostream* os)
{
    *os << "efax -o" << c.efaxClass << (c.peerSends ? " sends" : " receives");
}

class Class2SimEfax : public ::testing::TestWithParam<PeerCase> {
protected:
    void SetUp() override
    {
        if (!HaveProgram("efax"))
            GTEST_SKIP() << "efax is not installed";
    }
    TempDir dir_;
};

TEST_P(Class2SimEfax, TwoPagesArrivePixelExact)
{
    const PeerCase& c = GetParam();
    auto page1 = ReadPbm(ItuChartPath(1));
    auto page2 = ReadPbm(ItuChartPath(3));
    ASSERT_TRUE(page1 && page2);
    std::vector<std::string> args{"--speedup", "8", "--calls", "1", "--rx-dir", dir_.File("rx")};
    if (!c.peerSends)
        args.insert(args.end(), {"--send", ItuChartPath(1), "--send", ItuChartPath(3)});
    auto line = Line::StartClass2Sim(dir_.Path(), args);
    ASSERT_TRUE(line);
    std::vector<std::string> efax{"efax", "-v", "ewinchm", "-d", line->Port('A'), std::string("-o") + c.efaxClass};
    if (c.peerSends)
        efax.insert(efax.end(), {"-h", "", "-t", "123", ItuChartPath(1), ItuChartPath(3)});
    else
        efax.insert(efax.end(), {"-r", dir_.File("efax")});
    auto peer = StartPeer(dir_, "efax", efax);
    EXPECT_EQ(peer->Wait(90s), 0) << ReadText(dir_.File("class2sim.log"));
    if (c.peerSends) {
        auto got1 = ReadPbm(dir_.File("rx/page-001.pbm"));
        auto got2 = ReadPbm(dir_.File("rx/page-002.pbm"));
        ASSERT_TRUE(got1 && got2);
        EXPECT_EQ(CompareBelowHeader(*got1, *page1), "");
        EXPECT_EQ(CompareBelowHeader(*got2, *page2), "");
    } else {
        auto got1 = ReadTiffPages(dir_.File("efax.001"));
        auto got2 = ReadTiffPages(dir_.File("efax.002"));
        ASSERT_TRUE(got1 && got2);
        EXPECT_EQ(DescribeDifference(got1->front(), *page1), "");
        EXPECT_EQ(DescribeDifference(got2->front(), *page2), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, Class2SimEfax,
                         ::testing::Values(PeerCase{"2", true}, PeerCase{"2", false}, PeerCase{"0", true},
                                           PeerCase{"0", false}),
                         [](const auto& info) {
                             return std::string(info.param.efaxClass[0] == '0' ? "Class20" : "Class2")
                                    + (info.param.peerSends ? "EfaxSends" : "EfaxReceives");
                         });

TEST(Class2SimPageRetry, EfaxSendsARejectedPageAgain)
{
    if (!HaveProgram("efax"))
        GTEST_SKIP() << "efax is not installed";
    TempDir dir;
    auto line =
        Line::StartClass2Sim(dir.Path(), {"--speedup", "8", "--calls", "1", "--rx-dir", dir.File("rx"), "--rtn", "1"});
    ASSERT_TRUE(line);
    auto peer = StartPeer(dir, "efax",
                          {"efax", "-v", "ewinchm", "-d", line->Port('A'), "-o2", "-h", "", "-t", "123",
                           ItuChartPath(1), ItuChartPath(2)});
    EXPECT_EQ(peer->Wait(90s), 0);
    auto rejected = ReadPbm(dir.File("rx/rejected-001.pbm"));
    auto got1 = ReadPbm(dir.File("rx/page-001.pbm"));
    auto got2 = ReadPbm(dir.File("rx/page-002.pbm"));
    auto page1 = ReadPbm(ItuChartPath(1));
    auto page2 = ReadPbm(ItuChartPath(2));
    ASSERT_TRUE(rejected && got1 && got2 && page1 && page2);
    EXPECT_EQ(CompareBelowHeader(*rejected, *page1), "");
    EXPECT_EQ(CompareBelowHeader(*got1, *page1), "");
    EXPECT_EQ(CompareBelowHeader(*got2, *page2), "");
}

class Class2SimSendfax : public ::testing::TestWithParam<const char*> {};

TEST_P(Class2SimSendfax, TwoPagesArrivePixelExact)
{
    if (!HaveProgram("sendfax") || !HaveProgram("pbm2g3"))
        GTEST_SKIP() << "mgetty-fax is not installed";
    TempDir dir;
    std::vector<std::string> files;
    for (int p : {1, 2}) {
        std::string g3 = dir.File("p" + std::to_string(p) + ".g3");
        auto conv = std::make_unique<ChildProcess>(std::vector<std::string>{"pbm2g3", ItuChartPath(p)}, g3,
                                                   dir.File("pbm2g3.log"));
        ASSERT_EQ(conv->Wait(30s), 0);
        files.push_back(g3);
    }
    auto line = Line::StartClass2Sim(dir.Path(), {"--speedup", "8", "--calls", "1", "--rx-dir", dir.File("rx")});
    ASSERT_TRUE(line);
    // sendfax names its port relative to /dev.
    std::string port = line->Port('A').substr(5);
    auto peer =
        StartPeer(dir, "sendfax", {"sendfax", "-x", "5", "-l", port, "-C", GetParam(), "123", files[0], files[1]});
    EXPECT_EQ(peer->Wait(90s), 0) << ReadText(dir.File("class2sim.log"));
    for (int p : {1, 2}) {
        auto got = ReadPbm(dir.File("rx/page-00" + std::to_string(p) + ".pbm"));
        auto sent = ReadPbm(ItuChartPath(p));
        ASSERT_TRUE(got && sent);
        EXPECT_EQ(DescribeDifference(*got, *sent), "") << "page " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, Class2SimSendfax, ::testing::Values("cls2", "c2.0"),
                         [](const auto& info) { return std::string(info.param[1] == 'l' ? "Class2" : "Class20"); });

// A modem that breaks down: the engine must see an error, never hang.
class Class2SimBreakdown : public ::testing::Test {
protected:
    ModemChat& Start(const std::vector<std::string>& args)
    {
        line_ = Line::StartClass2Sim(dir_.Path(), args);
        EXPECT_TRUE(line_);
        modem_ = std::make_unique<ModemChat>(line_ ? line_->Port('A') : std::string("/dev/null"));
        return *modem_;
    }

    TempDir dir_;
    std::unique_ptr<Line> line_;
    std::unique_ptr<ModemChat> modem_;
};

TEST_F(Class2SimBreakdown, SilentModemAnswersNothingFromItsTrigger)
{
    ModemChat& modem = Start({"--silent-after", "+FCLASS=2"});
    ASSERT_EQ(modem.Command("E0"), "OK");
    EXPECT_EQ(modem.Command("+FCLASS=2", 1s), "");
    EXPECT_EQ(modem.Command("", 1s), "");
    EXPECT_EQ(modem.Pending(), "");
}

TEST_F(Class2SimBreakdown, GarbageModemAnswersNoResult)
{
    ModemChat& modem = Start({"--garbage-after", "*"});
    EXPECT_EQ(modem.Command("", 1s), "");
    EXPECT_GE(modem.Pending().size(), 40u);
}

TEST_F(Class2SimBreakdown, VanishingModemClosesThePort)
{
    ModemChat& modem = Start({"--vanish-after", "D"});
    ASSERT_EQ(modem.Command("+FCLASS=2"), "OK");
    EXPECT_EQ(modem.Command("D123", 2s), "");
    EXPECT_TRUE(line_->Process().Wait(5s));
}

} // namespace
