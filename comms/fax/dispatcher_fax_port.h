// The fax engine's view of an open port dispatcher.
#pragma once
#include "comms/port/dispatcher.h"
#include "comms/engine/fax_port.h"

namespace zn::comms {

// The engine's port interface names the dispatcher's notifications without depending on it.
static_assert(kMsgDataAvailable == MsgTriggerAvail && kMsgTimerTrigger == MsgTriggerTimer
                  && kMsgStatusTrigger == MsgTriggerStatus,
              "the fax port's notifications are the dispatcher's");

class DispatcherFaxPort : public FaxPort {
public:
    explicit DispatcherFaxPort(TFxBaseDispatcher& d) : d_(d) {}

    int Handle() const override { return d_.Handle(); }
    bool HasInput() override { return d_.HasInput(); }
    int ReadChar(uint8_t& c) override { return d_.ReadChar(c); }
    uint32_t InputCount() override { return d_.InputCount(); }
    void DiscardInput() override { d_.DiscardInput(); }
    int WriteBlock(const uint8_t* data, uint32_t count) override
    {
        int rc = d_.WriteBlock(data, count);
        return rc < 0 ? rc : 0;
    }
    uint32_t OutputCount() override { return d_.OutputCount(); }
    uint32_t OutputFree() override { return d_.OutputFree(); }
    void DiscardOutput() override { d_.DiscardOutput(); }
    int SetLineBaud(uint32_t baud) override { return d_.SetLineBaud(baud); }
    uint32_t LineBaud() override { return d_.Baud(); }
    int SetModemLines(bool dtr, bool rts) override { return d_.SetModemLines(dtr, rts); }
    int SetDtrLine(bool on) override { return d_.SetDtrLine(on); }
    bool ReadCarrier() override { return d_.ReadCarrier(); }
    int SetSoftwareFlow(uint32_t full, uint32_t resume, uint32_t options) override
    {
        return d_.SetSoftwareFlow(full, resume, int(options));
    }
    int ClearSoftwareFlow() override { return d_.ClearSoftwareFlow(); }
    int AddTimerTrigger() override { return d_.AddTimerTrigger(); }
    int AddStatusTrigger(int type) override { return d_.AddStatusTrigger(type); }
    int RemoveTrigger(int handle) override { return d_.RemoveTrigger(handle); }
    int SetTimerTrigger(int handle, int32_t ticks, bool activate) override
    {
        return d_.SetTimerTrigger(handle, ticks, activate);
    }
    int SetStatusTrigger(int handle, uint32_t value, bool activate) override
    {
        return d_.SetStatusTrigger(handle, value, activate);
    }
    int SetAvailLevel(uint32_t count) override { return d_.SetAvailLevel(count); }
    int AddProcedureHandler(const void* key, Handler handler) override
    {
        return d_.AddProcedureHandler(key, std::move(handler));
    }
    void RemoveProcedureHandler(const void* key) override { d_.RemoveProcedureHandler(key); }
    int SetUserSlot(void* record, int slot) override { return d_.SetUserSlot(record, slot); }
    bool ExchangeBusy(bool busy) override { return d_.ExchangeBusy(busy); }
    void LogFax(int subKind, uint32_t value, const std::string& text) override
    {
        if (d_.LoggingOn())
            d_.AddDispatchEntry(11, uint8_t(subKind), uint32_t(text.size()), text.data(), value);
    }

private:
    TFxBaseDispatcher& d_;
};

} // namespace zn::comms
