// The machine's modems as line devices, over pseudo-terminals named by configured aliases: the list
// the user sees, and a passthrough call through the TAPI wrappers that hands the modem to the port
// and leaves no descriptor, lock file or open line behind.
#include "comms/tapi/serial_line_provider.h"
#include "comms/tapi/tapi_binding.h"
#include "comms/tapi/tapi_device.h"
#include "comms/tapi/udev_lines.h"

#include "comms/base/exceptions.h"
#include "comms/port/port_driver.h"
#include "comms/port/port_names.h"
#include "comms/tests/port_fixture.h"
#include "comms/tests/pty_pair.h"
#include "platform/messages.h"
#include "platform/modem_inhibition.h"

#include <gtest/gtest.h>

#include "comms/tapi/tests/line_device_rig.h"
#include "comms/tapi/tests/qt_app.h"

#include <QCoreApplication>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>

using namespace zn::comms;
using namespace zn::comms::tapi;
using zn::comms::test::OpenDescriptors;
using zn::comms::test::PtyPair;
using zn::comms::test::WaitUntil;

namespace {

class SerialLines : public ::testing::Test {
protected:
    static void SetUpTestSuite() { zn::comms::test::EnsureCoreApplication(); }

    void SetUp() override
    {
        ASSERT_TRUE(a_.Ok() && b_.Ok());
        char pattern[] = "/tmp/zn_lines_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
        aliasA_ = folder_ + "/ttyLineA" + std::to_string(::getpid());
        aliasB_ = folder_ + "/ttyLineB" + std::to_string(::getpid());
        ASSERT_EQ(::symlink(a_.SlavePath().c_str(), aliasA_.c_str()), 0);
        ASSERT_EQ(::symlink(b_.SlavePath().c_str(), aliasB_.c_str()), 0);
        std::ofstream ini(folder_ + "/" + PortsFileName);
        ini << "[Lines]\r\nTest line A=" << aliasA_ << "\r\nTest line B=" << aliasB_
            << "\r\nSame modem again=" << a_.SlavePath() << "\r\n";
        ini.close();
        ::setenv("ZN_WINDIR", folder_.c_str(), 1);
        SetLineProvider(&provider_);
        // Qt and the message layer keep descriptors of their own once used: use them first, so
        // that counts taken in a test see only what the lines open.
        {
            zn::platform::MessageWindow warmUp("warm-up", [](uint32_t, zn::platform::WParam, zn::platform::LParam) {
                return zn::platform::LResult(0);
            });
        }
        (void)zn::platform::ModemInhibition::Inhibit("/dev/null"); // the bus connection, kept for the process
        QCoreApplication::processEvents();
        zn::platform::PumpOneMessage();
    }

    void TearDown() override
    {
        SetLineProvider(nullptr);
        ::unsetenv("ZN_WINDIR");
        std::system(("rm -rf '" + folder_ + "'").c_str());
    }

    template <typename Pred>
    bool PumpUntil(Pred pred)
    {
        return WaitUntil(
            [&] {
                QCoreApplication::processEvents();
                zn::platform::PumpOneMessage();
                return pred();
            },
            3000);
    }

    // lineInitialize with a callback that records each message and its first parameter.
    static int32_t InitializeRecording(HLineApp& app, uint32_t& count,
                                       std::vector<std::pair<uint32_t, uintptr_t>>& messages)
    {
        return lineInitialize(
            &app, nullptr,
            [&messages](uint32_t, uint32_t msg, uintptr_t, uintptr_t p1, uintptr_t, uintptr_t) {
                messages.push_back({msg, p1});
            },
            "zn", &count);
    }

    // Opens the line of `device` and places a passthrough call on it: lineMakeCall's answer.
    static int32_t PlaceCall(HLineApp app, uint32_t device, HLine& line, HCall& call)
    {
        if (int32_t r =
                lineOpen(app, device, &line, ApiVersion14, 0, device + 1, PrivilegeNone, MediaModeDataModem, nullptr);
            r != 0)
            return r;
        LINECALLPARAMS params = PassthroughCallParams();
        return lineMakeCall(line, &call, "", 0, &params);
    }

    // A call on `device` is refused: someone else holds the modem.
    static void ExpectTheModemHeldElsewhere(HLineApp app, uint32_t device)
    {
        HLine line = 0;
        HCall call = 0;
        EXPECT_EQ(uint32_t(PlaceCall(app, device, line, call)), LineErrResourceUnavail);
        EXPECT_EQ(lineClose(line), 0);
    }

    std::string AliasLock() const { return "/var/lock/LCK.." + aliasA_.substr(aliasA_.rfind('/') + 1); }

