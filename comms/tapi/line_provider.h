// What stands behind the TAPI wrappers on this machine: a line provider. The machine's serial modems
// are one (serial_line_provider.h); tests use a scripted one. Results follow TAPI: 0, a positive
// request identifier for an asynchronous request (answered later by a LINE_REPLY message), or a
// LINEERR value (0x80000000 + n).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zn::comms::tapi {

using HLineApp = uint32_t;
using HLine = uint32_t;
using HCall = uint32_t;

// LINEERR values used here.
constexpr uint32_t LineErrAllocated = 0x80000001;
constexpr uint32_t LineErrBadDeviceId = 0x80000002;
constexpr uint32_t LineErrCallUnavail = 0x80000005;
constexpr uint32_t LineErrIncompatibleApiVersion = 0x8000000C;
constexpr uint32_t LineErrInvalAppHandle = 0x80000015;
constexpr uint32_t LineErrInvalCallHandle = 0x80000018;
constexpr uint32_t LineErrInvalLineHandle = 0x8000002B;
constexpr uint32_t LineErrIniFileCorrupt = 0x80000040;
constexpr uint32_t LineErrNoMem = 0x80000044;
constexpr uint32_t LineErrNoDriver = 0x80000043;
constexpr uint32_t LineErrOperationFailed = 0x80000048;
constexpr uint32_t LineErrOperationUnavail = 0x80000049;
constexpr uint32_t LineErrResourceUnavail = 0x8000004B;
constexpr uint32_t LineErrStructureTooSmall = 0x8000004D;
constexpr uint32_t LineErrReinit = 0x80000052;
constexpr uint32_t LineErrNoDevice = 0x80000046;
constexpr uint32_t LineErrNoMultipleInstance = 0x80000056;
constexpr uint32_t LineErrInvalParam = 0x80000032;

// Messages, call states, device states, modes.
constexpr uint32_t LineCallInfoMsg = 1, LineCallStateMsg = 2, LineCloseMsg = 3, LineGenerateMsg = 7,
                   LineLineDevStateMsg = 8, LineMonitorDigitsMsg = 9, LineMonitorMediaMsg = 10, LineMonitorToneMsg = 11, LineReplyMsg = 12, LineRequestMsg = 13,
                   LineCreateMsg = 19;
constexpr uint32_t CallStateIdle = 1, CallStateOffering = 2, CallStateAccepted = 4, CallStateDialtone = 8,
                   CallStateDialing = 0x10, CallStateRingback = 0x20, CallStateBusy = 0x40, CallStateSpecialInfo = 0x80,
                   CallStateConnected = 0x100, CallStateProceeding = 0x200, CallStateDisconnected = 0x4000;
constexpr uint32_t DevStateRinging = 2, DevStateDisconnected = 8, DevStateOutOfService = 0x80,
                   DevStateMaintenance = 0x100, DevStateReinit = 0x40000;
// LINE_CALLINFO's change flag for the caller's identity; the digit mode of DTMF (LINE_MONITORDIGITS
// carries the digit, this mode and the tick count).
constexpr uint32_t CallInfoStateCallerId = 0x8000;
constexpr uint32_t DigitModeDtmf = 2;
// Caller ID flags: the identity withheld by the caller, from outside the area that passes it on,
// a plain address (the number itself), unknown, not available.
constexpr uint32_t CallerIdBlocked = 1, CallerIdOutOfArea = 2, CallerIdAddress = 8, CallerIdUnknown = 0x20,
                   CallerIdUnavail = 0x40;
constexpr uint32_t MediaModeUnknown = 2, MediaModeAutomatedVoice = 8, MediaModeDataModem = 0x10;
constexpr uint32_t LineFeatureMakeCall = 8;
constexpr uint32_t BearerModeVoice = 1, BearerModePassthrough = 0x40;
constexpr uint32_t PrivilegeNone = 1, PrivilegeOwner = 4;
constexpr uint32_t ApiVersion14 = 0x10004;

// What a device is, as the provider describes it.
struct LineDeviceInfo {
    std::string name; // as the user sees it ("U.S. Robotics 56K Faxmodem (ttyACM0)")
    uint32_t mediaModes = MediaModeDataModem;
    uint32_t lineFeatures = LineFeatureMakeCall;
    bool hasWave = false; // "wave/in" and "wave/out" answer
};

// What a provider knows of a call: its media mode and its caller (the flags say what the number
// and name are; without caller ID, unknown).
struct CallInformation {
    uint32_t mediaMode = 0;
    uint32_t callerIdFlags = CallerIdUnknown;
    std::string callerId, callerName;
};

// Messages as the line callback gets them: device is the line (or the new device's identifier for
// LINE_CREATE), instance the value given to lineOpen.
using LineCallback = std::function<void(uint32_t device, uint32_t message, uintptr_t instance, uintptr_t param1,
                                        uintptr_t param2, uintptr_t param3)>;

class LineProvider {
public:
    virtual ~LineProvider() = default;

    // The TAPI functions this provider offers, by their names; a wrapper for another answers
    // -13932 (its entry point is missing).
    virtual bool Offers(const std::string& function) const = 0;

    virtual uint32_t Initialize(HLineApp& app, LineCallback callback, const std::string& appName,
                                uint32_t& deviceCount) = 0;
    virtual uint32_t Shutdown(HLineApp app) = 0;
    virtual uint32_t NegotiateApiVersion(HLineApp app, uint32_t device, uint32_t low, uint32_t high,
                                         uint32_t& version) = 0;
    // 0 and the device's description, or a LINEERR.
    virtual uint32_t DeviceInfo(HLineApp app, uint32_t device, LineDeviceInfo& info) = 0;
    virtual uint32_t Open(HLineApp app, uint32_t device, HLine& line, uintptr_t instance, uint32_t privileges,
                          uint32_t mediaModes) = 0;
    virtual uint32_t MakeCall(HLine line, HCall& call, const std::string& number, uint32_t bearerMode) = 0;
    virtual uint32_t Accept(HCall call) = 0;
    virtual uint32_t Answer(HCall call) = 0;
    virtual uint32_t Drop(HCall call) = 0;
    virtual uint32_t DeallocateCall(HCall call) = 0;
    virtual uint32_t Close(HLine line) = 0;
    // The call's serial descriptor ("comm/datamodem"), handed over: the caller owns it from here.
    virtual uint32_t CommHandle(HCall call, int& fd) = 0;
    virtual uint32_t SetStatusMessages(HLine line, uint32_t lineStates, uint32_t addressStates) = 0;
    // DTMF digits of the call come as LINE_MONITORDIGITS while `modes` has DigitModeDtmf (0 stops).
    virtual uint32_t MonitorDigits(HCall call, uint32_t modes) = 0;
    virtual uint32_t CallState(HCall call, uint32_t& state) = 0;
    // The call's media mode and its caller; a change of the caller comes as LINE_CALLINFO with
    // CallInfoStateCallerId.
    virtual uint32_t CallInfo(HCall call, CallInformation& info) = 0;
};

// The provider the wrappers use; none installed is a missing TAPI library (-13931).
void SetLineProvider(LineProvider* provider);
LineProvider* CurrentLineProvider();

} // namespace zn::comms::tapi
