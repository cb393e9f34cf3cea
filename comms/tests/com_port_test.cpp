// The port component over pseudo-terminals mapped to COMn.
#include "comms/port/com_port.h"

#include "comms/port/port_names.h"
#include "comms/tests/port_fixture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>

using namespace zn::comms;
using zn::comms::test::PtyPair;
using zn::comms::test::ReadFile;
using zn::comms::test::WaitUntil;

namespace {

class ComPortTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "com_port_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    void SetUp() override
    {
        ASSERT_TRUE(pty.Ok());
        ::setenv("ZN_COM5", pty.SlavePath().c_str(), 1);
        port.SetComNumber(5);
        port.SetAutoOpen(false);
    }

    void TearDown() override { ::unsetenv("ZN_COM5"); }

    // Keeps the GUI thread's messages moving until pred() holds.
    template <typename Pred>
    bool PumpUntil(Pred pred, int timeoutMs = 3000)
    {
        return WaitUntil(
            [&] {
                QCoreApplication::processEvents();
                zn::platform::PumpOneMessage();
                return pred();
            },
            timeoutMs);
    }

    std::string TempFile(const std::string& name)
    {
        std::string path = ::testing::TempDir() + "zn_com_port_" + std::to_string(::getpid()) + "_" + name;
        ::unlink(path.c_str());
        return path;
    }

    // Opens the port and closes it while a direct reader holds the dispatcher busy: the close stays
    // pending until the returned dispatcher is released with ExchangeBusy(false).
    TFxBaseDispatcher* OpenThenStartAPendingClose()
    {
        port.SetOpen(true);
        TFxBaseDispatcher* d = port.GetDispatcher();
        d->ExchangeBusy(true); // as a wait for a string does
        port.SetOpen(false);
        return d;
    }

    PtyPair pty;
    TFxComPort port;
};

} // namespace

TEST_F(ComPortTest, DefaultsAreThoseOfTheComponent)
{
    TFxComPort fresh;
    EXPECT_EQ(fresh.ComNumber(), 0);
    EXPECT_EQ(fresh.Baud(), 19200);
    EXPECT_EQ(fresh.InSize(), 4096);
    EXPECT_EQ(fresh.TraceName(), "FXC.TRC");
    EXPECT_EQ(fresh.LogName(), "FXC.LOG");
    EXPECT_EQ(fresh.TapiMode(), tmAuto);
    EXPECT_EQ(fresh.Version(), "v3.06");
    EXPECT_TRUE(fresh.AutoOpen());
    EXPECT_FALSE(fresh.Open());
}

TEST_F(ComPortTest, PutsAStringAndWaitsForTheAnswer)
{
    port.SetOpen(true);
    ASSERT_TRUE(port.Open());
    port.PutString("AT\r");
    EXPECT_EQ(pty.Receive(3, 2000), "AT\r");
    std::string seen;
    port.SetOnWaitChar([&](TFxCustomComPort&, char c) { seen.push_back(c); });
    pty.Send("\r\nOOK\r\n");
    EXPECT_TRUE(port.WaitForString("OK", 36, false, true)); // the mismatch on the second O restarts at 1
    EXPECT_EQ(seen, "\r\nOOK");
}

TEST_F(ComPortTest, WaitForStringSaysFalseOnATimeOut)
{
    port.SetOpen(true);
    pty.Send("ERROR\r\n");
    EXPECT_FALSE(port.WaitForString("OK", 4, false, false));
    EXPECT_FALSE(port.WaitForString("OK", 0, false, true));
    EXPECT_TRUE(port.WaitForString("", 0, false, false));
    pty.Send("ok");
    ASSERT_TRUE(WaitUntil([&] { return port.HasInput(); }));
    EXPECT_TRUE(port.WaitForString("OK", 0, true, false)); // already waiting, in any case
}

