#include "comms/fax/fax_component_port.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

#include "comms/port/com_port.h"
#include "comms/fax/dispatcher_fax_port.h"
#include "comms/base/exceptions.h"
#include "platform/io_error.h"

namespace zn::comms {

void ApplyFaxLineSettings(TFxCustomComPort& port)
{
    if (port.Loading())
        return;
    port.SetDataBits(8);
    port.SetStopBits(1);
    port.SetParity(pNone);
    port.SetBaud(19200);
    port.SetInSize(8192);
    port.SetOutSize(8192);
    port.SetHWFlowOptions(HWFlow(hwfUseRTS) | HWFlow(hwfRequireCTS));
}

class FaxSessionLine::Guarded : public FaxPort {
public:
    void Attach(TFxBaseDispatcher& d)
    {
        if (!line_ || dispatcher_ != &d)
            line_ = std::make_unique<DispatcherFaxPort>(d);
        dispatcher_ = &d;
    }
    // Waits until no handler call is in progress on another thread.
    void WaitIdle()
    {
        std::unique_lock<std::mutex> g(lock_);
        idle_.wait(g, [this] { return calls_ == 0; });
    }

    int Handle() const override { return line_->Handle(); }
    bool HasInput() override { return line_->HasInput(); }
    int ReadChar(uint8_t& c) override { return line_->ReadChar(c); }
    uint32_t InputCount() override { return line_->InputCount(); }
    void DiscardInput() override { line_->DiscardInput(); }
    int WriteBlock(const uint8_t* data, uint32_t count) override { return line_->WriteBlock(data, count); }
    uint32_t OutputCount() override { return line_->OutputCount(); }
    uint32_t OutputFree() override { return line_->OutputFree(); }
    void DiscardOutput() override { line_->DiscardOutput(); }
    int SetLineBaud(uint32_t baud) override { return line_->SetLineBaud(baud); }
    uint32_t LineBaud() override { return line_->LineBaud(); }
    int SetModemLines(bool dtr, bool rts) override { return line_->SetModemLines(dtr, rts); }
    int SetDtrLine(bool on) override { return line_->SetDtrLine(on); }
    bool ReadCarrier() override { return line_->ReadCarrier(); }
    int SetSoftwareFlow(uint32_t full, uint32_t resume, uint32_t options) override
    {
        return line_->SetSoftwareFlow(full, resume, options);
    }
    int ClearSoftwareFlow() override { return line_->ClearSoftwareFlow(); }
    int AddTimerTrigger() override { return line_->AddTimerTrigger(); }
    int AddStatusTrigger(int type) override { return line_->AddStatusTrigger(type); }
    int RemoveTrigger(int handle) override { return line_->RemoveTrigger(handle); }
    int SetTimerTrigger(int handle, int32_t ticks, bool activate) override
    {
        return line_->SetTimerTrigger(handle, ticks, activate);
    }
    int SetStatusTrigger(int handle, uint32_t value, bool activate) override
    {
        return line_->SetStatusTrigger(handle, value, activate);
    }
    int SetAvailLevel(uint32_t count) override { return line_->SetAvailLevel(count); }
    int AddProcedureHandler(const void* key, Handler handler) override
    {
        auto alive = std::make_shared<std::atomic<bool>>(true);
        {
            std::lock_guard<std::mutex> g(lock_);
            alive_[key] = alive;
        }
        return line_->AddProcedureHandler(key, [this, alive, handler](uint32_t msg, uintptr_t w, intptr_t l) {
            {
                std::lock_guard<std::mutex> g(lock_);
                if (!*alive)
                    return;
                ++calls_;
            }
            handler(msg, w, l);
            std::lock_guard<std::mutex> g(lock_);
            if (--calls_ == 0)
                idle_.notify_all();
        });
    }
    void RemoveProcedureHandler(const void* key) override
    {
        line_->RemoveProcedureHandler(key);
        std::lock_guard<std::mutex> g(lock_);
        auto it = alive_.find(key);
        if (it != alive_.end()) {
            *it->second = false;
            alive_.erase(it);
        }
    }
    int SetUserSlot(void* record, int slot) override { return line_->SetUserSlot(record, slot); }
    bool ExchangeBusy(bool busy) override { return line_->ExchangeBusy(busy); }
    void LogFax(int subKind, uint32_t value, const std::string& text) override { line_->LogFax(subKind, value, text); }

private:
    std::unique_ptr<DispatcherFaxPort> line_;
    TFxBaseDispatcher* dispatcher_ = nullptr;
    std::mutex lock_;
    std::condition_variable idle_;
    int calls_ = 0;
    std::map<const void*, std::shared_ptr<std::atomic<bool>>> alive_;
};

uint32_t PortBaud(const TFxCustomComPort& port) { return uint32_t(port.Baud()); }
bool PortIsOpen(const TFxCustomComPort& port) { return port.Open(); }
void WatchPortClose(TFxCustomComPort& port, const std::shared_ptr<std::function<void()>>& watch)
{
    port.WatchClose(watch);
}

FaxSessionLine::FaxSessionLine() : guarded_(std::make_unique<Guarded>()) {}
FaxSessionLine::~FaxSessionLine() = default;

FaxPort& FaxSessionLine::Attach(TFxCustomComPort* port)
{
    if (!port)
        RaiseFaxComponentError(-1005);
    if (port->DeviceLayer() == dlWinsock)
        RaiseFaxComponentError(-1009);
    if (port->OutSize() < 8192)
        RaiseFaxComponentError(-3006);
    guarded_->Attach(*port->ValidDispatcher());
    return *guarded_;
}

void FaxSessionLine::WaitIdle() { guarded_->WaitIdle(); }

void ComPortDeleter::operator()(TFxCustomComPort* port) const { delete port; }

ComPortPtr MakeFaxComPort(int comNumber)
{
    ComPortPtr port(new TFxComPort);
    port->SetPromptForPort(false);
    port->SetComNumber(uint16_t(comNumber));
    port->SetAutoOpen(true);
    return port;
}

void RaiseFaxComponentError(int code)
{
    if (code < 0)
        CheckErrorCode(nullptr, code);
}

std::string FaxErrorText(int code) { return ErrorCodeToText(code); }

void RaiseFileError(int err)
{
    int code = platform::ErrnoToIoError(err);
    throw EInOutError(ErrorCodeToText(-code), code);
}

} // namespace zn::comms
