#include "comms/port/com_port.h"

#include "comms/base/exceptions.h"
#include "comms/port/port_driver.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

namespace zn::comms {

namespace {

TComSelectPrompt& SelectPrompt()
{
    static TComSelectPrompt prompt;
    return prompt;
}

// An exception raised by an event handler on the notification window goes to the application's
// reporting, never further up the message loop.
void ReportHandlerException(const std::exception* e)
{
    std::fprintf(stderr, "zn: port event handler failed: %s\n", e ? e->what() : "unknown exception");
}

std::string PortDeviceName(uint16_t n) { return "\\\\.\\COM" + std::to_string(n); }

class PortProbe : public TFxWin32Dispatcher {
public:
    PortProbe() : TFxWin32Dispatcher(nullptr) {}
    int Error() const { return LastError(); }
};

} // namespace

void SetComSelectPrompt(TComSelectPrompt prompt) { SelectPrompt() = std::move(prompt); }

bool ComPortPresent(int n)
{
    if (n <= 0)
        return false;
    PortProbe probe;
    if (probe.OpenCom(PortDeviceName(uint16_t(n)), 64, 64) >= 0) {
        probe.CloseCom();
        return true;
    }
    return probe.Error() == ErrorAccessDenied; // held by another program: present
}

// ---------------------------------------------------------------- life cycle

TFxCustomComPort::TFxCustomComPort() = default;

TFxCustomComPort::~TFxCustomComPort()
{
    reopenAfterClose_ = false;
    try {
        if (portState_ == PortOpen)
            ClosePort();
    } catch (const std::exception& e) {
        ReportHandlerException(&e);
    }
    if (dispatcher_) {
        // A deferred close: its threads end on their own, nothing is freed under them. A window
        // notification may be waiting for this thread meanwhile.
        while (dispatcher_ && (dispatcher_->ThreadsRunning() || dispatcher_->IsBusy())) {
            uint32_t pumped = platform::PumpOneMessage(); // may finish the close itself (0x7E0A)
            if (pumped == 0 || pumped == platform::WM_QUIT_MSG)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (dispatcher_)
            FinishClosing();
    }
}

void TFxCustomComPort::Assign(TFxCustomComPort& source)
{
    deviceLayer_ = source.deviceLayer_;
    comNumber_ = source.comNumber_;
    baud_ = source.baud_;
    promptForPort_ = source.promptForPort_;
    parity_ = source.parity_;
    dataBits_ = source.dataBits_;
    stopBits_ = source.stopBits_;
    inSize_ = source.inSize_;
    outSize_ = source.outSize_;
    autoOpen_ = source.autoOpen_;
    dtr_ = source.dtr_;
    rts_ = source.rts_;
    hwFlowOptions_ = source.hwFlowOptions_;
    swFlowOptions_ = source.swFlowOptions_;
    xonChar_ = source.xonChar_;
    xoffChar_ = source.xoffChar_;
    bufferFull_ = source.bufferFull_;
    bufferResume_ = source.bufferResume_;
    tracing_ = source.tracing_ == tlOn ? tlOn : tlOff;
    logging_ = source.logging_ == tlOn ? tlOn : tlOff;
    traceSize_ = source.traceSize_;
    traceName_ = source.traceName_;
    traceHex_ = source.traceHex_;
    traceAllHex_ = source.traceAllHex_;
    logSize_ = source.logSize_;
    logName_ = source.logName_;
    logHex_ = source.logHex_;
    logAllHex_ = source.logAllHex_;
    useMSRShadow_ = source.useMSRShadow_;
    useEventWord_ = source.useEventWord_;
    commNotificationLevel_ = source.commNotificationLevel_;
    rs485Mode_ = source.rs485Mode_;
    tapiMode_ = source.tapiMode_;
    onTrigger_ = source.onTrigger_;
    onTriggerAvail_ = source.onTriggerAvail_;
    onTriggerData_ = source.onTriggerData_;
    onTriggerStatus_ = source.onTriggerStatus_;
    onTriggerTimer_ = source.onTriggerTimer_;
    if (source.portState_ == PortOpen && source.dispatcher_) {
        source.dispatcher_->SaveTriggers(savedTriggers_);
        triggersSaved_ = true;
    }
}

void TFxCustomComPort::Loaded()
{
    SetLoading(false);
    if (!openAfterLoading_)
        return;
    openAfterLoading_ = false;
    try {
        SetOpen(true);
    } catch (const std::exception& e) {
        open_ = false;
        ReportHandlerException(&e);
    }
}

// ---------------------------------------------------------------- open and close

std::unique_ptr<TFxBaseDispatcher> TFxCustomComPort::CreateDispatcher()
{
    if (deviceLayer_ != dlWin32)
        Check(ecNullApi);
    if (tapiMode_ == tmOn)
        return std::make_unique<TFxTAPI32Dispatcher>(this, tapiHandle_);
    return std::make_unique<TFxWin32Dispatcher>(this);
}

void TFxCustomComPort::PromptForComNumber()
{
    if (comNumber_ != 0)
        return;
    if (!promptForPort_ || !SelectPrompt())
        Check(ecNoPortSelected);
    std::string chosen;
    if (!SelectPrompt()(chosen) || chosen.size() < 4)
        Check(ecNoPortSelected);
    comNumber_ = uint16_t(std::atoi(chosen.c_str() + 3));
}

void TFxCustomComPort::OpenDispatcherPort()
{
    uint32_t options = (dtr_ ? OptDtrOn : 0) | (rts_ ? OptRtsOn : 0)
                       | (hwFlowOptions_ & HWFlow(hwfUseDTR) ? OptDtrFlow : 0)
                       | (hwFlowOptions_ & HWFlow(hwfUseRTS) ? OptRtsFlow : 0);
    std::string device = tapiMode_ == tmOn ? std::string() : PortDeviceName(comNumber_);
    int r = dispatcher_->OpenPort(device, uint32_t(baud_), parity_, dataBits_, stopBits_, inSize_, outSize_, options);
    if (r == ecAccessDenied)
        r = ecAlreadyOpen;
    else if (r == ecFileNotFound || r == ecPathNotFound)
        r = ecBadId;
    Check(r);
}

void TFxCustomComPort::OpenPort()
{
    if (tapiMode_ != tmOn)
        PromptForComNumber();
    try {
        dispatcher_ = CreateDispatcher();
        if (!dispatcher_)
            return;
        dispatcher_->SetDeviceName("COM" + std::to_string(comNumber_));
        if (tapiMode_ == tmOn) {
            if (tapiHandle_ == NoHandle)
                Check(ecNotOpenedByTapi);
            // Take the line as the call left it.
            TComState s;
            if (dispatcher_->GetComState(s) == 0) {
                baud_ = int32_t(MapLegacyBaud(s.baud));
                parity_ = TParity(s.parity);
                dataBits_ = s.byteSize;
                stopBits_ = s.stopBits == StopBitsOne ? 1 : 2;
                int hw, sw;
                uint8_t xon, xoff;
                dispatcher_->GetFlowOptions(hw, sw, xon, xoff);
                hwFlowOptions_ = THWFlowOptionSet(hw);
                swFlowOptions_ = TSWFlowOptions(sw == 3            ? swfBoth
                                                : sw == SwReceive  ? swfReceive
                                                : sw == SwTransmit ? swfTransmit
                                                                   : swfNone);
                xonChar_ = char(xon);
                xoffChar_ = char(xoff);
            }
        }
        OpenDispatcherPort();
        if (!dispatcher_->IsOpen()) { // refused while loading from a form: silently closed
            dispatcher_.reset();
            open_ = false;
            return;
        }
        portState_ = PortOpen;
        UpdateHandlerFlags();
        if (forceApply_) {
            SetTracing(tracing_);
            SetLogging(logging_);
            SetHWFlowOptions(hwFlowOptions_);
            SetSWFlowOptions(swFlowOptions_);
            SetXOnChar(xonChar_);
            SetXOffChar(xoffChar_);
            dispatcher_->SetAvailLevel(availLevel_);
            SetDTR(dtr_);
            if (deviceLayer_ != dlFossil)
                SetRTS(rts_);
            SetUseMSRShadow(useMSRShadow_);
            SetRS485Mode(rs485Mode_);
            dispatcher_->SetThreadBoost(threadBoost_);
            forceApply_ = false;
        }
        open_ = true;
        RegisterComWindow(true);
        if (triggersSaved_)
            dispatcher_->RestoreTriggers(savedTriggers_);
    } catch (...) {
        open_ = false;
        portState_ = PortClosed;
        forceApply_ = true;
        window_.reset();
        dispatcher_.reset();
        throw;
    }
}

void TFxCustomComPort::RegisterComWindow(bool on)
{
    if (on) {
        if (window_)
            return;
        window_ = std::make_unique<platform::MessageWindow>(
            "fxComWindow",
            [this](uint32_t msg, platform::WParam w, platform::LParam l) { return WindowProc(msg, w, l); });
        if (dispatcher_)
            dispatcher_->AddWindowHandler(window_->Handle());
    } else if (window_) {
        if (dispatcher_)
            dispatcher_->RemoveWindowHandler(window_->Handle());
        window_.reset();
    }
}

void TFxCustomComPort::WatchClose(const std::shared_ptr<TCloseWatch>& watch)
{
    auto gone = [](const std::weak_ptr<TCloseWatch>& w) { return w.expired(); };
    closeWatches_.erase(std::remove_if(closeWatches_.begin(), closeWatches_.end(), gone), closeWatches_.end());
    for (const auto& w : closeWatches_)
        if (w.lock() == watch)
            return;
    closeWatches_.push_back(watch);
}

void TFxCustomComPort::ClosePort()
{
    if (portState_ == PortOpen && dispatcher_ && !tellingClose_) {
        // Whoever closes the port (the program, a line device whose call ended, a modem gone), a
        // session still running on it ends first, while the dispatcher it uses is there.
        tellingClose_ = true;
        const auto watches = closeWatches_;
        for (const auto& w : watches) {
            if (auto watch = w.lock()) {
                try {
                    (*watch)();
                } catch (const std::exception& e) {
                    ReportHandlerException(&e);
                }
            }
        }
        tellingClose_ = false;
    }
    open_ = false;
    if (portState_ != PortOpen || !dispatcher_)
        return;
    // The trace and the log go to their files; a file that cannot be written must not keep the port
    // open: the failure is reported once the port is closed.
    std::exception_ptr dumpFailure;
    try {
        SetTracing(tlDump);
    } catch (...) {
        dumpFailure = std::current_exception();
    }
    try {
        SetLogging(tlDump);
    } catch (...) {
        if (!dumpFailure)
            dumpFailure = std::current_exception();
    }
    portState_ = PortClosing;
    dispatcher_->SaveTriggers(savedTriggers_);
    triggersSaved_ = true;
    dispatcher_->ClosePort();
    if (dispatcher_->ClosePending() || dispatcher_->IsBusy()) {
        // A handler or a direct reader is still inside the dispatcher: finish once it has left.
        platform::PostMessageTo(window_->Handle(), MsgClosePending, 0, platform::LParam(dispatcher_->Handle()) << 16);
        platform::PumpOneMessage();
    } else {
        FinishClosing();
    }
    if (dumpFailure)
        std::rethrow_exception(dumpFailure);
}

void TFxCustomComPort::FinishClosing()
{
    RegisterComWindow(false);
    dispatcher_.reset();
    portState_ = PortClosed;
    forceApply_ = true;
}

platform::LResult TFxCustomComPort::WindowProc(uint32_t msg, platform::WParam wParam, platform::LParam lParam)
{
    int handle = int((lParam >> 16) & 0xFFFF);
    bool ours = false;
    DispatcherList::WithDispatcher(handle, [&](TFxBaseDispatcher* d) { ours = d && d == dispatcher_.get(); });
    if (!ours)
        return 0;
    try {
        switch (msg) {
        case MsgTriggerAvail:
        case MsgTriggerTimer:
        case MsgTriggerStatus: {
            uint32_t data = msg == MsgTriggerAvail ? uint32_t(wParam) : uint32_t(lParam & 0xFFFF);
            Trigger(msg, int(wParam), data);
            if (msg == MsgTriggerAvail) {
                TriggerAvail(uint32_t(wParam));
            } else if (msg == MsgTriggerTimer) {
                TriggerTimer(int(wParam));
            } else {
                TriggerStatus(int(wParam));
                switch (wParam & 7) {
                case StatusModem: TriggerModemStatus(); break;
                case StatusLine: {
                    int error = dispatcher_->TakeLineError();
                    TriggerLineError(error, dispatcher_->TakeLineBreak());
                    break;
                }
                case StatusOutBuffFree: TriggerOutbuffFree(); break;
                case StatusOutBuffUsed: TriggerOutbuffUsed(); break;
                case StatusOutSent: TriggerOutSent(); break;
                default: break;
                }
            }
            break;
        }
        case MsgClosePending:
            if (dispatcher_->ThreadsRunning() || dispatcher_->IsBusy()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                platform::PostMessageTo(window_->Handle(), msg, wParam, lParam);
            } else {
                FinishClosing();
                if (reopenAfterClose_) {
                    reopenAfterClose_ = false;
                    OpenPort();
                }
            }
            break;
        default: break;
        }
    } catch (const std::exception& e) {
        ReportHandlerException(&e);
    } catch (...) {
        ReportHandlerException(nullptr);
    }
    return 0;
}

// ---------------------------------------------------------------- operations

TFxBaseDispatcher* TFxCustomComPort::GetDispatcher()
{
    if (!dispatcher_ && portState_ == PortClosed && !Loading() && autoOpen_)
        SetOpen(true);
    return dispatcher_.get();
}

TFxBaseDispatcher* TFxCustomComPort::ValidDispatcher()
{
    TFxBaseDispatcher* d = GetDispatcher();
    if (!d || portState_ != PortOpen) {
        Check(ecCommNotOpen);
        return nullptr;
    }
    return d;
}

void TFxCustomComPort::PutString(const std::string& text)
{
    if (Closing())
        return;
    if (TFxBaseDispatcher* d = ValidDispatcher())
        Check(d->WriteString(text));
}

bool TFxCustomComPort::HasInput()
{
    if (Closing())
        return false;
    TFxBaseDispatcher* d = ValidDispatcher();
    return d && d->HasInput();
}

char TFxCustomComPort::ReadChar()
{
    if (Closing())
        return 0;
    uint8_t c = 0;
    if (TFxBaseDispatcher* d = ValidDispatcher())
        Check(d->ReadChar(c));
    return char(c);
}

bool TFxCustomComPort::WaitForString(const std::string& text, int32_t ticks, bool ignoreCase, bool yield)
{
    if (text.empty())
        return true;
    if (Closing())
        return false; // nothing more arrives on a port that is going: the text has not come
    TFxBaseDispatcher* d = ValidDispatcher();
    if (!d)
        return false;
    auto same = [ignoreCase](char a, char b) {
        return ignoreCase ? std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b))
                          : a == b;
    };
    bool wasBusy = d->ExchangeBusy(true);
    EventTimer timer;
    StartTimer(timer, ticks);
    size_t matched = 0;
    bool found = false;
    for (;;) {
        uint8_t c;
        while (!found && d->ReadChar(c) == 0) {
            WaitChar(char(c));
            if (same(char(c), text[matched])) {
                found = ++matched == text.size();
            } else {
                matched = same(char(c), text[0]) ? 1 : 0;
            }
        }
        // Found, timed out, quitting, or the port closing under us: the answer is whether it came.
        if (found || TimerExpired(timer) || platform::QuitRequested() || portState_ != PortOpen || d->ClosePending())
            break;
        uint32_t pumped = yield ? platform::PumpOneMessage() : 0;
        if (pumped == 0 || pumped == platform::WM_QUIT_MSG)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!wasBusy)
        d->ExchangeBusy(false);
    return found;
}

