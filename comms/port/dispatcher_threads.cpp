#include "comms/port/dispatcher_threads.h"

#include "comms/port/dispatcher.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace zn::comms {

namespace {

// A thread's loop ended by an exception: report it without blocking the other threads.
void ReportThreadException(const char* thread, const std::exception* e)
{
    std::fprintf(stderr, "zn: port %s thread ended: %s\n", thread, e ? e->what() : "unknown exception");
}

template <typename Body>
void RunGuarded(const char* name, Body body)
{
    try {
        body();
    } catch (const std::exception& e) {
        ReportThreadException(name, &e);
    } catch (...) {
        ReportThreadException(name, nullptr);
    }
}

} // namespace

void TFxDispatcherThread::CountIn() { d_.threadCount_.fetch_add(1); }

void TFxDispatcherThread::CountOut()
{
    if (d_.threadCount_.fetch_sub(1) == 1)
        d_.threadsRunning_ = false;
}

// ---------------------------------------------------------------- comm-event thread

void TComThread::Execute()
{
    CountIn();
    d_.threadSignal_->Set();
    RunGuarded("comm-event", [this] {
        while (!d_.killThreads_) {
            uint32_t mask = 0;
            bool got = d_.WaitComEvent(mask);
            if (d_.killThreads_)
                break;
            if (!got || mask == 0)
                continue;
            if (mask & (EvRing | EvRingTrailingEdge))
                d_.ringSeen_ = true;
            d_.commMask_.fetch_or(mask);
            d_.commEvent_->Set();
            // One event round per line event: the next wait starts once the round is done.
            while (!d_.readyEvent_->Wait(100))
                if (d_.killThreads_)
                    break;
        }
    });
    d_.threadSignal_->Set();
    d_.comThreadAlive_ = false;
    CountOut();
}

// ---------------------------------------------------------------- dispatch thread

void TDispThread::Execute()
{
    CountIn();
    d_.threadSignal_->Set();
    RunGuarded("dispatch", [this] {
        do {
            int woken = d_.WaitDispatch(50);
            if (d_.killThreads_)
                return;
            if (woken == TFxBaseDispatcher::DispatchCommEvent)
                d_.EventRound(d_.commMask_.exchange(0), true);
            else if (woken == TFxBaseDispatcher::DispatchData)
                d_.EventRound(EvRxChar, false, true); // the device said bytes wait: read them at once
            else if (woken != TFxBaseDispatcher::DispatchOutputRoom && d_.ReadIntoRing())
                // Bytes that came with the periodic poll are announced as well. (Room in the output
                // buffer needs only the round below, which fires the status trigger waiting for it.)
                d_.EventRound(EvRxChar, false);
            d_.PeriodicRound();
        } while (!d_.killThreads_ && !d_.closePending_);
    });
    d_.dispThreadAlive_ = false;
    CountOut();
}

// ---------------------------------------------------------------- output thread

void TOutThread::Execute()
{
    CountIn();
    d_.threadSignal_->Set();
    RunGuarded("output", [this] {
        std::vector<platform::Event*> waits = {d_.outputRequest_.get(), d_.outputFlush_.get()};
        do {
            int which = platform::WaitForAny(waits, -1);
            if (which == 0) {
                if (d_.killThreads_)
                    break;
                WriteLoop();
            } else if (which == 1) {
                d_.threadSignal_->Set(); // acknowledges a flush
            }
        } while (!d_.killThreads_ && !d_.closePending_);
    });
    d_.outThreadAlive_ = false;
    CountOut();
}

