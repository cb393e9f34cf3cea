#include "comms/tapi/scripted_line_provider.h"

#include "platform/messages.h"

#include <unistd.h>

namespace zn::comms::tapi {

namespace {
constexpr uint32_t kStepMsg = 0x7EB8;
}

ScriptedLineProvider::ScriptedLineProvider() = default;
ScriptedLineProvider::~ScriptedLineProvider() = default;

void ScriptedLineProvider::Later(std::function<void()> step)
{
    if (!window_)
        window_ = std::make_unique<platform::MessageWindow>("scripted lines",
                                                            [this](uint32_t msg, platform::WParam, platform::LParam) {
                                                                if (msg == kStepMsg && !later_.empty()) {
                                                                    auto next = std::move(later_.front());
                                                                    later_.pop_front();
                                                                    next();
                                                                }
                                                                return platform::LResult(0);
                                                            });
    later_.push_back(std::move(step));
    platform::PostMessageTo(window_->Handle(), kStepMsg, 0, 0);
}

int ScriptedLineProvider::Calls(const std::string& function) const
{
    std::lock_guard<std::mutex> g(lock_);
    auto it = calls_.find(function);
    return it == calls_.end() ? 0 : it->second;
}

uint32_t ScriptedLineProvider::LastRequest(const std::string& function) const
{
    std::lock_guard<std::mutex> g(lock_);
    auto it = lastRequest_.find(function);
    return it == lastRequest_.end() ? 0 : it->second;
}

uint32_t ScriptedLineProvider::Result(const std::string& function, uint32_t otherwise)
{
    std::lock_guard<std::mutex> g(lock_);
    ++calls_[function];
    auto once = results.find(function);
    if (once != results.end() && !once->second.empty()) {
        uint32_t r = once->second.front();
        once->second.pop_front();
        return r;
    }
    auto ever = always.find(function);
    return ever != always.end() ? ever->second : otherwise;
}

uint32_t ScriptedLineProvider::Request(const std::string& function)
{
    uint32_t r = Result(function, 0);
    if (r != 0 || !answerAsynchronously)
        return r;
    std::lock_guard<std::mutex> g(lock_);
    uint32_t id = nextRequest_++;
    lastRequest_[function] = id;
    return id;
}

void ScriptedLineProvider::Reply(uint32_t requestId, uint32_t result)
{
    if (LineCallback c = LineAppCallback())
        c(line_, LineReplyMsg, instance_, requestId, result, 0);
}

void ScriptedLineProvider::SetCallState(uint32_t state, uintptr_t mode)
{
    callState_ = state;
    if (LineCallback c = LineAppCallback())
        c(call_, LineCallStateMsg, instance_, state, mode, 0);
}

void ScriptedLineProvider::OfferCall(uint32_t mediaMode)
{
    if (!line_)
        return; // no line open: nobody hears of the call
    call_ = 0x300 + device_;
    callMedia_ = mediaMode;
    caller_ = CallInformation{};
    digitModes_ = 0;
    SetCallState(CallStateOffering);
}

void ScriptedLineProvider::Ring(uint32_t count)
{
    if (LineCallback c = LineAppCallback(); c && line_)
        c(line_, LineLineDevStateMsg, instance_, DevStateRinging, 1, count);
}

void ScriptedLineProvider::CallerId(uint32_t flags, const std::string& number, const std::string& name)
{
    caller_.callerIdFlags = flags;
    caller_.callerId = number;
    caller_.callerName = name;
    Send(LineCallInfoMsg, CallInfoStateCallerId);
}

void ScriptedLineProvider::Digit(char digit)
{
    if (call_ && (digitModes_ & DigitModeDtmf))
        Send(LineMonitorDigitsMsg, uint8_t(digit), DigitModeDtmf, ticks_ += 100);
}

void ScriptedLineProvider::Send(uint32_t message, uintptr_t p1, uintptr_t p2, uintptr_t p3)
{
    if (LineCallback c = LineAppCallback(); c && line_)
        c(call_, message, instance_, p1, p2, p3);
}

void ScriptedLineProvider::Reinit(uint32_t message, uintptr_t param)
{
    if (LineCallback c = LineAppCallback())
        c(line_, LineLineDevStateMsg, instance_, DevStateReinit, message, param);
}

void ScriptedLineProvider::AddDevice(const LineDeviceInfo& info)
{
    devices.push_back(info);
    std::map<HLineApp, LineCallback> apps = apps_; // a callback may shut its application down
    for (auto& [app, callback] : apps)
        if (callback)
            callback(uint32_t(devices.size() - 1), LineCreateMsg, 0, devices.size() - 1, 0, 0);
}

void ScriptedLineProvider::RemoveDevice(uint32_t device)
{
    gone.insert(device);
    if (line_ && device_ == device) {
        HLine line = line_;
        line_ = call_ = 0;
        callState_ = CallStateIdle;
        if (LineCallback c = LineAppCallback())
            c(line, LineCloseMsg, instance_, 0, 0, 0);
    }
}

bool ScriptedLineProvider::Offers(const std::string& function) const { return !missing.count(function); }

uint32_t ScriptedLineProvider::Initialize(HLineApp& app, LineCallback callback, const std::string&,
                                          uint32_t& deviceCount)
{
    uint32_t r = Result("lineInitialize", 0);
    if (r != 0)
        return r;
    app = nextApp_++;
    apps_[app] = std::move(callback);
    deviceCount = uint32_t(devices.size());
    return 0;
}

uint32_t ScriptedLineProvider::Shutdown(HLineApp app)
{
    uint32_t r = Result("lineShutdown", apps_.count(app) ? 0 : LineErrInvalAppHandle);
    if (r == 0)
        apps_.erase(app);
    return r;
}

uint32_t ScriptedLineProvider::NegotiateApiVersion(HLineApp, uint32_t device, uint32_t low, uint32_t high,
                                                   uint32_t& version)
{
    if (device >= devices.size())
        return Result("lineNegotiateAPIVersion", LineErrBadDeviceId);
    if (gone.count(device))
        return Result("lineNegotiateAPIVersion", LineErrNoDevice);
    version = ApiVersion14;
    return Result("lineNegotiateAPIVersion",
                  low <= ApiVersion14 && ApiVersion14 <= high ? 0 : LineErrIncompatibleApiVersion);
}

uint32_t ScriptedLineProvider::DeviceInfo(HLineApp, uint32_t device, LineDeviceInfo& info)
{
    uint32_t r = Result("lineGetDevCaps", device >= devices.size() ? LineErrBadDeviceId
                                          : gone.count(device)     ? LineErrNoDevice
                                                                   : 0);
    if (r == 0)
        info = devices[device];
    return r;
}

LineCallback ScriptedLineProvider::LineAppCallback() const
{
    auto it = apps_.find(lineApp_);
    if (it == apps_.end())
        it = apps_.begin();
    return it != apps_.end() ? it->second : LineCallback();
}

uint32_t ScriptedLineProvider::Open(HLineApp app, uint32_t device, HLine& line, uintptr_t instance, uint32_t, uint32_t)
{
    uint32_t r = Result("lineOpen", device >= devices.size() ? LineErrBadDeviceId
                                    : gone.count(device)     ? LineErrNoDevice
                                                             : 0);
    if (r == 0) {
        line = line_ = 0x100 + device;
        lineApp_ = app;
        device_ = device;
        instance_ = instance;
    }
    return r;
}

uint32_t ScriptedLineProvider::Played(const std::string& function, uint32_t reply, uint32_t state)
{
    uint32_t r = Request(function);
    if (int32_t(r) > 0 && playCalls) {
        Later([this, r, reply] { Reply(r, reply); });
        if (reply == 0)
            Later([this, state] { SetCallState(state); });
    }
    return r;
}

uint32_t ScriptedLineProvider::MakeCall(HLine, HCall& call, const std::string&, uint32_t)
{
    // The call exists as soon as the request is taken; its reply and state come later.
    uint32_t r = Played("lineMakeCall", makeCallReply, CallStateConnected);
    if (int32_t(r) >= 0) {
        call = call_ = 0x200 + device_;
        callMedia_ = MediaModeDataModem;
        caller_ = CallInformation{};
        digitModes_ = 0;
    }
    return r;
}

uint32_t ScriptedLineProvider::Accept(HCall) { return Played("lineAccept", acceptReply, CallStateAccepted); }
uint32_t ScriptedLineProvider::Answer(HCall) { return Played("lineAnswer", answerReply, CallStateConnected); }
uint32_t ScriptedLineProvider::Drop(HCall) { return Played("lineDrop", 0, CallStateIdle); }

uint32_t ScriptedLineProvider::DeallocateCall(HCall call)
{
    uint32_t r = Result("lineDeallocateCall", call == call_ && call_ ? 0 : LineErrInvalCallHandle);
    if (r == 0)
        call_ = 0;
    return r;
}

uint32_t ScriptedLineProvider::Close(HLine line)
{
    uint32_t r = Result("lineClose", line == line_ && line_ ? 0 : LineErrInvalLineHandle);
    if (r == 0)
        line_ = 0;
    return r;
}

uint32_t ScriptedLineProvider::CommHandle(HCall call, int& fd)
{
    uint32_t r = Result("lineGetID", call == call_ && call_ && commHandle >= 0 ? 0 : LineErrOperationFailed);
    if (r == 0)
        fd = ::dup(commHandle);
    return r;
}

uint32_t ScriptedLineProvider::SetStatusMessages(HLine, uint32_t, uint32_t)
{
    return Result("lineSetStatusMessages", 0);
}
uint32_t ScriptedLineProvider::MonitorDigits(HCall call, uint32_t modes)
{
    uint32_t r = Result("lineMonitorDigits", call == call_ && call_ ? 0 : LineErrInvalCallHandle);
    if (r == 0)
        digitModes_ = modes;
    return r;
}

uint32_t ScriptedLineProvider::CallState(HCall call, uint32_t& state)
{
    state = callState_;
    return Result("lineGetCallStatus", call == call_ && call_ ? 0 : LineErrInvalCallHandle);
}

uint32_t ScriptedLineProvider::CallInfo(HCall call, CallInformation& info)
{
    info = caller_;
    info.mediaMode = callMedia_;
    return Result("lineGetCallInfo", call == call_ && call_ ? 0 : LineErrInvalCallHandle);
}

} // namespace zn::comms::tapi