void TFxCustomComPort::FlushInBuffer()
{
    if (Closing())
        return;
    if (TFxBaseDispatcher* d = ValidDispatcher())
        Check(d->DiscardInput());
}

void TFxCustomComPort::FlushOutBuffer()
{
    if (Closing())
        return;
    if (TFxBaseDispatcher* d = ValidDispatcher())
        Check(d->DiscardOutput());
}

void TFxCustomComPort::AddStringToLog(const std::string& text)
{
    if (Closing() || !dispatcher_ || !dispatcher_->LoggingOn())
        return;
    dispatcher_->AddDispatchEntry(log_kind::User, 0, uint32_t(text.size()), text.data(), 0);
}

int TFxCustomComPort::YieldTimeSlice() { return dispatcher_ ? dispatcher_->YieldTimeSlice() : 0; }

int TFxCustomComPort::TakeLineError()
{
    return portState_ == PortOpen && dispatcher_ ? dispatcher_->TakeLineError() : 0;
}

bool TFxCustomComPort::TakeLineBreak()
{
    return portState_ == PortOpen && dispatcher_ ? dispatcher_->TakeLineBreak() : false;
}

// ---------------------------------------------------------------- events

bool TFxCustomComPort::AnyTriggerEventAssigned() const
{
    return onTrigger_ || onTriggerAvail_ || onTriggerData_ || onTriggerStatus_ || onTriggerTimer_ || onTriggerLineError_
           || onTriggerModemStatus_ || onTriggerOutbuffFree_ || onTriggerOutbuffUsed_ || onTriggerOutSent_;
}