TEST_F(ComPortTest, ABlockThatDoesNotFitRaisesOutputBufferTooSmall)
{
    port.SetOpen(true);
    try {
        port.PutString(std::string(5000, 'x'));
        FAIL() << "no exception";
    } catch (const EOutputBufferTooSmall& e) {
        EXPECT_EQ(e.ErrorCode(), -3006);
        EXPECT_STREQ(e.what(), "Output buffer too small for block");
    }
}

TEST_F(ComPortTest, APortInUseRaisesAlreadyOpenAndAMissingOneBadId)
{
    port.SetOpen(true);
    TFxComPort second;
    second.SetComNumber(5);
    try {
        second.SetOpen(true);
        FAIL() << "no exception";
    } catch (const EAlreadyOpen& e) {
        EXPECT_EQ(e.ErrorCode(), -2008);
        EXPECT_STREQ(e.what(), "ie_Open - device already open");
    }
    EXPECT_FALSE(second.Open());
    ::setenv("ZN_COM6", "/dev/zn-missing-tty", 1);
    TFxComPort missing;
    missing.SetComNumber(6);
    EXPECT_THROW(missing.SetOpen(true), EBadId);
    EXPECT_FALSE(missing.Open());
}

TEST_F(ComPortTest, WithoutAPortNumberTheUserIsAskedOrNoPortSelectedIsRaised)
{
    TFxComPort unset;
    unset.SetPromptForPort(false);
    EXPECT_THROW(unset.SetOpen(true), ENoPortSelected);
    unset.SetPromptForPort(true);
    SetComSelectPrompt([](std::string&) { return false; });
    EXPECT_THROW(unset.SetOpen(true), ENoPortSelected);
    SetComSelectPrompt([](std::string& chosen) {
        chosen = "COM5";
        return true;
    });
    port.SetComNumber(0);
    port.SetOpen(true);
    EXPECT_EQ(port.ComNumber(), 5);
    EXPECT_TRUE(port.Open());
    SetComSelectPrompt(nullptr);
}

TEST_F(ComPortTest, APortOpensThroughThePortsFile)
{
    std::string folder = ::testing::TempDir() + "zn_ports_" + std::to_string(::getpid());
    ::mkdir(folder.c_str(), 0700);
    ::setenv("ZN_WINDIR", folder.c_str(), 1);
    {
        std::ofstream ini(folder + "/" + PortsFileName);
        ini << "[Ports]\r\nCOM12=" << pty.SlavePath() << "\r\nCOM12Carrier=0\r\n";
    }
    EXPECT_EQ(ComPortDevice(12), pty.SlavePath());
    EXPECT_FALSE(ComPortCarrier(12));
    EXPECT_EQ(ComPortDevice(13), "/dev/ttyS12");
    port.SetComNumber(12);
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    EXPECT_FALSE(port.GetDispatcher()->ReadCarrier());
    port.SetOpen(false);
    ::unsetenv("ZN_WINDIR");
}

TEST_F(ComPortTest, ThePortTestCountsAHeldPortAsPresent)
{
    EXPECT_TRUE(ComPortPresent(5));
    port.SetOpen(true);
    EXPECT_TRUE(ComPortPresent(5));
    ::setenv("ZN_COM6", "/dev/zn-missing-tty", 1);
    EXPECT_FALSE(ComPortPresent(6));
    EXPECT_FALSE(ComPortPresent(0));
}

struct BufferCase {
    const char* name;
    THWFlowOptionSet hw;
    uint16_t full, resume;
    uint16_t wantFull, wantResume;
};

class BufferLimits : public ::testing::TestWithParam<BufferCase> {};

TEST_P(BufferLimits, DropTheFraction)
{
    TFxComPort p;
    p.SetInSize(8192);
    const BufferCase& c = GetParam();
    p.SetBufferFull(c.full);
    p.SetBufferResume(c.resume);
    p.SetHWFlowOptions(c.hw);
    EXPECT_EQ(p.BufferFull(), c.wantFull);
    EXPECT_EQ(p.BufferResume(), c.wantResume);
}

