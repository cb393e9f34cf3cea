// The TAPI line device: opens a line, places a passthrough call and hands the call's descriptor to
// its port, which then runs over a TFxTAPI32Dispatcher; beside it the call-history log
// (FXCTAPI.HIS). Everything runs on the GUI thread: the provider's messages arrive through the
// line callback while the thread processes messages, and the waits (30 seconds at most) process
// messages themselves. Notifications 0x7EB5 are queued to the device's message window and raise
// OnTapiConnect (0), OnTapiPortOpen (1), OnTapiPortClose (2), OnTapiFail (3) and a new device
// (4, LINE_CREATE).
//
// The state of every process that initialised TAPI is one line in TAPI.INI in the program folder:
// section [TAPI], key "$" + the process id in 8 hexadecimal digits, value its line application.
// A process that initialises removes the lines of processes that have ended, shutting their line
// applications down.
#pragma once

#include "comms/port/com_port.h"
#include "comms/base/fx_misc.h"
#include "comms/base/status_display.h"
#include "comms/tapi/tapi_binding.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zn::platform {
class MessageWindow;
}

namespace zn::comms {

enum TTapiLogCode {
    ltapiNone,
    ltapiCallStart,
    ltapiCallFinish,
    ltapiDial,
    ltapiAccept,
    ltapiAnswer,
    ltapiConnect,
    ltapiCancel,
    ltapiDrop,
    ltapiBusy,
    ltapiDialFail,
    ltapiReceivedDigit
};

constexpr uint32_t MsgTapiEvent = 0x7EB5;
constexpr const char* TapiStateFileName = "TAPI.INI";

class TFxCustomTapiDevice;

// What a status report carries: First (OFFERING, DIALTONE), Last (CONNECTED, the end of the call),
// the TAPI message's device, its number (2 call state, 8 device state, 10, 11, 13 media, tone and
// request) and its parameters (for a call state: the state first).
using TTapiStatusEvent = std::function<void(TFxCustomTapiDevice& cp, bool first, bool last, int device, int message,
                                            int param1, int param2, int param3)>;
// Each line the call history gets, as it is written.
using TTapiLogEvent = std::function<void(TFxCustomTapiDevice& cp, TTapiLogCode log)>;
// A DTMF digit the far end sent during a voice call.
using TTapiDTMFEvent = std::function<void(TFxCustomTapiDevice& cp, char digit, int32_t errorCode)>;
// Who calls: the number as a text ("Unknown", "Unavailable", the blocked and out-of-area texts of
// the string table where the exchange gives no number) and the name (empty when none came).
using TTapiCallerIDEvent = std::function<void(TFxCustomTapiDevice& cp, const std::string& id, const std::string& idName)>;
// Voice play and record: what happened to the wave device, and silence heard while recording
// (the handler may stop the recording and hang up). No operation plays or records yet, so nothing
// raises these.
enum TWaveMessage { waPlayOpen, waPlayDone, waPlayClose, waRecordOpen, waDataReady, waRecordClose };
using TTapiWaveNotify = std::function<void(TFxCustomTapiDevice& cp, TWaveMessage msg)>;
using TTapiWaveSilence = std::function<void(TFxCustomTapiDevice& cp, bool& stopRecording, bool& hangup)>;

// The string-table texts of a caller ID withheld by the caller and of one from outside the area.
constexpr uint32_t CallerIdBlockedTextId = 51599, CallerIdOutOfAreaTextId = 51598;
// A caller's number as the user sees it: unless `flags` mark a plain address, the text the flags
// stand for; otherwise `number`, trimmed.
std::string CallerIdText(uint32_t flags, const std::string& number);

// The call-progress display of a line device: a concrete display makes its form ("Call
// Progress") and shows the device's status reports.
class TFxAbstractTapiStatus : public TFxStatusDisplayBase {
public:
    ~TFxAbstractTapiStatus() override;
    TFxCustomTapiDevice* TapiDevice() const { return device_; }
    void SetTapiDevice(TFxCustomTapiDevice* device);

