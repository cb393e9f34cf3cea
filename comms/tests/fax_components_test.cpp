// The fax components over the fax line test bed: a send and a receive in each class with the events
// checked in order and the history lines checked, the cancel path leaving nothing behind, and a GUI
// thread slower than the engine's time-outs.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <dirent.h>
#include <sys/stat.h>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "apf_test_pages.h"
#include "class2_sim_process.h"
#include "comms/fax/fax_component_port.h"
#include "comms/fax/fax_components.h"
#include "comms/port/com_port.h"
#include "comms/engine/fax_send_session.h"
#include "faxline_harness.h"

std::string PortLockFileFor(const std::string& device);

using namespace zn::comms;
using namespace zn::comms::test;
using namespace faxline;
using namespace std::chrono_literals;

namespace {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "fax_components_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the GUI thread's loop until pred holds or the time runs out.
bool PumpUntil(const std::function<bool()>& pred, std::chrono::seconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::string Escaped(const std::string& text)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

std::string ReadFile(const std::string& path) { return ReadWholeFile(path); }

int CountEntries(const std::string& folder)
{
    int n = 0;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        closedir(d);
    }
    return n;
}

std::vector<std::string> TempFaxFiles(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name).rfind("~AP", 0) == 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

using Class2Sim = Class2SimProcess;

// Everything a component tells the application, in order.
struct Recorder {
    std::vector<std::string> events;
    int finishes = 0;
    int finishCode = 1;
    int offThread = 0; // events that ran elsewhere than on the GUI thread
    std::thread::id gui = std::this_thread::get_id();

    void Attach(TFxCustomAbstractFax& fax)
    {
        fax.OnFaxStatus = [this](TFxCustomAbstractFax&, bool first, bool last) {
            offThread += std::this_thread::get_id() != gui;
            if (first || last)
                events.push_back(first ? "status first" : "status last");
        };
        fax.OnFaxLog = [this](TFxCustomAbstractFax&, int code) {
            offThread += std::this_thread::get_id() != gui;
            events.push_back("log " + std::to_string(code));
        };
        fax.OnFaxError = [this](TFxCustomAbstractFax&, int code) {
            offThread += std::this_thread::get_id() != gui;
            events.push_back("error " + std::to_string(code));
        };
        fax.OnFaxFinish = [this](TFxCustomAbstractFax&, int code) {
            offThread += std::this_thread::get_id() != gui;
            events.push_back("finish " + std::to_string(code));
            ++finishes;
            finishCode = code;
        };
    }
};

constexpr int kCom = 7;

class FaxComponents : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        ::setenv("TMPDIR", tmp_.Path().c_str(), 1);
        history_ = dir_.File("FXCFAX.HIS");
        log_.FaxHistoryName = history_;
    }
    void TearDown() override { ::unsetenv("TMPDIR"); }
    void UsePort(const std::string& device)
    {
        ::setenv(("ZN_COM" + std::to_string(kCom)).c_str(), device.c_str(), 1);
        port_ = MakeFaxComPort(kCom);
    }
    void Tie(TFxCustomAbstractFax& fax, TFaxClass faxClass)
    {
        fax.SetComPort(port_.get());
        fax.SetFaxLog(&log_);
        fax.FaxClass = faxClass;
        fax.SetStationID("ZN COMPONENT");
        fax.DesiredBPS = 14400;
        recorder_.Attach(fax);
    }
    bool Finished(std::chrono::seconds timeout)
    {
        return PumpUntil([this] { return recorder_.finishes > 0; }, timeout);
    }
    std::string DateTime() { return "([^\r\n]+)"; }

    TempDir dir_;
    TempDir tmp_;
    std::string history_;
    TFxFaxLog log_;
    ComPortPtr port_;
    Recorder recorder_;
};

struct ClassCase {
    TFaxClass faxClass;
    const char* name;
};

class ComponentsInEachClass : public FaxComponents, public ::testing::WithParamInterface<ClassCase> {};