void TFxCustomComPort::UpdateHandlerFlags()
{
    if (portState_ != PortOpen || !dispatcher_)
        return;
    dispatcher_->UpdateHandlerFlags(AnyTriggerEventAssigned() ? 1 : 2);
}

void TFxCustomComPort::Trigger(uint32_t msg, int triggerHandle, uint32_t data)
{
    if (onTrigger_)
        onTrigger_(*this, msg, triggerHandle, data);
}

void TFxCustomComPort::TriggerAvail(uint32_t count)
{
    if (onTriggerAvail_)
        onTriggerAvail_(*this, count);
}

void TFxCustomComPort::TriggerData(int triggerHandle)
{
    if (onTriggerData_)
        onTriggerData_(*this, triggerHandle);
}

void TFxCustomComPort::TriggerStatus(int triggerHandle)
{
    if (onTriggerStatus_)
        onTriggerStatus_(*this, triggerHandle);
}

void TFxCustomComPort::TriggerTimer(int triggerHandle)
{
    if (onTriggerTimer_)
        onTriggerTimer_(*this, triggerHandle);
}

void TFxCustomComPort::TriggerLineError(int error, bool lineBreak)
{
    if (onTriggerLineError_)
        onTriggerLineError_(*this, error, lineBreak);
}

void TFxCustomComPort::TriggerModemStatus()
{
    if (onTriggerModemStatus_)
        onTriggerModemStatus_(*this);
}

