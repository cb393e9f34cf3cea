// The three threads behind every open port:
//  - TComThread waits for line events (modem lines, line errors, hang-up);
//  - TDispThread wakes on received bytes, on a line event and at least every 50 ms; it moves received
//    bytes into the ring and runs every trigger check and notification;
//  - TOutThread drains the output buffer, one write per contiguous piece.
// They are started by StartDispatcher and joined by StopDispatcher before anything they use is freed.
#pragma once

#include <cstdint>

namespace zn::comms {

class TFxBaseDispatcher;

class TFxDispatcherThread {
public:
    explicit TFxDispatcherThread(TFxBaseDispatcher& dispatcher) : d_(dispatcher) {}

protected:
    void CountIn();
    void CountOut();
    TFxBaseDispatcher& d_;
};

class TComThread : public TFxDispatcherThread {
public:
    using TFxDispatcherThread::TFxDispatcherThread;
    void Execute();
};

class TDispThread : public TFxDispatcherThread {
public:
    using TFxDispatcherThread::TFxDispatcherThread;
    void Execute();
};

class TOutThread : public TFxDispatcherThread {
public:
    using TFxDispatcherThread::TFxDispatcherThread;
    void Execute();

private:
    void WriteLoop();
    // Gives `count` written bytes back to the output buffer; false when a flush came between.
    bool Consumed(uint32_t count, uint64_t generation);
};

} // namespace zn::comms