// The far end for a send: spandsp's fax terminal behind a Class 1 modem, or the Class 2 simulator.
struct FarEnd {
    std::unique_ptr<Line> line;
    std::unique_ptr<Class2Sim> sim;
    std::string device;
    std::string remoteID;
    std::string Log() const { return sim ? sim->Log() : line ? line->Errors() : ""; }
};

FarEnd Answering(TFaxClass faxClass, const TempDir& dir)
{
    FarEnd f;
    if (faxClass == fcClass1) {
        f.line = Line::Start(dir.Path(), {"answer", "--rx-file", dir.File("rx.tif"), "--ident", "FAR END", "--fast"});
        f.device = f.line ? f.line->Port('A') : "";
        f.remoteID = "FAR END";
    } else {
        f.sim =
            std::make_unique<Class2Sim>(dir, std::vector<std::string>{"--rx-dir", dir.File("rx"), "--speedup", "50"});
        f.device = f.sim->Device();
        f.remoteID = "+1 555 0100";
    }
    return f;
}

FarEnd Calling(TFaxClass faxClass, const TempDir& dir, const std::vector<Bitmap>& pages)
{
    FarEnd f;
    if (faxClass == fcClass1) {
        WriteFaxTiff(dir.File("tx.tif"), pages);
        f.line = Line::Start(dir.Path(), {"call", "--tx-file", dir.File("tx.tif"), "--ident", "FAR END", "--fast"});
        f.device = f.line ? f.line->Port('A') : "";
        f.remoteID = "FAR END";
    } else {
        std::vector<std::string> args{"--speedup", "50", "--ring-delay", "0.2", "--send", ItuChartPath(1)};
        f.sim = std::make_unique<Class2Sim>(dir, args);
        f.device = f.sim->Device();
        f.remoteID = "+1 555 0100";
    }
    return f;
}

TEST_P(ComponentsInEachClass, SendDeliversEventsInOrderAndLogsHistory)
{
    FarEnd far = Answering(GetParam().faxClass, dir_);
    ASSERT_FALSE(far.device.empty());
    auto page = ReadPbm(ItuChartPath(1));
    ASSERT_TRUE(page);
    ASSERT_TRUE(WriteApf(dir_.File("out.apf"), {*page}, true));

    UsePort(far.device);
    TFxSendFax fax;
    Tie(fax, GetParam().faxClass);
    fax.SetFaxFile(dir_.File("out.apf"));
    fax.PhoneNumber = "5550100";
    fax.StartTransmit();
    ASSERT_TRUE(Finished(180s)) << far.Log();

    EXPECT_EQ(recorder_.events, (std::vector<std::string>{"status first", "log 1", "log 2", "status last", "finish 0"}))
        << far.Log();
    EXPECT_EQ(recorder_.finishes, 1);
    EXPECT_EQ(recorder_.offThread, 0);
    EXPECT_EQ(fax.GetRemoteID(), far.remoteID);
    EXPECT_FALSE(fax.Busy());

    std::string dt = DateTime();
    std::regex expected("Transmit " + Escaped(dir_.File("out.apf")) + " to 5550100 started at " + dt + "\r\n"
                        + "Transmit to " + Escaped(far.remoteID) + " finished OK at " + dt + " [0-9]+\r\n\r\n");
    EXPECT_TRUE(std::regex_match(ReadFile(history_), expected)) << ReadFile(history_);
}

