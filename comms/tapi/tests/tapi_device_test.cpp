// The TAPI line device over a scripted line provider: choosing a device, the passthrough call that
// hands its descriptor to the port, cancelling it, failures, the history file and the state file.
#include "comms/tapi/scripted_line_provider.h"
#include "comms/tapi/tapi_device.h"

#include "comms/base/error_codes.h"
#include "comms/base/exceptions.h"
#include "comms/tests/port_fixture.h"
#include "comms/tests/pty_pair.h"
#include "platform/ini_file.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include "comms/tapi/tests/qt_app.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

using namespace zn::comms;
using namespace zn::comms::tapi;
using zn::comms::test::PtyPair;
using zn::comms::test::ReadFile;
using zn::comms::test::WaitUntil;

namespace {

class TapiDevice : public ::testing::Test {
protected:
    static void SetUpTestSuite() { zn::comms::test::EnsureCoreApplication(); }

    void SetUp() override
    {
        ASSERT_TRUE(pty_.Ok());
        char pattern[] = "/tmp/zn_tapi_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        home_ = pattern;
        ::setenv("ZN_HOME", home_.c_str(), 1);
        slave_ = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(slave_, 0);
        provider_.commHandle = slave_;
        provider_.devices = {LineDeviceInfo{"Scripted modem A", MediaModeDataModem, LineFeatureMakeCall, false}};
        SetLineProvider(&provider_);
        port_.SetTapiMode(tmOn);
        port_.SetAutoOpen(false);
        device_ = std::make_unique<TFxTapiDevice>();
        device_->SetComPort(&port_);
        log_.TapiHistoryName = home_ + "/FXCTAPI.HIS";
        device_->SetTapiLog(&log_);
        device_->WaitMs = 3000;
        device_->ReinitRetryMs = 50;
    }

    void TearDown() override
    {
        device_.reset();
        port_.SetOpen(false);
        SetLineProvider(nullptr);
        if (slave_ >= 0)
            ::close(slave_);
        ::unsetenv("ZN_HOME");
        std::system(("rm -rf '" + home_ + "'").c_str());
    }

    void Pump(int ms = 100)
    {
        WaitUntil(
            [] {
                QCoreApplication::processEvents();
                zn::platform::PumpOneMessage();
                return false;
            },
            ms);
    }

    // The history's texts, without their dates.
    std::vector<std::string> History()
    {
        std::vector<std::string> texts;
        std::istringstream in(ReadFile(log_.TapiHistoryName));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            size_t colon = line.find(" : ");
            if (colon != std::string::npos)
                texts.push_back(line.substr(colon + 3));
        }
        return texts;
    }

    PtyPair pty_;
    int slave_ = -1;
    std::string home_;
    ScriptedLineProvider provider_;
    TFxComPort port_;
    TFxTapiLog log_;
    std::unique_ptr<TFxTapiDevice> device_;
};

template <typename E, typename F>
int RaisedCode(F f)
{
    try {
        f();
    } catch (const E& e) {
        return e.ErrorCode();
    } catch (...) {
        return 1;
    }
    return 0;
}

} // namespace

TEST_F(TapiDevice, WithOneDeviceAndNoSelectionThePassthroughTakesItAndHandsThePortOver)
{
    int opened = 0;
    device_->OnTapiPortOpen = [&] { ++opened; };
    device_->OpenPassthrough();
    EXPECT_EQ(device_->SelectedDevice(), "Scripted modem A");
    EXPECT_TRUE(device_->Connected());
    ASSERT_TRUE(port_.Open());
    // The port runs over the handed-over descriptor.
    port_.GetDispatcher()->WriteString("ATI3\r");
    EXPECT_EQ(pty_.Receive(5, 2000), "ATI3\r");
    Pump();
    EXPECT_EQ(opened, 1);
}

TEST_F(TapiDevice, CancelAfterTheHandOverClosesThePortAndWritesItsThreeLines)
{
    int closed = 0;
    device_->OnTapiPortClose = [&] { ++closed; };
    device_->OpenPassthrough();
    ASSERT_TRUE(port_.Open());
    device_->CancelCall();
    EXPECT_FALSE(port_.Open());
    EXPECT_FALSE(provider_.LineOpen());
    EXPECT_EQ(provider_.ActiveCall(), 0u);
    Pump();
    EXPECT_EQ(closed, 1);
    std::vector<std::string> h = History();
    ASSERT_GE(h.size(), 3u);
    std::vector<std::string> last(h.end() - 3, h.end());
    EXPECT_EQ(last, (std::vector<std::string>{"  cancelled", "  dropped", "call finished"}));
}