INSTANTIATE_TEST_SUITE_P(Cases, BufferLimits,
                         ::testing::Values(BufferCase{"FullAboveInSize", 0, 9000, 0, 7372, 0},
                                           BufferCase{"HardwareFlowFillsBoth", HWFlow(hwfUseRTS), 0, 0, 7372, 819},
                                           BufferCase{"ResumeAboveFull", HWFlow(hwfRequireCTS), 1000, 2000, 1000, 100},
                                           BufferCase{"KeptWhenValid", HWFlow(hwfUseRTS) | HWFlow(hwfRequireCTS), 7000,
                                                      500, 7000, 500}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ComPortTest, TheApplicationsPortSettingsOpen)
{
    port.SetInSize(8192);
    port.SetOutSize(8192);
    port.SetHWFlowOptions(HWFlow(hwfUseRTS) | HWFlow(hwfRequireCTS));
    port.SetBufferFull(7372);
    port.SetBufferResume(819);
    port.SetTraceSize(500000);
    port.SetLogSize(500000);
    port.SetTapiMode(tmOff);
    port.SetOpen(true);
    ASSERT_TRUE(port.Open());
    int hw, sw;
    uint8_t xon, xoff;
    port.GetDispatcher()->GetFlowOptions(hw, sw, xon, xoff);
    EXPECT_EQ(hw, HwUseRts | HwRequireCts);
    port.SetBaud(9600);
    uint32_t baud;
    int parity, data, stop;
    port.GetDispatcher()->GetLineParams(baud, parity, data, stop);
    EXPECT_EQ(baud, 9600u);
}

TEST_F(ComPortTest, TracingStateOnAClosedPortIsOnOrOff)
{
    port.SetTracing(tlDump);
    EXPECT_EQ(port.Tracing(), tlOff);
    port.SetTracing(tlOn);
    EXPECT_EQ(port.Tracing(), tlOn);
    port.SetLogging(tlPause);
    EXPECT_EQ(port.Logging(), tlOff);
}

TEST_F(ComPortTest, ClosingDumpsTheTraceAndTheLog)
{
    std::string trace = TempFile("FXC.TRC"), log = TempFile("FXC.LOG");
    port.SetTraceName(trace);
    port.SetLogName(log);
    port.SetTracing(tlOn);
    port.SetLogging(tlOn);
    port.SetOpen(true);
    port.AddStringToLog("dialing");
    port.PutString("ATDT123\r");
    EXPECT_EQ(pty.Receive(8, 2000).size(), 8u);
    port.SetOpen(false);
    EXPECT_EQ(ReadFile(trace), "Transmit: \r\nATDT123[0D]\r\n");
    std::string dump = ReadFile(log);
    EXPECT_NE(dump.find("Device: COM5\r\n"), std::string::npos);
    EXPECT_NE(dump.find("User"), std::string::npos);
    EXPECT_NE(dump.find("dialing\r\n"), std::string::npos);
    EXPECT_NE(dump.find("WriteCom      00000008  ATDT123[0D]\r\n"), std::string::npos) << dump;
    EXPECT_EQ(port.Tracing(), tlOff);
    EXPECT_EQ(port.Logging(), tlOff);
}

TEST_F(ComPortTest, ATraceThatCannotBeWrittenStillClosesThePortThenReports)
{
    port.SetTraceName("/nonexistent-folder/zn/FXC.TRC");
    port.SetTracing(tlOn);
    port.SetOpen(true);
    port.PutString("AT\r");
    EXPECT_THROW(port.SetOpen(false), std::exception);
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(port.Closing());
    EXPECT_EQ(port.GetDispatcher(), nullptr);
    TFxComPort again; // the device is free again
    again.SetComNumber(5);
    again.SetOpen(true);
    EXPECT_TRUE(again.Open());
}

TEST_F(ComPortTest, ACloseWhileADirectReaderIsBusyCompletesAndReopensLater)
{
    TFxBaseDispatcher* d = OpenThenStartAPendingClose();
    EXPECT_FALSE(port.Open());
    EXPECT_TRUE(port.Closing());
    port.SetOpen(true); // arrives during the close: the port opens once the close is done
    d->ExchangeBusy(false);
    EXPECT_TRUE(PumpUntil([&] { return !port.Closing() && port.Open(); }));
    port.PutString("ATZ\r");
    EXPECT_EQ(pty.Receive(4, 2000), "ATZ\r");
}

TEST_F(ComPortTest, WaitForStringOnAClosingPortIsFalse)
{
    TFxBaseDispatcher* d = OpenThenStartAPendingClose();
    ASSERT_TRUE(port.Closing());
    pty.Send("OK\r\n");
    EXPECT_FALSE(port.WaitForString("OK", 18, false, false));
    EXPECT_TRUE(port.WaitForString("", 18, false, false));
    d->ExchangeBusy(false);
    EXPECT_TRUE(PumpUntil([&] { return !port.Closing(); }));
}

TEST_F(ComPortTest, OpenTrueThenFalseDuringACloseLeavesThePortClosed)
{
    TFxBaseDispatcher* d = OpenThenStartAPendingClose();
    ASSERT_TRUE(port.Closing());
    port.SetOpen(true);
    port.SetOpen(false); // the last word: closed
    EXPECT_FALSE(port.Open());
    d->ExchangeBusy(false);
    ASSERT_TRUE(PumpUntil([&] { return !port.Closing(); }));
    PumpUntil([] { return false; }, 100);
    EXPECT_FALSE(port.Open());
    TFxComPort other; // the device is free
    other.SetComNumber(5);
    other.SetOpen(true);
    EXPECT_TRUE(other.Open());
}

TEST_F(ComPortTest, DestroyingAPortWhoseCloseIsDeferredWaitsForTheDispatcher)
{
    auto closing = std::make_unique<TFxComPort>();
    closing->SetComNumber(5);
    closing->SetOpen(true);
    TFxBaseDispatcher* d = closing->GetDispatcher();
    d->ExchangeBusy(true);
    closing->SetOpen(false);
    ASSERT_TRUE(closing->Closing());
    closing->SetOpen(true); // a reopen asked for during the close is dropped with the port
    std::thread reader([d] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        d->ExchangeBusy(false);
    });
    closing.reset();
    reader.join();
    TFxComPort again; // nothing holds the device any more
    again.SetComNumber(5);
    again.SetOpen(true);
    EXPECT_TRUE(again.Open());
}

