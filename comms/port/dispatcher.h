// The port dispatcher: one object behind every open serial port. It owns the device, an 8192-byte
// receive ring, the output buffer, the line settings, the timer and status triggers and the handler
// lists. Three threads feed it (dispatcher_threads.cpp); every notification is delivered on the
// dispatch thread. The device steps are virtual operations that the port drivers fill in
// (port_driver.h).
//
// Locks: the general lock (handler and trigger lists, line settings, modem status, trace and log,
// busy), the output lock (output buffer indexes, queue status) and the ring lock (ring indexes, peek
// state). When two are needed they are taken in the order ring, general, output; no lock is held while
// a handler runs.
#pragma once

#include "comms/base/error_codes.h"
#include "comms/base/fx_misc.h"
#include "comms/port/trace_log.h"

#include "platform/event.h"
#include "platform/messages.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zn::comms {

// "No descriptor": 0 is a valid one.
constexpr int NoHandle = -1;

// Accumulated line errors (the communication-error bits).
constexpr uint32_t CeRxOver = 0x01, CeOverrun = 0x02, CeRxParity = 0x04, CeFrame = 0x08, CeBreak = 0x10;
constexpr uint32_t CeAllBits = 0x1F;

// Line events that the comm-event thread reports.
constexpr uint32_t EvRxChar = 0x001, EvCts = 0x008, EvDsr = 0x010, EvRlsd = 0x020, EvBreak = 0x040, EvErr = 0x080,
                   EvRing = 0x100, EvRingTrailingEdge = 0x2000;
constexpr uint32_t EvCommMask = 0x1F9;

// Modem status, laid out like a UART modem-status register.
constexpr uint8_t MsDeltaCts = 0x01, MsDeltaDsr = 0x02, MsTrailingRing = 0x04, MsDeltaDcd = 0x08, MsCts = 0x10,
                  MsDsr = 0x20, MsRing = 0x40, MsDcd = 0x80;

// Notifications (window messages and procedure-handler calls). lParam's high word is the
// dispatcher handle.
constexpr uint32_t MsgTriggerAvail = 0x7E01;
constexpr uint32_t MsgTriggerTimer = 0x7E03;
constexpr uint32_t MsgTriggerStatus = 0x7E04;
constexpr uint32_t MsgClosePending = 0x7E0A;

// Status trigger types (a status trigger's handle AND 7).
constexpr int StatusModem = 1, StatusLine = 2, StatusOutBuffFree = 3, StatusOutBuffUsed = 4, StatusOutSent = 5;

// The handle that names the data-available notification.
constexpr int AvailTriggerHandle = 1;

// OpenPort option bits.
constexpr uint32_t OptDtrOn = 0x01, OptRtsOn = 0x02, OptDtrFlow = 0x10, OptRtsFlow = 0x20;
// SetHardwareFlow options.
constexpr int HwUseDtr = 0x01, HwUseRts = 0x02, HwRequireDsr = 0x04, HwRequireCts = 0x08;
// SetSoftwareFlow options.
constexpr int SwTransmit = 0x01, SwReceive = 0x02;

// EscapeComFunction codes.
constexpr int EscSetRts = 3, EscClrRts = 4, EscSetDtr = 5, EscClrDtr = 6, EscSetBreak = 8, EscClrBreak = 9;

// Parity: 0 none, 1 odd, 2 even, 3 mark, 4 space.
constexpr int ParityNone = 0, ParityOdd = 1, ParityEven = 2, ParityMark = 3, ParitySpace = 4;
constexpr int StopBitsOne = 0, StopBitsOneAndHalf = 1, StopBitsTwo = 2;
constexpr uint8_t DtrDisable = 0, DtrEnable = 1, DtrHandshake = 2;
constexpr uint8_t RtsDisable = 0, RtsEnable = 1, RtsHandshake = 2, RtsToggle = 3;

// The line settings record (read with GetComState, written with SetComState).
struct TComState {
    uint32_t baud = 19200;
    bool binary = true;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    uint8_t dtrControl = DtrEnable;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = true;
    bool outX = false;
    bool inX = false;
    bool nullStrip = false;
    uint8_t rtsControl = RtsEnable;
    uint16_t xonLim = 0;
    uint16_t xoffLim = 0;
    uint8_t byteSize = 8;
    uint8_t parity = ParityNone;
    uint8_t stopBits = StopBitsOne;
    uint8_t xonChar = 17;
    uint8_t xoffChar = 19;
};

// Queue status: bytes in the device's input queue and in the output buffer.
struct TComStatus {
    uint32_t flags = 0;
    uint32_t inQue = 0;
    uint32_t outQue = 0;
};

// Baud values read back from a device pass through the legacy code table.
uint32_t MapLegacyBaud(uint32_t baud);