TEST_F(TapiDevice, AVanishedNameBringsUpThePickerAndItsCancelRaisesNoSelect)
{
    device_->SetSelectedDevice("A modem unplugged last week");
    provider_.devices.push_back(LineDeviceInfo{"Scripted modem B", MediaModeDataModem, LineFeatureMakeCall, false});
    int asked = 0;
    device_->PickDevice = [&](std::string&) {
        ++asked;
        return false;
    };
    EXPECT_EQ(RaisedCode<ETapiNoSelect>([&] { device_->OpenPassthrough(); }), ecTapiNoSelect);
    EXPECT_EQ(asked, 1);
    // Chosen in the picker, the name is kept.
    device_->PickDevice = [&](std::string& chosen) {
        chosen = "Scripted modem B";
        return true;
    };
    device_->OpenPassthrough();
    EXPECT_EQ(device_->SelectedDevice(), "Scripted modem B");
    device_->CancelCall();
}

TEST_F(TapiDevice, ADeviceThatWentLeavesAGapAndTheOneLeftIsOpenedByItsOwnIdentifier)
{
    provider_.devices.push_back(LineDeviceInfo{"Scripted modem B", MediaModeDataModem, LineFeatureMakeCall, false});
    provider_.RemoveDevice(0);
    EXPECT_EQ(device_->DeviceList(), std::vector<std::string>{"Scripted modem B"});
    device_->OpenPassthrough();
    EXPECT_EQ(device_->SelectedDevice(), "Scripted modem B");
    EXPECT_EQ(provider_.OpenedDevice(), 1u);
    EXPECT_TRUE(port_.Open());
    device_->CancelCall();
}

TEST_F(TapiDevice, ADeviceUnpluggedDuringTheCallClosesThePortAndTheLine)
{
    int closed = 0, failed = 0;
    device_->OnTapiPortClose = [&] { ++closed; };
    device_->OnTapiFail = [&] { ++failed; };
    device_->OpenPassthrough();
    ASSERT_TRUE(port_.Open());
    provider_.RemoveDevice(0);
    EXPECT_FALSE(port_.Open());
    EXPECT_FALSE(device_->Connected());
    EXPECT_FALSE(device_->LineActive());
    Pump();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(failed, 0) << "the call had connected";
    std::vector<std::string> h = History();
    ASSERT_FALSE(h.empty());
    EXPECT_EQ(h.back(), "  dropped");
    // The device that went is no longer offered, and its name brings up the picker.
    EXPECT_TRUE(device_->DeviceList().empty());
    int asked = 0;
    device_->PickDevice = [&](std::string&) {
        ++asked;
        return false;
    };
    EXPECT_EQ(RaisedCode<ETapiNoSelect>([&] { device_->OpenPassthrough(); }), ecTapiNoSelect);
    EXPECT_EQ(asked, 1);
}

TEST_F(TapiDevice, ANewDeviceIsAnnouncedAndListed)
{
    std::vector<uint32_t> created;
    device_->OnLineCreate = [&](uint32_t id) { created.push_back(id); };
    EXPECT_EQ(device_->DeviceList(), std::vector<std::string>{"Scripted modem A"});
    provider_.AddDevice(LineDeviceInfo{"Scripted modem C", MediaModeDataModem, LineFeatureMakeCall, false});
    Pump();
    EXPECT_EQ(created, std::vector<uint32_t>{1});
    EXPECT_EQ(device_->DeviceList(), (std::vector<std::string>{"Scripted modem A", "Scripted modem C"}));
}

// A call-progress display whose form is a plain record, and which records the reports it is shown.
class RecordingCallProgress : public TFxAbstractTapiStatus, public StatusDisplayForm {
public:
    struct Shown {
        bool first, last;
        int message, state;
        bool operator==(const Shown& o) const
        {
            return first == o.first && last == o.last && message == o.message && state == o.state;
        }
    };
    explicit RecordingCallProgress(bool makesForm) : makesForm_(makesForm) { Initialize(); }
    ~RecordingCallProgress() override { Finalize(); }

    void UpdateDisplay(bool first, bool last, int, int message, int param1, int, int) override
    {
        shown.push_back({first, last, message, param1});
    }
    TPosition FormPosition() const override { return position; }
    void SetFormPosition(TPosition p) override { position = p; }
    bool FormCtl3D() const override { return ctl3D; }
    void SetFormCtl3D(bool on) override { ctl3D = on; }
    bool FormVisible() const override { return visible; }
    void SetFormVisible(bool on) override { visible = on; }
    std::string FormCaption() const override { return caption; }
    void SetFormCaption(const std::string& c) override { caption = c; }

