#include "comms/port/dispatcher.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace zn::comms {

namespace {

std::mutex& ListLock()
{
    static std::mutex lock;
    return lock;
}

std::vector<TFxBaseDispatcher*>& List()
{
    static std::vector<TFxBaseDispatcher*> list;
    return list;
}

constexpr uint32_t LegacyBaudTable[24] = {110, 300, 600, 1200,  2400, 4800, 9600, 14400,  19200, 0, 0, 38400,
                                          0,   0,   0,   56000, 0,    0,    0,    128000, 0,     0, 0, 256000};

} // namespace

uint32_t MapLegacyBaud(uint32_t baud)
{
    if (baud == 0xFEFF)
        return 115200;
    if (baud >= 0xFF10 && baud <= 0xFF27) {
        uint32_t mapped = LegacyBaudTable[baud - 0xFF10];
        return mapped ? mapped : baud;
    }
    return baud;
}

// ---------------------------------------------------------------- dispatcher list

void DispatcherList::WithDispatcher(int handle, const std::function<void(TFxBaseDispatcher*)>& fn)
{
    std::lock_guard<std::mutex> g(ListLock());
    TFxBaseDispatcher* d = nullptr;
    if (handle >= 0 && size_t(handle) < List().size())
        d = List()[size_t(handle)];
    fn(d);
}

int DispatcherList::Enter(TFxBaseDispatcher* d)
{
    std::lock_guard<std::mutex> g(ListLock());
    auto& list = List();
    for (size_t i = 0; i < list.size(); ++i)
        if (!list[i]) {
            list[i] = d;
            return int(i);
        }
    list.push_back(d);
    return int(list.size() - 1);
}

void DispatcherList::Leave(int handle)
{
    std::lock_guard<std::mutex> g(ListLock());
    auto& list = List();
    if (handle < 0 || size_t(handle) >= list.size())
        return;
    list[size_t(handle)] = nullptr;
    while (!list.empty() && !list.back())
        list.pop_back();
}

int DispatcherList::Count()
{
    std::lock_guard<std::mutex> g(ListLock());
    return int(List().size());
}

// ---------------------------------------------------------------- life cycle

TFxBaseDispatcher::TFxBaseDispatcher(void* owner) : owner_(owner) { handle_ = DispatcherList::Enter(this); }

TFxBaseDispatcher::~TFxBaseDispatcher()
{
    // Derived destructors have run ClosePort / FinishClose already; this is the last safety net for
    // the threads, which must be joined before anything they use goes away.
    WaitForThreadsToEnd();
    DispatcherList::Leave(handle_);
}

int TFxBaseDispatcher::OpenPort(const std::string& deviceName, uint32_t baud, int parity, int dataBits, int stopBits,
                                uint32_t inSize, uint32_t outSize, uint32_t options)
{
    ringSeen_ = false;
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        busy_ = false;
        handlerRemovalPending_ = false;
    }
    commEvent_ = std::make_unique<platform::Event>(false);
    readyEvent_ = std::make_unique<platform::Event>(false);
    threadSignal_ = std::make_unique<platform::Event>(false);
    outputRequest_ = std::make_unique<platform::Event>(false);
    outputFlush_ = std::make_unique<platform::Event>(false);
    wakeCom_ = std::make_unique<platform::Event>(true);
    outputRoom_ = std::make_unique<platform::Event>(false);

    int r = OpenCom(deviceName, inSize, outSize);
    if (r < 0) {
        int code = r == ecOutOfMemory ? r : (r == -1 ? -lastError_ : r);
        ClosePort();
        return code;
    }
    if (!SetupCom(inSize, outSize)) {
        int code = -lastError_;
        ClosePort();
        return code;
    }
    {
        std::lock_guard<std::recursive_mutex> g(outputLock_);
        outBuf_.assign(outSize, 0);
        outWrite_ = outRead_ = 0;
        outFull_ = false;
        outWriting_ = false;
        queueStatus_ = TComStatus{};
    }
    {
        std::lock_guard<std::recursive_mutex> g(ringLock_);
        ring_.assign(RingSize, 0);
    }
    inSize_ = inSize;
    outSize_ = outSize;
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        lineErrors_ = 0;
        rs485Mode_ = false;
    }
    outputSent_ = false;
    closePending_ = false;
    ringFull_ = false;

    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        GetComState(lineSettings_);
    }
    if (options & OptDtrFlow)
        dtrFlow_ = true;
    else
        SetDtrLine(options & OptDtrOn);
    if (options & OptRtsFlow)
        rtsFlow_ = true;
    else
        SetRtsLine(options & OptRtsOn);

    ClearAllTriggers();
    {
        std::lock_guard<std::recursive_mutex> g(ringLock_);
        scanPos_ = ringWrite_ = ringRead_ = lastAvailPos_ = 0;
        peekMode_ = false;
        peekCount_ = 0;
    }
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        for (auto& s : statuses_)
            s.fired = 0;
        statusFiredThisRound_ = false;
        modemStatus_ = 0;
    }
    ReadModemStatus(0xF0);

    baud_ = 115200;
    r = SetLineParams(baud, parity, dataBits, stopBits);
    if (r != 0) {
        ClosePort();
        return r;
    }
    RefreshLineErrors();
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        trace_.Abort();
        traceActive_ = false;
        log_.Abort();
    }
    openTime_ = MillisecondClock();
    open_ = true;
    try {
        StartDispatcher();
    } catch (...) {
        ClosePort();
        throw;
    }
    return 0;
}