void TFxCustomComPort::TriggerOutbuffFree()
{
    if (onTriggerOutbuffFree_)
        onTriggerOutbuffFree_(*this);
}

void TFxCustomComPort::TriggerOutbuffUsed()
{
    if (onTriggerOutbuffUsed_)
        onTriggerOutbuffUsed_(*this);
}

void TFxCustomComPort::TriggerOutSent()
{
    if (onTriggerOutSent_)
        onTriggerOutSent_(*this);
}

void TFxCustomComPort::WaitChar(char c)
{
    if (onWaitChar_)
        onWaitChar_(*this, c);
}

// ---------------------------------------------------------------- setters

void TFxCustomComPort::SetOpen(bool open)
{
    if (Loading()) {
        open_ = open;
        openAfterLoading_ = open;
        return;
    }
    if (!open) {
        reopenAfterClose_ = false; // a later False overrides a True that came during a close
        ClosePort();
    } else if (portState_ == PortClosing) {
        reopenAfterClose_ = true;
    } else if (portState_ == PortClosed) {
        OpenPort();
    }
}

void TFxCustomComPort::SetDeviceLayer(TDeviceLayer layer)
{
    if (layer != dlWin32 || portState_ != PortClosed || layer == deviceLayer_)
        return;
    deviceLayer_ = layer;
    DeviceLayerChanged();
}

