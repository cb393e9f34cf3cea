#include "comms/tapi/tapi_device.h"

#include "comms/base/error_codes.h"
#include "comms/base/exceptions.h"
#include "comms/base/string_resource.h"
#include "platform/clock.h"
#include "platform/date_format.h"
#include "platform/folders.h"
#include "platform/ini_file.h"
#include "platform/io_error.h"
#include "platform/messages.h"
#include "platform/printable_text.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <signal.h>
#include <thread>
#include <unistd.h>

namespace zn::comms {

using namespace tapi;

namespace {

constexpr uint32_t kMsgShutdown = 0x7EBA;
constexpr uintptr_t kConnected = 0, kPortOpen = 1, kPortClose = 2, kFail = 3, kLineCreate = 4;

const char* const kLogTexts[] = {"",
                                 "call started",
                                 "call finished\r\n",
                                 "  dialing ",
                                 "  accepting",
                                 "  answering",
                                 "  connected",
                                 "  cancelled",
                                 "  dropped",
                                 "  busy",
                                 "  dial failed",
                                 "  received digit"};

bool ProcessAlive(long pid) { return ::kill(pid_t(pid), 0) == 0 || errno == EPERM; }

// A wait that keeps the GUI thread's messages moving.
template <typename Done>
bool PumpUntil(Done done, int timeoutMs)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        if (platform::PumpOneMessage() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

// The longest caller number or name kept: caller ID services send at most 20 digits and 50
// characters of name.
constexpr int kCallerIdChars = 50;

std::string CallerIdText(uint32_t flags, const std::string& number)
{
    if (!(flags & CallerIdAddress)) {
        if (flags & CallerIdBlocked)
            return ErrorStrings().TextById(CallerIdBlockedTextId);
        if (flags & CallerIdOutOfArea)
            return ErrorStrings().TextById(CallerIdOutOfAreaTextId);
        if (flags & CallerIdUnknown)
            return "Unknown";
        if (flags & CallerIdUnavail)
            return "Unavailable";
    }
    return TrimmedText(number);
}

// ---- TFxTapiLog --------------------------------------------------------------------------------

std::string TFxTapiLog::LogText(TTapiLogCode code, const std::string& number)
{
    if (code <= ltapiNone || code > ltapiReceivedDigit)
        return {};
    std::string text = kLogTexts[code];
    if (code == ltapiDial)
        text += number;
    return text;
}

void TFxTapiLog::UpdateLogFile(TTapiLogCode code)
{
    if (TapiHistoryName.empty())
        return;
    std::string text = LogText(code, TapiDevice ? TapiDevice->Number() : std::string());
    if (text.empty())
        return;
    std::string line = platform::FormatDateTime("c", platform::Now()) + " : " + text + "\r\n";
    std::string path = platform::ResolvePath(TapiHistoryName);
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) {
        int code = platform::ErrnoToIoError(errno);
        throw EInOutError(ErrorCodeToText(-code), code);
    }
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
}

// ---- TFxCustomTapiDevice ----------------------------------------------------------------------

TFxCustomTapiDevice::TFxCustomTapiDevice()
{
    window_ = std::make_unique<platform::MessageWindow>("fxTapiDevice",
                                                        [this](uint32_t msg, platform::WParam w, platform::LParam l) {
                                                            if (msg == kMsgShutdown) {
                                                                try {
                                                                    ShutdownTapi();
                                                                } catch (...) {
                                                                    // A failed shutdown leaves nothing to do: the application is gone either way.
                                                                }
                                                                return platform::LResult(0);
                                                            }
                                                            if (msg != MsgTapiEvent)
                                                                return platform::LResult(0);
                                                            switch (w) {
                                                            case kConnected:
                                                                if (OnTapiConnect)
                                                                    OnTapiConnect();
                                                                break;
                                                            case kPortOpen:
                                                                if (OnTapiPortOpen)
                                                                    OnTapiPortOpen();
                                                                break;
                                                            case kPortClose:
                                                                if (OnTapiPortClose)
                                                                    OnTapiPortClose();
                                                                break;
                                                            case kFail:
                                                                if (OnTapiFail)
                                                                    OnTapiFail();
                                                                break;
                                                            case kLineCreate:
                                                                LineCreate(uint32_t(l), uintptr_t(l), 0, 0);
                                                                break;
                                                            }
                                                            return platform::LResult(0);
                                                        });
}

TFxCustomTapiDevice::~TFxCustomTapiDevice()
{
    SetStatusDisplay(nullptr);
    try {
        ShutdownTapi();
    } catch (...) {
    }
}

void TFxCustomTapiDevice::SetComPort(TFxCustomComPort* port)
{
    port_ = port;
    if (port_ && port_->TapiMode() == tmAuto)
        port_->SetTapiMode(tmOn);
}

void TFxCustomTapiDevice::CheckLine(int32_t result)
{
    if (result >= 0)
        return;
    int code = result == ecTapiLoadFail || result == ecTapiGetAddrFail ? result : LineErrorToCode(uint32_t(result));
    CheckErrorCode(this, code);
}

std::string TFxCustomTapiDevice::StatePath() const
{
    return platform::ResolvePath(platform::ProgramFolder() + "/" + TapiStateFileName);
}

void TFxCustomTapiDevice::RemoveStaleStates()
{
    platform::IniFile state(StatePath());
    for (const std::string& key : state.ReadSection("TAPI")) {
        if (key.size() != 9 || key[0] != '$')
            continue;
        long pid = std::strtol(key.c_str() + 1, nullptr, 16);
        if (pid > 0 && ProcessAlive(pid))
            continue;
        (void)lineShutdown(HLineApp(state.ReadInteger("TAPI", key, 0)));
        state.DeleteKey("TAPI", key);
    }
}

void TFxCustomTapiDevice::InitializeTapi()
{
    if (app_ || initialising_)
        return;
    initialising_ = true;
    struct Done {
        bool& f;
        ~Done() { f = false; }
    } done{initialising_};
    RemoveStaleStates();
    auto callback = [this](uint32_t device, uint32_t message, uintptr_t, uintptr_t p1, uintptr_t p2, uintptr_t p3) {
        // An exception in a line message goes no further than the message: to the application's
        // handler.
        try {
            OnLineMessage(device, message, p1, p2, p3);
        } catch (const std::exception& e) {
            if (OnLineException)
                OnLineException(e);
            else
                std::fprintf(stderr, "zn: line message %u failed: %s\n", message, e.what());
        } catch (...) {
            std::fprintf(stderr, "zn: line message %u failed\n", message);
        }
    };
    uint32_t count = 0;
    int32_t r = lineInitialize(&app_, nullptr, callback, "zn", &count);
    if (uint32_t(r) == LineErrReinit) {
        // TAPI is being reinitialised: give it time, then once more.
        PumpUntil([] { return false; }, ReinitRetryMs);
        r = lineInitialize(&app_, nullptr, callback, "zn", &count);
    }
    // Any other answer than 0 fails with its own code (a loop on an unexpected answer would never
    // end).
    if (r != 0) {
        app_ = 0;
        CheckLine(r < 0 ? r : int32_t(LineErrOperationFailed));
    }
    if (deviceCount_ == 0)
        deviceCount_ = count;
    char key[16];
    std::snprintf(key, sizeof key, "$%08X", unsigned(::getpid()));
    platform::IniFile(StatePath()).WriteInteger("TAPI", key, int(app_));
    line_ = 0;
    call_ = 0;
}

void TFxCustomTapiDevice::ShutdownTapi()
{
    if (!app_)
        return;
    HangUp(true);
    HLineApp app = app_;
    app_ = 0;
    char key[16];
    std::snprintf(key, sizeof key, "$%08X", unsigned(::getpid()));
    platform::IniFile(StatePath()).DeleteKey("TAPI", key);
    CheckLine(lineShutdown(app));
}

std::vector<LineDeviceEntry> ListLineDeviceEntries(HLineApp app, uint32_t count, bool filter)
{
    std::vector<LineDeviceEntry> entries;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t version = 0;
        StructurePtr<LINEDEVCAPS> caps;
        if (lineNegotiateAPIVersion(app, i, ApiVersion14, ApiVersion14, &version, nullptr) != 0
            || lineGetDevCaps(app, i, version, 0, caps) != 0)
            continue;
        if (filter) {
            if (!(caps->mediaModes & MediaModeDataModem) && !(caps->mediaModes & MediaModeAutomatedVoice))
                continue;
            if (!(caps->lineFeatures & LineFeatureMakeCall))
                continue;
        }
        entries.push_back({i, StructureText(caps.get(), caps->lineNameOffset, caps->lineNameSize)});
    }
    return entries;
}

std::vector<std::string> ListLineDevices(HLineApp app, uint32_t count, bool filter)
{
    std::vector<std::string> names;
    for (LineDeviceEntry& e : ListLineDeviceEntries(app, count, filter))
        names.push_back(std::move(e.name));
    return names;
}

std::vector<std::string> TFxCustomTapiDevice::DeviceList()
{
    InitializeTapi();
    return ListLineDevices(app_, deviceCount_, FilterUnsupportedDevices);
}

int TFxCustomTapiDevice::DeviceByName(const std::string& name)
{
    InitializeTapi();
    // Identifiers, not places in the list: a device that went leaves a gap.
    for (const LineDeviceEntry& e : ListLineDeviceEntries(app_, deviceCount_, FilterUnsupportedDevices))
        if (e.name == name)
            return int(e.id);
    return -1;
}

uint32_t TFxCustomTapiDevice::ChooseDevice()
{
    int id = selected_.empty() ? -1 : DeviceByName(selected_);
    if (id >= 0)
        return uint32_t(id);
    std::vector<LineDeviceEntry> devices = ListLineDeviceEntries(app_, deviceCount_, FilterUnsupportedDevices);
    if (devices.size() == 1 && selected_.empty()) {
        selected_ = devices[0].name;
        return devices[0].id;
    }
    std::string chosen;
    if ((!ShowPorts && !ShowTapiDevices) || !PickDevice || !PickDevice(chosen))
        CheckErrorCode(this, ecTapiNoSelect);
    id = DeviceByName(chosen);
    if (id < 0)
        CheckErrorCode(this, ecTapiNoSelect);
    selected_ = chosen;
    return uint32_t(id);
}

void TFxCustomTapiDevice::SetSelectedDevice(const std::string& name)
{
    selected_ = name;
    if (enableVoice_)
        SetEnableVoice(true);
}

void TFxCustomTapiDevice::SetEnableVoice(bool on)
{
    enableVoice_ = on;
    if (!on || selected_.empty())
        return;
    bool voice = false;
    try {
        InitializeTapi();
        int id = DeviceByName(selected_);
        uint32_t version = 0;
        StructurePtr<LINEDEVCAPS> caps;
        voice = id >= 0
                && lineNegotiateAPIVersion(app_, uint32_t(id), ApiVersion14, ApiVersion14, &version, nullptr) == 0
                && lineGetDevCaps(app_, uint32_t(id), version, 0, caps) == 0
                && (caps->mediaModes & MediaModeAutomatedVoice);
    } catch (const EFXException&) {
    }
    if (!voice) {
        enableVoice_ = false;
        CheckErrorCode(this, ecTapiVoiceNotSupported);
    }
}

int TFxCustomTapiDevice::SelectDevice()
{
    DeviceSelectionChoice choice;
    choice.showTapiDevices = ShowTapiDevices;
    choice.showPorts = ShowPorts;
    choice.filter = FilterUnsupportedDevices;
    choice.kind = port_ ? port_->TapiMode() : tmAuto;
    choice.comNumber = port_ && choice.kind == tmOff ? port_->ComNumber() : 0;
    choice.deviceName = selected_;
    if (!SelectionWindow || !SelectionWindow(choice))
        return 2;
    if (choice.kind == tmOff) {
        if (port_) {
            port_->SetTapiMode(tmOff);
            port_->SetComNumber(uint16_t(choice.comNumber));
        }
    } else {
        if (port_)
            port_->SetTapiMode(tmAuto);
        SetSelectedDevice(choice.deviceName); // EnableVoice applied again
    }
    return 1;
}

void TFxCustomTapiDevice::OpenLine()
{
    device_ = int(ChooseDevice());
    CheckLine(lineOpen(app_, uint32_t(device_), &line_, ApiVersion14, 0, reinterpret_cast<uintptr_t>(this),
                       dialing_ ? PrivilegeNone : PrivilegeOwner,
                       enableVoice_ ? MediaModeAutomatedVoice : MediaModeDataModem, nullptr));
    lineActive_ = callPlaced_ = true;
    CheckLine(lineSetStatusMessages(line_, 0x1FFFFFF, 0x1FF));
    lineOpen_ = true;
    if (!dialing_)
        Log(ltapiCallStart);
}

void TFxCustomTapiDevice::CheckIdle()
{
    if (!port_)
        CheckErrorCode(this, ecPortNotAssigned);
    if (port_->TapiMode() == tmAuto)
        port_->SetTapiMode(tmOn);
    if (port_->TapiMode() != tmOn)
        CheckErrorCode(this, ecTapiNotSet);
    if (call_ || lineActive_)
        CheckErrorCode(this, ecTapiBusy);
}

void TFxCustomTapiDevice::AnswerCalls()
{
    CheckIdle();
    InitializeTapi();
    passthrough_ = false;
    dialing_ = false;
    cancelled_ = false;
    failReported_ = false;
    connected_ = false;
    answered_ = false;
    OpenLine();
}

void TFxCustomTapiDevice::Offered(HCall call)
{
    StructurePtr<LINECALLINFO> info;
    if (lineGetCallInfo(call, info) != 0 || !info)
        throw ETapiUnexpected(ErrorCodeToText(ecTapiUnexpected), ecTapiUnexpected);
    // Data, fax and calls of unknown kind; voice calls only for a line that takes them.
    const uint32_t taken = enableVoice_ ? 0x3A : 0x32;
    if (!(info->mediaMode & taken) || call_)
        return; // not ours (or offered again)
    call_ = call;
    answered_ = false;
    WaitForReply(lineAccept(call_, nullptr, 0));
    Log(ltapiAccept);
}

bool TFxCustomTapiDevice::Ringing(uint32_t count)
{
    // While another wait runs (the accept's, when a ring comes with the offer) the next ring
    // answers: waits do not nest.
    if (!call_ || answered_ || connected_ || count < AnswerOnRing || waiting_)
        return true;
    answered_ = true;
    int32_t r = WaitForReply(lineAnswer(call_, nullptr, 0));
    Log(ltapiAnswer);
    // A call that cannot be answered ends here, as one that could not be placed does.
    if (r < 0) {
        HangUp(false);
        return false;
    }
    return true;
}

void TFxCustomTapiDevice::OpenPassthrough()
{
    CheckIdle();
    InitializeTapi();
    passthrough_ = true;
    dialing_ = false;
    // The line is opened once to answer (so that the device is chosen), then closed again.
    OpenLine();
    HangUp(true);
    MakeCall();
}

void TFxCustomTapiDevice::MakeCall()
{
    cancelled_ = false;
    failReported_ = false;
    connected_ = false;
    dialing_ = true;
    OpenLine();
    LINECALLPARAMS params = PassthroughCallParams(enableVoice_ ? MediaModeAutomatedVoice : MediaModeDataModem);
    params.callParamFlags = 2;
    params.addressMode = 1;
    Log(ltapiDial);
    int32_t r = WaitForReply(lineMakeCall(line_, &call_, number_.c_str(), 0, &params));
    if (r < 0) {
        Log(ltapiDialFail);
        HangUp(true);
        if (!OnTapiFail)
            CheckErrorCode(this, ecTapiCallUnavail);
        Post(kFail);
        return;
    }
    // The call reaches CONNECTED through the line messages; the port is handed over there.
    WaitForState(CallStateConnected);
}

int32_t TFxCustomTapiDevice::WaitForReply(int32_t request)
{
    if (request <= 0)
        return request;
    if (waiting_)
        return int32_t(LineErrOperationFailed);
    waiting_ = true;
    awaited_ = request;
    replied_ = false;
    bool arrived = PumpUntil([this] { return replied_ || !lineActive_; }, WaitMs);
    waiting_ = false;
    if (!arrived)
        return int32_t(LineErrOperationFailed);
    return replied_ ? replyResult_ : int32_t(LineErrOperationFailed);
}

bool TFxCustomTapiDevice::WaitForState(uint32_t state)
{
    if (waiting_)
        return false;
    waiting_ = true;
    bool reached = PumpUntil([this, state] { return callState_ == state || !lineActive_; }, WaitMs);
    waiting_ = false;
    return reached && callState_ == state;
}

void TFxCustomTapiDevice::OnLineMessage(uint32_t device, uint32_t message, uintptr_t p1, uintptr_t p2, uintptr_t p3)
{
    switch (message) {
    // Taken up by the message window, after the provider has finished delivering.
    case LineCreateMsg: Post(kLineCreate, intptr_t(p1)); break;
    case LineCallInfoMsg: LineCallInfo(device, p1, p2, p3); break;
    case LineCallStateMsg: LineCallState(device, p1, p2, p3); break;
    case LineCloseMsg: LineClose(device, p1, p2, p3); break;
    case LineGenerateMsg: LineGenerate(device, p1, p2, p3); break;
    case LineLineDevStateMsg: LineDevState(device, p1, p2, p3); break;
    case LineMonitorDigitsMsg: LineMonitorDigits(device, p1, p2, p3); break;
    case LineMonitorMediaMsg: LineMonitorMedia(device, p1, p2, p3); break;
    case LineMonitorToneMsg: LineMonitorTone(device, p1, p2, p3); break;
    case LineReplyMsg: LineReply(device, p1, p2, p3); break;
    case LineRequestMsg: LineRequest(device, p1, p2, p3); break;
    default: break;
    }
}

void TFxCustomTapiDevice::LineReply(uint32_t, uintptr_t p1, uintptr_t p2, uintptr_t)
{
    if (int32_t(p1) == awaited_) {
        replyResult_ = int32_t(uint32_t(p2));
        replied_ = true;
    }
}

void TFxCustomTapiDevice::LineClose(uint32_t, uintptr_t, uintptr_t, uintptr_t)
{
    line_ = 0;
    call_ = 0;
    HangUp(true);
}

void TFxCustomTapiDevice::LineCreate(uint32_t, uintptr_t p1, uintptr_t, uintptr_t)
{
    if (uint32_t(p1) >= deviceCount_)
        deviceCount_ = uint32_t(p1) + 1;
    if (OnLineCreate)
        OnLineCreate(uint32_t(p1));
}

void TFxCustomTapiDevice::LineDevState(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3)
{
    if (p1 == DevStateReinit && (p2 == LineLineDevStateMsg || p2 == LineCreateMsg))
        OnLineMessage(device, uint32_t(p2), p3, 0, 0); // the message the reinitialisation stands for
    else if (p1 == DevStateReinit) {
        // TAPI wants every application to shut down: after this message, as the provider is
        // still delivering it.
        HangUp(true);
        if (window_)
            platform::PostMessageTo(window_->Handle(), kMsgShutdown, 0, 0);
    } else if (p1 == DevStateDisconnected || p1 == DevStateOutOfService || p1 == DevStateMaintenance)
        HangUp(true);
    else if (p1 == DevStateRinging && Ringing(uint32_t(p3)))
        Report(false, false, device, LineLineDevStateMsg, p1, p2, p3);
}

void TFxCustomTapiDevice::LineCallState(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t)
{
    const uint32_t message = LineCallStateMsg;
    // A line open to answer hears of every call on it: those it left alone, and others offered
    // while it has one, are none of its business.
    if (call_ ? HCall(device) != call_ : p1 != CallStateOffering && lineActive_ && !dialing_)
        return;
    callState_ = uint32_t(p1);
    stateChanged_ = true;
    switch (p1) {
    case CallStateConnected: {
        if (connected_)
            break;
        connected_ = true;
        // A voice call's sound is not for the port: its digits are listened to instead.
        int32_t monitored = 0;
        if (enableVoice_)
            monitored = lineMonitorDigits(call_, DigitModeDtmf);
        else
            HandOver();
        Report(false, true, device, message, p1, p2, 0);
        Post(kConnected);
        Log(ltapiConnect);
        CheckLine(monitored);
        break;
    }
    case CallStateBusy:
        Log(ltapiBusy);
        Report(false, false, device, message, p1, p2, 0);
        HangUp(false);
        break;
    case CallStateSpecialInfo:
        Report(false, false, device, message, p1, p2, 0);
        HangUp(false);
        break;
    case CallStateDisconnected:
        Report(false, false, device, message, p1, p2, 0);
        if (p2 == 0x20)
            Log(ltapiBusy);
        HangUp(false);
        break;
    case CallStateIdle: HangUp(false); break;
    case CallStateOffering:
        Offered(HCall(device));
        if (call_ == HCall(device))
            Report(true, false, device, message, p1, p2, 0);
        break;
    default: // accepted, dial tone, dialing, ringback, proceeding
        Report(p1 == CallStateDialtone, false, device, message, p1, p2, 0);
        break;
    }
}

void TFxCustomTapiDevice::LineCallInfo(uint32_t device, uintptr_t p1, uintptr_t, uintptr_t)
{
    if (!call_ || HCall(device) != call_)
        return; // a call this line left alone
    StructurePtr<LINECALLINFO> info;
    if (lineGetCallInfo(call_, info) != 0 || !info)
        throw ETapiUnexpected(ErrorCodeToText(ecTapiUnexpected), ecTapiUnexpected);
    if ((p1 & CallInfoStateCallerId) && OnTapiCallerID) {
        // The number and name are whatever the line (or a noisy modem) sent: only their printable
        // text goes on, as it goes into logs and onto the screen.
        const std::string number =
            platform::PrintableText(StructureText(info.get(), info->callerIdOffset, info->callerIdSize), kCallerIdChars);
        const std::string name = platform::PrintableText(
            StructureText(info.get(), info->callerIdNameOffset, info->callerIdNameSize), kCallerIdChars);
        OnTapiCallerID(*this, CallerIdText(info->callerIdFlags, number), TrimmedText(name));
    }
}

void TFxCustomTapiDevice::LineMonitorDigits(uint32_t device, uintptr_t p1, uintptr_t, uintptr_t)
{
    char digit = char(p1 & 0xFF);
    if (!call_ || HCall(device) != call_ || digit == '\0' || digit == ' ')
        return;
    if (OnTapiDTMF)
        OnTapiDTMF(*this, digit, 0);
    Log(ltapiReceivedDigit);
}

// Tones and digits are not generated here: there is nothing to do when they end.
void TFxCustomTapiDevice::LineGenerate(uint32_t, uintptr_t, uintptr_t, uintptr_t) {}

void TFxCustomTapiDevice::LineMonitorMedia(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t)
{
    Report(false, false, device, LineMonitorMediaMsg, p1, p2, 0);
}

void TFxCustomTapiDevice::LineMonitorTone(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t)
{
    Report(false, false, device, LineMonitorToneMsg, p1, p2, 0);
}

void TFxCustomTapiDevice::LineRequest(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t)
{
    Report(false, false, device, LineRequestMsg, p1, p2, 0);
}

void TFxCustomTapiDevice::HandOver()
{
    if (!port_)
        return;
    port_->SetOpen(false);
    std::vector<uint8_t> buffer(1028);
    auto* id = reinterpret_cast<VARSTRING*>(buffer.data());
    id->totalSize = uint32_t(buffer.size());
    int32_t fd = -1;
    if (lineGetID(line_, 0, call_, CallSelectCall, id, "comm/datamodem") == 0 && id->stringSize >= 4)
        std::memcpy(&fd, buffer.data() + id->stringOffset, 4);
    port_->SetTapiHandle(fd);
    port_->SetOpen(true);
    port_->FlushInBuffer();
    port_->FlushOutBuffer();
    if (TFxBaseDispatcher* d = port_->GetDispatcher())
        d->SetDeviceName(selected_);
    Post(kPortOpen);
}

bool TFxCustomTapiDevice::ReleasePort()
{
    if (!port_)
        return false;
    bool wasOpen = port_->Open();
    port_->SetOpen(false);
    port_->SetTapiHandle(NoHandle);
    return wasOpen;
}

void TFxCustomTapiDevice::HangUp(bool)
{
    if (hangingUp_)
        return;
    hangingUp_ = true;
    struct Done {
        bool& f;
        ~Done() { f = false; }
    } done{hangingUp_};
    bool wasConnected = connected_;
    bool hadCall = lineActive_ || callPlaced_;
    bool portWasOpen = false;
    if (lineActive_) {
        portWasOpen = ReleasePort();
        if (call_) {
            StructurePtr<LINECALLSTATUS> status;
            if (lineGetCallStatus(call_, status) == 0 && status->callState != CallStateIdle) {
                WaitForReply(lineDrop(call_, nullptr, 0));
                WaitForState(CallStateIdle);
            }
            lineDeallocateCall(call_);
        }
        if (line_)
            lineClose(line_);
        call_ = line_ = 0;
        lineOpen_ = connected_ = lineActive_ = false;
        if (portWasOpen)
            Post(kPortClose);
        Log(ltapiDrop);
    }
    callPlaced_ = false;
    if (hadCall && !passthrough_) {
        Report(false, true, 0, 0, 0, 0, 0);
        Log(ltapiCallFinish);
        if (!wasConnected) {
            Log(ltapiDialFail);
            Post(kFail);
        }
    }
}

void TFxCustomTapiDevice::CancelCall()
{
    cancelled_ = true;
    Log(ltapiCancel);
    HangUp(true);
    if (passthrough_) {
        // The end of a passthrough call is written too, so that the history shows where it ended.
        Log(ltapiCallFinish);
        passthrough_ = false;
    }
}

void TFxCustomTapiDevice::Report(bool first, bool last, uint32_t device, uint32_t message, uintptr_t p1, uintptr_t p2,
                                 uintptr_t p3)
{
    if (passthrough_)
        return;
    if (status_)
        status_->UpdateDisplay(first, last, int(device), int(message), int(p1), int(p2), int(p3));
    if (OnTapiStatus && (message || p1 || p2 || p3))
        OnTapiStatus(*this, first, last, int(device), int(message), int(p1), int(p2), int(p3));
}

void TFxCustomTapiDevice::SetStatusDisplay(TFxAbstractTapiStatus* display)
{
    Relink<TFxCustomTapiDevice>(this, status_, display, &TFxAbstractTapiStatus::TapiDevice,
                                &TFxAbstractTapiStatus::SetTapiDevice);
}

// ---- TFxAbstractTapiStatus --------------------------------------------------------------------

TFxAbstractTapiStatus::~TFxAbstractTapiStatus()
{
    if (device_ && device_->StatusDisplay() == this)
        device_->SetStatusDisplay(nullptr);
}

void TFxAbstractTapiStatus::SetTapiDevice(TFxCustomTapiDevice* device)
{
    Relink<TFxAbstractTapiStatus>(this, device_, device, &TFxCustomTapiDevice::StatusDisplay,
                                  &TFxCustomTapiDevice::SetStatusDisplay);
}

void TFxCustomTapiDevice::Log(TTapiLogCode code)
{
    if (log_)
        log_->UpdateLogFile(code);
    if (OnTapiLog)
        OnTapiLog(*this, code);
}

void TFxCustomTapiDevice::Post(uintptr_t event, intptr_t param)
{
    if (event == kFail) {
        if (failReported_)
            return;
        failReported_ = true;
    }
    if (window_)
        platform::PostMessageTo(window_->Handle(), MsgTapiEvent, event, param);
}

} // namespace zn::comms
