// What the fax engine needs of an open port: the port dispatcher's operations, under their own names.
// The engine is written against this interface so that it runs on the dispatcher of an open serial
// port and, in tests, on any other line that keeps the same rules (handlers called one at a time,
// triggers firing once per activation, data-available notifications for every received byte).
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace zn::comms {

// Notifications a procedure handler receives (wParam, lParam as the dispatcher gives them).
constexpr uint32_t kMsgDataAvailable = 0x7E01;
constexpr uint32_t kMsgTimerTrigger = 0x7E03;
constexpr uint32_t kMsgStatusTrigger = 0x7E04;

// Status trigger types.
enum StatusTriggerType : int {
    stModemStatus = 1,
    stLineError = 2,
    stOutputFree = 3,
    stOutputUsed = 4,
    stOutputSent = 5
};

// Software flow options.
constexpr uint32_t kSoftwareFlowTransmit = 0x01; // obey XON/XOFF received from the modem
constexpr uint32_t kSoftwareFlowReceive = 0x02;  // send XOFF/XON when our input fills/empties

class FaxPort {
public:
    using Handler = std::function<void(uint32_t msg, uintptr_t wParam, intptr_t lParam)>;
    virtual ~FaxPort() = default;

    virtual int Handle() const = 0;

    virtual bool HasInput() = 0;
    virtual int ReadChar(uint8_t& c) = 0; // 0, or -3007 when nothing waits
    virtual uint32_t InputCount() = 0;
    virtual void DiscardInput() = 0;

    [[nodiscard]] virtual int WriteBlock(const uint8_t* data, uint32_t count) = 0; // 0 when queued whole, else < 0
    [[nodiscard]] int WriteChar(uint8_t c) { return WriteBlock(&c, 1); }
    [[nodiscard]] int WriteString(const std::string& s)
    {
        return WriteBlock(reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()));
    }
    virtual uint32_t OutputCount() = 0;
    virtual uint32_t OutputFree() = 0;
    virtual void DiscardOutput() = 0;

    virtual int SetLineBaud(uint32_t baud) = 0;
    virtual uint32_t LineBaud() = 0;
    virtual int SetModemLines(bool dtr, bool rts) = 0;
    virtual int SetDtrLine(bool on) = 0;
    virtual bool ReadCarrier() = 0;
    virtual int SetSoftwareFlow(uint32_t bufferFull, uint32_t bufferResume, uint32_t options) = 0;
    virtual int ClearSoftwareFlow() = 0;

    virtual int AddTimerTrigger() = 0;          // handle, or < 0
    virtual int AddStatusTrigger(int type) = 0; // handle, or < 0
    virtual int RemoveTrigger(int handle) = 0;
    virtual int SetTimerTrigger(int handle, int32_t ticks, bool activate) = 0;
    virtual int SetStatusTrigger(int handle, uint32_t value, bool activate) = 0;
    virtual int SetAvailLevel(uint32_t count) = 0;

    // Registered under a key of the caller's choosing that removal names.
    virtual int AddProcedureHandler(const void* key, Handler handler) = 0;
    virtual void RemoveProcedureHandler(const void* key) = 0;
    virtual int SetUserSlot(void* record, int slot) = 0;
    // Held while a caller reads the input directly, so that no notification consumes it meanwhile.
    virtual bool ExchangeBusy(bool busy) = 0;

    // Dispatch-log entry of kind 11 (fax); no-op where the line keeps no log.
    virtual void LogFax(int subKind, uint32_t value, const std::string& text) {}
};

} // namespace zn::comms