void TFxCustomComPort::SetComNumber(uint16_t n)
{
    if (n == comNumber_ && !forceApply_)
        return;
    if (portState_ != PortOpen) {
        comNumber_ = n;
        return;
    }
    TSavedTriggers triggers;
    dispatcher_->SaveTriggers(triggers);
    TTraceLogState tracing = tracing_, logging = logging_;
    ClosePort();
    comNumber_ = n;
    tracing_ = tracing == tlOn ? tlOn : tlOff;
    logging_ = logging == tlOn ? tlOn : tlOff;
    savedTriggers_ = triggers;
    triggersSaved_ = true;
    SetOpen(true);
}

// Baud, parity, data bits and stop bits go to the line together; a value is stored once applied.
void TFxCustomComPort::ApplyLine(int32_t baud, TParity parity, uint16_t dataBits, uint16_t stopBits)
{
    bool same = baud == baud_ && parity == parity_ && dataBits == dataBits_ && stopBits == stopBits_;
    if (same && !forceApply_)
        return;
    if (portState_ == PortOpen)
        Check(dispatcher_->SetLineParams(uint32_t(baud), parity, dataBits, stopBits));
    baud_ = baud;
    parity_ = parity;
    dataBits_ = dataBits;
    stopBits_ = stopBits;
}

