// The port component: the settings of one serial port as properties, applied to a dispatcher when the
// port opens; the dispatcher's notifications turned into OnTrigger... events on the GUI thread; and the
// few direct operations the system uses (put a string, wait for a string, flush, log remarks, dump the
// trace and the log). Failures raise the exception of their code (CheckErrorCode).
//
// All port operations run on the GUI thread.
#pragma once

#include "comms/port/dispatcher.h"
#include "comms/base/exceptions.h"
#include "comms/base/fx_misc.h"

#include "platform/messages.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zn::comms {

enum TDeviceLayer { dlWin16, dlFossil, dlWin32, dlWinsock };
enum TParity { pNone, pOdd, pEven, pMark, pSpace };
enum THWFlowOptions { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };
// A set of THWFlowOptions: bit (1 << option).
using THWFlowOptionSet = uint8_t;
constexpr THWFlowOptionSet HWFlow(THWFlowOptions o) { return THWFlowOptionSet(1u << o); }
enum TSWFlowOptions { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTraceLogState { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum TTapiMode { tmNone, tmAuto, tmOn, tmOff };

class TFxCustomComPort;

using TTriggerEvent = std::function<void(TFxCustomComPort& cp, uint32_t msg, int triggerHandle, uint32_t data)>;
using TTriggerAvailEvent = std::function<void(TFxCustomComPort& cp, uint32_t count)>;
using TTriggerDataEvent = std::function<void(TFxCustomComPort& cp, int triggerHandle)>;
using TTriggerStatusEvent = std::function<void(TFxCustomComPort& cp, int triggerHandle)>;
using TTriggerTimerEvent = std::function<void(TFxCustomComPort& cp, int triggerHandle)>;
using TTriggerLineErrorEvent = std::function<void(TFxCustomComPort& cp, int error, bool lineBreak)>;
using TNotifyEvent = std::function<void(TFxCustomComPort& cp)>;
using TWaitCharEvent = std::function<void(TFxCustomComPort& cp, char c)>;

// The port selection shown when no port is configured: true and the chosen entry ("COM3") on OK.
// The GUI library installs TComSelectForm here; without one, an unconfigured port cannot open.
using TComSelectPrompt = std::function<bool(std::string& chosen)>;
void SetComSelectPrompt(TComSelectPrompt prompt);

// Whether port n is there: it opens, or another program holds it. Port 0 never is.
bool ComPortPresent(int n);

class TFxCustomComPort : public TFxBaseComponent {
public:
    TFxCustomComPort();
    ~TFxCustomComPort() override;
    TFxCustomComPort(const TFxCustomComPort&) = delete;
    TFxCustomComPort& operator=(const TFxCustomComPort&) = delete;

    // Copies the settings, TapiMode and the OnTrigger, OnTriggerAvail, OnTriggerData, OnTriggerStatus
    // and OnTriggerTimer handlers; Open stays False. An open source's triggers come along, to be
    // restored at this port's next open.
    void Assign(TFxCustomComPort& source);
    // The end of loading from a form: opens a port that was marked to open.
    void Loaded();

    // ---- operations ----
    TFxBaseDispatcher* GetDispatcher();
    TFxBaseDispatcher* ValidDispatcher(); // raises ECommNotOpen without one
    void PutString(const std::string& text);
    bool HasInput();
    char ReadChar();
    // True when the text arrived before the time-out (ticks of 55 ms).
    bool WaitForString(const std::string& text, int32_t ticks, bool ignoreCase, bool yield);
    void FlushInBuffer();
    void FlushOutBuffer();
    void AddStringToLog(const std::string& text);
    virtual int YieldTimeSlice();
    int TakeLineError();
    bool TakeLineBreak();

