// A line provider played from a script, for tests: its devices, the functions it lacks, results
// forced per function (once or for ever), asynchronous replies and call states delivered when the
// test says, REINIT and new devices on demand. Every call is recorded by function name.
#pragma once

#include "comms/tapi/line_provider.h"

#include <deque>
#include <functional>
#include <memory>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace zn::platform {
class MessageWindow;
}

namespace zn::comms::tapi {

class ScriptedLineProvider : public LineProvider {
public:
    ScriptedLineProvider();
    ~ScriptedLineProvider() override;
    std::vector<LineDeviceInfo> devices;
    std::set<uint32_t> gone;                             // devices that went
    std::set<std::string> missing;                       // functions not offered
    std::map<std::string, std::deque<uint32_t>> results; // forced results, taken in turn
    std::map<std::string, uint32_t> always;              // forced for every call
    bool answerAsynchronously = true;                    // MakeCall, Drop, Accept, Answer: request ids
    int commHandle = -1;                                 // the descriptor a call hands over (dup'ed)
    // Played while the thread processes messages, as TAPI's answers come: a placed call gets its
    // reply (makeCallReply) and, when that is 0, CONNECTED; a drop its reply and IDLE.
    bool playCalls = true;
    uint32_t makeCallReply = 0;
    // The answering side: lineAccept gets acceptReply (0 brings ACCEPTED), lineAnswer answerReply
    // (0 brings CONNECTED).
    uint32_t acceptReply = 0, answerReply = 0;

    // Calls made, by function name.
    int Calls(const std::string& function) const;
    // Messages to the line callback of the open application.
    void Reply(uint32_t requestId, uint32_t result);
    void SetCallState(uint32_t state, uintptr_t mode = 0);
    // A call comes in on the open line: OFFERING with a new call of that media mode (its call
    // information tells it; lineGetCallInfo can be made to fail as any function).
    void OfferCall(uint32_t mediaMode);
    // The line rings: LINE_LINEDEVSTATE RINGING with the ring count (1 for the first ring).
    void Ring(uint32_t count);
    // The exchange tells who calls: the call's caller ID becomes this, and LINE_CALLINFO says so.
    void CallerId(uint32_t flags, const std::string& number, const std::string& name);
    // The far end presses a key: LINE_MONITORDIGITS with the digit, while the call's DTMF digits
    // are monitored (lineMonitorDigits); nothing otherwise.
    void Digit(char digit);
    // Any other message to the open line's application, about the call.
    void Send(uint32_t message, uintptr_t p1, uintptr_t p2 = 0, uintptr_t p3 = 0);
    uint32_t DigitModes() const { return digitModes_; }
    // REINIT: `message` 0 asks the application to shut down; LINE_LINEDEVSTATE or LINE_CREATE
    // ask it to take that message with `param` instead.
    void Reinit(uint32_t message = 0, uintptr_t param = 0);
    void AddDevice(const LineDeviceInfo& info);
    // The device goes (unplugged): it answers LINEERR_NODEVICE from now on and its open line is
    // closed (LINE_CLOSE).
    void RemoveDevice(uint32_t device);
    uint32_t OpenedDevice() const { return device_; } // the device of the last lineOpen
    // The request identifier of the last asynchronous request of that function (0 none).
    uint32_t LastRequest(const std::string& function) const;
    HCall ActiveCall() const { return call_; }
    bool LineOpen() const { return line_ != 0; }

    bool Offers(const std::string& function) const override;
    uint32_t Initialize(HLineApp& app, LineCallback callback, const std::string& appName,
                        uint32_t& deviceCount) override;
    uint32_t Shutdown(HLineApp app) override;
    uint32_t NegotiateApiVersion(HLineApp app, uint32_t device, uint32_t low, uint32_t high,
                                 uint32_t& version) override;
    uint32_t DeviceInfo(HLineApp app, uint32_t device, LineDeviceInfo& info) override;
    uint32_t Open(HLineApp app, uint32_t device, HLine& line, uintptr_t instance, uint32_t privileges,
                  uint32_t mediaModes) override;
    uint32_t MakeCall(HLine line, HCall& call, const std::string& number, uint32_t bearerMode) override;
    uint32_t Accept(HCall call) override;
    uint32_t Answer(HCall call) override;
    uint32_t Drop(HCall call) override;
    uint32_t DeallocateCall(HCall call) override;
    uint32_t Close(HLine line) override;
    uint32_t CommHandle(HCall call, int& fd) override;
    uint32_t SetStatusMessages(HLine line, uint32_t lineStates, uint32_t addressStates) override;
    uint32_t MonitorDigits(HCall call, uint32_t modes) override;
    uint32_t CallState(HCall call, uint32_t& state) override;
    uint32_t CallInfo(HCall call, CallInformation& info) override;

private:
    // A forced result for the function, else `otherwise`; records the call.
    uint32_t Result(const std::string& function, uint32_t otherwise);
    uint32_t Request(const std::string& function);
    // A request whose reply (and, when that is 0, the call state) is played later.
    uint32_t Played(const std::string& function, uint32_t reply, uint32_t state);
    void Later(std::function<void()> step);

    std::unique_ptr<platform::MessageWindow> window_;
    std::deque<std::function<void()>> later_;

    mutable std::mutex lock_;
    std::map<std::string, int> calls_;
    std::map<std::string, uint32_t> lastRequest_;
    // The line applications; messages of the line go to the one that opened it (else the first).
    LineCallback LineAppCallback() const;
    std::map<HLineApp, LineCallback> apps_;
    HLineApp nextApp_ = 0x51, lineApp_ = 0;
    HLine line_ = 0;
    HCall call_ = 0;
    uint32_t device_ = 0;
    uintptr_t instance_ = 0;
    uint32_t callState_ = CallStateIdle;
    uint32_t callMedia_ = MediaModeDataModem;
    CallInformation caller_;
    uint32_t digitModes_ = 0;
    uint32_t ticks_ = 0;
    uint32_t nextRequest_ = 1;
};

} // namespace zn::comms::tapi