struct TTimerTrigger {
    int32_t handle = 0;
    EventTimer timer;
    int32_t interval = 0;
    int32_t valid = 1;
    int32_t active = 0;
};

struct TStatusTrigger {
    int32_t handle = 0;
    int32_t type = 0;
    uint16_t value = 0; // type 1: high byte mask, low byte image; type 2: error bits; 3, 4: byte count
    uint8_t active = 0;
    uint8_t fired = 0;
};

// Triggers carried over when a port is reopened.
struct TSavedTriggers {
    uint32_t availLevel = 0;
    std::vector<TTimerTrigger> timers;
    std::vector<TStatusTrigger> statuses;
};

class TFxBaseDispatcher;

// Procedure handlers are called on the dispatch thread with (message, wParam, lParam). They are
// registered under a key of the caller's choosing (normally the session object) that removal names.
using TDispatchProc = std::function<void(uint32_t msg, uintptr_t wParam, intptr_t lParam)>;

// The global dispatcher list: a dispatcher's index is its handle.
class DispatcherList {
public:
    // Runs fn with the dispatcher of that handle (nullptr when the slot is empty or beyond the list),
    // under the list lock.
    static void WithDispatcher(int handle, const std::function<void(TFxBaseDispatcher*)>& fn);
    static int Enter(TFxBaseDispatcher* d);
    static void Leave(int handle);
    static int Count();
};

class TFxBaseDispatcher {
public:
    explicit TFxBaseDispatcher(void* owner);
    virtual ~TFxBaseDispatcher();
    TFxBaseDispatcher(const TFxBaseDispatcher&) = delete;
    TFxBaseDispatcher& operator=(const TFxBaseDispatcher&) = delete;

    // ---- virtual device operations (port_driver.cpp) ----
    virtual int EscapeComFunction(int function) = 0;
    virtual int FlushCom(int which) = 0; // 0 output, 1 input
    virtual uint32_t GetComError(TComStatus& status) = 0;
    virtual void HandleReadError(int code) {}
    virtual int GetComState(TComState& state) = 0;
    virtual int ReadCom(uint8_t* dest, uint32_t count) = 0;
    virtual int SetComState(const TComState& state) = 0;
    virtual int WriteCom(const uint8_t* data, uint32_t count);
    // Blocks until a line event (mask out, true) or a wake-up by CloseCom/StopDispatcher (false).
    virtual bool WaitComEvent(uint32_t& mask) = 0;
    // Dispatch thread: waits up to timeoutMs for a comm event or for received bytes, so that a byte
    // reaches its handler with one thread switch. The base waits for the comm event only.
    enum { DispatchTimeout = 0, DispatchCommEvent = 1, DispatchData = 2, DispatchOutputRoom = 3 };
    virtual int WaitDispatch(int timeoutMs);
    virtual bool SetupCom(uint32_t inSize, uint32_t outSize) = 0;
    // The modem lines in the high nibble of a modem-status byte (CTS, DSR, RI, DCD).
    virtual uint8_t GetModemLines() = 0;
    virtual void FinishClose();
    virtual void StartDispatcher();
    virtual void StopDispatcher();
    virtual int OpenCom(const std::string& deviceName, uint32_t inSize, uint32_t outSize) = 0;
    virtual int CloseCom() = 0;
    virtual int YieldTimeSlice();
    virtual void SetThreadBoost(int boost);
    virtual void UpdateHandlerFlags(int mode); // 0 recompute, 1 force on, 2 release
    // Output thread: writes one piece to the device; bytes written, 0 when it would block, -1 when the
    // device refused it (the piece is then dropped). WaitWritable waits until the device takes more
    // or the flush event is set (false).
    virtual int WriteDevice(const uint8_t* data, uint32_t count) = 0;
    virtual bool WaitWritable() = 0;

    // ---- open and close ----
    int OpenPort(const std::string& deviceName, uint32_t baud, int parity, int dataBits, int stopBits, uint32_t inSize,
                 uint32_t outSize, uint32_t options);
    int ClosePort();

    // ---- reading ----
    bool HasInput();
    int ReadChar(uint8_t& c);
    // Up to `count` waiting bytes in one step, as that many ReadChar calls would take them (peek
    // mode included); the number taken, 0 when none waits.
    uint32_t ReadBlock(uint8_t* data, uint32_t count);
    int PeekCharAt(uint8_t& c, uint32_t n);
    uint32_t InputCount();
    int DiscardInput();

    // ---- writing ----
    int WriteBlock(const void* data, uint32_t count);
    int WriteChar(uint8_t c) { return WriteBlock(&c, 1); }
    int WriteString(const std::string& text) { return WriteBlock(text.data(), uint32_t(text.size())); }
    uint32_t OutputCount();
    uint32_t OutputFree();
    int DiscardOutput();