TEST_P(ComponentsInEachClass, ReceiveStoresTheFaxAndLogsHistory)
{
    auto page = ReadPbm(ItuChartPath(1));
    ASSERT_TRUE(page);
    FarEnd far = Calling(GetParam().faxClass, dir_, {*page});
    ASSERT_FALSE(far.device.empty());

    UsePort(far.device);
    TFxReceiveFax fax;
    Tie(fax, GetParam().faxClass);
    fax.SetDestinationDir(dir_.File("in"));
    ASSERT_EQ(::mkdir(dir_.File("in").c_str(), 0755), 0);
    fax.OneFax = true;
    fax.ExitOnError = true;
    std::vector<std::string> names;
    fax.OnFaxLog = [&](TFxCustomAbstractFax& f, int code) {
        recorder_.events.push_back("log " + std::to_string(code));
        if (code == 4)
            names.push_back(f.FaxFile());
    };
    fax.StartReceive();
    ASSERT_TRUE(Finished(180s)) << far.Log();

    EXPECT_EQ(recorder_.events, (std::vector<std::string>{"status first", "log 4", "log 5", "status last", "finish 0"}))
        << far.Log();
    EXPECT_EQ(fax.FaxFile(), "") << "a received fax is no longer the file being received";
    EXPECT_EQ(recorder_.offThread, 0);
    ASSERT_EQ(names, (std::vector<std::string>{dir_.File("in/FAX0001.APF")}));
    std::vector<Bitmap> got;
    ASSERT_TRUE(ReadApf(names[0], got));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(TrimWhiteRows(got[0]) == TrimWhiteRows(*page));

    std::string dt = DateTime();
    std::regex expected("Receive " + Escaped(names[0]) + " from " + Escaped(far.remoteID) + " started at " + dt + "\r\n"
                        + "Receive finished OK at " + dt + "\r\n\r\n");
    EXPECT_TRUE(std::regex_match(ReadFile(history_), expected)) << ReadFile(history_);
}

INSTANTIATE_TEST_SUITE_P(Classes, ComponentsInEachClass,
                         ::testing::Values(ClassCase{fcClass1, "Class1"}, ClassCase{fcClass2, "Class2"},
                                           ClassCase{fcClass2_0, "Class20"}),
                         [](const auto& info) { return info.param.name; });

// A refused page leaves its trace in the history: the receiver says which page it refused and the
// counts it refused it for (the modem's, in hexadecimal in Class 2.0), the sender that the far end
// refused it and at which rate it goes again.
TEST_F(FaxComponents, RefusedPagesAreInTheHistoryAtBothEnds)
{
    {
        Class2Sim sim(dir_, {"--speedup", "50", "--ring-delay", "0.2", "--send", ItuChartPath(1), "--bad-copy", "1"});
        ASSERT_FALSE(sim.Device().empty());
        UsePort(sim.Device());
        TFxReceiveFax fax;
        Tie(fax, fcClass2_0);
        fax.SetDestinationDir(dir_.Path());
        fax.OneFax = true;
        fax.ExitOnError = true;
        fax.StartReceive();
        ASSERT_TRUE(Finished(180s)) << sim.Log();
        const std::string dt = DateTime();
        std::regex expected("Receive .* started at " + dt + "\r\n"
                            + "Page 1 refused for its copy quality \\(2376 rows, 396 bad, at most 360 bad in a row\\) at "
                            + dt + "\r\n" + "Receive finished OK at " + dt + "\r\n\r\n");
        EXPECT_TRUE(std::regex_match(ReadFile(history_), expected)) << ReadFile(history_) << sim.Log();
    }
    ASSERT_EQ(std::remove(history_.c_str()), 0);
    recorder_ = {};
    {
        Class2Sim sim(dir_, {"--speedup", "50", "--rtn", "1"});
        ASSERT_FALSE(sim.Device().empty());
        auto page = ReadPbm(ItuChartPath(1));
        ASSERT_TRUE(page);
        ASSERT_TRUE(WriteApf(dir_.File("out.apf"), {*page}, true));
        UsePort(sim.Device());
        TFxSendFax fax;
        Tie(fax, fcClass2);
        fax.SetFaxFile(dir_.File("out.apf"));
        fax.PhoneNumber = "5550100";
        fax.StartTransmit();
        ASSERT_TRUE(Finished(180s)) << sim.Log();
        ASSERT_GT(fax.GetConnectBPS(), 0);
        const std::string dt = DateTime();
        std::regex expected("Transmit .* started at " + dt + "\r\n" + "Page 1 refused by the remote fax, sent again at "
                            + std::to_string(fax.GetConnectBPS()) + " bps at " + dt + "\r\n"
                            + "Transmit to .* finished OK at " + dt + " [0-9]+\r\n\r\n");
        EXPECT_TRUE(std::regex_match(ReadFile(history_), expected)) << ReadFile(history_) << sim.Log();
    }
}