int TFxBaseDispatcher::ClosePort()
{
    int result = 0;
    if (fd_ != NoHandle && open_) {
        DiscardOutput();
        DiscardInput();
    }
    // Every thread leaves its wait; the descriptor itself is closed only after the threads are joined.
    killThreads_ = true;
    if (wakeCom_)
        wakeCom_->Set();
    if (readyEvent_)
        readyEvent_->Set();
    if (commEvent_)
        commEvent_->Set();
    if (outputFlush_)
        outputFlush_->Set();
    bool busy;
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        busy = busy_;
        if (busy)
            closePending_ = true;
    }
    if (!busy)
        FinishClose();
    return result;
}

void TFxBaseDispatcher::FinishClose()
{
    // One close path: whoever comes first stops and joins the threads, then closes the device. A second
    // call (the destructor after a deferred close) finds nothing left to do.
    if (std::this_thread::get_id() == dispThread_.get_id() || std::this_thread::get_id() == comThread_.get_id()
        || std::this_thread::get_id() == outThread_.get_id())
        return; // never from a dispatcher thread: the owner finishes once threads running clears
    StopDispatcher();
    if (finished_.exchange(true))
        return;
    if (fd_ != NoHandle)
        CloseCom();
    open_ = false;
    // The threads are gone: their events go too, so a failed open leaves nothing open.
    commEvent_.reset();
    readyEvent_.reset();
    threadSignal_.reset();
    outputRequest_.reset();
    outputFlush_.reset();
    wakeCom_.reset();
    outputRoom_.reset();
    {
        std::lock_guard<std::recursive_mutex> g(outputLock_);
        outBuf_.clear();
        outBuf_.shrink_to_fit();
        outWrite_ = outRead_ = 0;
        outFull_ = false;
    }
    {
        std::lock_guard<std::recursive_mutex> g(ringLock_);
        ring_.clear();
        ring_.shrink_to_fit();
        ringWrite_ = ringRead_ = 0;
    }
}

int TFxBaseDispatcher::YieldTimeSlice()
{
    std::this_thread::yield();
    return 0;
}

void TFxBaseDispatcher::SetThreadBoost(int boost)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    threadBoost_ = boost; // the system runs all port threads at normal priority
}

bool TFxBaseDispatcher::IsBusy()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    return busy_;
}

bool TFxBaseDispatcher::ExchangeBusy(bool busy)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    bool old = busy_;
    busy_ = busy;
    return old;
}

// ---------------------------------------------------------------- reading

uint32_t TFxBaseDispatcher::RingWaiting()
{
    if (ringWrite_ == ringRead_)
        return ringFull_ ? RingSize : 0;
    return ringWrite_ > ringRead_ ? ringWrite_ - ringRead_ : ringWrite_ + RingSize - ringRead_;
}

bool TFxBaseDispatcher::HasInput()
{
    std::lock_guard<std::recursive_mutex> g(ringLock_);
    if (ring_.empty())
        return false;
    return peekMode_ ? RingWaiting() > peekCount_ : RingWaiting() > 0;
}

int TFxBaseDispatcher::ReadChar(uint8_t& c)
{
    {
        std::lock_guard<std::recursive_mutex> g(ringLock_);
        if (ring_.empty())
            return ecBufferIsEmpty;
        uint32_t waiting = RingWaiting();
        if (peekMode_) {
            if (waiting <= peekCount_)
                return ecBufferIsEmpty;
            c = ring_[(ringRead_ + peekCount_) % RingSize];
            ++peekCount_;
        } else {
            if (waiting == 0)
                return ecBufferIsEmpty;
            c = ring_[ringRead_];
            ringRead_ = (ringRead_ + 1) % RingSize;
            ringFull_ = false;
        }
    }
    // The trace takes the general lock only after the ring lock is released, and only when it runs:
    // a fax session reads every byte through here.
    if (traceActive_) {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        if (trace_.On())
            trace_.Add('R', c);
    }
    return 0;
}

uint32_t TFxBaseDispatcher::ReadBlock(uint8_t* data, uint32_t count)
{
    uint32_t taken = 0;
    {
        std::lock_guard<std::recursive_mutex> g(ringLock_);
        if (ring_.empty())
            return 0;
        uint32_t waiting = RingWaiting();
        uint32_t from = ringRead_;
        if (peekMode_) {
            waiting = waiting > peekCount_ ? waiting - peekCount_ : 0;
            from = (ringRead_ + peekCount_) % RingSize;
        }
        taken = std::min(count, waiting);
        uint32_t first = std::min(taken, RingSize - from);
        std::memcpy(data, &ring_[from], first);
        std::memcpy(data + first, &ring_[0], taken - first);
        if (peekMode_) {
            peekCount_ += taken;
        } else if (taken > 0) {
            ringRead_ = (ringRead_ + taken) % RingSize;
            ringFull_ = false;
        }
    }
    if (taken > 0 && traceActive_) {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        for (uint32_t i = 0; i < taken && trace_.On(); ++i)
            trace_.Add('R', data[i]);
    }
    return taken;
}

int TFxBaseDispatcher::PeekCharAt(uint8_t& c, uint32_t n)
{
    std::lock_guard<std::recursive_mutex> g(ringLock_);
    if (ring_.empty() || n == 0 || RingWaiting() < n)
        return ecBufferIsEmpty;
    c = ring_[(ringRead_ + n - 1) % RingSize];
    return 0;
}

uint32_t TFxBaseDispatcher::InputCount()
{
    std::lock_guard<std::recursive_mutex> g(ringLock_);
    uint32_t waiting = RingWaiting();
    if (peekMode_)
        return waiting > peekCount_ ? waiting - peekCount_ : 0;
    return waiting;
}