    PtyPair a_, b_;
    std::string folder_, aliasA_, aliasB_;
    SerialLineProvider provider_;
};

TEST_F(SerialLines, ListsTheConfiguredAliasesFirstAndEachModemOnce)
{
    HLineApp app = 0;
    uint32_t count = 0;
    ASSERT_EQ(lineInitialize(&app, nullptr, nullptr, "zn", &count), 0);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t version = 0;
        ASSERT_EQ(lineNegotiateAPIVersion(app, i, ApiVersion14, ApiVersion14, &version, nullptr), 0);
        StructurePtr<LINEDEVCAPS> caps;
        ASSERT_EQ(lineGetDevCaps(app, i, version, 0, caps), 0);
        EXPECT_NE(caps->mediaModes & MediaModeDataModem, 0u);
        EXPECT_NE(caps->lineFeatures & LineFeatureMakeCall, 0u);
        names.push_back(StructureText(caps.get(), caps->lineNameOffset, caps->lineNameSize));
    }
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], "Test line A");
    EXPECT_EQ(names[1], "Test line B");
    EXPECT_EQ(std::count(names.begin(), names.end(), "Same modem again"), 0) << "pty A is listed once";
    EXPECT_EQ(lineShutdown(app), 0);
}

TEST_F(SerialLines, APassthroughCallHandsTheModemToThePortAndDropReleasesEverything)
{
    int descriptorsBefore = OpenDescriptors();
    std::vector<std::pair<uint32_t, uintptr_t>> messages;
    HLineApp app = 0;
    uint32_t count = 0;
    ASSERT_EQ(InitializeRecording(app, count, messages), 0);
    HLine line = 0;
    HCall call = 0;
    int32_t request = PlaceCall(app, 0, line, call);
    ASSERT_GT(request, 0);
    ASSERT_TRUE(PumpUntil([&] {
        return std::count(messages.begin(), messages.end(),
                          std::make_pair(LineCallStateMsg, uintptr_t(CallStateConnected)))
               == 1;
    }));
    EXPECT_EQ(messages.front(), std::make_pair(LineReplyMsg, uintptr_t(request)));

    // The modem is locked under its configured name and its device while the call holds it.
    if (::access("/var/lock", W_OK) == 0) {
        EXPECT_EQ(std::atol(zn::comms::test::ReadFile(AliasLock()).c_str()), long(::getpid()));
        EXPECT_EQ(std::atol(zn::comms::test::ReadFile(UucpLock::LockPathFor(a_.SlavePath())).c_str()),
                  long(::getpid()));
        TFxWin32Dispatcher other(nullptr);
        EXPECT_EQ(other.OpenPort(aliasA_, 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied);
    }

    // The port runs over the descriptor the call hands over.
    std::vector<uint8_t> buffer(sizeof(VARSTRING) + 16);
    auto* id = reinterpret_cast<VARSTRING*>(buffer.data());
    id->totalSize = uint32_t(buffer.size());
    ASSERT_EQ(lineGetID(line, 0, call, CallSelectCall, id, "comm/datamodem"), 0);
    ASSERT_EQ(id->stringSize, 4u);
    int32_t fd = -1;
    std::memcpy(&fd, buffer.data() + id->stringOffset, 4);
    ASSERT_GE(fd, 0);
    {
        TFxTAPI32Dispatcher port(nullptr, fd);
        ASSERT_EQ(port.OpenPort("", 19200, 0, 8, 1, 4096, 4096, OptDtrOn | OptRtsOn), 0);
        ASSERT_EQ(port.WriteString("AT+FCLASS=?\r"), 0);
        EXPECT_EQ(a_.Receive(12, 2000), "AT+FCLASS=?\r");
        port.ClosePort();
    }

    ASSERT_GT(lineDrop(call, nullptr, 0), 0);
    ASSERT_TRUE(PumpUntil([&] {
        return std::count(messages.begin(), messages.end(), std::make_pair(LineCallStateMsg, uintptr_t(CallStateIdle)))
               == 1;
    }));
    EXPECT_EQ(lineDeallocateCall(call), 0);
    EXPECT_EQ(lineClose(line), 0);
    EXPECT_EQ(lineShutdown(app), 0);
    EXPECT_NE(::access(AliasLock().c_str(), F_OK), 0);
    EXPECT_NE(::access(UucpLock::LockPathFor(a_.SlavePath()).c_str(), F_OK), 0);
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
    // The modem is free again for anyone.
    TFxWin32Dispatcher after(nullptr);
    EXPECT_EQ(after.OpenPort(aliasA_, 19200, 0, 8, 1, 4096, 4096, 0), 0);
}

TEST_F(SerialLines, AModemHeldElsewhereRefusesTheCall)
{
    TFxWin32Dispatcher holder(nullptr);
    ASSERT_EQ(holder.OpenPort(a_.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), 0);
    HLineApp app = 0;
    uint32_t count = 0;
    ASSERT_EQ(lineInitialize(&app, nullptr, nullptr, "zn", &count), 0);
    ExpectTheModemHeldElsewhere(app, 0);
    EXPECT_EQ(lineShutdown(app), 0);
}

TEST_F(SerialLines, AModemThatVanishesMidCallEndsItAndReleasesItsLocks)
{
    int descriptorsBefore = OpenDescriptors();
    std::vector<std::pair<uint32_t, uintptr_t>> messages;
    HLineApp app = 0;
    uint32_t count = 0;
    ASSERT_EQ(InitializeRecording(app, count, messages), 0);
    int descriptorsOfTheApplication = OpenDescriptors(); // udev's announcements come through one
    HLine line = 0;
    HCall call = 0;
    ASSERT_GT(PlaceCall(app, 0, line, call), 0);
    ASSERT_TRUE(PumpUntil([&] {
        return std::count(messages.begin(), messages.end(),
                          std::make_pair(LineCallStateMsg, uintptr_t(CallStateConnected)))
               == 1;
    }));
    a_.CloseMaster(); // the modem goes away
    ASSERT_TRUE(PumpUntil(
        [&] { return std::count(messages.begin(), messages.end(), std::make_pair(LineCloseMsg, uintptr_t(0))) == 1; }));
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         std::make_pair(LineCallStateMsg, uintptr_t(CallStateDisconnected))),
              1);
    EXPECT_NE(::access(AliasLock().c_str(), F_OK), 0);
    EXPECT_NE(::access(UucpLock::LockPathFor(a_.SlavePath()).c_str(), F_OK), 0);
    EXPECT_EQ(OpenDescriptors(), descriptorsOfTheApplication - 1)
        << "the far end's descriptor is gone, and every one of the call's";
    EXPECT_EQ(uint32_t(lineClose(line)), LineErrInvalLineHandle) << "closed by the provider with LINE_CLOSE";
    EXPECT_EQ(lineShutdown(app), 0);
    EXPECT_EQ(OpenDescriptors(), descriptorsBefore - 1);
}

