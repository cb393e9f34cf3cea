// A port whose far end is a script: it reads the commands and data the engine writes and answers
// with modem responses and frames. Notifications are delivered on the test's thread, one at a time;
// the response timer fires only when nothing else is left to deliver (a far end that says nothing).
#pragma once
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "comms/engine/fax_port.h"
#include "comms/engine/fax_session_glue.h"

namespace zn::comms::test {

class ScriptedPort : public FaxPort {
public:
    // Called for each command line (without its CR) and for each block of data the engine ends with
    // DLE ETX (un-stuffed, without DLE ETX) while DataMode() is on.
    std::function<void(const std::string& command)> onCommand;
    std::function<void(const std::string& data)> onData;

    void Modem(const std::string& bytes)
    {
        input_.insert(input_.end(), bytes.begin(), bytes.end());
        ++arrivals_;
    }
    // What a frame looks like from the modem: stuffed, ended by DLE ETX, then OK.
    static std::string Frame(uint8_t fcf, bool final, const std::string& info = "");
    void SetDataMode(bool on) { dataMode_ = on; }
    // The byte after the DLE that ended the last data: ETX, or Class 2.0's ".", "," and ";".
    char DataEnd() const { return dataEnd_; }
    bool DataMode() const { return dataMode_; }
    // Delivers notifications until the session finishes or nothing is left; false when it stalled.
    bool Run(FaxSession& s, int maxEvents = 100000);

    int Handle() const override { return 0; }
    bool HasInput() override { return !input_.empty(); }
    int ReadChar(uint8_t& c) override;
    uint32_t InputCount() override { return uint32_t(input_.size()); }
    void DiscardInput() override { input_.clear(); }
    int WriteBlock(const uint8_t* data, uint32_t count) override;
    uint32_t OutputCount() override { return 0; }
    uint32_t OutputFree() override { return 8192; }
    void DiscardOutput() override {}
    int SetLineBaud(uint32_t) override { return 0; }
    uint32_t LineBaud() override { return 19200; }
    int SetModemLines(bool, bool) override { return 0; }
    int SetDtrLine(bool) override { return 0; }
    bool ReadCarrier() override { return false; }
    int SetSoftwareFlow(uint32_t, uint32_t, uint32_t) override { return 0; }
    int ClearSoftwareFlow() override { return 0; }
    int AddTimerTrigger() override { return NewTrigger(0); }
    int AddStatusTrigger(int type) override { return NewTrigger(type); }
    int RemoveTrigger(int handle) override;
    int SetTimerTrigger(int handle, int32_t, bool activate) override;
    int SetStatusTrigger(int handle, uint32_t, bool activate) override;
    int SetAvailLevel(uint32_t) override { return 0; }
    int AddProcedureHandler(const void*, Handler handler) override;
    void RemoveProcedureHandler(const void*) override { handler_ = nullptr; }
    int SetUserSlot(void*, int) override { return 0; }
    bool ExchangeBusy(bool busy) override;

private:
    int NewTrigger(int type);
    struct Trigger {
        int type;
        bool armed;
    };
    std::map<int, Trigger> triggers_;
    int next_ = 8;
    std::deque<uint8_t> input_;
    std::string written_;
    bool dataMode_ = false;
    char dataEnd_ = 0;
    bool busy_ = false;
    // Data-available is notified when bytes arrived since the last notification, as the dispatcher does.
    int arrivals_ = 0;
    int notified_ = 0;
    Handler handler_;
};

} // namespace zn::comms::test