int TFxBaseDispatcher::DiscardInput()
{
    if (fd_ != NoHandle)
        FlushCom(1);
    std::lock_guard<std::recursive_mutex> g(ringLock_);
    if (peekMode_) {
        largestConsumed_ = RingWaiting();
        peekCount_ = largestConsumed_;
    } else {
        ringRead_ = ringWrite_;
        peekCount_ = 0;
        ringFull_ = false;
    }
    return 0;
}

// ---------------------------------------------------------------- writing

uint32_t TFxBaseDispatcher::OutputWaiting()
{
    if (outFull_)
        return outSize_;
    return outWrite_ >= outRead_ ? outWrite_ - outRead_ : outWrite_ + outSize_ - outRead_;
}

int TFxBaseDispatcher::WriteCom(const uint8_t* data, uint32_t count)
{
    bool wasEmpty;
    {
        std::lock_guard<std::recursive_mutex> g(outputLock_);
        if (outBuf_.empty())
            return 0;
        wasEmpty = OutputWaiting() == 0;
        // Nothing waits and no write is under way: the device takes what it can straight from the
        // caller, and only the rest waits in the buffer (one copy and one thread switch fewer).
        uint32_t direct = 0;
        if (wasEmpty && !outWriting_) {
            int n = WriteDevice(data, count);
            direct = n > 0 ? uint32_t(n) : 0;
        }
        uint32_t rest = count - direct;
        if (rest == 0)
            return int(count);
        const uint8_t* from = data + direct;
        uint32_t first = std::min(rest, outSize_ - outWrite_);
        std::memcpy(&outBuf_[outWrite_], from, first);
        if (rest > first)
            std::memcpy(&outBuf_[0], from + first, rest - first);
        outWrite_ = (outWrite_ + rest) % outSize_;
        if (outWrite_ == outRead_)
            outFull_ = true;
    }
    // While bytes wait, the output thread is writing and looks for more before it sleeps (both
    // under the output lock): only an empty buffer needs it woken.
    if (wasEmpty)
        outputRequest_->Set();
    return int(count);
}

int TFxBaseDispatcher::WriteBlock(const void* data, uint32_t count)
{
    if (count == 0)
        return 0;
    if (!open_)
        return ecCommNotOpen;
    {
        std::lock_guard<std::recursive_mutex> g(outputLock_);
        // The output side of the queue status only: its input side costs a system call, and the
        // line-error bits it would collect belong to the dispatch thread.
        queueStatus_.outQue = outBuf_.empty() ? 0 : OutputWaiting();
        uint32_t freeBytes = outSize_ - queueStatus_.outQue;
        if (count > freeBytes)
            return ecOutputBufferTooSmall;
        int n = WriteCom(static_cast<const uint8_t*>(data), count);
        if (n <= 0) {
            GetComError(queueStatus_);
            return ecPutBlockFail;
        }
        outputSent_ = true;
    }
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    if (log_.On())
        AddDispatchEntry(log_kind::Dispatch, log_sub::WriteCom, count, data, count);
    if (trace_.On()) {
        auto bytes = static_cast<const uint8_t*>(data);
        for (uint32_t i = 0; i < count; ++i)
            trace_.Add('T', bytes[i]);
    }
    return 0;
}

uint32_t TFxBaseDispatcher::OutputCount()
{
    // The output queue is this buffer: the device need not be asked (asking would also take the
    // line-error bits that the dispatch thread collects).
    std::lock_guard<std::recursive_mutex> g(outputLock_);
    queueStatus_.outQue = outBuf_.empty() ? 0 : OutputWaiting();
    return queueStatus_.outQue;
}

uint32_t TFxBaseDispatcher::OutputFree() { return outSize_ - OutputCount(); }

int TFxBaseDispatcher::DiscardOutput()
{
    if (fd_ == NoHandle)
        return 0;
    return FlushCom(0);
}

// ---------------------------------------------------------------- line settings

int TFxBaseDispatcher::SetLineParams(uint32_t baud, int parity, int dataBits, int stopBits)
{
    if (stopBits != 3)
        stopBits = stopBits == 0 ? 1 : (stopBits > 2 ? 2 : stopBits);
    int stopCode;
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        GetComState(lineSettings_);
        lineSettings_.binary = true;
        lineSettings_.parityCheck = false;
        lineSettings_.dsrSensitivity = false;
        lineSettings_.txContinueOnXoff = true;
        lineSettings_.nullStrip = false;
        int newData = dataBits == 9 ? lineSettings_.byteSize : dataBits;
        if (newData == 5)
            stopCode = StopBitsOneAndHalf;
        else if (stopBits == 1)
            stopCode = StopBitsOne;
        else if (stopBits == 2)
            stopCode = StopBitsTwo;
        else
            stopCode = lineSettings_.stopBits;
        uint32_t newBaud = baud == 0 ? MapLegacyBaud(lineSettings_.baud) : baud;
        int newParity = parity == 5 ? lineSettings_.parity : parity;
        if (newBaud == MapLegacyBaud(lineSettings_.baud) && newParity == lineSettings_.parity
            && newData == lineSettings_.byteSize && stopCode == lineSettings_.stopBits)
            return 0;
    }
    // Let the bytes already queued leave at the old rate, then wait about a character time.
    for (int i = 0; i < 5000 && OutputCount() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    TComState present;
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        GetComState(present);
    }
    int data = dataBits == 9 ? present.byteSize : dataBits;
    int par = parity == 5 ? present.parity : parity;
    int bits = data + 2 + (par != ParityNone ? 1 : 0) + (stopCode != StopBitsOne ? 1 : 0);
    uint32_t rate = MapLegacyBaud(present.baud);
    if (rate == 0)
        rate = 115200;
    uint64_t d = uint64_t(10000000 / rate) * uint64_t(bits) * 18;
    if (d < 10000)
        d *= 2;
    std::this_thread::sleep_for(std::chrono::milliseconds(d / 10000 + (d % 10000 ? 1 : 0)));

    std::lock_guard<std::recursive_mutex> g(generalLock_);
    GetComState(lineSettings_);
    if (baud != 0)
        lineSettings_.baud = baud;
    if (parity != 5)
        lineSettings_.parity = uint8_t(parity);
    if (dataBits != 9)
        lineSettings_.byteSize = uint8_t(dataBits);
    lineSettings_.stopBits = uint8_t(stopCode);
    lineSettings_.binary = true;
    lineSettings_.parityCheck = false;
    lineSettings_.dsrSensitivity = false;
    lineSettings_.txContinueOnXoff = true;
    lineSettings_.nullStrip = false;
    ApplyLineSettings(lineSettings_);
    return lastApplyResult_;
}

