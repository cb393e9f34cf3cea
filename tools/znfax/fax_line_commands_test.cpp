// znfax send and receive against the scripted Class 2 / 2.0 modem: the exit code says whether every
// fax went through, and the last line gives the result code and its text.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "class2_sim_process.h"
#include "faxline_harness.h"

using namespace faxline;
using namespace std::chrono_literals;

namespace {

std::string ReadFile(const std::string& path) { return zn::comms::test::ReadWholeFile(path); }

std::string Znfax() { return std::string(std::getenv("ZN_BUILD_DIR")) + "/tools/znfax/znfax"; }

// The simulator; its device is mapped to COM9 for the programs started afterwards.
class Modem {
public:
    Modem(const TempDir& dir, std::vector<std::string> args) : sim_(dir, std::move(args))
    {
        ::setenv("ZN_COM9", sim_.Device().c_str(), 1);
    }
    bool Ready() const { return !sim_.Device().empty(); }

private:
    zn::comms::test::Class2SimProcess sim_;
};

struct ToolRun {
    int exit = -1;
    std::string out;
    std::string LastLine() const
    {
        std::string s = out;
        while (!s.empty() && s.back() == '\n')
            s.pop_back();
        return s.substr(s.find_last_of('\n') + 1);
    }
};

ToolRun Znfax(const TempDir& dir, std::vector<std::string> args)
{
    args.insert(args.begin(), Znfax());
    ChildProcess p(args, dir.File("znfax.out"), dir.File("znfax.err"));
    ToolRun r;
    auto status = p.Wait(120s);
    r.exit = status ? *status : -1;
    r.out = ReadFile(dir.File("znfax.out")) + ReadFile(dir.File("znfax.err"));
    return r;
}

TEST(ZnfaxLine, SendsAFileAndSaysSo)
{
    TempDir dir;
    Modem modem(dir, {"--rx-dir", dir.File("rx"), "--speedup", "50"});
    ASSERT_TRUE(modem.Ready());
    ASSERT_EQ(Znfax(dir, {"convert", ItuChartPath(1), dir.File("a.apf")}).exit, 0);
    ToolRun r = Znfax(dir, {"send", "--port", "COM9", "--class", "2", "--station", "ZN TOOL", "--number", "5550100",
                        dir.File("a.apf")});
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(r.LastLine(), "result 0: OK") << r.out;
    EXPECT_NE(r.out.find("log 1: Transmit " + dir.File("a.apf") + " to 5550100 started at "), std::string::npos);
    EXPECT_NE(r.out.find("log 2: Transmit to +1 555 0100 finished OK at "), std::string::npos);
}

TEST(ZnfaxLine, NoDialToneFailsWithItsCode)
{
    TempDir dir;
    Modem modem(dir, {"--dial-result", "*=NO DIALTONE", "--speedup", "50"});
    ASSERT_TRUE(modem.Ready());
    ASSERT_EQ(Znfax(dir, {"convert", ItuChartPath(2), dir.File("a.apf")}).exit, 0);
    ToolRun r = Znfax(dir, {"send", "--port", "COM9", "--class", "2.0", "--number", "5550100", dir.File("a.apf")});
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_EQ(r.LastLine().rfind("result -8067: ", 0), 0u) << r.out;
}

TEST(ZnfaxLine, ReceivesTheCallsAskedFor)
{
    TempDir dir;
    Modem modem(dir, {"--speedup", "50", "--ring-delay", "0.2", "--calls", "2", "--send", ItuChartPath(3)});
    ASSERT_TRUE(modem.Ready());
    ToolRun r = Znfax(dir, {"receive", "--port", "COM9", "--class", "2", "--dir", dir.Path(), "--calls", "2"});
    EXPECT_EQ(r.exit, 0) << r.out;
    EXPECT_EQ(r.LastLine(), "result 0: OK") << r.out;
    EXPECT_EQ(Znfax(dir, {"info", dir.File("FAX0001.APF")}).exit, 0);
    EXPECT_EQ(Znfax(dir, {"info", dir.File("FAX0002.APF")}).exit, 0);
}

class ZnfaxLineUsage : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ZnfaxLineUsage, IsRefusedBeforeThePortIsOpened)
{
    TempDir dir;
    ToolRun r = Znfax(dir, GetParam());
    EXPECT_EQ(r.exit, 2) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZnfaxLineUsage,
    ::testing::Values(std::vector<std::string>{"send", "--number", "1", "a.apf"},
                      std::vector<std::string>{"send", "--port", "COM9", "--bps", "9600x", "--number", "1", "a.apf"},
                      std::vector<std::string>{"send", "--port", "COM9", "--class", "3", "--number", "1", "a.apf"},
                      std::vector<std::string>{"receive", "--port", "COM9", "--dir", ".", "--calls", "0"}));

TEST(ZnfaxLine, PortThatCannotOpenFailsWithItsText)
{
    TempDir dir;
    ::setenv("ZN_COM9", dir.File("no-such-tty").c_str(), 1);
    ToolRun r = Znfax(dir, {"send", "--port", "COM9", "--number", "1", "a.apf"});
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_EQ(r.LastLine().rfind("result -1: ", 0), 0u) << r.out;
}

} // namespace