    // ---- properties ----
    TDeviceLayer DeviceLayer() const { return deviceLayer_; }
    void SetDeviceLayer(TDeviceLayer layer);
    uint16_t ComNumber() const { return comNumber_; }
    void SetComNumber(uint16_t n);
    int32_t Baud() const { return baud_; }
    void SetBaud(int32_t baud);
    bool PromptForPort() const { return promptForPort_; }
    void SetPromptForPort(bool on) { promptForPort_ = on; }
    TParity Parity() const { return parity_; }
    void SetParity(TParity parity);
    uint16_t DataBits() const { return dataBits_; }
    void SetDataBits(uint16_t bits);
    uint16_t StopBits() const { return stopBits_; }
    void SetStopBits(uint16_t bits);
    uint16_t InSize() const { return inSize_; }
    void SetInSize(uint16_t size);
    uint16_t OutSize() const { return outSize_; }
    void SetOutSize(uint16_t size);
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool on) { autoOpen_ = on; }
    bool Open() const { return open_; }
    void SetOpen(bool open);
    bool DTR() const { return dtr_; }
    void SetDTR(bool on);
    bool RTS() const { return rts_; }
    void SetRTS(bool on);
    THWFlowOptionSet HWFlowOptions() const { return hwFlowOptions_; }
    void SetHWFlowOptions(THWFlowOptionSet options);
    TSWFlowOptions SWFlowOptions() const { return swFlowOptions_; }
    void SetSWFlowOptions(TSWFlowOptions options);
    char XOnChar() const { return xonChar_; }
    void SetXOnChar(char c);
    char XOffChar() const { return xoffChar_; }
    void SetXOffChar(char c);
    uint16_t BufferFull() const { return bufferFull_; }
    void SetBufferFull(uint16_t n);
    uint16_t BufferResume() const { return bufferResume_; }
    void SetBufferResume(uint16_t n);
    TTraceLogState Tracing() const { return tracing_; }
    void SetTracing(TTraceLogState state);
    TTraceLogState Logging() const { return logging_; }
    void SetLogging(TTraceLogState state);
    uint32_t TraceSize() const { return traceSize_; }
    void SetTraceSize(uint32_t size);
    const std::string& TraceName() const { return traceName_; }
    void SetTraceName(const std::string& name) { traceName_ = name.substr(0, 255); }
    bool TraceHex() const { return traceHex_; }
    void SetTraceHex(bool on) { traceHex_ = on; }
    bool TraceAllHex() const { return traceAllHex_; }
    void SetTraceAllHex(bool on) { traceAllHex_ = on; }
    uint32_t LogSize() const { return logSize_; }
    void SetLogSize(uint32_t size);
    const std::string& LogName() const { return logName_; }
    void SetLogName(const std::string& name) { logName_ = name.substr(0, 255); }
    bool LogHex() const { return logHex_; }
    void SetLogHex(bool on) { logHex_ = on; }
    bool LogAllHex() const { return logAllHex_; }
    void SetLogAllHex(bool on) { logAllHex_ = on; }
    bool UseMSRShadow() const { return useMSRShadow_; }
    virtual void SetUseMSRShadow(bool on) { useMSRShadow_ = on; }
    bool UseEventWord() const { return useEventWord_; }
    void SetUseEventWord(bool on) { useEventWord_ = on; }
    uint16_t CommNotificationLevel() const { return commNotificationLevel_; }
    void SetCommNotificationLevel(uint16_t level) { commNotificationLevel_ = level; }
    TTapiMode TapiMode() const { return tapiMode_; }
    void SetTapiMode(TTapiMode mode) { tapiMode_ = mode; }
    bool RS485Mode() const { return rs485Mode_; }
    void SetRS485Mode(bool on);
    // The descriptor the TAPI device hands over before it opens the port with tmOn.
    int TapiHandle() const { return tapiHandle_; }
    void SetTapiHandle(int fd) { tapiHandle_ = fd; }
    bool Closing() const { return portState_ == PortClosing; }
    // Called on the GUI thread before an open port closes, whoever closes it, while its dispatcher
    // is still there: a component running a session on the port ends it here. The port keeps only a
    // weak reference; a watcher that is gone is skipped.
    using TCloseWatch = std::function<void()>;
    void WatchClose(const std::shared_ptr<TCloseWatch>& watch);