void TFxBaseDispatcher::ApplyLineSettings(TComState& state)
{
    if (!dtrFlow_)
        state.dtrControl = dtrOn_ ? DtrEnable : DtrDisable;
    if (!rtsFlow_ && state.rtsControl != RtsToggle)
        state.rtsControl = rtsOn_ ? RtsEnable : RtsDisable;
    lastApplyResult_ = SetComState(state);
    baud_ = MapLegacyBaud(state.baud);
    SetDtrLine(dtrOn_);
    if (!rs485Mode_)
        SetRtsLine(rtsOn_);
}

void TFxBaseDispatcher::GetLineParams(uint32_t& baud, int& parity, int& dataBits, int& stopBits)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    TComState s;
    GetComState(s);
    baud = MapLegacyBaud(s.baud);
    parity = s.parity;
    dataBits = s.byteSize;
    stopBits = s.stopBits == StopBitsOne ? 1 : 2;
}

int TFxBaseDispatcher::SetQueueSizes(uint32_t inSize, uint32_t outSize)
{
    if (!SetupCom(inSize, outSize))
        return -lastError_;
    return 0;
}

int TFxBaseDispatcher::SetModemLines(bool dtr, bool rts)
{
    int r = SetDtrLine(dtr);
    if (r == 0)
        r = SetRtsLine(rts);
    return r;
}

int TFxBaseDispatcher::SetDtrLine(bool on)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    if (dtrFlow_)
        return 1;
    if (EscapeComFunction(on ? EscSetDtr : EscClrDtr) != 0)
        return ecBadArgument;
    dtrOn_ = on;
    return 0;
}

int TFxBaseDispatcher::SetRtsLine(bool on)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    if (rtsFlow_)
        return 1;
    if (EscapeComFunction(on ? EscSetRts : EscClrRts) != 0)
        return ecBadArgument;
    rtsOn_ = on;
    return 0;
}

uint8_t TFxBaseDispatcher::ReadModemStatus(uint8_t clearMask)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    modemStatus_ = uint8_t((modemStatus_ & 0x0F) | (GetModemLines() & 0xF0));
    if (ringSeen_.exchange(false))
        modemStatus_ |= MsTrailingRing;
    uint8_t result = modemStatus_;
    modemStatus_ &= clearMask;
    return result;
}

void TFxBaseDispatcher::RefreshModemChanges()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    uint8_t old = modemStatus_;
    uint8_t now = ReadModemStatus(0xFF);
    modemStatus_ = uint8_t(now | (((old ^ now) & 0xF0) >> 4));
}

void TFxBaseDispatcher::RefreshLineErrors()
{
    uint32_t bits;
    {
        std::lock_guard<std::recursive_mutex> g(outputLock_);
        bits = GetComError(queueStatus_);
    }
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    lineErrors_ |= bits & CeAllBits;
}

uint32_t TFxBaseDispatcher::LineErrors()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    return lineErrors_;
}

int TFxBaseDispatcher::TakeLineError()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    int r = 0;
    if (lineErrors_ & CeRxOver)
        r = 1;
    else if (lineErrors_ & CeOverrun)
        r = 2;
    else if (lineErrors_ & CeRxParity)
        r = 3;
    else if (lineErrors_ & CeFrame)
        r = 4;
    else if (lineErrors_ & CeBreak)
        r = 9;
    if (r != 0)
        lineErrors_ &= CeBreak;
    return r;
}

bool TFxBaseDispatcher::TakeLineBreak()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    bool r = lineErrors_ & CeBreak;
    lineErrors_ &= ~CeBreak;
    return r;
}

int TFxBaseDispatcher::SetHardwareFlow(uint32_t bufferFull, uint32_t bufferResume, int options)
{
    if (bufferFull < bufferResume || bufferFull > inSize_)
        return ecBadArgument;
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    GetComState(lineSettings_);
    TComState& s = lineSettings_;
    s.outxCtsFlow = s.outxDsrFlow = false;
    s.dtrControl = DtrDisable;
    s.rtsControl = RtsDisable;
    dtrFlow_ = rtsFlow_ = false;
    if (options & HwUseDtr) {
        s.dtrControl = DtrHandshake;
        dtrFlow_ = true;
    } else if (dtrOn_) {
        s.dtrControl = DtrEnable;
    }
    if (options & HwUseRts) {
        s.rtsControl = RtsHandshake;
        rtsFlow_ = true;
    } else if (rtsOn_) {
        s.rtsControl = RtsEnable;
    }
    if (rs485Mode_) {
        s.rtsControl = RtsToggle;
        rtsFlow_ = true;
    }
    s.xoffLim = uint16_t(inSize_ - bufferFull);
    s.xonLim = uint16_t(bufferResume);
    s.outxDsrFlow = options & HwRequireDsr;
    s.outxCtsFlow = options & HwRequireCts;
    ApplyLineSettings(s);
    return lastApplyResult_;
}