// The answering side over a modem on a pseudo-terminal: the line device with its port and history,
// the test playing the modem on the master.
class AnsweringSerialLine : public SerialLines {
protected:
    void SetUp() override
    {
        if (::access("/var/lock", W_OK) != 0)
            GTEST_SKIP() << "needs a lock folder to see when the line listens";
        SerialLines::SetUp();
        descriptorsBefore_ = OpenDescriptors();
        log_.TapiHistoryName = folder_ + "/FXCTAPI.HIS";
        port_.SetTapiMode(tmOn);
        port_.SetAutoOpen(false);
        device_ = std::make_unique<TFxTapiDevice>();
        device_->SetComPort(&port_);
        device_->SetTapiLog(&log_);
        device_->SetSelectedDevice("Test line A");
        device_->AnswerOnRing = 2;
        device_->WaitMs = 5000;
        device_->OnTapiStatus = [this](TFxCustomTapiDevice&, bool, bool, int, int message, int p1, int, int p3) {
            if (message == int(LineLineDevStateMsg) && p1 == int(DevStateRinging))
                rings_.push_back(p3);
        };
        device_->OnTapiFail = [this] { ++failed_; };
    }

    void TearDown() override
    {
        if (device_) {
            device_.reset(); // the line application shut down with it
            port_.SetOpen(false);
            if (modemGone_) // its descriptor went with it
                EXPECT_EQ(OpenDescriptors(), descriptorsBefore_ - 1);
            else
                zn::comms::test::ExpectTheModemLeftFree({aliasA_, a_.SlavePath()}, descriptorsBefore_);
        }
        SerialLines::TearDown();
    }

    // Opens the line to answer and waits until it holds the modem; the modem answers the commands
    // the line sends first (caller ID turned on).
    using Exchange = std::vector<std::pair<std::string, std::string>>;
    void Listen(const Exchange& setup = {{"AT+VCID=1\r", "OK"}})
    {
        device_->AnswerCalls();
        ASSERT_TRUE(PumpUntil([&] { return ::access(AliasLock().c_str(), F_OK) == 0; }));
        for (const auto& [command, reply] : setup) {
            ASSERT_EQ(a_.Receive(command.size(), 3000), command);
            a_.Send(command + "\r\n" + reply + "\r\n"); // echoed first, as modems do
        }
    }

    void Ring(size_t count)
    {
        a_.Send("\r\nRING\r\n");
        ASSERT_TRUE(PumpUntil([&] { return rings_.size() == count; }));
    }

    std::vector<std::string> History()
    {
        std::vector<std::string> texts;
        std::istringstream in(zn::comms::test::ReadFile(log_.TapiHistoryName));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (size_t colon = line.find(" : "); colon != std::string::npos)
                texts.push_back(line.substr(colon + 3));
        }
        return texts;
    }

    int descriptorsBefore_ = 0;
    TFxComPort port_;
    TFxTapiLog log_;
    std::unique_ptr<TFxTapiDevice> device_;
    std::vector<int> rings_;
    int failed_ = 0;
    bool modemGone_ = false;
};