    std::vector<Shown> shown;
    TPosition position = poDesigned;
    bool ctl3D = false, visible = true;
    std::string caption = "as designed";

protected:
    void CreateDisplay() override
    {
        if (makesForm_)
            SetDisplay(this);
    }
    void DestroyDisplay() override { SetDisplay(nullptr); }

private:
    bool makesForm_;
};

TEST_F(TapiDevice, TheCallProgressDisplayTakesItsFormsValuesAndPassesItsOwnOn)
{
    RecordingCallProgress withForm(true);
    EXPECT_EQ(withForm.Position(), poDesigned);
    EXPECT_FALSE(withForm.Ctl3D());
    EXPECT_TRUE(withForm.Visible());
    EXPECT_EQ(withForm.Caption(), "Call Progress");
    EXPECT_EQ(withForm.caption, "Call Progress");
    withForm.SetVisible(false);
    withForm.SetPosition(poScreenCenter);
    EXPECT_FALSE(withForm.visible);
    EXPECT_EQ(withForm.position, poScreenCenter);

    RecordingCallProgress withoutForm(false);
    EXPECT_EQ(withoutForm.Caption(), "Call Progress");
    EXPECT_EQ(withoutForm.Position(), poScreenCenter);
    EXPECT_FALSE(withoutForm.Visible());
    withoutForm.SetVisible(true);
    EXPECT_TRUE(withoutForm.Visible());

    device_->SetStatusDisplay(&withForm);
    EXPECT_EQ(withForm.TapiDevice(), device_.get());
    withoutForm.SetTapiDevice(device_.get());
    EXPECT_EQ(device_->StatusDisplay(), &withoutForm);
    EXPECT_EQ(withForm.TapiDevice(), nullptr) << "a device has one display";
}

TEST_F(TapiDevice, CallStatesAreReportedOutsideAPassthroughCallOnly)
{
    RecordingCallProgress display(true);
    device_->SetStatusDisplay(&display);
    std::vector<RecordingCallProgress::Shown> events;
    device_->OnTapiStatus = [&](TFxCustomTapiDevice&, bool first, bool last, int, int message, int state, int, int) {
        events.push_back({first, last, message, state});
    };
    device_->DeviceList();
    // (An offered call is reported once it is taken: see the answering tests.)
    const std::vector<RecordingCallProgress::Shown> expected{
        {true, false, int(LineCallStateMsg), int(CallStateDialtone)},
        {false, false, int(LineCallStateMsg), int(CallStateDialing)},
        {false, false, int(LineCallStateMsg), int(CallStateRingback)},
        {false, false, int(LineCallStateMsg), int(CallStateProceeding)},
        {false, false, int(LineCallStateMsg), int(CallStateBusy)},
    };
    for (const auto& e : expected)
        provider_.SetCallState(uint32_t(e.state));
    EXPECT_EQ(display.shown, expected);
    EXPECT_EQ(events, expected);

    // A passthrough call is silent: neither its states nor its end are reported.
    display.shown.clear();
    events.clear();
    device_->OpenPassthrough();
    ASSERT_TRUE(device_->Connected());
    provider_.SetCallState(CallStateProceeding);
    device_->CancelCall();
    EXPECT_TRUE(display.shown.empty());
    EXPECT_TRUE(events.empty());
}

TEST_F(TapiDevice, VoiceIsKeptOnOnlyForADeviceThatTakesVoiceCalls)
{
    provider_.devices.push_back(
        LineDeviceInfo{"Voice modem", MediaModeDataModem | MediaModeAutomatedVoice, LineFeatureMakeCall, true});
    // Nothing selected: nothing to check yet.
    device_->SetEnableVoice(true);
    EXPECT_TRUE(device_->EnableVoice());
    // A data modem selected with voice on: voice goes off.
    EXPECT_EQ(RaisedCode<ETapiVoiceNotSupported>([&] { device_->SetSelectedDevice("Scripted modem A"); }),
              ecTapiVoiceNotSupported);
    EXPECT_FALSE(device_->EnableVoice());
    EXPECT_EQ(device_->SelectedDevice(), "Scripted modem A");
    EXPECT_EQ(RaisedCode<ETapiVoiceNotSupported>([&] { device_->SetEnableVoice(true); }), ecTapiVoiceNotSupported);
    EXPECT_FALSE(device_->EnableVoice());
    // A device that is gone cannot take them either.
    device_->SetSelectedDevice("A modem unplugged last week");
    EXPECT_EQ(RaisedCode<ETapiVoiceNotSupported>([&] { device_->SetEnableVoice(true); }), ecTapiVoiceNotSupported);
    device_->SetSelectedDevice("Voice modem");
    EXPECT_NO_THROW(device_->SetEnableVoice(true));
    EXPECT_TRUE(device_->EnableVoice());
    device_->SetEnableVoice(false);
    EXPECT_FALSE(device_->EnableVoice());
}