int TFxBaseDispatcher::SetSoftwareFlow(uint32_t bufferFull, uint32_t bufferResume, int options)
{
    if (bufferFull < bufferResume || bufferFull > inSize_)
        return ecBadArgument;
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    GetComState(lineSettings_);
    TComState& s = lineSettings_;
    if (options & SwReceive) {
        s.inX = true;
        s.xoffLim = uint16_t(inSize_ - bufferFull);
        s.xonLim = uint16_t(bufferResume);
    }
    if (options & SwTransmit)
        s.outX = true;
    if (options & (SwReceive | SwTransmit)) {
        s.xonChar = 17;
        s.xoffChar = 19;
    }
    ApplyLineSettings(s);
    return lastApplyResult_;
}

int TFxBaseDispatcher::ClearSoftwareFlow()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    GetComState(lineSettings_);
    lineSettings_.inX = lineSettings_.outX = false;
    ApplyLineSettings(lineSettings_);
    return lastApplyResult_;
}

int TFxBaseDispatcher::SetFlowChars(uint8_t xon, uint8_t xoff)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    GetComState(lineSettings_);
    lineSettings_.xonChar = xon;
    lineSettings_.xoffChar = xoff;
    ApplyLineSettings(lineSettings_);
    return lastApplyResult_;
}

void TFxBaseDispatcher::GetFlowOptions(int& hwOptions, int& swOptions, uint8_t& xon, uint8_t& xoff)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    TComState s;
    GetComState(s);
    hwOptions = (s.dtrControl == DtrHandshake ? HwUseDtr : 0) | (s.rtsControl == RtsHandshake ? HwUseRts : 0)
                | (s.outxDsrFlow ? HwRequireDsr : 0) | (s.outxCtsFlow ? HwRequireCts : 0);
    swOptions = (s.outX ? SwTransmit : 0) | (s.inX ? SwReceive : 0);
    xon = s.xonChar;
    xoff = s.xoffChar;
}

void TFxBaseDispatcher::SetRS485Mode(bool on)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    rs485Mode_ = on;
}

// ---------------------------------------------------------------- handlers

int TFxBaseDispatcher::AddWindowHandler(uint32_t window)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    windows_.push_back({window, false});
    fireNotifications_ = true;
    AddDispatchEntry(log_kind::TrgHdAlc, log_sub::Window, 0, nullptr, window);
    return 0;
}

int TFxBaseDispatcher::AddProcedureHandler(const void* key, TDispatchProc proc)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    procs_.push_back({key, std::move(proc), false});
    fireNotifications_ = true;
    AddDispatchEntry(log_kind::TrgHdAlc, log_sub::Procedure, 0, nullptr, 0);
    return 0;
}

int TFxBaseDispatcher::RemoveWindowHandler(uint32_t window)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    for (auto it = windows_.begin(); it != windows_.end(); ++it) {
        if (it->window != window || it->deleted)
            continue;
        AddDispatchEntry(log_kind::TrgHdDsp, log_sub::Window, 0, nullptr, window);
        if (busy_) {
            it->deleted = true;
            handlerRemovalPending_ = true;
        } else {
            windows_.erase(it);
            UpdateHandlerFlags(0);
        }
        return 0;
    }
    return 0;
}

int TFxBaseDispatcher::RemoveProcedureHandler(const void* key)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    for (auto it = procs_.begin(); it != procs_.end(); ++it) {
        if (it->key != key || it->deleted)
            continue;
        AddDispatchEntry(log_kind::TrgHdDsp, log_sub::Procedure, 0, nullptr, 0);
        if (busy_) {
            it->deleted = true;
            handlerRemovalPending_ = true;
        } else {
            procs_.erase(it);
            UpdateHandlerFlags(0);
        }
        return 0;
    }
    return 0;
}

void TFxBaseDispatcher::RemoveDeletedHandlers()
{
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(), [](const WindowHandler& h) { return h.deleted; }),
                   windows_.end());
    procs_.erase(std::remove_if(procs_.begin(), procs_.end(), [](const ProcHandler& h) { return h.deleted; }),
                 procs_.end());
    handlerRemovalPending_ = false;
    UpdateHandlerFlags(0);
}

void TFxBaseDispatcher::UpdateHandlerFlags(int mode)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    bool needed = windows_.size() > 1 || !procs_.empty();
    switch (mode) {
    case 1:
        forceWindowNotify_ = true;
        fireNotifications_ = true;
        break;
    case 2:
        forceWindowNotify_ = false;
        fireNotifications_ = needed;
        break;
    default: fireNotifications_ = needed || forceWindowNotify_; break;
    }
}

// ---------------------------------------------------------------- triggers

bool TFxBaseDispatcher::HandleInUse(int32_t number8)
{
    for (auto& t : timers_)
        if ((t.handle & ~7) == number8)
            return true;
    for (auto& s : statuses_)
        if ((s.handle & ~7) == number8)
            return true;
    return false;
}

int TFxBaseDispatcher::NextTriggerHandle()
{
    if (nextTriggerNumber_ <= 4095)
        return nextTriggerNumber_++ * 8;
    for (int32_t h = 8;; h += 8)
        if (!HandleInUse(h))
            return h;
}