TEST_F(AnsweringSerialLine, TheSecondRingIsAnsweredWithAtaAndConnectHandsTheModemToThePort)
{
    Listen();
    Ring(1);
    EXPECT_EQ(History(), (std::vector<std::string>{"call started", "  accepting"}));
    Ring(2);
    EXPECT_EQ(rings_, (std::vector<int>{1, 2}));
    EXPECT_EQ(a_.Receive(4, 2000), "ATA\r");
    a_.Send("\r\nCONNECT 9600\r\n");
    ASSERT_TRUE(PumpUntil([&] { return device_->Connected(); }));
    ASSERT_TRUE(port_.Open());
    // The port runs over the answered modem.
    ASSERT_EQ(port_.GetDispatcher()->WriteString("AT+FRH=3\r"), 0);
    EXPECT_EQ(a_.Receive(9, 2000), "AT+FRH=3\r");
    // What the modem says now is the port's, a RING too: no new call.
    a_.Send("\r\nRING\r\n");
    std::string got;
    ASSERT_TRUE(PumpUntil([&] {
        uint8_t c = 0;
        while (port_.GetDispatcher()->ReadChar(c) == 0)
            got += char(c);
        return got == "\r\nRING\r\n";
    })) << got;
    EXPECT_EQ(rings_.size(), 2u);
    device_->CancelCall();
    EXPECT_FALSE(port_.Open());
    EXPECT_EQ(failed_, 0);
    EXPECT_EQ(History(), (std::vector<std::string>{"call started", "  accepting", "  answering", "  connected",
                                                   "  cancelled", "  dropped", "call finished"}));
}

TEST_F(AnsweringSerialLine, AModemThatCannotAnswerEndsTheCallAsFailed)
{
    for (const char* said : {"NO CARRIER", "ERROR"}) {
        SCOPED_TRACE(said);
        rings_.clear();
        failed_ = 0;
        std::system(("rm -f '" + log_.TapiHistoryName + "'").c_str());
        Listen();
        Ring(1);
        Ring(2);
        EXPECT_EQ(a_.Receive(4, 2000), "ATA\r");
        a_.Send(std::string("\r\n") + said + "\r\n");
        ASSERT_TRUE(PumpUntil([&] { return !device_->LineActive() && failed_ == 1; }));
        EXPECT_FALSE(device_->Connected());
        EXPECT_FALSE(port_.Open());
        EXPECT_NE(::access(AliasLock().c_str(), F_OK), 0);
        EXPECT_EQ(History(), (std::vector<std::string>{"call started", "  accepting", "  answering", "  dropped",
                                                       "call finished", "  dial failed"}));
    }
}

TEST_F(AnsweringSerialLine, AModemHeldElsewhereClosesTheLineOpenedToAnswer)
{
    {
        TFxWin32Dispatcher holder(nullptr);
        ASSERT_EQ(holder.OpenPort(a_.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), 0);
        device_->AnswerCalls();
        ASSERT_TRUE(PumpUntil([&] { return !device_->LineActive() && failed_ == 1; }));
        EXPECT_EQ(std::atol(zn::comms::test::ReadFile(UucpLock::LockPathFor(a_.SlavePath())).c_str()), long(::getpid()))
            << "the holder's lock stays";
    }
    EXPECT_EQ(History(), (std::vector<std::string>{"call started", "  dropped", "call finished", "  dial failed"}));
}

// The modem goes while the line listens (false) or while its call rings (true).
class AnsweringSerialLineLosingItsModem : public AnsweringSerialLine, public ::testing::WithParamInterface<bool> {};

TEST_P(AnsweringSerialLineLosingItsModem, ClosesTheLineAndReleasesTheModem)
{
    const bool ringing = GetParam();
    Listen();
    if (ringing)
        Ring(1);
    a_.CloseMaster();
    modemGone_ = true;
    ASSERT_TRUE(PumpUntil([&] { return !device_->LineActive() && failed_ == 1; }));
    EXPECT_NE(::access(AliasLock().c_str(), F_OK), 0);
    EXPECT_NE(::access(UucpLock::LockPathFor(a_.SlavePath()).c_str(), F_OK), 0);
    std::vector<std::string> expected{"call started"};
    if (ringing)
        expected.push_back("  accepting");
    for (const char* text : {"  dropped", "call finished", "  dial failed"})
        expected.push_back(text);
    EXPECT_EQ(History(), expected);
}

INSTANTIATE_TEST_SUITE_P(Moments, AnsweringSerialLineLosingItsModem, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "WhileItRings" : "WhileTheLineListens"; });

TEST_F(AnsweringSerialLine, ACallThatStopsRingingBeforeItIsAnsweredEnds)
{
    device_->AnswerOnRing = 3;
    provider_.RingGapMs = 100;
    Listen();
    Ring(1);
    ASSERT_TRUE(PumpUntil([&] { return !device_->LineActive() && failed_ == 1; }));
    EXPECT_EQ(a_.Receive(1, 200), "") << "nothing was said to the modem";
    EXPECT_EQ(failed_, 1);
    EXPECT_EQ(History(),
              (std::vector<std::string>{"call started", "  accepting", "  dropped", "call finished", "  dial failed"}));
}

// What the modem reports of the caller, and what the line device makes of it.
struct CallerReport {
    const char* name;
    const char* report; // the modem's lines
    bool beforeTheFirstRing;
    const char* number;
    const char* callerName;
};

void PrintTo(const CallerReport& r, std::ostream* out) { *out << r.name; }

class AnsweringSerialLineCallerId : public AnsweringSerialLine, public ::testing::WithParamInterface<CallerReport> {};