TEST_F(ComPortTest, TriggerEventsArriveOnTheGuiThreadOnlyWhenAssigned)
{
    std::vector<uint32_t> avail;
    port.SetOnTriggerAvail([&](TFxCustomComPort&, uint32_t count) { avail.push_back(count); });
    port.SetOpen(true);
    pty.Send("RING\r\n");
    EXPECT_TRUE(PumpUntil([&] { return !avail.empty(); }));
    EXPECT_EQ(avail.front(), 6u);
}

TEST_F(ComPortTest, AWindowAloneIsNotifiedOnlyOnceWindowNotificationIsForced)
{
    zn::comms::test::OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    int calls = 0;
    zn::platform::MessageWindow window("test", [&](uint32_t msg, zn::platform::WParam, zn::platform::LParam l) {
        if (msg == MsgTriggerAvail && ((l >> 16) & 0xFFFF) == o.d->Handle())
            ++calls;
        return zn::platform::LResult(0);
    });
    o.d->AddWindowHandler(window.Handle());
    o.d->SetAvailLevel(1);
    o.pty.Send("A");
    ASSERT_TRUE(WaitUntil([&] { return o.d->InputCount() == 1; }));
    PumpUntil([] { return false; }, 200); // nothing arrives meanwhile
    EXPECT_EQ(calls, 0);
    o.d->UpdateHandlerFlags(1);
    o.pty.Send("B");
    EXPECT_TRUE(PumpUntil([&] { return calls == 1; }));
}