int ThreadCount() { return CountEntries("/proc/self/task"); }
int DescriptorCount() { return CountEntries("/proc/self/fd"); }

TEST_F(FaxComponents, CancelInsideTheSessionLeavesNothingBehind)
{
    // A real-time line and three pages joined into a temporary file: the cancel comes while the
    // dispatch thread is sending page data.
    std::vector<Bitmap> pages;
    for (int n : {1, 2, 3})
        pages.push_back(*ReadPbm(ItuChartPath(n)));
    ASSERT_TRUE(WriteApf(dir_.File("a.apf"), {pages[0], pages[1]}, true));
    ASSERT_TRUE(WriteApf(dir_.File("b.apf"), {pages[2]}, true));
    auto line = Line::Start(dir_.Path(), {"answer", "--rx-file", dir_.File("rx.tif"), "--ident", "FAR END"});
    ASSERT_TRUE(line);
    const int threadsBefore = ThreadCount();
    const int descriptorsBefore = DescriptorCount();

    UsePort(line->Port('A'));
    {
        TFxSendFax fax;
        Tie(fax, fcClass1);
        fax.FaxFileList = {dir_.File("a.apf"), dir_.File("b.apf")};
        fax.PhoneNumber = "5550100";
        fax.StartTransmit();
        ASSERT_EQ(TempFaxFiles(tmp_.Path()).size(), 1u);
        EXPECT_EQ(fax.JoinedFileName().substr(fax.JoinedFileName().size() - 4), ".APF");
        ASSERT_TRUE(PumpUntil([&] { return fax.GetProgressCode() == 4804 && fax.GetBytesTransferred() > 0; }, 120s));
        EXPECT_EQ(::access(PortLockFileFor(line->Port('A')).c_str(), F_OK), 0) << "the open port holds its lock";
        fax.CancelFax();
        ASSERT_TRUE(Finished(30s));
        EXPECT_EQ(recorder_.finishCode, -6005);
        EXPECT_EQ(recorder_.events.back(), "finish -6005");
        EXPECT_NE(std::find(recorder_.events.begin(), recorder_.events.end(), "log 3"), recorder_.events.end());
        EXPECT_TRUE(TempFaxFiles(tmp_.Path()).empty());
    }
    port_.reset();
    EXPECT_TRUE(PumpUntil([&] { return ThreadCount() <= threadsBefore; }, 10s)) << ThreadCount() << " threads";
    EXPECT_EQ(DescriptorCount(), descriptorsBefore);
    EXPECT_NE(::access(PortLockFileFor(line->Port('A')).c_str(), F_OK), 0) << "lock file left behind";
    EXPECT_TRUE(TempFaxFiles(tmp_.Path()).empty());
    EXPECT_EQ(recorder_.finishes, 1);
    std::string history = ReadFile(history_);
    EXPECT_NE(history.find("Transmit failed at "), std::string::npos) << history;
}