TEST_P(AnsweringSerialLineCallerId, TheModemsReportNamesTheCallerOfTheOfferedCall)
{
    const CallerReport& r = GetParam();
    std::vector<std::pair<std::string, std::string>> callers;
    device_->OnTapiCallerID = [&](TFxCustomTapiDevice&, const std::string& id, const std::string& name) {
        callers.push_back({id, name});
    };
    Listen();
    if (r.beforeTheFirstRing)
        a_.Send(r.report);
    Ring(1);
    if (!r.beforeTheFirstRing)
        a_.Send(r.report);
    ASSERT_TRUE(PumpUntil([&] { return !callers.empty(); }));
    Ring(2);
    EXPECT_EQ(a_.Receive(4, 2000), "ATA\r");
    a_.Send("\r\nCONNECT 9600\r\n");
    ASSERT_TRUE(PumpUntil([&] { return device_->Connected(); }));
    EXPECT_EQ(callers, (std::vector<std::pair<std::string, std::string>>{{r.number, r.callerName}}));
    device_->CancelCall();
}

INSTANTIATE_TEST_SUITE_P(
    Reports, AnsweringSerialLineCallerId,
    ::testing::Values(
        CallerReport{"NumberAndName", "\r\nDATE = 1211\r\nTIME = 1015\r\nNMBR = 5551234\r\nNAME = JOHN DOE\r\n",
                     false, "5551234", "JOHN DOE"},
        CallerReport{"BeforeTheFirstRingWithoutBlanks", "\r\nNMBR=5551234\r\n\r\nNAME=JOHN DOE\r\n", true,
                     "5551234", "JOHN DOE"},
        CallerReport{"Withheld", "\r\nNMBR = P\r\nNAME = P\r\n", false, "Blocked", ""},
        CallerReport{"OutOfArea", "\r\nNMBR = O\r\nNAME = O\r\n", false, "Out of area", ""},
        CallerReport{"ANameWithoutANumber", "\r\nDATE = 1211\r\nNAME = JOHN DOE\r\n", false, "Unavailable",
                     "JOHN DOE"},
        // What a noisy line or a hostile caller puts in the report goes on as printable text only.
        CallerReport{"ControlCharactersAndBytesThatAreNotText",
                     "\r\nNMBR=55\a12\xFF" "34\r\nNAME=J\xC3\xB6rg \x1B[31mRED\x7F\r\n", false, "551234",
                     "J\xC3\xB6rg [31mRED"},
        CallerReport{"ANameLongerThanAnyServiceSends",
                     "\r\nNMBR = 5551234\r\nNAME = ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJ\r\n",
                     false, "5551234", "ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJ"}),
    [](const auto& info) { return info.param.name; });

TEST_F(AnsweringSerialLine, AModemWithoutVcidIsAskedTheOtherWayAndOneWithNeitherStillAnswers)
{
    int callers = 0;
    device_->OnTapiCallerID = [&](TFxCustomTapiDevice&, const std::string&, const std::string&) { ++callers; };
    Listen({{"AT+VCID=1\r", "ERROR"}, {"AT#CID=1\r", "ERROR"}});
    Ring(1);
    Ring(2);
    EXPECT_EQ(a_.Receive(4, 2000), "ATA\r");
    a_.Send("\r\nCONNECT 9600\r\n");
    ASSERT_TRUE(PumpUntil([&] { return device_->Connected(); }));
    EXPECT_TRUE(port_.Open());
    EXPECT_EQ(callers, 0);
    device_->CancelCall();
}

TEST_F(AnsweringSerialLine, AModemThatSaysNothingToTheCallerIdCommandIsListenedToAllTheSame)
{
    provider_.SetupReplyMs = 200;
    Listen({});
    EXPECT_EQ(a_.Receive(10, 2000), "AT+VCID=1\r");
    EXPECT_EQ(a_.Receive(1, 600), "") << "silence is not a refusal: no other command";
    Ring(1);
    Ring(2);
    EXPECT_EQ(a_.Receive(4, 2000), "ATA\r");
    a_.Send("\r\nCONNECT 9600\r\n");
    ASSERT_TRUE(PumpUntil([&] { return device_->Connected(); }));
    EXPECT_TRUE(port_.Open());
    device_->CancelCall();
}

// A voice modem: the line is opened for voice calls, puts the modem in voice mode, answers with
// VCON and passes the DTMF digits the modem reports on.
TEST_F(AnsweringSerialLine, AVoiceCallsShieldedDigitReportsBecomeDtmfDigits)
{
    device_->SetEnableVoice(true);
    ASSERT_TRUE(device_->EnableVoice());
    std::string digits;
    device_->OnTapiDTMF = [&](TFxCustomTapiDevice&, char digit, int32_t) { digits += digit; };
    Listen({{"AT+FCLASS=8\r", "OK"}, {"AT+VCID=1\r", "OK"}});
    Ring(1);
    Ring(2);
    EXPECT_EQ(a_.Receive(4, 2000), "ATA\r");
    a_.Send("\r\nVCON\r\n");
    ASSERT_TRUE(PumpUntil([&] { return device_->Connected(); }));
    EXPECT_FALSE(port_.Open()) << "a voice call's sound is not the port's";
    // DLE and a digit is a key pressed; DLE DLE is a DLE of the sound; DLE s is silence.
    const char sound[] = "\x10"
                         "1\x7f\x10\x10"
                         "5\x10#\x10s\x10*\x10"
                         "D";
    a_.Send(sound, sizeof sound - 1);
    ASSERT_TRUE(PumpUntil([&] { return digits.size() >= 4; })) << digits;
    EXPECT_EQ(digits, "1#*D");
    device_->CancelCall();
    EXPECT_EQ(History(), (std::vector<std::string>{"call started", "  accepting", "  answering", "  connected",
                                                   "  received digit", "  received digit", "  received digit",
                                                   "  received digit", "  cancelled", "  dropped", "call finished"}));
}