TEST_F(TapiDevice, ReinitShutsTheApplicationDownOrStandsForTheMessageItNames)
{
    std::vector<uint32_t> created;
    device_->OnLineCreate = [&](uint32_t id) { created.push_back(id); };
    device_->DeviceList();
    ASSERT_NE(device_->LineApp(), 0u);
    provider_.Reinit(LineCreateMsg, 7);
    Pump();
    EXPECT_EQ(created, std::vector<uint32_t>{7});
    EXPECT_NE(device_->LineApp(), 0u);

    provider_.Reinit();
    Pump();
    EXPECT_EQ(device_->LineApp(), 0u);
    EXPECT_EQ(provider_.Calls("lineShutdown"), 1);
    char ownKey[16];
    std::snprintf(ownKey, sizeof ownKey, "$%08X", unsigned(::getpid()));
    EXPECT_EQ(zn::platform::IniFile(home_ + "/" + TapiStateFileName).ReadInteger("TAPI", ownKey, -1), -1);
    // The next use initialises afresh.
    EXPECT_EQ(device_->DeviceList(), std::vector<std::string>{"Scripted modem A"});
    EXPECT_NE(device_->LineApp(), 0u);
}

TEST_F(TapiDevice, APortInTmOffOrNoPortIsRefused)
{
    port_.SetTapiMode(tmOff);
    EXPECT_EQ(RaisedCode<ETapiNotSet>([&] { device_->OpenPassthrough(); }), ecTapiNotSet);
    TFxTapiDevice alone;
    EXPECT_EQ(RaisedCode<EPortNotAssigned>([&] { alone.OpenPassthrough(); }), ecPortNotAssigned);
}

TEST_F(TapiDevice, AFailedMakeCallRaisesCallUnavailWithoutOnTapiFailAfterClosingTheLine)
{
    provider_.makeCallReply = LineErrCallUnavail;
    EXPECT_EQ(RaisedCode<ETapiCallUnavail>([&] { device_->OpenPassthrough(); }), ecTapiCallUnavail);
    EXPECT_FALSE(provider_.LineOpen());
    EXPECT_FALSE(port_.Open());
}

TEST_F(TapiDevice, AFailedMakeCallWithOnTapiFailReportsItOnce)
{
    int failed = 0;
    device_->OnTapiFail = [&] { ++failed; };
    provider_.results["lineMakeCall"] = {LineErrResourceUnavail};
    EXPECT_NO_THROW(device_->OpenPassthrough());
    Pump();
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(provider_.LineOpen());
    std::vector<std::string> h = History();
    EXPECT_NE(std::find(h.begin(), h.end(), "  dial failed"), h.end());
}

TEST_F(TapiDevice, StateEntriesOfEndedProcessesAreRemovedAtInitialisation)
{
    pid_t ended = ::fork();
    if (ended == 0)
        ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    char deadKey[16], liveKey[16], ownKey[16];
    std::snprintf(deadKey, sizeof deadKey, "$%08X", unsigned(ended));
    std::snprintf(liveKey, sizeof liveKey, "$%08X", unsigned(::getppid()));
    std::snprintf(ownKey, sizeof ownKey, "$%08X", unsigned(::getpid()));
    std::string statePath = home_ + "/" + TapiStateFileName;
    {
        zn::platform::IniFile state(statePath);
        state.WriteInteger("TAPI", deadKey, 77);
        state.WriteInteger("TAPI", liveKey, 78);
    }
    device_->DeviceList();
    zn::platform::IniFile state(statePath);
    EXPECT_EQ(state.ReadInteger("TAPI", deadKey, -1), -1);
    EXPECT_EQ(state.ReadInteger("TAPI", liveKey, -1), 78);
    EXPECT_EQ(state.ReadInteger("TAPI", ownKey, -1), int(device_->LineApp()));
    EXPECT_EQ(provider_.Calls("lineShutdown"), 1) << "the ended process's line application is shut down";
    device_.reset();
    EXPECT_EQ(zn::platform::IniFile(statePath).ReadInteger("TAPI", ownKey, -1), -1) << "gone at shutdown";
}