int TFxBaseDispatcher::AddTimerTrigger()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    TTimerTrigger t;
    t.handle = NextTriggerHandle();
    timers_.push_back(t);
    AddDispatchEntry(log_kind::TrigAllc, log_sub::TimerTrigger, 0, nullptr, uint32_t(t.handle));
    return t.handle;
}

int TFxBaseDispatcher::AddStatusTrigger(int type)
{
    if (type < 1 || type > 5)
        return ecBadArgument;
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    TStatusTrigger s;
    s.handle = NextTriggerHandle() + type;
    s.type = type;
    statuses_.push_back(s);
    uint8_t typeByte = uint8_t(type);
    AddDispatchEntry(log_kind::TrigAllc, log_sub::StatusTrigger, 1, &typeByte, uint32_t(s.handle));
    return s.handle;
}

int TFxBaseDispatcher::RemoveTrigger(int handle)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    if (handle == AvailTriggerHandle) {
        availLevel_ = 0;
        return 0;
    }
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
        if (it->handle == handle) {
            timers_.erase(it);
            AddDispatchEntry(log_kind::TrigDisp, log_sub::Timer, 0, nullptr, uint32_t(handle));
            return 0;
        }
    for (auto it = statuses_.begin(); it != statuses_.end(); ++it)
        if (it->handle == handle) {
            statuses_.erase(it);
            uint8_t typeByte = uint8_t(handle & 7);
            AddDispatchEntry(log_kind::TrigDisp, log_sub::StatusTrigger, 1, &typeByte, uint32_t(handle));
            return 0;
        }
    return ecBadTriggerHandle;
}

int TFxBaseDispatcher::SetTimerTrigger(int handle, int32_t ticks, bool activate)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    for (auto& t : timers_) {
        if (t.handle != handle)
            continue;
        if (activate) {
            if (ticks > 0)
                t.interval = ticks;
            StartTimer(t.timer, t.interval);
            t.active = 1;
            AddDispatchEntry(log_kind::TrDatChg, log_sub::TimerTrigger, 4, &ticks, uint32_t(handle));
        } else {
            t.active = 0;
            AddDispatchEntry(log_kind::TrDatChg, log_sub::TimerTrigger, 11, "Deactivated", uint32_t(handle));
        }
        return 0;
    }
    return ecBadTriggerHandle;
}

int TFxBaseDispatcher::SetStatusTrigger(int handle, uint32_t value, bool activate)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    for (auto& s : statuses_) {
        if (s.handle != handle)
            continue;
        if (activate) {
            switch (s.type) {
            case StatusModem: {
                uint8_t mask = uint8_t(value);
                s.value = uint16_t((mask << 8) | (mask & modemStatus_));
                break;
            }
            case StatusLine: {
                uint16_t bits = 0;
                if (value & 1)
                    bits |= CeOverrun;
                if (value & 2)
                    bits |= CeRxParity;
                if (value & 4)
                    bits |= CeFrame;
                if (value & 8)
                    bits |= CeBreak;
                s.value = bits;
                break;
            }
            default: s.value = uint16_t(value); break;
            }
        }
        s.active = activate;
        if (activate)
            WantRoom(s);
        uint8_t data[4] = {uint8_t(s.value), uint8_t(s.value >> 8), s.active, s.fired};
        AddDispatchEntry(log_kind::TrDatChg, log_sub::StatusTrigger, 4, data, uint32_t(handle));
        return 0;
    }
    return ecBadTriggerHandle;
}

int TFxBaseDispatcher::SetAvailLevel(uint32_t count)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    availLevel_ = count;
    AddDispatchEntry(log_kind::TrDatChg, log_sub::AvailTrigger, 0, nullptr, count);
    return 0;
}

void TFxBaseDispatcher::ClearAllTriggers()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    availLevel_ = 0;
    timers_.clear();
    statuses_.clear();
    nextTriggerNumber_ = 1;
}

void TFxBaseDispatcher::SaveTriggers(TSavedTriggers& saved)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    saved.availLevel = availLevel_;
    saved.timers = timers_;
    saved.statuses = statuses_;
}

void TFxBaseDispatcher::RestoreTriggers(const TSavedTriggers& saved)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    timers_ = saved.timers;
    statuses_ = saved.statuses;
    availLevel_ = saved.availLevel;
}

int TFxBaseDispatcher::SetUserSlot(void* record, int slot)
{
    if (slot < 1 || slot > 3)
        return ecBadArgument;
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    userSlots_[slot - 1] = record;
    return 0;
}

int TFxBaseDispatcher::GetUserSlot(int slot, void*& record)
{
    if (slot < 1 || slot > 3)
        return ecBadArgument;
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    record = userSlots_[slot - 1];
    return 0;
}

void* TFxBaseDispatcher::GetUserSlot(int slot)
{
    void* record = nullptr;
    GetUserSlot(slot, record);
    return record;
}

// ---------------------------------------------------------------- trace and log

int TFxBaseDispatcher::InitTracing(uint32_t entries)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    int r = trace_.Init(entries);
    traceActive_ = trace_.On();
    return r;
}

void TFxBaseDispatcher::AddTraceEntry(char kind, uint8_t byte)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    trace_.Add(kind, byte);
}

void TFxBaseDispatcher::ClearTracing()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    trace_.Clear();
}

void TFxBaseDispatcher::StartTracing()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    trace_.Start();
    traceActive_ = trace_.On();
}

void TFxBaseDispatcher::StopTracing()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    trace_.Stop();
    traceActive_ = false;
}

void TFxBaseDispatcher::AbortTracing()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    trace_.Abort();
    traceActive_ = false;
}

bool TFxBaseDispatcher::TracingOn()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    return trace_.On();
}