TEST_F(AnsweringSerialLine, AModemThatRefusesVoiceModeClosesTheVoiceLineAndIsNoLongerTakenForVoice)
{
    device_->SetEnableVoice(true);
    Listen({{"AT+FCLASS=8\r", "ERROR"}});
    ASSERT_TRUE(PumpUntil([&] { return !device_->LineActive() && failed_ == 1; }));
    EXPECT_NE(::access(AliasLock().c_str(), F_OK), 0);
    EXPECT_EQ(History(), (std::vector<std::string>{"call started", "  dropped", "call finished", "  dial failed"}));
    try {
        device_->SetEnableVoice(true);
        ADD_FAILURE() << "voice kept on";
    } catch (const ETapiVoiceNotSupported&) {
    }
    EXPECT_FALSE(device_->EnableVoice());
}

struct NameCase {
    const char* name;
    ModemFacts facts;
    const char* expected;
};

class ModemNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(ModemNames, NameTheVendorAndModelAUserRecognises)
{
    EXPECT_EQ(ModemNameFromFacts(GetParam().facts), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Facts, ModemNames,
    ::testing::Values(
        NameCase{"DatabaseNamesFirst",
                 {"U.S. Robotics", "U.S._Robotics", "USR", "USB Modem", "USB_Modem", "5637"},
                 "U.S. Robotics USB Modem"},
        NameCase{"TheDevicesOwnStringsWithoutUdevd", {"", "", "Conexant", "", "", "USB Modem"}, "Conexant USB Modem"},
        NameCase{"UdevsShortNamesLast", {"", "Zoom", "", "", "3095_USB_Mini_Modem", ""}, "Zoom 3095 USB Mini Modem"},
        NameCase{
            "AModelThatNamesItsVendorIsNotPrefixedAgain", {"", "ZOOM", "", "", "Zoom_56K_Modem", ""}, "Zoom 56K Modem"},
        NameCase{"AVendorThatOnlyStartsTheModelsFirstWord", {"", "Zoom", "", "", "Zoomer_X", ""}, "Zoom Zoomer X"},
        NameCase{"OnlyAModel", {"", "", "", "", "", "  Generic modem "}, "Generic modem"}, NameCase{"Nothing", {}, ""}),
    [](const auto& info) { return info.param.name; });

// udev's announcements, as the kernel makes them for a device of this machine when asked (root,
// where no udevd runs to act on them): a device announced as removed goes, one announced as added
// comes, and a configured line that appears or goes in between is noticed at the next
// announcement.
class SerialLinesComingAndGoing : public SerialLines {
protected:
    static constexpr const char* kDevice = "/dev/ttyS0";
    static constexpr const char* kAnnounce = "/sys/class/tty/ttyS0/uevent";

    void SetUp() override
    {
        struct stat st {};
        if (::stat(kDevice, &st) != 0 || !S_ISCHR(st.st_mode) || ::access(kAnnounce, W_OK) != 0
            || ::access("/run/udev/control", F_OK) == 0)
            GTEST_SKIP() << "needs root, " << kDevice << " and no udevd";
        SerialLines::SetUp();
        WriteLines({{"Test line A", aliasA_}, {"Line on ttyS0", kDevice}, {"Test line B", aliasB_}});
    }

    void WriteLines(const std::vector<std::pair<std::string, std::string>>& lines)
    {
        std::ofstream ini(folder_ + "/" + PortsFileName);
        ini << "[Lines]\r\n";
        for (const auto& [name, path] : lines)
            ini << name << "=" << path << "\r\n";
    }

    static void Announce(const char* action) { std::ofstream(kAnnounce) << action; }