void TOutThread::WriteLoop()
{
    std::vector<uint8_t> piece;
    for (;;) {
        uint64_t generation;
        {
            std::lock_guard<std::recursive_mutex> g(d_.outputLock_);
            d_.outWriting_ = false;
            if (d_.outBuf_.empty() || (!d_.outFull_ && d_.outRead_ == d_.outWrite_))
                return;
            d_.outWriting_ = true; // writers queue behind this piece until it is written
            uint32_t size = d_.outSize_;
            if (d_.outRead_ < d_.outWrite_) {
                piece.assign(d_.outBuf_.begin() + d_.outRead_, d_.outBuf_.begin() + d_.outWrite_);
            } else if (d_.outWrite_ == 0) {
                piece.assign(d_.outBuf_.begin() + d_.outRead_, d_.outBuf_.end());
            } else {
                // The pending bytes wrap: make them contiguous so that they leave in one write.
                uint32_t pending = d_.OutputWaiting();
                std::vector<uint8_t> head(d_.outBuf_.begin(), d_.outBuf_.begin() + d_.outWrite_);
                std::memmove(&d_.outBuf_[0], &d_.outBuf_[d_.outRead_], size - d_.outRead_);
                std::memcpy(&d_.outBuf_[size - d_.outRead_], head.data(), head.size());
                d_.outRead_ = 0;
                d_.outWrite_ = pending % size;
                piece.assign(d_.outBuf_.begin(), d_.outBuf_.begin() + pending);
            }
            generation = d_.flushGeneration_;
        }
        // What the device took is given back to the buffer at once, so that writers refill it
        // while the rest of the piece waits for the device.
        uint32_t done = 0;
        while (done < piece.size()) {
            int n = d_.WriteDevice(piece.data() + done, uint32_t(piece.size() - done));
            if (n > 0) {
                done += uint32_t(n);
                if (!Consumed(uint32_t(n), generation))
                    break; // flushed meanwhile: the indexes were reset
            } else if (n == 0) {
                if (!d_.WaitWritable()) {
                    {
                        std::lock_guard<std::recursive_mutex> g(d_.outputLock_);
                        d_.outWriting_ = false;
                    }
                    d_.threadSignal_->Set(); // flush: the pending write is abandoned
                    return;
                }
            } else {
                // The device refused it: the piece is dropped, as if written.
                Consumed(uint32_t(piece.size() - done), generation);
                break;
            }
        }
    }
}

bool TOutThread::Consumed(uint32_t count, uint64_t generation)
{
    std::lock_guard<std::recursive_mutex> g(d_.outputLock_);
    if (generation != d_.flushGeneration_ || d_.outBuf_.empty())
        return false;
    d_.outRead_ = (d_.outRead_ + count) % d_.outSize_;
    d_.outFull_ = false;
    if (d_.outRead_ == d_.outWrite_)
        d_.outRead_ = d_.outWrite_ = 0;
    uint32_t wanted = d_.roomWanted_;
    if (wanted && d_.outSize_ - d_.OutputWaiting() >= wanted && d_.roomWanted_.exchange(0) && d_.outputRoom_)
        d_.outputRoom_->Set();
    return true;
}

// ---------------------------------------------------------------- start and stop

int TFxBaseDispatcher::WaitDispatch(int timeoutMs)
{
    return commEvent_->Wait(timeoutMs) ? DispatchCommEvent : DispatchTimeout;
}

void TFxBaseDispatcher::StartDispatcher()
{
    {
        std::lock_guard<std::recursive_mutex> g(generalLock_);
        if (threadsRunning_)
            throw std::runtime_error("Dispatcher already started");
        threadsRunning_ = true;
        killThreads_ = false;
    }
    comThreadAlive_ = dispThreadAlive_ = outThreadAlive_ = true;
    comThread_ = std::thread([this] { TComThread(*this).Execute(); });
    threadSignal_->Wait(3000);
    dispThread_ = std::thread([this] { TDispThread(*this).Execute(); });
    threadSignal_->Wait(3000);
    outThread_ = std::thread([this] { TOutThread(*this).Execute(); });
    threadSignal_->Wait(3000);
}

void TFxBaseDispatcher::StopDispatcher()
{
    killThreads_ = true;
    if (outputFlush_)
        outputFlush_->Set();
    if (wakeCom_)
        wakeCom_->Set();
    if (readyEvent_)
        readyEvent_->Set();
    if (commEvent_)
        commEvent_->Set();
    WaitForThreadsToEnd();
}

void TFxBaseDispatcher::WaitForThreadsToEnd()
{
    // A window notification may be waiting for this (GUI) thread: keep its messages moving until the
    // dispatch thread has left its round, then join.
    while (dispThreadAlive_ && dispThread_.joinable() && dispThread_.get_id() != std::this_thread::get_id()) {
        uint32_t pumped = platform::PumpOneMessage();
        if (pumped == 0 || pumped == platform::WM_QUIT_MSG)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::thread* t : {&outThread_, &comThread_, &dispThread_})
        if (t->joinable() && t->get_id() != std::this_thread::get_id())
            t->join();
}

} // namespace zn::comms