void TFxCustomComPort::SetBaud(int32_t baud) { ApplyLine(baud, parity_, dataBits_, stopBits_); }

void TFxCustomComPort::SetParity(TParity parity) { ApplyLine(baud_, parity, dataBits_, stopBits_); }

void TFxCustomComPort::SetDataBits(uint16_t bits) { ApplyLine(baud_, parity_, bits, stopBits_); }

void TFxCustomComPort::SetStopBits(uint16_t bits) { ApplyLine(baud_, parity_, dataBits_, bits); }

void TFxCustomComPort::SetInSize(uint16_t size)
{
    if (size == inSize_ && !forceApply_)
        return;
    inSize_ = size;
    if (portState_ == PortOpen)
        dispatcher_->SetQueueSizes(inSize_, outSize_);
}

void TFxCustomComPort::SetOutSize(uint16_t size)
{
    if (size == outSize_ && !forceApply_)
        return;
    outSize_ = size;
    if (portState_ == PortOpen)
        dispatcher_->SetQueueSizes(inSize_, outSize_);
}

void TFxCustomComPort::SetDTR(bool on)
{
    if (on == dtr_ && !forceApply_)
        return;
    if (portState_ == PortOpen) {
        if (Check(dispatcher_->SetDtrLine(on)) == 0)
            dtr_ = on;
    } else {
        dtr_ = on;
    }
}

void TFxCustomComPort::SetRTS(bool on)
{
    if (on == rts_ && !forceApply_)
        return;
    if (portState_ == PortOpen) {
        if (Check(dispatcher_->SetRtsLine(on)) == 0)
            rts_ = on;
    } else {
        rts_ = on;
    }
}

void TFxCustomComPort::SetRS485Mode(bool on)
{
    if (on == rs485Mode_ && !forceApply_)
        return;
    if (portState_ == PortOpen)
        dispatcher_->SetRS485Mode(on);
    rs485Mode_ = on;
    if (on) {
        hwFlowOptions_ &= THWFlowOptionSet(~(HWFlow(hwfUseRTS) | HWFlow(hwfRequireCTS)));
        SetRTS(false);
    }
}

void TFxCustomComPort::SetHWFlowOptions(THWFlowOptionSet options)
{
    if (options == hwFlowOptions_ && !forceApply_)
        return;
    if (options != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_)
            bufferFull_ = uint16_t(uint32_t(inSize_) * 9 / 10);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
            bufferResume_ = uint16_t(uint32_t(inSize_) / 10);
    }
    if (portState_ == PortOpen) {
        // THWFlowOptionSet's bits are the dispatcher's option bits.
        Check(dispatcher_->SetHardwareFlow(bufferFull_, bufferResume_, options));
    }
    hwFlowOptions_ = options;
    if (options & (HWFlow(hwfUseRTS) | HWFlow(hwfRequireCTS)))
        rs485Mode_ = false;
}

void TFxCustomComPort::SetSWFlowOptions(TSWFlowOptions options)
{
    if (options == swFlowOptions_ && !forceApply_)
        return;
    int bits = options == swfReceive ? SwReceive : options == swfTransmit ? SwTransmit : options == swfBoth ? 3 : 0;
    if (bits) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_)
            bufferFull_ = uint16_t(uint32_t(inSize_) * 3 / 4);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
            bufferResume_ = uint16_t(uint32_t(inSize_) / 4);
    }
    if (portState_ == PortOpen)
        Check(bits ? dispatcher_->SetSoftwareFlow(bufferFull_, bufferResume_, bits) : dispatcher_->ClearSoftwareFlow());
    swFlowOptions_ = options;
}