    virtual void UpdateDisplay(bool first, bool last, int device, int message, int param1, int param2, int param3) = 0;

protected:
    TFxAbstractTapiStatus() = default;
    void Initialize() { TFxStatusDisplayBase::Initialize("Call Progress"); }

private:
    TFxCustomTapiDevice* device_ = nullptr;
};

// The names of the devices 0..count-1 of an initialised line application; with `filter`, only
// devices that can make calls as data modems (or as voice lines with wave devices).
std::vector<std::string> ListLineDevices(tapi::HLineApp app, uint32_t count, bool filter);
// The same with each device's identifier (a device that went is skipped, leaving a gap).
struct LineDeviceEntry {
    uint32_t id;
    std::string name;
};
std::vector<LineDeviceEntry> ListLineDeviceEntries(tapi::HLineApp app, uint32_t count, bool filter);

// What the "Device Selection" window is given and gives back: kind 1 a line device (tmAuto),
// 3 a port (tmOff) with its COM number.
struct DeviceSelectionChoice {
    bool showTapiDevices = true, showPorts = true, filter = true;
    int kind = tmAuto;
    int comNumber = 0;
    std::string deviceName;
};

class TFxTapiLog : public TFxBaseComponent {
public:
    std::string TapiHistoryName = "FXCTAPI.HIS";
    TFxCustomTapiDevice* TapiDevice = nullptr;
    // Appends the line of the code: date and time, " : ", the text.
    virtual void UpdateLogFile(TTapiLogCode code);
    static std::string LogText(TTapiLogCode code, const std::string& number);
};

class TFxCustomTapiDevice : public TFxBaseComponent {
public:
    TFxCustomTapiDevice();
    ~TFxCustomTapiDevice() override;

    void SetComPort(TFxCustomComPort* port);
    TFxCustomComPort* ComPort() const { return port_; }
    void SetTapiLog(TFxTapiLog* log)
    {
        log_ = log;
        if (log)
            log->TapiDevice = this;
    }
    TFxAbstractTapiStatus* StatusDisplay() const { return status_; }
    void SetStatusDisplay(TFxAbstractTapiStatus* display);
    const std::string& SelectedDevice() const { return selected_; }
    // With EnableVoice, the device chosen must take voice calls (see SetEnableVoice).
    void SetSelectedDevice(const std::string& name);
    const std::string& Number() const { return number_; }

    bool ShowTapiDevices = true;
    bool ShowPorts = true;
    bool FilterUnsupportedDevices = true;
    uint16_t RetryWait = 60;
    uint16_t MaxAttempts = 3;
    uint8_t AnswerOnRing = 2;
    bool EnableVoice() const { return enableVoice_; }
    // On with a selected device: that device must offer automated voice, else EnableVoice stays
    // off and ETapiVoiceNotSupported is raised (so on any failure on the way).
    void SetEnableVoice(bool on);

    // The picker (the "Device Selection" window): true with the chosen device's name.
    std::function<bool(std::string& chosen)> PickDevice;
    // The "Device Selection" window with what it is given: true on OK, with the choice.
    std::function<bool(DeviceSelectionChoice& choice)> SelectionWindow;
    // Lets the user choose a line device or a port, preset to the port's mode and number or to the
    // selected device: 1 on OK (the port's TAPI mode and COM number, or SelectedDevice, set), 2 on
    // Cancel.
    int SelectDevice();
    std::function<void()> OnTapiPortOpen, OnTapiPortClose, OnTapiConnect, OnTapiFail;
    std::function<void(uint32_t device)> OnLineCreate;
    // Status reports, as the status display gets them; only those with a message or a parameter.
    TTapiStatusEvent OnTapiStatus;
    TTapiLogEvent OnTapiLog;
    // With EnableVoice a connected call is not handed to the port: its DTMF digits are
    // monitored and each one comes here ("  received digit" in the history).
    TTapiDTMFEvent OnTapiDTMF;
    // When the exchange tells who calls (LINE_CALLINFO with the caller ID changed).
    TTapiCallerIDEvent OnTapiCallerID;
    TTapiWaveNotify OnTapiWaveNotify;
    TTapiWaveSilence OnTapiWaveSilence;