    static std::string NameOf(HLineApp app, uint32_t device, uint32_t& result)
    {
        uint32_t version = 0;
        result = uint32_t(lineNegotiateAPIVersion(app, device, ApiVersion14, ApiVersion14, &version, nullptr));
        StructurePtr<LINEDEVCAPS> caps;
        if (result != 0 || (result = uint32_t(lineGetDevCaps(app, device, version, 0, caps))) != 0)
            return {};
        return StructureText(caps.get(), caps->lineNameOffset, caps->lineNameSize);
    }
};

TEST_F(SerialLinesComingAndGoing, ARemovedDeviceClosesItsLineAndAnAddedOneGetsTheNextIdentifier)
{
    std::vector<std::pair<uint32_t, uintptr_t>> messages;
    HLineApp app = 0;
    uint32_t count = 0;
    ASSERT_EQ(InitializeRecording(app, count, messages), 0);
    uint32_t result = 0;
    ASSERT_EQ(NameOf(app, 1, result), "Line on ttyS0");
    HLine line = 0;
    ASSERT_EQ(lineOpen(app, 1, &line, ApiVersion14, 0, 2, PrivilegeNone, MediaModeDataModem, nullptr), 0);

    Announce("remove");
    ASSERT_TRUE(PumpUntil(
        [&] { return std::count(messages.begin(), messages.end(), std::make_pair(LineCloseMsg, uintptr_t(0))) == 1; }));
    EXPECT_EQ(NameOf(app, 1, result), "");
    EXPECT_EQ(result, LineErrNoDevice);
    EXPECT_EQ(uint32_t(lineClose(line)), LineErrInvalLineHandle);
    EXPECT_EQ(NameOf(app, 0, result), "Test line A") << "the others stay";

    Announce("add");
    ASSERT_TRUE(PumpUntil([&] {
        return std::count(messages.begin(), messages.end(), std::make_pair(LineCreateMsg, uintptr_t(count))) == 1;
    }));
    EXPECT_EQ(NameOf(app, count, result), "Line on ttyS0");
    ASSERT_EQ(lineOpen(app, count, &line, ApiVersion14, 0, 2, PrivilegeNone, MediaModeDataModem, nullptr), 0);
    EXPECT_EQ(lineClose(line), 0);

    // A line configured meanwhile comes with the next announcement; one no longer configured goes.
    PtyPair c;
    ASSERT_TRUE(c.Ok());
    WriteLines({{"Test line A", aliasA_}, {"Line on ttyS0", kDevice}, {"Test line C", c.SlavePath()}});
    Announce("change");
    ASSERT_TRUE(PumpUntil([&] {
        return std::count(messages.begin(), messages.end(), std::make_pair(LineCreateMsg, uintptr_t(count + 1))) == 1;
    }));
    EXPECT_EQ(NameOf(app, count + 1, result), "Test line C");
    EXPECT_EQ(NameOf(app, 2, result), "");
    EXPECT_EQ(result, LineErrNoDevice) << "Test line B is no longer configured";
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(), [](const auto& m) { return m.first == LineCreateMsg; }),
              2);
    EXPECT_EQ(lineShutdown(app), 0);
}

// A bus of the test program's own standing in for the system bus. A process connects to the system
// bus once, at its first use, and keeps that connection: the bus is there before the first test,
// so that every test sees the same bus whichever tests ran before it.
class PrivateSystemBus : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (::access("/usr/bin/dbus-daemon", X_OK) != 0)
            return;
        FILE* p = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        if (!p)
            return;
        char line[512];
        if (std::fgets(line, sizeof line, p))
            Address() = std::string(line, std::strcspn(line, "\n"));
        if (std::fgets(line, sizeof line, p))
            daemon_ = pid_t(std::atol(line));
        ::pclose(p);
        if (!Address().empty())
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", Address().c_str(), 1);
    }
    void TearDown() override
    {
        if (daemon_ > 0)
            ::kill(daemon_, SIGTERM);
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    // Empty when there is no such bus.
    static std::string& Address()
    {
        static std::string address;
        return address;
    }

private:
    pid_t daemon_ = -1;
};

const ::testing::Environment* const kPrivateSystemBus = ::testing::AddGlobalTestEnvironment(new PrivateSystemBus);