// Whoever closes the port under a running session (a line device whose call ended, a modem gone),
// the session is cancelled first, while its dispatcher is still there: it reports its end once, and
// the port leaves no lock behind. Once in receive mode waiting for a call, once while page data goes.
TEST_F(FaxComponents, ClosingThePortUnderARunningSessionEndsTheSessionFirst)
{
    {
        Class2Sim sim(dir_, {"--speedup", "50"}); // never rings
        ASSERT_FALSE(sim.Device().empty());
        UsePort(sim.Device());
        TFxReceiveFax fax;
        Tie(fax, fcClass2);
        fax.SetDestinationDir(dir_.Path());
        fax.StartReceive();
        ASSERT_TRUE(PumpUntil([&] { return fax.Busy() && port_->Open(); }, 30s));
        ASSERT_TRUE(PumpUntil([&] { return fax.GetProgressCode() == 4820; }, 30s)) << fax.GetProgressCode();
        port_->SetOpen(false);
        EXPECT_FALSE(fax.Busy()) << "the session ended before the port closed";
        ASSERT_TRUE(Finished(10s));
        EXPECT_EQ(recorder_.finishCode, -6005);
        EXPECT_FALSE(port_->Open());
        // The dispatcher's threads may still be leaving: the descriptor and its lock go once they have.
        EXPECT_TRUE(PumpUntil([&] { return ::access(PortLockFileFor(sim.Device()).c_str(), F_OK) != 0; }, 10s))
            << "lock file left behind";
    }
    recorder_ = Recorder{};
    port_.reset();

    auto page = ReadPbm(ItuChartPath(1));
    ASSERT_TRUE(WriteApf(dir_.File("out.apf"), {*page, *page}, true));
    auto line = Line::Start(dir_.Path(), {"answer", "--rx-file", dir_.File("rx.tif"), "--ident", "FAR END"});
    ASSERT_TRUE(line);
    UsePort(line->Port('A'));
    TFxSendFax fax;
    Tie(fax, fcClass1);
    fax.FaxFileList = {dir_.File("out.apf")};
    fax.PhoneNumber = "5550100";
    fax.StartTransmit();
    ASSERT_TRUE(PumpUntil([&] { return fax.GetProgressCode() == 4804 && fax.GetBytesTransferred() > 0; }, 120s));
    port_->SetOpen(false);
    EXPECT_FALSE(fax.Busy());
    ASSERT_TRUE(Finished(10s));
    EXPECT_EQ(recorder_.finishCode, -6005);
    EXPECT_EQ(recorder_.finishes, 1);
    EXPECT_TRUE(PumpUntil([&] { return ::access(PortLockFileFor(line->Port('A')).c_str(), F_OK) != 0; }, 10s))
        << "lock file left behind";
    EXPECT_TRUE(TempFaxFiles(tmp_.Path()).empty());
}

TEST_F(FaxComponents, SlowGuiThreadDoesNotCorruptTheSession)
{
    Class2Sim sim(dir_, {"--rx-dir", dir_.File("rx"), "--speedup", "50"});
    ASSERT_FALSE(sim.Device().empty());
    auto page = ReadPbm(ItuChartPath(1));
    ASSERT_TRUE(WriteApf(dir_.File("out.apf"), {*page}, true));
    UsePort(sim.Device());

    TFxSendFax fax;
    Tie(fax, fcClass2);
    int nextCalls = 0;
    fax.OnFaxNext = [&](TFxCustomAbstractFax&, std::string& phone, std::string& file, std::string& cover) {
        ++nextCalls;
        if (nextCalls == 2)
            std::this_thread::sleep_for(2500ms); // past FaxNext's 2000 ms: this entry must not be sent
        phone = nextCalls == 1 ? "5550100" : "5550199";
        file = dir_.File("out.apf");
    };
    int statuses = 0;
    fax.OnFaxStatus = [&](TFxCustomAbstractFax&, bool first, bool last) {
        if (first || last)
            recorder_.events.push_back(first ? "status first" : "status last");
        if (++statuses == 3)
            std::this_thread::sleep_for(1500ms); // past the status time-out
    };
    fax.StartTransmit();
    fax.StartTransmit(); // busy: the running session is left alone
    ASSERT_TRUE(Finished(120s)) << sim.Log();

    EXPECT_EQ(recorder_.events, (std::vector<std::string>{"status first", "log 1", "log 2", "status last", "finish 0"}))
        << sim.Log();
    EXPECT_EQ(nextCalls, 2);
    std::string dialogue = sim.Log();
    EXPECT_NE(dialogue.find("5550100"), std::string::npos);
    EXPECT_EQ(dialogue.find("5550199"), std::string::npos) << "a late answer reached the modem";
    EXPECT_EQ(recorder_.finishes, 1);
}