struct InitCase {
    const char* name;
    std::vector<uint32_t> answers; // lineInitialize's answers in turn
    int raised;                    // the code raised, 0 none
    int calls;
};

class TapiInitialise : public TapiDevice, public ::testing::WithParamInterface<InitCase> {};

TEST_P(TapiInitialise, RetriesOnceAfterReinitAndFailsWithTheMappedCodeOtherwise)
{
    const InitCase& c = GetParam();
    provider_.results["lineInitialize"] = std::deque<uint32_t>(c.answers.begin(), c.answers.end());
    EXPECT_EQ(RaisedCode<EFXException>([&] { device_->DeviceList(); }), c.raised);
    EXPECT_EQ(provider_.Calls("lineInitialize"), c.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TapiInitialise,
    ::testing::Values(InitCase{"ReinitThenOk", {LineErrReinit, 0}, 0, 2},
                      InitCase{"ReinitTwice", {LineErrReinit, LineErrReinit}, LineErrorToCode(LineErrReinit), 2},
                      InitCase{"NoDriver", {LineErrNoDriver}, LineErrorToCode(LineErrNoDriver), 1},
                      InitCase{"UnexpectedAnswerDoesNotLoop",
                               {LineErrOperationUnavail, 0},
                               LineErrorToCode(LineErrOperationUnavail),
                               1}),
    [](const auto& info) { return info.param.name; });

// ---- The answering side ----------------------------------------------------------------------

namespace {

struct Reported {
    bool first, last;
    int message, param1, param3;
    bool operator==(const Reported& o) const
    {
        return first == o.first && last == o.last && message == o.message && param1 == o.param1 && param3 == o.param3;
    }
};

std::ostream& operator<<(std::ostream& out, const Reported& r)
{
    return out << "{" << r.first << "," << r.last << "," << r.message << ",0x" << std::hex << r.param1 << std::dec
               << "," << r.param3 << "}";
}

constexpr uint32_t kMediaUnknown = 2, kMediaInteractiveVoice = 4, kMediaG3Fax = 0x20;

} // namespace

TEST_F(TapiDevice, AnOfferedFaxCallIsAcceptedAndAnsweredOnTheAnswerOnRingthRing)
{
    std::vector<Reported> reports;
    device_->OnTapiStatus = [&](TFxCustomTapiDevice&, bool first, bool last, int, int message, int p1, int, int p3) {
        reports.push_back({first, last, message, p1, p3});
    };
    int connected = 0, opened = 0;
    device_->OnTapiConnect = [&] { ++connected; };
    device_->OnTapiPortOpen = [&] { ++opened; };
    device_->AnswerOnRing = 3;
    device_->AnswerCalls();
    EXPECT_TRUE(device_->LineActive());
    EXPECT_EQ(History(), std::vector<std::string>{"call started"});

    provider_.OfferCall(kMediaG3Fax);
    EXPECT_EQ(provider_.Calls("lineAccept"), 1);
    Pump();
    provider_.Ring(1);
    provider_.Ring(2);
    EXPECT_EQ(provider_.Calls("lineAnswer"), 0) << "answered before the AnswerOnRing-th ring";
    provider_.Ring(3);
    EXPECT_EQ(provider_.Calls("lineAnswer"), 1);
    Pump();
    ASSERT_TRUE(device_->Connected());
    provider_.Ring(4); // a late ring is not answered again
    EXPECT_EQ(provider_.Calls("lineAnswer"), 1);

    // The port runs over the answered call's descriptor.
    ASSERT_TRUE(port_.Open());
    port_.GetDispatcher()->WriteString("AT+FCLASS=1\r");
    EXPECT_EQ(pty_.Receive(12, 2000), "AT+FCLASS=1\r");
    Pump();
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(opened, 1);

    const int callState = int(LineCallStateMsg), devState = int(LineLineDevStateMsg), ringing = int(DevStateRinging);
    const std::vector<Reported> expected{
        {true, false, callState, int(CallStateOffering), 0},
        {false, false, callState, int(CallStateAccepted), 0},
        {false, false, devState, ringing, 1},
        {false, false, devState, ringing, 2},
        {false, false, devState, ringing, 3},
        {false, true, callState, int(CallStateConnected), 0},
        {false, false, devState, ringing, 4},
    };
    EXPECT_EQ(reports, expected);
    EXPECT_EQ(History(), (std::vector<std::string>{"call started", "  accepting", "  answering", "  connected"}));

    device_->CancelCall();
    EXPECT_FALSE(port_.Open());
    EXPECT_FALSE(provider_.LineOpen());
    EXPECT_EQ(provider_.ActiveCall(), 0u);
    EXPECT_EQ(History(), (std::vector<std::string>{"call started", "  accepting", "  answering", "  connected",
                                                   "  cancelled", "  dropped", "call finished"}));
}

TEST_F(TapiDevice, AnOfferedCallIsTakenOnlyInADataFaxOrUnknownMediaMode)
{
    provider_.devices.push_back(
        LineDeviceInfo{"Voice modem", MediaModeDataModem | MediaModeAutomatedVoice, LineFeatureMakeCall, true});
    struct Case {
        uint32_t media;
        bool voice;
        bool taken;
    } cases[] = {
        {kMediaG3Fax, false, true},
        {MediaModeDataModem, false, true},
        {kMediaUnknown, false, true},
        {kMediaInteractiveVoice, false, false},
        {MediaModeAutomatedVoice, false, false},
        {MediaModeAutomatedVoice, true, true},
        {kMediaInteractiveVoice, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("media mode " + std::to_string(c.media) + (c.voice ? " with voice" : ""));
        device_->SetSelectedDevice("Voice modem");
        device_->SetEnableVoice(c.voice);
        std::vector<Reported> reports;
        device_->OnTapiStatus = [&](TFxCustomTapiDevice&, bool first, bool last, int, int message, int p1, int,
                                    int p3) {
            reports.push_back({first, last, message, p1, p3});
        };
        int accepts = provider_.Calls("lineAccept"), answers = provider_.Calls("lineAnswer");
        device_->AnswerCalls();
        provider_.OfferCall(c.media);
        Pump();
        provider_.Ring(1);
        provider_.Ring(2);
        Pump();
        EXPECT_EQ(provider_.Calls("lineAccept") - accepts, c.taken ? 1 : 0);
        EXPECT_EQ(provider_.Calls("lineAnswer") - answers, c.taken ? 1 : 0);
        EXPECT_EQ(device_->Connected(), c.taken);
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.front() == (Reported{true, false, int(LineCallStateMsg), int(CallStateOffering), 0}),
                  c.taken);
        if (!c.taken) {
            // The call left alone ends without touching the line, which waits for the next one.
            provider_.SetCallState(CallStateIdle);
            EXPECT_TRUE(device_->LineActive());
            EXPECT_TRUE(provider_.LineOpen());
            EXPECT_FALSE(port_.Open());
        } else {
            // A voice call's sound is not for the port: its DTMF digits are listened to instead.
            EXPECT_EQ(port_.Open(), !c.voice);
            EXPECT_EQ(provider_.DigitModes(), c.voice ? DigitModeDtmf : 0u);
        }
        device_->CancelCall();
        EXPECT_FALSE(provider_.LineOpen());
        EXPECT_FALSE(port_.Open());
        device_->OnTapiStatus = nullptr;
    }
}

TEST_F(TapiDevice, AnOfferedCallWithoutCallInformationRaisesUnexpected)
{
    std::vector<int> codes;
    device_->OnLineException = [&](const std::exception& e) {
        auto* unexpected = dynamic_cast<const ETapiUnexpected*>(&e);
        codes.push_back(unexpected ? unexpected->ErrorCode() : 1);
    };
    device_->AnswerCalls();
    provider_.always["lineGetCallInfo"] = LineErrOperationFailed;
    provider_.OfferCall(kMediaG3Fax);
    EXPECT_EQ(codes, std::vector<int>{ecTapiUnexpected});
    EXPECT_EQ(provider_.Calls("lineAccept"), 0);
    provider_.Ring(2);
    EXPECT_EQ(provider_.Calls("lineAnswer"), 0);
    EXPECT_EQ(History(), std::vector<std::string>{"call started"});
    device_->CancelCall();
    EXPECT_FALSE(provider_.LineOpen());
}

TEST_F(TapiDevice, ACallThatCannotBeAnsweredEndsAsAFailedCall)
{
    struct Case {
        const char* what;
        bool atOnce; // lineAnswer fails itself, else its reply does
    } cases[] = {{"failing at once", true}, {"failing in its reply", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::system(("rm -f '" + log_.TapiHistoryName + "'").c_str());
        int failed = 0, opened = 0;
        device_->OnTapiFail = [&] { ++failed; };
        device_->OnTapiPortOpen = [&] { ++opened; };
        if (c.atOnce)
            provider_.results["lineAnswer"] = {LineErrResourceUnavail};
        else
            provider_.answerReply = LineErrOperationFailed;
        device_->AnswerCalls();
        provider_.OfferCall(kMediaG3Fax);
        Pump();
        provider_.Ring(1);
        provider_.Ring(2);
        Pump();
        EXPECT_FALSE(device_->Connected());
        EXPECT_FALSE(device_->LineActive());
        EXPECT_FALSE(provider_.LineOpen());
        EXPECT_EQ(provider_.ActiveCall(), 0u);
        EXPECT_FALSE(port_.Open());
        EXPECT_EQ(failed, 1);
        EXPECT_EQ(opened, 0);
        EXPECT_EQ(History(), (std::vector<std::string>{"call started", "  accepting", "  answering", "  dropped",
                                                       "call finished", "  dial failed"}));
        provider_.answerReply = 0;
    }
}

TEST_F(TapiDevice, ARingThatComesWhileTheCallIsAcceptedLeavesTheAnswerToTheNextRing)
{
    device_->AnswerOnRing = 1;
    device_->AnswerCalls();
    // The first ring arrives with the offer, while the line device waits for the accept's reply.
    zn::platform::MessageWindow far("far end", [&](uint32_t, zn::platform::WParam, zn::platform::LParam) {
        provider_.Ring(1);
        return zn::platform::LResult(0);
    });
    zn::platform::PostMessageTo(far.Handle(), 0x400, 0, 0);
    provider_.OfferCall(kMediaG3Fax);
    EXPECT_EQ(provider_.Calls("lineAccept"), 1);
    EXPECT_EQ(provider_.Calls("lineAnswer"), 0);
    EXPECT_TRUE(device_->LineActive());
    provider_.Ring(2);
    Pump();
    EXPECT_EQ(provider_.Calls("lineAnswer"), 1);
    EXPECT_TRUE(device_->Connected());
    device_->CancelCall();
}

// ---- Caller ID, DTMF digits and the other line messages ---------------------------------------

namespace {

// The line answering a call of `media`, connected on the second ring.
void AnswerACall(TFxCustomTapiDevice& device, ScriptedLineProvider& provider, uint32_t media)
{
    device.AnswerOnRing = 2;
    device.AnswerCalls();
    provider.OfferCall(media);
    provider.Ring(1);
    provider.Ring(2);
}

struct CallerIdCase {
    const char* name;
    uint32_t flags;
    const char* number;
    const char* callerName;
    const char* shownNumber;
    const char* shownName;
};

void PrintTo(const CallerIdCase& c, std::ostream* out) { *out << c.name; }

class TapiDeviceCallerId : public TapiDevice, public ::testing::WithParamInterface<CallerIdCase> {};

} // namespace

TEST_P(TapiDeviceCallerId, TheCallersNumberAndNameComeAsTheUserSeesThem)
{
    const CallerIdCase& c = GetParam();
    std::vector<std::pair<std::string, std::string>> callers;
    device_->OnTapiCallerID = [&](TFxCustomTapiDevice& cp, const std::string& id, const std::string& name) {
        EXPECT_EQ(&cp, device_.get());
        callers.push_back({id, name});
    };
    device_->AnswerCalls();
    provider_.OfferCall(kMediaG3Fax);
    Pump();
    // Another change of the call's information says nothing of the caller.
    provider_.Send(LineCallInfoMsg, 0x4 /* media mode */);
    EXPECT_TRUE(callers.empty());
    provider_.CallerId(c.flags, c.number, c.callerName);
    EXPECT_EQ(callers, (std::vector<std::pair<std::string, std::string>>{{c.shownNumber, c.shownName}}));
    device_->CancelCall();
}

INSTANTIATE_TEST_SUITE_P(
    Flags, TapiDeviceCallerId,
    ::testing::Values(
        CallerIdCase{"NumberAndName", CallerIdAddress, "  5551234 ", " JOHN DOE\t", "5551234", "JOHN DOE"},
        CallerIdCase{"NumberWithoutName", CallerIdAddress, "5551234", "", "5551234", ""},
        CallerIdCase{"Blocked", CallerIdBlocked, "", "", "Blocked", ""},
        CallerIdCase{"OutOfArea", CallerIdOutOfArea, "", "", "Out of area", ""},
        CallerIdCase{"Unknown", CallerIdUnknown, "", "", "Unknown", ""},
        CallerIdCase{"Unavailable", CallerIdUnavail, "", "", "Unavailable", ""},
        CallerIdCase{"ANameWithoutANumber", CallerIdUnavail, "", "JOHN DOE", "Unavailable", "JOHN DOE"},
        CallerIdCase{"AnAddressWinsOverTheOtherFlags", CallerIdAddress | CallerIdBlocked, "5551234", "", "5551234",
                     ""}),
    [](const auto& info) { return info.param.name; });

TEST_F(TapiDevice, TheCallerOfACallTheLineLeftAloneIsNotReported)
{
    int callers = 0;
    device_->OnTapiCallerID = [&](TFxCustomTapiDevice&, const std::string&, const std::string&) { ++callers; };
    device_->AnswerCalls();
    provider_.OfferCall(kMediaInteractiveVoice); // not taken without EnableVoice
    provider_.CallerId(CallerIdAddress, "5551234", "JOHN DOE");
    EXPECT_EQ(callers, 0);
    device_->CancelCall();
}

TEST_F(TapiDevice, AVoiceCallsDigitsComeAsDtmfEventsAndReceivedDigitLines)
{
    provider_.devices.push_back(
        LineDeviceInfo{"Voice modem", MediaModeDataModem | MediaModeAutomatedVoice, LineFeatureMakeCall, true});
    device_->SetSelectedDevice("Voice modem");
    device_->SetEnableVoice(true);
    std::string digits;
    device_->OnTapiDTMF = [&](TFxCustomTapiDevice& cp, char digit, int32_t error) {
        EXPECT_EQ(&cp, device_.get());
        EXPECT_EQ(error, 0);
        digits += digit;
    };
    std::vector<TTapiLogCode> logged;
    device_->OnTapiLog = [&](TFxCustomTapiDevice&, TTapiLogCode code) { logged.push_back(code); };
    AnswerACall(*device_, provider_, MediaModeAutomatedVoice);
    Pump();
    ASSERT_TRUE(device_->Connected());
    EXPECT_FALSE(port_.Open());
    EXPECT_EQ(provider_.Calls("lineMonitorDigits"), 1);
    ASSERT_EQ(provider_.DigitModes(), DigitModeDtmf);
    for (char digit : std::string("1#\0 9", 5))
        provider_.Send(LineMonitorDigitsMsg, uint8_t(digit), DigitModeDtmf, 0);
    EXPECT_EQ(digits, "1#9");
    device_->CancelCall();
    EXPECT_EQ(History(), (std::vector<std::string>{"call started", "  accepting", "  answering", "  connected",
                                                   "  received digit", "  received digit", "  received digit",
                                                   "  cancelled", "  dropped", "call finished"}));
    EXPECT_EQ(logged, (std::vector<TTapiLogCode>{ltapiCallStart, ltapiAccept, ltapiAnswer, ltapiConnect,
                                                 ltapiReceivedDigit, ltapiReceivedDigit, ltapiReceivedDigit,
                                                 ltapiCancel, ltapiDrop, ltapiCallFinish}));
}

TEST_F(TapiDevice, ADataCallsDigitsAreNotMonitored)
{
    std::string digits;
    device_->OnTapiDTMF = [&](TFxCustomTapiDevice&, char digit, int32_t) { digits += digit; };
    AnswerACall(*device_, provider_, kMediaG3Fax);
    Pump();
    ASSERT_TRUE(device_->Connected());
    EXPECT_TRUE(port_.Open());
    EXPECT_EQ(provider_.Calls("lineMonitorDigits"), 0);
    provider_.Digit('5');
    EXPECT_EQ(digits, "");
    device_->CancelCall();
}

TEST_F(TapiDevice, MediaToneAndRequestMessagesAreReportedAndAGenerateEndIsNot)
{
    std::vector<Reported> reports;
    device_->OnTapiStatus = [&](TFxCustomTapiDevice&, bool first, bool last, int, int message, int p1, int, int p3) {
        reports.push_back({first, last, message, p1, p3});
    };
    device_->AnswerCalls();
    provider_.OfferCall(kMediaG3Fax);
    Pump();
    reports.clear();
    provider_.Send(LineGenerateMsg, 1 /* done */);
    provider_.Send(LineMonitorMediaMsg, kMediaG3Fax);
    provider_.Send(LineMonitorToneMsg, 0x77);
    provider_.Send(LineRequestMsg, 1);
    EXPECT_EQ(reports, (std::vector<Reported>{{false, false, int(LineMonitorMediaMsg), int(kMediaG3Fax), 0},
                                              {false, false, int(LineMonitorToneMsg), 0x77, 0},
                                              {false, false, int(LineRequestMsg), 1, 0}}));
    device_->CancelCall();
}