    // ---- events ----
    void SetOnTrigger(TTriggerEvent e)
    {
        onTrigger_ = std::move(e);
        UpdateHandlerFlags();
    }
    void SetOnTriggerAvail(TTriggerAvailEvent e)
    {
        onTriggerAvail_ = std::move(e);
        UpdateHandlerFlags();
    }
    void SetOnTriggerData(TTriggerDataEvent e)
    {
        onTriggerData_ = std::move(e);
        UpdateHandlerFlags();
    }
    void SetOnTriggerStatus(TTriggerStatusEvent e)
    {
        onTriggerStatus_ = std::move(e);
        UpdateHandlerFlags();
    }
    void SetOnTriggerTimer(TTriggerTimerEvent e)
    {
        onTriggerTimer_ = std::move(e);
        UpdateHandlerFlags();
    }
    void SetOnTriggerLineError(TTriggerLineErrorEvent e)
    {
        onTriggerLineError_ = std::move(e);
        UpdateHandlerFlags();
    }
    void SetOnTriggerModemStatus(TNotifyEvent e)
    {
        onTriggerModemStatus_ = std::move(e);
        UpdateHandlerFlags();
    }
    void SetOnTriggerOutbuffFree(TNotifyEvent e)
    {
        onTriggerOutbuffFree_ = std::move(e);
        UpdateHandlerFlags();
    }
    void SetOnTriggerOutbuffUsed(TNotifyEvent e)
    {
        onTriggerOutbuffUsed_ = std::move(e);
        UpdateHandlerFlags();
    }
    void SetOnTriggerOutSent(TNotifyEvent e)
    {
        onTriggerOutSent_ = std::move(e);
        UpdateHandlerFlags();
    }
    void SetOnWaitChar(TWaitCharEvent e) { onWaitChar_ = std::move(e); }

protected:
    // Virtual steps, in the order the component's callers may override them.
    virtual std::unique_ptr<TFxBaseDispatcher> CreateDispatcher();
    virtual void DeviceLayerChanged() {}
    virtual void OpenDispatcherPort();
    virtual void RegisterComWindow(bool on);
    virtual void PromptForComNumber();
    virtual void Trigger(uint32_t msg, int triggerHandle, uint32_t data);
    virtual void TriggerAvail(uint32_t count);
    virtual void TriggerData(int triggerHandle);
    virtual void TriggerStatus(int triggerHandle);
    virtual void TriggerTimer(int triggerHandle);
    virtual void UpdateHandlerFlags();
    virtual void TriggerLineError(int error, bool lineBreak);
    virtual void TriggerModemStatus();
    virtual void TriggerOutbuffFree();
    virtual void TriggerOutbuffUsed();
    virtual void TriggerOutSent();
    virtual void WaitChar(char c);
    virtual void ClosePort();
    void OpenPort();

private:
    enum PortState { PortClosed = 0, PortClosing = 1, PortOpen = 2 };

    platform::LResult WindowProc(uint32_t msg, platform::WParam wParam, platform::LParam lParam);
    void FinishClosing();
    bool AnyTriggerEventAssigned() const;
    void ApplyTraceLog(bool trace, TTraceLogState state);
    void ApplyLine(int32_t baud, TParity parity, uint16_t dataBits, uint16_t stopBits);
    void ReapplyFlow();
    int Check(int code) { return CheckErrorCode(this, code); }

    bool forceApply_ = true;
    PortState portState_ = PortClosed;
    bool openAfterLoading_ = false;
    bool triggersSaved_ = false;
    std::unique_ptr<platform::MessageWindow> window_;
    TSavedTriggers savedTriggers_;
    std::unique_ptr<TFxBaseDispatcher> dispatcher_;
    uint16_t availLevel_ = 1;
    uint8_t threadBoost_ = 0;
    int tapiHandle_ = NoHandle;
    bool reopenAfterClose_ = false;
    std::vector<std::weak_ptr<TCloseWatch>> closeWatches_;
    bool tellingClose_ = false;

    TDeviceLayer deviceLayer_ = dlWin32;
    uint16_t comNumber_ = 0;
    int32_t baud_ = 19200;
    bool promptForPort_ = true;
    TParity parity_ = pNone;
    uint16_t dataBits_ = 8;
    uint16_t stopBits_ = 1;
    uint16_t inSize_ = 4096;
    uint16_t outSize_ = 4096;
    bool autoOpen_ = true;
    bool open_ = false;
    bool dtr_ = true;
    bool rts_ = true;
    THWFlowOptionSet hwFlowOptions_ = 0;
    TSWFlowOptions swFlowOptions_ = swfNone;
    char xonChar_ = 17;
    char xoffChar_ = 19;
    uint16_t bufferFull_ = 0;
    uint16_t bufferResume_ = 0;
    TTraceLogState tracing_ = tlOff;
    TTraceLogState logging_ = tlOff;
    uint32_t traceSize_ = 10000;
    std::string traceName_ = "FXC.TRC";
    bool traceHex_ = true;
    bool traceAllHex_ = false;
    uint32_t logSize_ = 10000;
    std::string logName_ = "FXC.LOG";
    bool logHex_ = true;
    bool logAllHex_ = false;
    bool useMSRShadow_ = true;
    bool useEventWord_ = true;
    uint16_t commNotificationLevel_ = 10;
    TTapiMode tapiMode_ = tmAuto;
    bool rs485Mode_ = false;

    TTriggerEvent onTrigger_;
    TTriggerAvailEvent onTriggerAvail_;
    TTriggerDataEvent onTriggerData_;
    TTriggerStatusEvent onTriggerStatus_;
    TTriggerTimerEvent onTriggerTimer_;
    TTriggerLineErrorEvent onTriggerLineError_;
    TNotifyEvent onTriggerModemStatus_;
    TNotifyEvent onTriggerOutbuffFree_;
    TNotifyEvent onTriggerOutbuffUsed_;
    TNotifyEvent onTriggerOutSent_;
    TWaitCharEvent onWaitChar_;
};

// The published form: TFxCustomComPort with nothing added.
class TFxComPort : public TFxCustomComPort {};

} // namespace zn::comms
