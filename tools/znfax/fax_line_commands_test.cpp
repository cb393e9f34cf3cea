// znfax send and receive against the scripted Class 2 / 2.0 modem: the exit code says whether every
// fax went through, and the last line gives the result code and its text.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <thread>

#include "class2_sim_process.h"
#include "faxline_harness.h"
#include "platform/tests/param_name.h"

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
    // Unplugged: the simulator ends at once and its pseudo-terminal goes with it.
    void Unplug()
    {
        ::kill(sim_.Process().Pid(), SIGKILL);
        sim_.Process().Wait(10s);
    }

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

ToolRun Znfax(const TempDir& dir, std::vector<std::string> args,
              std::chrono::seconds timeout = std::chrono::seconds(120))
{
    args.insert(args.begin(), Znfax());
    ChildProcess p(args, dir.File("znfax.out"), dir.File("znfax.err"));
    ToolRun r;
    auto status = p.Wait(timeout);
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

// The UUCP lock files that name process pid as their owner.
std::vector<std::string> LockFilesOf(pid_t pid)
{
    std::vector<std::string> found;
    if (DIR* d = ::opendir("/var/lock")) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.rfind("LCK.", 0) == 0 && std::atol(ReadFile("/var/lock/" + name).c_str()) == long(pid))
                found.push_back(name);
        }
        ::closedir(d);
    }
    return found;
}

std::vector<std::string> FaxFiles(const TempDir& dir)
{
    std::vector<std::string> found;
    if (DIR* d = ::opendir(dir.Path().c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".APF")
                found.push_back(name);
        }
        ::closedir(d);
    }
    return found;
}

// Files of a fax still coming in: written under a name of their own ("FAX0001.APF.~zn...") until whole.
std::vector<std::string> ReceivingFiles(const TempDir& dir)
{
    std::vector<std::string> found;
    if (DIR* d = ::opendir(dir.Path().c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.find(".APF.") != std::string::npos)
                found.push_back(name);
        }
        ::closedir(d);
    }
    return found;
}