int TFxBaseDispatcher::DumpTrace(const std::string& fileName, bool append, bool hex, bool allHex)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    traceActive_ = false;
    return trace_.Dump(fileName, append, hex, allHex);
}

int TFxBaseDispatcher::InitDispatchLog(uint32_t size)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    log_.Init(size, std::max(std::max(inSize_, outSize_), RingSize));
    return 0;
}

void TFxBaseDispatcher::AddDispatchEntry(uint8_t kind, uint8_t subKind, uint32_t dataLength, const void* data,
                                         uint32_t value)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    if (log_.On())
        log_.Add(kind, subKind, MillisecondClock() - openTime_, value, dataLength, data);
}

void TFxBaseDispatcher::ClearDispatchLog()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    log_.Clear();
}

void TFxBaseDispatcher::StartDispatchLog()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    log_.Start();
}

void TFxBaseDispatcher::StopDispatchLog()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    log_.Stop();
}

void TFxBaseDispatcher::AbortDispatchLog()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    log_.Abort();
}

bool TFxBaseDispatcher::LoggingOn()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    return log_.On();
}

int TFxBaseDispatcher::DumpDispatchLog(const std::string& fileName, bool append, bool allHex, bool hex)
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    return log_.Dump(fileName, append, allHex, hex, deviceName_);
}

// ---------------------------------------------------------------- dispatch-thread work

bool TFxBaseDispatcher::ReadIntoRing(bool bytesWaiting)
{
    std::lock_guard<std::recursive_mutex> g(ringLock_);
    if (ring_.empty() || ringFull_)
        return false;
    uint32_t inQueue = RingSize;
    if (!bytesWaiting) {
        uint32_t bits;
        {
            std::lock_guard<std::recursive_mutex> o(outputLock_);
            bits = GetComError(queueStatus_);
            inQueue = queueStatus_.inQue;
        }
        if (bits) {
            std::lock_guard<std::recursive_mutex> gl(generalLock_); // ring -> general: the fixed order
            lineErrors_ |= bits & CeAllBits;
        }
        if (inQueue == 0)
            return false;
    }
    uint32_t waiting = RingWaiting();
    uint32_t freeSpace = RingSize - waiting;
    uint32_t first = ringRead_ > ringWrite_ ? ringRead_ - ringWrite_ : RingSize - ringWrite_;
    uint32_t total = std::min(freeSpace, inQueue);
    uint32_t second = total > first ? total - first : 0;
    uint32_t pieces[2] = {std::min(first, total), second};
    for (uint32_t asked : pieces) {
        if (asked == 0)
            break;
        int got = ReadCom(&ring_[ringWrite_], asked);
        if (got < 0) {
            HandleReadError(-1);
            got = 0;
        }
        if (got > 0) {
            std::lock_guard<std::recursive_mutex> gl(generalLock_);
            if (log_.On())
                AddDispatchEntry(log_kind::Dispatch, log_sub::ReadCom, uint32_t(got), &ring_[ringWrite_],
                                 uint32_t(got));
        }
        ringWrite_ += uint32_t(got);
        if (ringWrite_ == RingSize)
            ringWrite_ = 0;
        if (got > 0)
            ringFull_ = ringWrite_ == ringRead_;
        if (uint32_t(got) < asked)
            break;
    }
    return true;
}

bool TFxBaseDispatcher::Notify(uint32_t msg, uintptr_t wParam, uint32_t data)
{
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        if (!fireNotifications_)
            return true;
        busy_ = true;
    }
    {
        std::lock_guard<std::recursive_mutex> r(ringLock_);
        largestConsumed_ = 0;
        peekMode_ = msg == MsgTriggerAvail;
        peekCount_ = 0;
    }
    intptr_t lParam = intptr_t(data) + intptr_t(handle_) * 65536;
    bool result = true;
    bool closed = false;

    // Walk the lists by index: handlers may be added (appended) while one runs; removal only marks.
    auto afterCall = [this, &closed]() {
        std::lock_guard<std::recursive_mutex> r(ringLock_);
        largestConsumed_ = std::max(largestConsumed_, peekCount_);
        closed = closePending_;
    };
    for (size_t i = 0; !closed; ++i) {
        TDispatchProc proc;
        {
            std::lock_guard<std::recursive_mutex> g(generalLock_);
            if (i >= procs_.size())
                break;
            if (procs_[i].deleted)
                continue;
            proc = procs_[i].proc;
        }
        {
            std::lock_guard<std::recursive_mutex> r(ringLock_);
            peekCount_ = 0;
        }
        proc(msg, wParam, lParam);
        afterCall();
    }
    for (size_t i = 0; !closed; ++i) {
        uint32_t window;
        {
            std::lock_guard<std::recursive_mutex> g(generalLock_);
            if (!(windows_.size() > 1 || forceWindowNotify_) || i >= windows_.size())
                break;
            if (windows_[i].deleted)
                continue;
            window = windows_[i].window;
        }
        {
            std::lock_guard<std::recursive_mutex> r(ringLock_);
            peekCount_ = 0;
        }
        platform::LResult answer = 0;
        platform::SendMessageTimeout(window, msg, wParam, lParam, 3000, &answer);
        afterCall();
    }
    if (closed) {
        result = false;
    } else {
        std::lock_guard<std::recursive_mutex> r(ringLock_);
        if (peekMode_) {
            peekMode_ = false;
            ringRead_ = (ringRead_ + largestConsumed_) % RingSize;
            if (largestConsumed_ != 0)
                ringFull_ = false;
            if (msg == MsgTriggerAvail && largestConsumed_ != wParam)
                result = false;
        }
    }
    {
        std::lock_guard<std::recursive_mutex> r(ringLock_);
        peekMode_ = false;
        peekCount_ = 0;
    }
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    busy_ = false;
    if (handlerRemovalPending_)
        RemoveDeletedHandlers();
    return result;
}