void TFxCustomComPort::SetXOnChar(char c)
{
    if (c == xonChar_ && !forceApply_)
        return;
    if (portState_ == PortOpen)
        Check(dispatcher_->SetFlowChars(uint8_t(c), uint8_t(xoffChar_)));
    xonChar_ = c;
}

void TFxCustomComPort::SetXOffChar(char c)
{
    if (c == xoffChar_ && !forceApply_)
        return;
    if (portState_ == PortOpen)
        Check(dispatcher_->SetFlowChars(uint8_t(xonChar_), uint8_t(c)));
    xoffChar_ = c;
}

void TFxCustomComPort::ReapplyFlow()
{
    bool saved = forceApply_;
    forceApply_ = true;
    try {
        SetHWFlowOptions(hwFlowOptions_);
        SetSWFlowOptions(swFlowOptions_);
    } catch (...) {
        forceApply_ = saved;
        throw;
    }
    forceApply_ = saved;
}

void TFxCustomComPort::SetBufferFull(uint16_t n)
{
    if (n == bufferFull_ && !forceApply_)
        return;
    bufferFull_ = n > inSize_ ? uint16_t(uint32_t(inSize_) * 9 / 10) : n;
    ReapplyFlow();
}

void TFxCustomComPort::SetBufferResume(uint16_t n)
{
    if (n == bufferResume_ && !forceApply_)
        return;
    bufferResume_ = n > bufferFull_ ? uint16_t(uint32_t(bufferFull_) / 10) : n;
    ReapplyFlow();
}

void TFxCustomComPort::SetTraceSize(uint32_t size)
{
    size = std::min<uint32_t>(size, MaxTraceEntries);
    if (size == traceSize_ && !forceApply_)
        return;
    traceSize_ = size;
    if (portState_ == PortOpen && (tracing_ == tlOn || tracing_ == tlPause)) {
        dispatcher_->AbortTracing();
        Check(dispatcher_->InitTracing(traceSize_));
        tracing_ = tlOn;
    }
}

void TFxCustomComPort::SetLogSize(uint32_t size)
{
    size = std::min<uint32_t>(size, 16000000);
    if (size == logSize_ && !forceApply_)
        return;
    logSize_ = size;
    if (portState_ == PortOpen && (logging_ == tlOn || logging_ == tlPause)) {
        dispatcher_->AbortDispatchLog();
        Check(dispatcher_->InitDispatchLog(logSize_));
        logging_ = tlOn;
    }
}

void TFxCustomComPort::SetTracing(TTraceLogState state) { ApplyTraceLog(true, state); }

void TFxCustomComPort::SetLogging(TTraceLogState state) { ApplyTraceLog(false, state); }

// The trace and the dispatch log share one state machine.
void TFxCustomComPort::ApplyTraceLog(bool trace, TTraceLogState state)
{
    TTraceLogState& current = trace ? tracing_ : logging_;
    if (state == current && !forceApply_)
        return;
    if (portState_ != PortOpen || !dispatcher_) {
        current = state == tlOn ? tlOn : tlOff;
        return;
    }
    TFxBaseDispatcher& d = *dispatcher_;
    bool active = current == tlOn || current == tlPause;
    switch (state) {
    case tlOff:
        if (active)
            trace ? d.AbortTracing() : d.AbortDispatchLog();
        current = tlOff;
        break;
    case tlOn:
        if (current == tlPause && !forceApply_)
            trace ? d.StartTracing() : d.StartDispatchLog();
        else
            Check(trace ? d.InitTracing(traceSize_) : d.InitDispatchLog(logSize_));
        current = tlOn;
        break;
    case tlDump:
    case tlAppend:
        if (active) {
            bool append = state == tlAppend;
            current = tlOff;
            if (trace) {
                d.StartTracing();
                Check(d.DumpTrace(traceName_, append, traceHex_, traceAllHex_));
            } else {
                d.StartDispatchLog();
                Check(d.DumpDispatchLog(logName_, append, logAllHex_, logHex_));
            }
        }
        current = tlOff;
        break;
    case tlClear:
        if (active)
            trace ? d.ClearTracing() : d.ClearDispatchLog();
        break;
    case tlPause:
        if (current == tlOn) {
            trace ? d.StopTracing() : d.StopDispatchLog();
            current = tlPause;
        }
        break;
    }
}

} // namespace zn::comms