    // ---- line and modem lines ----
    int SetLineParams(uint32_t baud, int parity, int dataBits, int stopBits);
    int SetLineBaud(uint32_t baud) { return SetLineParams(baud, 5, 9, 3); }
    void GetLineParams(uint32_t& baud, int& parity, int& dataBits, int& stopBits);
    int SetQueueSizes(uint32_t inSize, uint32_t outSize);
    int SetModemLines(bool dtr, bool rts);
    int SetDtrLine(bool on);
    int SetRtsLine(bool on);
    uint8_t ReadModemStatus(uint8_t clearMask);
    bool ReadCarrier() { return (ReadModemStatus(0xF7) & MsDcd) != 0; }
    void RefreshModemChanges();
    int TakeLineError();
    bool TakeLineBreak();
    void RefreshLineErrors();
    int SetHardwareFlow(uint32_t bufferFull, uint32_t bufferResume, int options);
    int SetSoftwareFlow(uint32_t bufferFull, uint32_t bufferResume, int options);
    int ClearSoftwareFlow();
    int SetFlowChars(uint8_t xon, uint8_t xoff);
    void GetFlowOptions(int& hwOptions, int& swOptions, uint8_t& xon, uint8_t& xoff);
    void SetRS485Mode(bool on);

    // ---- handlers ----
    int AddWindowHandler(uint32_t window);
    int RemoveWindowHandler(uint32_t window);
    int AddProcedureHandler(const void* key, TDispatchProc proc);
    int RemoveProcedureHandler(const void* key);

    // ---- triggers ----
    int AddTimerTrigger();
    int AddStatusTrigger(int type);
    int RemoveTrigger(int handle);
    int SetTimerTrigger(int handle, int32_t ticks, bool activate);
    int SetStatusTrigger(int handle, uint32_t value, bool activate);
    int SetAvailLevel(uint32_t count);
    void SaveTriggers(TSavedTriggers& saved);
    void RestoreTriggers(const TSavedTriggers& saved);
    int SetUserSlot(void* record, int slot);
    int GetUserSlot(int slot, void*& record);
    void* GetUserSlot(int slot);
    // Direct ring readers set busy so that no trigger fires meanwhile; returns the old value.
    bool ExchangeBusy(bool busy);

    // ---- trace (trace_log.h) ----
    int InitTracing(uint32_t entries);
    void AddTraceEntry(char kind, uint8_t byte);
    void ClearTracing();
    void StartTracing();
    void StopTracing();
    void AbortTracing();
    int DumpTrace(const std::string& fileName, bool append, bool hex, bool allHex);
    bool TracingOn();

    // ---- dispatch log ----
    int InitDispatchLog(uint32_t size);
    void AddDispatchEntry(uint8_t kind, uint8_t subKind, uint32_t dataLength, const void* data, uint32_t value);
    void ClearDispatchLog();
    void StartDispatchLog();
    void StopDispatchLog();
    void AbortDispatchLog();
    int DumpDispatchLog(const std::string& fileName, bool append, bool allHex, bool hex);
    bool LoggingOn();

    // ---- state ----
    int Handle() const { return handle_; }
    void* Owner() const { return owner_; }
    const std::string& DeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string& name) { deviceName_ = name; }
    uint32_t Baud() const { return baud_; }
    uint32_t InQueueSize() const { return inSize_; }
    uint32_t OutQueueSize() const { return outSize_; }
    bool ThreadsRunning() const { return threadsRunning_.load(); }
    bool IsBusy();
    bool ClosePending() const { return closePending_.load(); }
    bool IsOpen() const { return open_.load(); }
    uint32_t LineErrors();
    uint32_t OpenTime() const { return openTime_; }
    // The line on a pseudo-terminal has no carrier signal: this one stands in (on by default).
    void SetEmulatedCarrier(bool on) { emulatedCarrier_.store(on); }

    static constexpr uint32_t RingSize = 8192;

    // The thread bodies (dispatcher_threads.cpp).
    friend class TFxDispatcherThread;
    friend class TComThread;
    friend class TDispThread;
    friend class TOutThread;