// The ModemManager stand-in on the private bus, for one test.
class PrivateModemManager {
public:
    PrivateModemManager(const std::string& port, const std::string& uid, const std::string& log) : log_(log)
    {
        std::string script = std::string(std::getenv("ZN_SOURCE_DIR")) + "/comms/tapi/tests/fake_modem_manager.py";
        const std::string address = PrivateSystemBus::Address();
        fake_ = ::fork();
        if (fake_ == 0) {
            ::execl("/usr/bin/python3", "python3", script.c_str(), address.c_str(), port.c_str(), uid.c_str(),
                    log.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        WaitUntil([&] { return zn::comms::test::ReadFile(log_).find("ready") != std::string::npos; }, 10000);
    }
    ~PrivateModemManager()
    {
        if (fake_ > 0) {
            ::kill(fake_, SIGTERM);
            ::waitpid(fake_, nullptr, 0);
        }
    }
    bool Ready() { return Logged("ready"); }
    bool Logged(const std::string& text) { return zn::comms::test::ReadFile(log_).find(text) != std::string::npos; }
    // The InhibitDevice calls logged: "inhibit UID on|off SENDER".
    std::vector<std::string> Calls()
    {
        std::vector<std::string> out;
        std::istringstream in(zn::comms::test::ReadFile(log_));
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("inhibit ", 0) == 0)
                out.push_back(line);
        return out;
    }

private:
    std::string log_;
    pid_t fake_ = -1;
};

class SerialLinesWithModemManager : public SerialLines {
protected:
    void SetUp() override
    {
        if (PrivateSystemBus::Address().empty()
            || std::system("/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null") != 0)
            GTEST_SKIP() << "dbus-daemon or python3-dbus missing";
        ASSERT_TRUE(a_.Ok());
        std::string device = a_.SlavePath().substr(5); // "pts/N", as ModemManager names ports
        mmLog_ = "/tmp/zn_mm_" + std::to_string(::getpid()) + ".log";
        mm_ = std::make_unique<PrivateModemManager>(device, "/sys/devices/test/modem0", mmLog_);
        SerialLines::SetUp();
    }
    void TearDown() override
    {
        SerialLines::TearDown();
        mm_.reset();
        ::unlink(mmLog_.c_str());
    }
    std::string mmLog_;
    std::unique_ptr<PrivateModemManager> mm_;
};

TEST_F(SerialLinesWithModemManager, LeavesTheModemAloneForTheLengthOfTheCall)
{
    PrivateModemManager& mm = *mm_;
    ASSERT_TRUE(mm.Ready());
    HLineApp app = 0;
    uint32_t count = 0;
    ASSERT_EQ(lineInitialize(&app, nullptr, nullptr, "zn", &count), 0);
    HLine line = 0;
    HCall call = 0;
    ASSERT_GT(PlaceCall(app, 0, line, call), 0);
    std::vector<std::string> calls = mm.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].rfind("inhibit /sys/devices/test/modem0 on ", 0), 0u) << calls[0];
    // Another device ModemManager does not manage is not its business.
    HLine other = 0;
    HCall otherCall = 0;
    ASSERT_GT(PlaceCall(app, 1, other, otherCall), 0);
    EXPECT_EQ(mm.Calls().size(), 1u);
    EXPECT_EQ(lineClose(other), 0);

    ASSERT_GT(lineDrop(call, nullptr, 0), 0);
    calls = mm.Calls();
    ASSERT_EQ(calls.size(), 2u);
    std::string sender = calls[0].substr(calls[0].rfind(' ') + 1);
    EXPECT_EQ(calls[1], "inhibit /sys/devices/test/modem0 off " + sender)
        << "given back by the connection that took it";
    EXPECT_EQ(lineClose(line), 0);
    EXPECT_EQ(lineShutdown(app), 0);
    EXPECT_EQ(mm.Calls().size(), 2u);
}

TEST_F(SerialLinesWithModemManager, AProgramThatDiesMidCallLeavesTheModemToTheNext)
{
    PrivateModemManager& mm = *mm_;
    ASSERT_TRUE(mm.Ready());
    std::string out = folder_ + "/holder.out";
    pid_t holder = ::fork();
    if (holder == 0) {
        std::freopen(out.c_str(), "w", stdout);
        std::string program = std::string(std::getenv("ZN_BUILD_DIR")) + "/comms/tapi/tapi_call_holder";
        ::execl(program.c_str(), "tapi_call_holder", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(holder, 0);
    bool held = WaitUntil([&] { return zn::comms::test::ReadFile(out).find("held") != std::string::npos; }, 10000);
    if (!held)
        ::kill(holder, SIGKILL);
    ASSERT_TRUE(held) << zn::comms::test::ReadFile(out);
    std::vector<std::string> calls = mm.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].rfind("inhibit /sys/devices/test/modem0 on ", 0), 0u) << calls[0];
    // The modem is the holder's: not ours.
    HLineApp app = 0;
    uint32_t count = 0;
    ASSERT_EQ(lineInitialize(&app, nullptr, nullptr, "zn", &count), 0);
    ExpectTheModemHeldElsewhere(app, 0);

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    std::string sender = calls[0].substr(calls[0].rfind(' ') + 1);
    EXPECT_TRUE(WaitUntil([&] { return mm.Logged("released /sys/devices/test/modem0 " + sender); }, 10000))
        << "the inhibition ends with the program that asked for it";
    // What the dead program locked is stale: the next call gets the modem.
    HLine line = 0;
    HCall call = 0;
    ASSERT_GT(PlaceCall(app, 0, line, call), 0);
    ASSERT_GT(lineDrop(call, nullptr, 0), 0);
    EXPECT_EQ(lineClose(line), 0);
    EXPECT_EQ(lineShutdown(app), 0);
}

TEST_F(SerialLinesWithModemManager, AModemThatVanishesMidCallIsGivenBackToo)
{
    PrivateModemManager& mm = *mm_;
    ASSERT_TRUE(mm.Ready());
    std::vector<std::pair<uint32_t, uintptr_t>> messages;
    HLineApp app = 0;
    uint32_t count = 0;
    ASSERT_EQ(InitializeRecording(app, count, messages), 0);
    HLine line = 0;
    HCall call = 0;
    ASSERT_GT(PlaceCall(app, 0, line, call), 0);
    ASSERT_EQ(mm.Calls().size(), 1u);
    a_.CloseMaster();
    ASSERT_TRUE(PumpUntil(
        [&] { return std::count(messages.begin(), messages.end(), std::make_pair(LineCloseMsg, uintptr_t(0))) == 1; }));
    std::vector<std::string> calls = mm.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].rfind("inhibit /sys/devices/test/modem0 off ", 0), 0u) << calls[1];
    EXPECT_EQ(lineShutdown(app), 0);
}

} // namespace