TEST_F(FaxComponents, RefusedCallIsSkippedAndLogged)
{
    Class2Sim sim(dir_, {"--speedup", "50", "--ring-delay", "0.2", "--send", ItuChartPath(1)});
    ASSERT_FALSE(sim.Device().empty());
    UsePort(sim.Device());
    TFxReceiveFax fax;
    Tie(fax, fcClass2);
    fax.SetDestinationDir(dir_.Path());
    fax.OneFax = true;
    fax.ExitOnError = true;
    std::string askedFor;
    fax.OnFaxAccept = [&](TFxCustomAbstractFax& f, bool& accept) {
        askedFor = f.GetRemoteID();
        accept = false;
    };
    fax.StartReceive();
    ASSERT_TRUE(Finished(60s)) << sim.Log();
    EXPECT_EQ(askedFor, "+1 555 0100");
    EXPECT_EQ(recorder_.events,
              (std::vector<std::string>{"status first", "error -6011", "log 6", "status last", "finish -6011"}))
        << sim.Log();
    EXPECT_TRUE(std::regex_match(ReadFile(history_), std::regex("Receive skipped at " + DateTime() + "\r\n\r\n")))
        << ReadFile(history_);
    EXPECT_EQ(CountEntries(dir_.Path()), 4) << "FXCFAX.HIS and the simulator's files only";
}

TEST_F(FaxComponents, SupportedClassesAreAskedOutsideASession)
{
    Class2Sim sim(dir_, {"--fclass-list", "0,1,2,2.0"});
    ASSERT_FALSE(sim.Device().empty());
    UsePort(sim.Device());
    TFxSendFax fax;
    fax.SetComPort(port_.get());
    EXPECT_EQ(fax.GetSupportedFaxClasses(), (TFaxClassSet{fcClass1, fcClass2, fcClass2_0}));
}

TEST_F(FaxComponents, JoinedFilesAddTheirPagesAndABadFileLeavesNoTemporaryFile)
{
    std::vector<Bitmap> pages;
    for (int n : {1, 2, 3})
        pages.push_back(*ReadPbm(ItuChartPath(n)));
    ASSERT_TRUE(WriteApf(dir_.File("a.apf"), {pages[0], pages[1]}, true));
    ASSERT_TRUE(WriteApf(dir_.File("b.apf"), {pages[2]}, true));
    ASSERT_EQ(JoinFaxFiles({dir_.File("a.apf"), dir_.File("b.apf")}, dir_.File("ab.apf")), 0);
    std::vector<Bitmap> joined;
    ASSERT_TRUE(ReadApf(dir_.File("ab.apf"), joined));
    ASSERT_EQ(joined.size(), 3u);
    EXPECT_TRUE(TrimWhiteRows(joined[2]) == TrimWhiteRows(pages[2]));

    std::ofstream(dir_.File("bad.apf")) << "not a fax image file, but long enough to hold a header of 64 bytes....";
    EXPECT_EQ(JoinFaxFiles({dir_.File("a.apf"), dir_.File("bad.apf")}, dir_.File("x.apf")), -8001);

    Class2Sim sim(dir_, {});
    ASSERT_FALSE(sim.Device().empty());
    UsePort(sim.Device());
    TFxSendFax fax;
    Tie(fax, fcClass2);
    fax.FaxFileList = {dir_.File("a.apf"), dir_.File("bad.apf")};
    fax.PhoneNumber = "5550100";
    EXPECT_THROW(fax.StartTransmit(), std::exception);
    EXPECT_FALSE(fax.Busy());
    EXPECT_TRUE(TempFaxFiles(tmp_.Path()).empty());
}

TEST_F(FaxComponents, StartWithoutPortRaises)
{
    TFxSendFax fax;
    fax.PhoneNumber = "1";
    EXPECT_THROW(fax.StartTransmit(), std::exception);
    EXPECT_FALSE(fax.Busy());
}

} // namespace