protected:
    // Driver-side helpers.
    void SetLastError(int code) { lastError_ = code; }
    int LastError() const { return lastError_; }
    uint32_t OutputWaiting(); // under the output lock
    void ApplyLineSettings(TComState& state);

    // What the threads and the driver share.
    std::recursive_mutex generalLock_;
    std::recursive_mutex outputLock_;
    std::recursive_mutex ringLock_;

    std::unique_ptr<platform::Event> commEvent_;     // auto: comm thread -> dispatch thread
    std::unique_ptr<platform::Event> readyEvent_;    // auto: dispatch thread -> comm thread
    std::unique_ptr<platform::Event> threadSignal_;  // auto: a thread started / acknowledged a flush
    std::unique_ptr<platform::Event> outputRequest_; // auto: data queued
    std::unique_ptr<platform::Event> outputFlush_;   // auto: abandon the pending write
    std::unique_ptr<platform::Event> wakeCom_;       // manual: ends the comm thread's wait
    // auto: output thread -> dispatch thread, the output buffer has the free space an output status
    // trigger waits for (so it fires at once, not at the next 50 ms round)
    std::unique_ptr<platform::Event> outputRoom_;
    std::atomic<uint32_t> roomWanted_{0};   // free bytes that trigger needs; 0: none waits
    void WantRoom(const TStatusTrigger& s); // under the general lock

    std::atomic<bool> killThreads_{false};
    std::atomic<bool> closePending_{false};
    std::atomic<bool> threadsRunning_{false};
    std::atomic<int> threadCount_{0};
    std::atomic<bool> ringSeen_{false};
    std::atomic<bool> emulatedCarrier_{true};
    std::atomic<bool> ringFull_{false};
    std::atomic<bool> open_{false};

    uint32_t inSize_ = 0;
    uint32_t outSize_ = 0;
    int fd_ = NoHandle; // the device descriptor

    // Output buffer (output lock).
    std::vector<uint8_t> outBuf_;
    uint32_t outWrite_ = 0;
    uint32_t outRead_ = 0;
    bool outFull_ = false;
    uint64_t flushGeneration_ = 0; // a flush makes a piece in flight stale
    bool outWriting_ = false;      // the output thread holds a piece it has not finished writing
    TComStatus queueStatus_;
    std::atomic<bool> comThreadAlive_{false}, dispThreadAlive_{false}, outThreadAlive_{false};

private:
    friend class DispatcherList;
    struct WindowHandler {
        uint32_t window;
        bool deleted;
    };
    struct ProcHandler {
        const void* key;
        TDispatchProc proc;
        bool deleted;
    };

    // Dispatch-thread work (dispatcher_threads.cpp drives these).
    // Moves waiting bytes into the ring; true when the device had some. When the device has just
    // said that bytes wait, they are read at once (as many as the ring takes); otherwise the device
    // is first asked for its queue and its line errors.
    bool ReadIntoRing(bool bytesWaiting = false);
    bool CheckAvail();
    bool CheckStatusTriggers();
    bool CheckTimerTriggers();
    void ClearFiredMarks();
    bool Notify(uint32_t msg, uintptr_t wParam, uint32_t data);
    void EventRound(uint32_t mask, bool fromEvent, bool bytesWaiting = false);
    void PeriodicRound();
    bool StatusLoop(); // false when the round must end (close pending)

    uint32_t RingWaiting(); // under the ring lock
    int NextTriggerHandle();
    bool HandleInUse(int32_t number8);
    void ClearAllTriggers();
    void RemoveDeletedHandlers();
    void WaitForThreadsToEnd();

    void* owner_;
    int handle_ = -1;
    std::string deviceName_;
    int lastError_ = 0;
    int lastApplyResult_ = 0;
    uint32_t openTime_ = 0;

    // General lock.
    uint32_t lineErrors_ = 0;
    uint8_t modemStatus_ = 0;
    TComState lineSettings_;
    uint32_t baud_ = 115200;
    bool dtrOn_ = false, dtrFlow_ = false, rtsOn_ = false, rtsFlow_ = false;
    bool rs485Mode_ = false;
    bool forceWindowNotify_ = false;
    bool fireNotifications_ = false;
    std::vector<WindowHandler> windows_;
    std::vector<ProcHandler> procs_;
    std::vector<TTimerTrigger> timers_;
    std::vector<TStatusTrigger> statuses_;
    uint32_t availLevel_ = 0;
    bool statusFiredThisRound_ = false;
    bool busy_ = false;
    bool handlerRemovalPending_ = false;
    int32_t nextTriggerNumber_ = 1;
    int threadBoost_ = 0;
    void* userSlots_[3] = {nullptr, nullptr, nullptr};
    TraceBuffer trace_;
    DispatchLog log_;

    // Ring lock.
    std::vector<uint8_t> ring_;
    uint32_t ringWrite_ = 0;
    uint32_t ringRead_ = 0;
    uint32_t scanPos_ = 0;
    uint32_t lastAvailPos_ = 0;
    bool peekMode_ = false;
    uint32_t peekCount_ = 0;
    uint32_t largestConsumed_ = 0;

    std::atomic<bool> outputSent_{false};
    std::atomic<bool> traceActive_{false}; // mirrors trace_.On() for the lock-free test in ReadChar
    std::atomic<uint32_t> commMask_{0};
    std::atomic<bool> finished_{false};
    std::thread comThread_, dispThread_, outThread_;
};

} // namespace zn::comms