TEST_F(ComPortTest, ChangingTheNumberOfAnOpenPortReopensItWithItsTriggers)
{
    PtyPair other;
    ASSERT_TRUE(other.Ok());
    ::setenv("ZN_COM7", other.SlavePath().c_str(), 1);
    port.SetOpen(true);
    int timer = port.GetDispatcher()->AddTimerTrigger();
    port.SetComNumber(7);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.GetDispatcher()->DeviceName(), "COM7");
    EXPECT_EQ(port.GetDispatcher()->SetTimerTrigger(timer, 1, false), 0);
    port.PutString("AT\r");
    EXPECT_EQ(other.Receive(3, 2000), "AT\r");
}

TEST_F(ComPortTest, AssignCopiesTheSettingsAndTheTriggersOfAnOpenPort)
{
    int calls = 0;
    port.SetBaud(38400);
    port.SetLogName("ZNOUT.LOG");
    port.SetTapiMode(tmOff);
    port.SetOnTriggerTimer([&](TFxCustomComPort&, int) { ++calls; });
    port.SetOpen(true);
    int timer = port.GetDispatcher()->AddTimerTrigger();
    TFxComPort copy;
    copy.Assign(port);
    EXPECT_EQ(copy.Baud(), 38400);
    EXPECT_EQ(copy.LogName(), "ZNOUT.LOG");
    EXPECT_EQ(copy.TapiMode(), tmOff);
    EXPECT_EQ(copy.ComNumber(), 5);
    EXPECT_FALSE(copy.Open());
    port.SetOpen(false);
    copy.SetOpen(true);
    ASSERT_EQ(copy.GetDispatcher()->SetTimerTrigger(timer, 1, true), 0); // the trigger came along
    EXPECT_TRUE(PumpUntil([&] { return calls == 1; }));
}

TEST_F(ComPortTest, AFormThatOpensAMissingPortStillLoads)
{
    ::setenv("ZN_COM6", "/dev/zn-missing-tty", 1);
    TFxComPort loading;
    loading.SetLoading(true);
    loading.SetComNumber(6);
    loading.SetOpen(true); // only stored while loading
    EXPECT_EQ(loading.GetDispatcher(), nullptr);
    EXPECT_NO_THROW(loading.Loaded()); // the failure is reported, not raised
    EXPECT_FALSE(loading.Open());
    port.SetLoading(true);
    port.SetOpen(true);
    port.Loaded();
    EXPECT_TRUE(port.Open());
}

TEST_F(ComPortTest, InTapiModeThePortRunsOverTheHandedOverDescriptor)
{
    TFxComPort tapi;
    tapi.SetTapiMode(tmOn);
    EXPECT_THROW(tapi.SetOpen(true), ENotOpenedByTapi);
    int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    tapi.SetTapiHandle(fd);
    tapi.SetComNumber(4);
    tapi.SetOpen(true);
    ASSERT_TRUE(tapi.Open());
    EXPECT_EQ(tapi.GetDispatcher()->DeviceName(), "COM4");
    tapi.PutString("ATA\r");
    EXPECT_EQ(pty.Receive(4, 2000), "ATA\r");
}

TEST_F(ComPortTest, WaitForStringIsFalseWhenTheApplicationQuitsBeforeTheText)
{
    port.SetOpen(true);
    zn::platform::PostQuitMessage(0);
    ASSERT_TRUE(PumpUntil([] { return zn::platform::QuitRequested(); }));
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.WaitForString("OK", 1092, false, true));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    zn::platform::ClearQuitRequest();
}