    // The device names, filtered as FilterUnsupportedDevices says.
    std::vector<std::string> DeviceList();
    // Places a passthrough call on the chosen device and hands its descriptor to the port.
    void OpenPassthrough();
    // Opens the line to answer ("call started"): a call offered in a data, fax or unknown media
    // mode (with EnableVoice also automated voice) is accepted ("  accepting") and answered on
    // the AnswerOnRing-th ring ("  answering"); connected, its descriptor goes to the port as a
    // passthrough call's does. The messages drive the call while the thread processes them.
    void AnswerCalls();
    // Ends the call: "  cancelled", the port released, the line closed.
    void CancelCall();
    // Where an exception raised while a line message is handled goes (the application's
    // exception handler); none set, it is written to standard error.
    std::function<void(const std::exception& error)> OnLineException;
    bool Connected() const { return connected_; }
    bool LineActive() const { return lineActive_; }
    tapi::HLineApp LineApp() const { return app_; }

    // How long a wait lasts, and how long the retry after REINIT waits (tests shorten them).
    int WaitMs = 30000;
    int ReinitRetryMs = 5000;

protected:
    // The line messages, one operation each: the message's device (line or call) and its three
    // parameters.
    virtual void LineCallInfo(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    virtual void LineCallState(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    virtual void LineClose(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    virtual void LineCreate(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    virtual void LineDevState(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    virtual void LineGenerate(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    virtual void LineMonitorDigits(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    virtual void LineMonitorMedia(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    virtual void LineMonitorTone(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    virtual void LineReply(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    virtual void LineRequest(uint32_t device, uintptr_t p1, uintptr_t p2, uintptr_t p3);

private:
    void InitializeTapi();
    void ShutdownTapi();
    void RemoveStaleStates();
    void CheckLine(int32_t result); // raises for a negative result
    int DeviceByName(const std::string& name);
    uint32_t ChooseDevice();
    void OpenLine();
    void MakeCall();
    void HangUp(bool noRedial);
    void HandOver();
    bool ReleasePort();
    int32_t WaitForReply(int32_t request);
    bool WaitForState(uint32_t state);
    void Log(TTapiLogCode code);
    // To the status display and OnTapiStatus; nothing during a passthrough call.
    void Report(bool first, bool last, uint32_t device, uint32_t message, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    void Post(uintptr_t event, intptr_t param = 0);
    void OnLineMessage(uint32_t device, uint32_t message, uintptr_t p1, uintptr_t p2, uintptr_t p3);
    void Offered(tapi::HCall call);
    bool Ringing(uint32_t count); // false when the call ended
    void CheckIdle();             // the port and the line free for a new call
    std::string StatePath() const;

    TFxCustomComPort* port_ = nullptr;
    TFxTapiLog* log_ = nullptr;
    TFxAbstractTapiStatus* status_ = nullptr;
    std::unique_ptr<platform::MessageWindow> window_;
    tapi::HLineApp app_ = 0;
    tapi::HLine line_ = 0;
    tapi::HCall call_ = 0;
    int device_ = -1;
    uint32_t deviceCount_ = 0;
    std::string selected_, number_;
    int32_t awaited_ = 0, replyResult_ = 0;
    bool replied_ = false;
    uint32_t callState_ = 0;
    bool stateChanged_ = false;
    bool lineActive_ = false, callPlaced_ = false, connected_ = false, hangingUp_ = false, initialising_ = false;
    bool passthrough_ = false, dialing_ = false, cancelled_ = false, lineOpen_ = false, waiting_ = false;
    bool failReported_ = false;
    bool answered_ = false; // lineAnswer given for the offered call
    bool enableVoice_ = false;
};

class TFxTapiDevice : public TFxCustomTapiDevice {};

} // namespace zn::comms