// Waits (bounded) until znfax's output holds text.
bool OutputShows(const TempDir& dir, const std::string& text)
{
    for (int i = 0; i < 3000; ++i) {
        if (ReadFile(dir.File("znfax.out")).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

struct SignalCase {
    const char* name;
    int signal;
    bool inCall; // a fax is coming in when the signal arrives
};

class ZnfaxReceiveEnded : public ::testing::TestWithParam<SignalCase> {};

// A logout, a service stop or Ctrl+C: the call is cancelled, its unfinished file deleted, the port
// and its lock files released, and the process ends as the signal ends it.
TEST_P(ZnfaxReceiveEnded, BySignalReleasesThePortAndLeavesNoFile)
{
    const SignalCase c = GetParam();
    TempDir dir;
    std::vector<std::string> simArgs{"--speedup", c.inCall ? "1" : "50"};
    if (c.inCall)
        simArgs.insert(simArgs.end(), {"--ring-delay", "0.2", "--calls", "1", "--send", ItuChartPath(1)});
    Modem modem(dir, simArgs);
    ASSERT_TRUE(modem.Ready());
    ChildProcess p({Znfax(), "receive", "--port", "COM9", "--class", "2", "--dir", dir.Path()}, dir.File("znfax.out"),
                   dir.File("znfax.err"));
    ASSERT_TRUE(OutputShows(dir, c.inCall ? "log 4:" : "status ")) << ReadFile(dir.File("znfax.out"));
    EXPECT_FALSE(LockFilesOf(p.Pid()).empty()) << "the open port is locked";
    if (c.inCall) {
        EXPECT_EQ(ReceivingFiles(dir).size(), 1u) << "the fax is being written";
        EXPECT_TRUE(FaxFiles(dir).empty()) << "under a name no whole fax has";
    }
    ::kill(p.Pid(), c.signal);
    auto status = p.Wait(60s);
    ASSERT_TRUE(status) << ReadFile(dir.File("znfax.out"));
    EXPECT_EQ(*status, 128 + c.signal) << ReadFile(dir.File("znfax.out"));
    EXPECT_TRUE(LockFilesOf(p.Pid()).empty());
    EXPECT_TRUE(FaxFiles(dir).empty());
    EXPECT_TRUE(ReceivingFiles(dir).empty());
    EXPECT_NE(ReadFile(dir.File("znfax.out")).find("(ended by signal " + std::to_string(c.signal) + ")"),
              std::string::npos)
        << ReadFile(dir.File("znfax.out"));
}

INSTANTIATE_TEST_SUITE_P(Cases, ZnfaxReceiveEnded,
                         ::testing::Values(SignalCase{"TermWhileWaiting", SIGTERM, false},
                                           SignalCase{"IntWhileWaiting", SIGINT, false},
                                           SignalCase{"TermInACall", SIGTERM, true},
                                           SignalCase{"IntInACall", SIGINT, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// SIGTERM in the first moments, while the port is being opened and the modem set up: the process
// still ends as the signal ends it, and no lock file of it stays.
class ZnfaxReceiveEndedEarly : public ::testing::TestWithParam<int> {};

TEST_P(ZnfaxReceiveEndedEarly, LeavesNoLockFile)
{
    TempDir dir;
    Modem modem(dir, {"--speedup", "50"});
    ASSERT_TRUE(modem.Ready());
    ChildProcess p({Znfax(), "receive", "--port", "COM9", "--class", "2", "--dir", dir.Path()}, dir.File("znfax.out"),
                   dir.File("znfax.err"));
    for (int i = 0; i < 1000 && LockFilesOf(p.Pid()).empty(); ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_FALSE(LockFilesOf(p.Pid()).empty()) << "the port was not opened";
    std::this_thread::sleep_for(std::chrono::milliseconds(GetParam()));
    ::kill(p.Pid(), SIGTERM);
    auto status = p.Wait(30s);
    ASSERT_TRUE(status) << "still running after SIGTERM: " << ReadFile(dir.File("znfax.out"));
    EXPECT_EQ(*status, 128 + SIGTERM) << ReadFile(dir.File("znfax.out"));
    EXPECT_TRUE(LockFilesOf(p.Pid()).empty());
}

// Milliseconds after the lock file appeared.
INSTANTIATE_TEST_SUITE_P(Delays, ZnfaxReceiveEndedEarly, ::testing::Values(0, 150, 600),
                         [](const ::testing::TestParamInfo<int>& info) { return "After" + std::to_string(info.param) + "ms"; });

// Signals at moments spread over the program's first seconds (starting, opening the port and
// setting up the modem, waiting, a call ringing and coming in), on a port named by a link outside
// /dev: the process ends as the last signal ends it, and no lock file of it stays under any name of
// the port. Besides SIGTERM alone: a second SIGTERM while the call is being hung up (an impatient
// service manager, Ctrl+C twice), and SIGHUP (the terminal closed at a logout).
struct EndCase {
    std::string name;
    int atMs;        // after the program was started
    int signal;
    int againAfterMs; // the second signal (the same), this long after the first; 0: none
};

std::vector<EndCase> EndCases()
{
    std::vector<EndCase> cases;
    for (int ms : {50, 100, 200, 350, 500, 690, 900, 1200, 1600, 2000, 2230, 3000})
        cases.push_back({"TermAt" + std::to_string(ms) + "ms", ms, SIGTERM, 0});
    for (int ms : {690, 2230})
        cases.push_back({"TermTwiceAt" + std::to_string(ms) + "ms", ms, SIGTERM, 300});
    for (int ms : {690, 2230})
        cases.push_back({"HangupAt" + std::to_string(ms) + "ms", ms, SIGHUP, 0});
    return cases;
}

class ZnfaxReceiveEndedAnyTime : public ::testing::TestWithParam<EndCase> {};

TEST_P(ZnfaxReceiveEndedAnyTime, LeavesNoLockFile)
{
    const EndCase c = GetParam();
    TempDir dir;
    Modem modem(dir, {"--speedup", "1", "--ring-delay", "0.5", "--calls", "1", "--send", ItuChartPath(1)});
    ASSERT_TRUE(modem.Ready());
    const std::string link = dir.File("ttyFaxModem");
    ASSERT_EQ(::symlink(::getenv("ZN_COM9"), link.c_str()), 0);
    ::setenv("ZN_COM9", link.c_str(), 1);
    ChildProcess p({Znfax(), "receive", "--port", "COM9", "--class", "2", "--dir", dir.Path()}, dir.File("znfax.out"),
                   dir.File("znfax.err"));
    std::this_thread::sleep_for(std::chrono::milliseconds(c.atMs));
    ::kill(p.Pid(), c.signal);
    if (c.againAfterMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(c.againAfterMs));
        ::kill(p.Pid(), c.signal);
    }
    auto status = p.Wait(60s);
    ASSERT_TRUE(status) << "still running after the signal: " << ReadFile(dir.File("znfax.out"));
    EXPECT_EQ(*status, 128 + c.signal) << ReadFile(dir.File("znfax.out"));
    EXPECT_EQ(LockFilesOf(p.Pid()), std::vector<std::string>{}) << ReadFile(dir.File("znfax.out"));
    EXPECT_TRUE(FaxFiles(dir).empty());
    EXPECT_TRUE(ReceivingFiles(dir).empty());
}

INSTANTIATE_TEST_SUITE_P(Moments, ZnfaxReceiveEndedAnyTime, ::testing::ValuesIn(EndCases()),
                         [](const auto& info) { return info.param.name; });

// A call that fails after its first page was confirmed (the far end gone in page 2, or the modem
// gone silent): no file of it is left, under a fax's name or any other; the exit code says it failed.
class ZnfaxReceiveFailed : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ZnfaxReceiveFailed, LeavesNoFile)
{
    TempDir dir;
    std::vector<std::string> simArgs = GetParam();
    simArgs.insert(simArgs.end(), {"--speedup", "50", "--ring-delay", "0.2", "--send", ItuChartPath(1), "--send",
                                   ItuChartPath(2)});
    Modem modem(dir, simArgs);
    ASSERT_TRUE(modem.Ready());
    // A modem silent after +FDR is waited for as long as the longest page takes at the session's
    // rate (a modem may hold a whole page before it answers): some two minutes at 14400.
    ToolRun r = Znfax(dir, {"receive", "--port", "COM9", "--class", "2", "--dir", dir.Path()}, 240s);
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_NE(r.out.find("log 4:"), std::string::npos) << "the fax was coming in: " << r.out;
    EXPECT_TRUE(FaxFiles(dir).empty()) << r.out;
    EXPECT_TRUE(ReceivingFiles(dir).empty()) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Calls, ZnfaxReceiveFailed,
                         ::testing::Values(std::vector<std::string>{"--hangup-in-page", "2"},
                                           std::vector<std::string>{"--silent-after", "+FDR:2"}),
                         [](const auto& info) { return info.index == 0 ? "FarEndGoneInPage2" : "ModemSilentAfterPage1"; });

TEST(ZnfaxLine, SendEndedBySignalInACallReleasesThePort)
{
    TempDir dir;
    Modem modem(dir, {"--rx-dir", dir.File("rx"), "--speedup", "1"});
    ASSERT_TRUE(modem.Ready());
    ASSERT_EQ(Znfax(dir, {"convert", ItuChartPath(1), dir.File("a.apf")}).exit, 0);
    ChildProcess p({Znfax(), "send", "--port", "COM9", "--class", "2", "--number", "5550100", dir.File("a.apf")},
                   dir.File("znfax.out"), dir.File("znfax.err"));
    ASSERT_TRUE(OutputShows(dir, "log 1:")) << ReadFile(dir.File("znfax.out"));
    EXPECT_FALSE(LockFilesOf(p.Pid()).empty()) << "the open port is locked";
    ::kill(p.Pid(), SIGTERM);
    auto status = p.Wait(60s);
    ASSERT_TRUE(status) << ReadFile(dir.File("znfax.out"));
    EXPECT_EQ(*status, 128 + SIGTERM) << ReadFile(dir.File("znfax.out"));
    EXPECT_TRUE(LockFilesOf(p.Pid()).empty());
    EXPECT_NE(ReadFile(dir.File("znfax.out")).find("(ended by signal " + std::to_string(SIGTERM) + ")"),
              std::string::npos)
        << ReadFile(dir.File("znfax.out"));
}

TEST(ZnfaxLine, AModemUnpluggedWhileWaitingForACallEndsTheWait)
{
    TempDir dir;
    Modem modem(dir, {"--speedup", "50"});
    ASSERT_TRUE(modem.Ready());
    ChildProcess p({Znfax(), "receive", "--port", "COM9", "--class", "2", "--dir", dir.Path()}, dir.File("znfax.out"),
                   dir.File("znfax.err"));
    ASSERT_TRUE(OutputShows(dir, "status ")) << ReadFile(dir.File("znfax.out"));
    modem.Unplug();
    auto status = p.Wait(60s);
    ASSERT_TRUE(status) << "still waiting on a modem that is gone";
    EXPECT_EQ(*status, 1);
    const std::string out = ReadFile(dir.File("znfax.out"));
    EXPECT_NE(out.find("error: the modem on COM9 ("), std::string::npos) << out;
    EXPECT_NE(out.find(") is gone\n"), std::string::npos) << out;
    EXPECT_NE(out.find("result -161: "), std::string::npos) << out;
    EXPECT_TRUE(LockFilesOf(p.Pid()).empty());
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
                      std::vector<std::string>{"receive", "--port", "COM9", "--dir", ".", "--calls", "0"}),
                         [](const ::testing::TestParamInfo<std::vector<std::string>>& info) {
                             std::string words;
                             for (const std::string& w : info.param)
                                 words += w + " ";
                             return zn::test::ParamName(words);
                         });

TEST(ZnfaxLine, PortThatCannotOpenFailsWithItsText)
{
    TempDir dir;
    ::setenv("ZN_COM9", dir.File("no-such-tty").c_str(), 1);
    ToolRun r = Znfax(dir, {"send", "--port", "COM9", "--number", "1", "a.apf"});
    EXPECT_EQ(r.exit, 1) << r.out;
    EXPECT_EQ(r.LastLine().rfind("result -1: ", 0), 0u) << r.out;
}

} // namespace