bool TFxBaseDispatcher::CheckAvail()
{
    uint32_t count;
    {
        std::lock_guard<std::recursive_mutex> r(ringLock_);
        scanPos_ = ringWrite_;
        uint32_t level;
        {
            std::lock_guard<std::recursive_mutex> g(generalLock_);
            level = availLevel_;
        }
        count = RingWaiting();
        if (level == 0 || (scanPos_ == lastAvailPos_ && !ringFull_) || count < level)
            return false;
        lastAvailPos_ = scanPos_;
    }
    AddDispatchEntry(log_kind::Trigger, log_sub::Avail, 0, nullptr, count);
    return Notify(MsgTriggerAvail, count, 0);
}

void TFxBaseDispatcher::WantRoom(const TStatusTrigger& s)
{
    uint32_t wanted = 0;
    switch (s.type) {
    case StatusOutBuffFree: wanted = std::max<uint32_t>(1, s.value); break;
    case StatusOutBuffUsed: wanted = outSize_ > s.value ? outSize_ - s.value : 1; break;
    case StatusOutSent: wanted = 1; break;
    default: return;
    }
    uint32_t current = roomWanted_;
    while ((current == 0 || wanted < current) && !roomWanted_.compare_exchange_weak(current, wanted)) {}
    // The room may have come before the wish: the output thread then has nothing more to say. (On
    // the dispatch thread itself the next round looks, so that a trigger re-armed in its handler
    // fires once per round, not in a loop.)
    if (std::this_thread::get_id() == dispThread_.get_id())
        return;
    std::lock_guard<std::recursive_mutex> o(outputLock_);
    uint32_t wantedNow = roomWanted_;
    if (wantedNow && !outBuf_.empty() && outSize_ - OutputWaiting() >= wantedNow && roomWanted_.exchange(0)
        && outputRoom_)
        outputRoom_->Set();
}

bool TFxBaseDispatcher::CheckStatusTriggers()
{
    int32_t handle = 0;
    uint32_t data = 0;
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        for (auto& s : statuses_) {
            if (!s.active || s.fired)
                continue;
            bool fire = false;
            switch (s.type) {
            case StatusModem: fire = ((s.value & 0xFF) ^ modemStatus_) & (s.value >> 8); break;
            case StatusLine:
                fire = (s.value & lineErrors_) != 0;
                s.value = uint16_t(lineErrors_);
                break;
            case StatusOutBuffFree: {
                uint32_t f = OutputFree();
                fire = f >= s.value;
                data = f;
                break;
            }
            case StatusOutBuffUsed: {
                uint32_t used = OutputCount();
                fire = used <= s.value;
                data = used;
                break;
            }
            case StatusOutSent: fire = outputSent_.exchange(false); break;
            }
            if (!fire)
                WantRoom(s); // the output thread says when there is room
            if (fire) {
                s.active = 0;
                s.fired = 1;
                statusFiredThisRound_ = true;
                handle = s.handle;
                break;
            }
            data = 0;
        }
    }
    if (handle == 0)
        return false;
    AddDispatchEntry(log_kind::Trigger, log_sub::Status, 0, nullptr, uint32_t(handle));
    return Notify(MsgTriggerStatus, uintptr_t(handle), data);
}

bool TFxBaseDispatcher::CheckTimerTriggers()
{
    int32_t handle = 0;
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        for (auto& t : timers_)
            if (t.active && TimerExpired(t.timer)) {
                t.active = 0;
                handle = t.handle;
                break;
            }
    }
    if (handle == 0)
        return false;
    AddDispatchEntry(log_kind::Trigger, log_sub::Timer, 0, nullptr, uint32_t(handle));
    return Notify(MsgTriggerTimer, uintptr_t(handle), 0);
}

void TFxBaseDispatcher::ClearFiredMarks()
{
    std::lock_guard<std::recursive_mutex> g(generalLock_);
    if (!statusFiredThisRound_)
        return;
    for (auto& s : statuses_)
        s.fired = 0;
    statusFiredThisRound_ = false;
}

bool TFxBaseDispatcher::StatusLoop()
{
    while (CheckStatusTriggers())
        if (closePending_)
            return false;
    return !closePending_;
}

void TFxBaseDispatcher::EventRound(uint32_t mask, bool fromEvent, bool bytesWaiting)
{
    if (mask & (EvCts | EvDsr | EvRlsd | EvRing | EvRingTrailingEdge)) {
        RefreshModemChanges();
        if (!IsBusy() && !StatusLoop())
            return;
        ClearFiredMarks();
    }
    if (mask & (EvBreak | EvErr)) {
        RefreshLineErrors();
        if (!IsBusy() && !StatusLoop())
            return;
    }
    ReadIntoRing(bytesWaiting);
    if (!IsBusy()) {
        if (!StatusLoop())
            return;
        while (CheckAvail())
            if (closePending_)
                return;
        if (closePending_)
            return;
    }
    ClearFiredMarks();
    if (fromEvent)
        readyEvent_->Set();
}

void TFxBaseDispatcher::PeriodicRound()
{
    if (closePending_ || IsBusy())
        return;
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        statusFiredThisRound_ = false;
    }
    for (;;) {
        bool fired = CheckStatusTriggers();
        if (!fired)
            fired = CheckTimerTriggers();
        if (!fired || closePending_)
            break;
    }
    ClearFiredMarks();
}

} // namespace zn::comms
