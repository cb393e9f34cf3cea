// The dispatcher and its threads over a pseudo-terminal: data both ways, triggers, handlers, close.
#include "comms/port/dispatcher.h"
#include "comms/port/port_driver.h"
#include "comms/tests/port_fixture.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QByteArray>

#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <random>

using namespace zn::comms;
using zn::comms::test::Collector;
using zn::comms::test::OpenDispatcher;
using zn::comms::test::PtyPair;
using zn::comms::test::ReadFile;
using zn::comms::test::WaitUntil;

namespace {

int CountItems(const std::string& dump, const std::string& heading)
{
    // Items of every group under the heading: characters, or "[..]" items.
    int count = 0;
    size_t pos = 0;
    while ((pos = dump.find(heading + "\r\n", pos)) != std::string::npos) {
        pos += heading.size() + 2;
        size_t end = dump.find("\r\n\r\n", pos);
        if (end == std::string::npos)
            end = dump.size();
        for (size_t i = pos; i < end; ++i) {
            if (dump[i] == '\r' || dump[i] == '\n')
                continue;
            if (dump[i] == '[')
                i = dump.find(']', i);
            ++count;
        }
        pos = end;
    }
    return count;
}

double CpuSeconds()
{
    struct rusage u {};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(Dispatcher, OpensAPseudoTerminalAndTakesAHandle)
{
    OpenDispatcher o;
    ASSERT_TRUE(o.pty.Ok());
    ASSERT_EQ(o.result, 0);
    EXPECT_GE(o.d->Handle(), 0);
    EXPECT_TRUE(o.d->ThreadsRunning());
    uint32_t baud;
    int parity, data, stop;
    o.d->GetLineParams(baud, parity, data, stop);
    EXPECT_EQ(baud, 19200u);
    EXPECT_EQ(data, 8);
    EXPECT_EQ(stop, 1);
    EXPECT_EQ(o.d->ClosePort(), 0);
    EXPECT_FALSE(o.d->ThreadsRunning());
}

TEST(Dispatcher, OneMebibyteLoopsBackUnchangedAndTheTraceCountsAgree)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    // The far end echoes everything it receives.
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        std::vector<char> buf(8192);
        while (!stop) {
            struct pollfd p = {o.pty.Master(), POLLIN, 0};
            ::poll(&p, 1, 20);
            ssize_t n = ::read(o.pty.Master(), buf.data(), buf.size());
            if (n > 0)
                o.pty.Send(buf.data(), size_t(n));
        }
    });
    Collector c;
    c.Attach(*o.d);
    o.d->SetAvailLevel(1);
    constexpr size_t Total = 1 << 20;
    ASSERT_EQ(o.d->InitTracing(2 * Total + 16), 0);
    // The log runs too: reads into the ring log under the ring lock, traced reads take the general
    // lock after the ring lock, writes take the output lock and then the general lock.
    ASSERT_EQ(o.d->InitDispatchLog(1 << 20), 0);
    std::string data(Total, '\0');
    std::mt19937 rng(7);
    for (auto& ch : data)
        ch = char(rng());
    for (size_t at = 0; at < Total; at += 4096) {
        int r;
        while ((r = o.d->WriteBlock(data.data() + at, 4096)) == ecOutputBufferTooSmall)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(r, 0);
    }
    EXPECT_TRUE(WaitUntil([&] { return c.Size() >= Total; }, 30000));
    stop = true;
    echo.join();
    EXPECT_EQ(QCryptographicHash::hash(QByteArray::fromStdString(c.bytes), QCryptographicHash::Sha256),
              QCryptographicHash::hash(QByteArray::fromStdString(data), QCryptographicHash::Sha256));
    std::string traceFile = ::testing::TempDir() + "zn_loopback_" + std::to_string(::getpid()) + ".trc";
    ASSERT_EQ(o.d->DumpTrace(traceFile, false, true, true), 0);
    std::string dump = ReadFile(traceFile);
    EXPECT_EQ(CountItems(dump, "Transmit: "), int(Total));
    EXPECT_EQ(CountItems(dump, "Receive: "), int(Total));
    ::unlink(traceFile.c_str());
}

TEST(Dispatcher, AVanishedFarEndLeavesTheProcessIdleAndClosesQuickly)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    int status = o.d->AddStatusTrigger(StatusModem);
    std::atomic<int> carrierChanges{0};
    o.d->AddProcedureHandler(&carrierChanges, [&](uint32_t msg, uintptr_t handle, intptr_t) {
        if (msg == MsgTriggerStatus && int(handle) == status)
            ++carrierChanges;
    });
    ASSERT_TRUE(o.d->ReadCarrier());
    o.d->SetStatusTrigger(status, MsDcd, true);
    o.pty.CloseMaster();
    EXPECT_TRUE(WaitUntil([&] { return carrierChanges == 1; }));
    EXPECT_FALSE(o.d->ReadCarrier());
    auto wall0 = std::chrono::steady_clock::now();
    double cpu0 = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    double cpu = CpuSeconds() - cpu0;
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    EXPECT_LT(cpu / wall, 0.05);
    EXPECT_EQ(o.d->WriteString("ATH\r"), 0); // written into the void, never a hang
    auto t0 = std::chrono::steady_clock::now();
    o.d->ClosePort();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
}

TEST(Dispatcher, AStalledFarEndWithOutputPendingClosesQuickly)
{
    OpenDispatcher o(16384);
    ASSERT_EQ(o.result, 0);
    std::string block(8192, 'x');
    // The far end reads nothing: the pty fills and 8 KB stay pending in the output buffer.
    while (o.d->WriteBlock(block.data(), uint32_t(block.size())) == 0) {}
    ASSERT_TRUE(WaitUntil([&] { return o.d->OutputCount() >= 8192; }));
    auto t0 = std::chrono::steady_clock::now();
    o.d->ClosePort();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

TEST(Dispatcher, ABlockAsLargeAsTheFreeSpaceFillsTheBufferOneMoreIsRefused)
{
    OpenDispatcher o(4096);
    ASSERT_EQ(o.result, 0);
    std::string big(4097, 'y');
    EXPECT_EQ(o.d->WriteBlock(big.data(), 4097), ecOutputBufferTooSmall);
    EXPECT_EQ(o.d->OutputCount(), 0u);
    EXPECT_EQ(o.d->WriteBlock(big.data(), 4096), 0);
    EXPECT_EQ(o.pty.Receive(4096, 3000).size(), 4096u);
}

// On an idle port whose device has room, a block goes to the device in the writer's own call: the
// output buffer never holds it. Blocks written while earlier bytes wait queue behind them.
TEST(Dispatcher, ABlockWrittenToAnIdlePortLeavesInTheWritersCallAndLaterOnesQueueBehindWaitingBytes)
{
    OpenDispatcher o(4096);
    ASSERT_EQ(o.result, 0);
    const std::string first(1000, 'a');
    ASSERT_EQ(o.d->WriteBlock(first.data(), uint32_t(first.size())), 0);
    EXPECT_EQ(o.d->OutputCount(), 0u);
    EXPECT_EQ(o.pty.Receive(first.size(), 3000), first);

    // The far end stops reading: once the device is full, blocks wait in the buffer, in order.
    std::string sent;
    for (int i = 0; o.d->OutputCount() == 0 && i < 10000; ++i) {
        const std::string block(256, char('b' + i % 20));
        ASSERT_EQ(o.d->WriteBlock(block.data(), uint32_t(block.size())), 0);
        sent += block;
    }
    ASSERT_GT(o.d->OutputCount(), 0u) << "the device never filled";
    const std::string more(300, 'z');
    ASSERT_EQ(o.d->WriteBlock(more.data(), uint32_t(more.size())), 0);
    sent += more;
    EXPECT_EQ(o.pty.Receive(sent.size(), 5000), sent);
    EXPECT_TRUE(WaitUntil([&] { return o.d->OutputCount() == 0; }));
}

// Equal indexes with the buffer full mean OutSize bytes waiting, not none; and data that wraps the
// buffer end goes out once, in order.
TEST(Dispatcher, AFullOutputBufferThatWrapsCountsAllItsBytesAndGoesOutOnce)
{
    constexpr uint32_t OutSize = 4096;
    OpenDispatcher o(OutSize);
    ASSERT_EQ(o.result, 0);
    std::string sent;
    auto nextBytes = [&sent](uint32_t count) {
        std::string block;
        for (uint32_t i = 0; i < count; ++i)
            block.push_back(char((sent.size() + i) % 251));
        return block;
    };
    // The far end reads nothing: write until the tty is full and the output thread stalls.
    uint32_t lastCount = UINT32_MAX;
    auto unchangedSince = std::chrono::steady_clock::now();
    const auto deadline = unchangedSince + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (o.d->OutputFree() > 512) {
            const std::string block = nextBytes(512);
            ASSERT_EQ(o.d->WriteBlock(block.data(), uint32_t(block.size())), 0);
            sent += block;
            continue;
        }
        const uint32_t count = o.d->OutputCount();
        if (count != lastCount) {
            lastCount = count;
            unchangedSince = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - unchangedSince > std::chrono::milliseconds(200)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GT(sent.size(), OutSize) << "the buffer's indexes have not wrapped";

    const std::string last = nextBytes(o.d->OutputFree());
    ASSERT_EQ(o.d->WriteBlock(last.data(), uint32_t(last.size())), 0);
    sent += last;
    EXPECT_EQ(o.d->OutputCount(), OutSize);
    EXPECT_EQ(o.d->OutputFree(), 0u);
    TComStatus status;
    o.d->GetComError(status);
    EXPECT_EQ(status.outQue, OutSize);
    EXPECT_EQ(o.d->WriteChar('x'), ecOutputBufferTooSmall);

    EXPECT_EQ(o.pty.Receive(sent.size(), 5000), sent);
    EXPECT_TRUE(WaitUntil([&] { return o.d->OutputCount() == 0; }));
    EXPECT_EQ(o.pty.Receive(1, 200), "") << "nothing goes out twice";
}

TEST(Dispatcher, UnchangedLineParamsReturnAtOnce)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(o.d->SetLineParams(0, 5, 9, 3), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(5));
}

// ---------------------------------------------------------------- triggers and handlers

namespace {

// Counts the notifications per trigger handle.
struct TriggerCounter {
    std::mutex lock;
    std::map<uintptr_t, int> fired;
    std::map<uintptr_t, intptr_t> data;
    std::function<void(uint32_t, uintptr_t)> also;
    void Attach(TFxBaseDispatcher& d)
    {
        d.AddProcedureHandler(this, [this](uint32_t msg, uintptr_t handle, intptr_t lParam) {
            if (msg != MsgTriggerTimer && msg != MsgTriggerStatus)
                return;
            {
                std::lock_guard<std::mutex> g(lock);
                ++fired[handle];
                data[handle] = lParam & 0xFFFF;
            }
            if (also)
                also(msg, handle);
        });
    }
    int Count(int handle)
    {
        std::lock_guard<std::mutex> g(lock);
        return fired[uintptr_t(handle)];
    }
};

class ErrorInjectingDispatcher : public TFxWin32Dispatcher {
public:
    using TFxWin32Dispatcher::TFxWin32Dispatcher;
    ~ErrorInjectingDispatcher() override { Shutdown(); } // the threads call GetComError until then
    std::atomic<uint32_t> inject{0};
    uint32_t GetComError(TComStatus& status) override
    {
        return TFxWin32Dispatcher::GetComError(status) | inject.exchange(0);
    }
};

} // namespace

TEST(DispatcherTriggers, ATimerFiresOncePerArming)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    TriggerCounter t;
    t.Attach(*o.d);
    int timer = o.d->AddTimerTrigger();
    EXPECT_EQ(timer, 8);
    ASSERT_EQ(o.d->SetTimerTrigger(timer, 1, true), 0);
    EXPECT_TRUE(WaitUntil([&] { return t.Count(timer) == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(t.Count(timer), 1);
    ASSERT_EQ(o.d->SetTimerTrigger(timer, 0, true), 0); // the stored interval again
    EXPECT_TRUE(WaitUntil([&] { return t.Count(timer) == 2; }));
    ASSERT_EQ(o.d->SetTimerTrigger(timer, 1, false), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(t.Count(timer), 2);
    EXPECT_EQ(o.d->SetTimerTrigger(timer + 8, 1, true), ecBadTriggerHandle);
}

struct StatusCase {
    const char* name;
    int type;
    uint32_t value;
};

class StatusTriggers : public ::testing::TestWithParam<StatusCase> {};

// Each type is armed, made to fire, and must fire exactly once until it is armed again.
TEST_P(StatusTriggers, FireOncePerArming)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    ErrorInjectingDispatcher d(nullptr);
    ASSERT_EQ(d.OpenPort(pty.SlavePath(), 19200, 0, 8, 1, 8192, 8192, OptDtrOn | OptRtsOn), 0);
    TriggerCounter t;
    t.Attach(d);
    const StatusCase& c = GetParam();
    int handle = d.AddStatusTrigger(c.type);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(handle & 7, c.type);
    auto provoke = [&] {
        switch (c.type) {
        case StatusModem: pty.CloseMaster(); break; // the far end hangs up: carrier drops
        case StatusLine: d.inject = CeFrame; break;
        default: d.WriteString("ATZ\r"); break;
        }
    };
    for (int arming = 1; arming <= (c.type == StatusModem ? 1 : 2); ++arming) {
        ASSERT_EQ(d.SetStatusTrigger(handle, c.value, true), 0);
        provoke();
        EXPECT_TRUE(WaitUntil([&] { return t.Count(handle) == arming; })) << c.name;
        provoke();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(t.Count(handle), arming) << c.name;
    }
    if (c.type == StatusOutBuffFree) {
        EXPECT_GE(t.data[uintptr_t(handle)], 4000);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, StatusTriggers,
                         ::testing::Values(StatusCase{"modem status", StatusModem, MsDcd},
                                           StatusCase{"line error", StatusLine, 4},
                                           StatusCase{"output free", StatusOutBuffFree, 4000},
                                           StatusCase{"output used", StatusOutBuffUsed, 0},
                                           StatusCase{"output sent", StatusOutSent, 0}),
                         [](const auto& info) { return std::string("Type") + std::to_string(info.param.type); });

TEST(DispatcherTriggers, ATriggerReArmedInItsOwnHandlerFiresAgainInTheNextRoundAtTheEarliest)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    TriggerCounter t;
    t.Attach(*o.d);
    int handle = o.d->AddStatusTrigger(StatusOutBuffFree); // always true: 8192 bytes free
    t.also = [&](uint32_t, uintptr_t h) { o.d->SetStatusTrigger(int(h), 1, true); };
    ASSERT_EQ(o.d->SetStatusTrigger(handle, 1, true), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // One firing per dispatch round (at least every 50 ms), never a loop inside one round.
    EXPECT_GE(t.Count(handle), 2);
    EXPECT_LE(t.Count(handle), 20);
}

TEST(DispatcherTriggers, RemovingTheAvailTriggerSwitchesDataNotificationsOff)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    Collector c;
    c.Attach(*o.d);
    o.d->SetAvailLevel(1);
    o.pty.Send("A");
    ASSERT_TRUE(WaitUntil([&] { return c.notifications == 1; }));
    EXPECT_EQ(o.d->RemoveTrigger(AvailTriggerHandle), 0);
    o.pty.Send("B");
    ASSERT_TRUE(WaitUntil([&] { return o.d->InputCount() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(150)); // three dispatch rounds
    EXPECT_EQ(c.notifications, 1);
    EXPECT_EQ(c.Size(), 1u);
}

TEST(DispatcherTriggers, HandlesAreMultiplesOfEightAndUnknownOnesAreRefused)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    EXPECT_EQ(o.d->AddTimerTrigger(), 8);
    EXPECT_EQ(o.d->AddStatusTrigger(StatusOutSent), 16 + 5);
    EXPECT_EQ(o.d->AddStatusTrigger(6), ecBadArgument);
    EXPECT_EQ(o.d->RemoveTrigger(AvailTriggerHandle), 0);
    EXPECT_EQ(o.d->RemoveTrigger(8), 0);
    EXPECT_EQ(o.d->RemoveTrigger(8), ecBadTriggerHandle);
    EXPECT_EQ(o.d->SetStatusTrigger(8, 0, true), ecBadTriggerHandle);
    int record = 0;
    EXPECT_EQ(o.d->SetUserSlot(&record, 2), 0);
    EXPECT_EQ(o.d->GetUserSlot(2), &record);
    EXPECT_EQ(o.d->SetUserSlot(&record, 4), ecBadArgument);
    void* none = nullptr;
    EXPECT_EQ(o.d->GetUserSlot(0, none), ecBadArgument);
}

TEST(DispatcherTriggers, AfterTheLastNumberTheLowestFreeHandleIsReused)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    for (int i = 1; i <= 4095; ++i)
        ASSERT_EQ(o.d->AddTimerTrigger(), i * 8);
    ASSERT_EQ(o.d->RemoveTrigger(24), 0);
    EXPECT_EQ(o.d->AddTimerTrigger(), 24);
    ASSERT_EQ(o.d->RemoveTrigger(16), 0);
    EXPECT_EQ(o.d->AddStatusTrigger(StatusModem), 16 + 1);
}

TEST(DispatcherTriggers, SavedTriggersComeBackInANewDispatcher)
{
    TSavedTriggers saved;
    int timer;
    {
        OpenDispatcher o;
        ASSERT_EQ(o.result, 0);
        timer = o.d->AddTimerTrigger();
        o.d->SetTimerTrigger(timer, 1, false);
        o.d->SetAvailLevel(3);
        o.d->SaveTriggers(saved);
    }
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    o.d->RestoreTriggers(saved);
    TriggerCounter t;
    t.Attach(*o.d);
    ASSERT_EQ(o.d->SetTimerTrigger(timer, 1, true), 0);
    EXPECT_TRUE(WaitUntil([&] { return t.Count(timer) == 1; }));
}

TEST(DispatcherHandlers, OfTwoReadersTheOneThatTookMostDecidesWhatLeavesTheRing)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    std::atomic<int> calls{0};
    std::atomic<uintptr_t> offered{0};
    std::string first, second;
    auto reader = [&](std::string& into, int n) {
        return [&, n](uint32_t msg, uintptr_t count, intptr_t) {
            if (msg != MsgTriggerAvail)
                return;
            offered = count;
            uint8_t c;
            for (int i = 0; i < n && o.d->ReadChar(c) == 0; ++i)
                into.push_back(char(c));
            ++calls;
        };
    };
    o.d->AddProcedureHandler(&first, reader(first, 3));
    o.d->AddProcedureHandler(&second, reader(second, 5));
    o.d->SetAvailLevel(10);
    o.pty.Send("0123456789");
    ASSERT_TRUE(WaitUntil([&] { return calls == 2; }));
    EXPECT_EQ(offered, 10u);
    EXPECT_EQ(first, "012");
    EXPECT_EQ(second, "01234");
    EXPECT_EQ(o.d->InputCount(), 5u);
    uint8_t c;
    ASSERT_EQ(o.d->ReadChar(c), 0);
    EXPECT_EQ(c, '5');
    uint8_t peeked;
    EXPECT_EQ(o.d->PeekCharAt(peeked, 4), 0);
    EXPECT_EQ(peeked, '9');
    EXPECT_EQ(o.d->PeekCharAt(peeked, 5), ecBufferIsEmpty);
}

TEST(DispatcherHandlers, ABlockReadTakesWhatAsManyCharacterReadsWouldAcrossTheRingsEnd)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    // In the handler: peek mode, as ReadChar; the reader that took most decides what leaves.
    std::atomic<int> calls{0};
    std::string blockRead, charRead;
    o.d->AddProcedureHandler(&blockRead, [&](uint32_t msg, uintptr_t, intptr_t) {
        if (msg != MsgTriggerAvail)
            return;
        uint8_t buf[3];
        uint32_t n = o.d->ReadBlock(buf, sizeof buf);
        blockRead.assign(reinterpret_cast<char*>(buf), n);
        ++calls;
    });
    o.d->AddProcedureHandler(&charRead, [&](uint32_t msg, uintptr_t, intptr_t) {
        if (msg != MsgTriggerAvail)
            return;
        uint8_t c;
        for (int i = 0; i < 5 && o.d->ReadChar(c) == 0; ++i)
            charRead.push_back(char(c));
        ++calls;
    });
    o.d->SetAvailLevel(10);
    o.pty.Send("0123456789");
    ASSERT_TRUE(WaitUntil([&] { return calls == 2; }));
    EXPECT_EQ(blockRead, "012");
    EXPECT_EQ(charRead, "01234");
    o.d->RemoveProcedureHandler(&blockRead);
    o.d->RemoveProcedureHandler(&charRead);
    // Outside a handler a block read consumes at once, and an empty ring gives 0.
    uint8_t rest[64];
    ASSERT_EQ(o.d->ReadBlock(rest, sizeof rest), 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rest), 5), "56789");
    EXPECT_EQ(o.d->ReadBlock(rest, sizeof rest), 0u);
    EXPECT_EQ(o.d->InputCount(), 0u);

    // Bytes that wrap round the end of the ring come out whole and in order.
    std::mt19937 rng(7);
    std::string sent, got;
    for (int round = 0; round < 3; ++round) {
        std::string chunk(5000, '\0');
        for (char& c : chunk)
            c = char(rng());
        sent += chunk;
        o.pty.Send(chunk);
        std::vector<uint8_t> buf(TFxBaseDispatcher::RingSize);
        ASSERT_TRUE(WaitUntil([&] {
            uint32_t n = o.d->ReadBlock(buf.data(), uint32_t(buf.size()));
            got.append(reinterpret_cast<char*>(buf.data()), n);
            return got.size() == sent.size();
        }));
    }
    EXPECT_EQ(got, sent);
}

TEST(DispatcherHandlers, RemovalWhileDispatchingTakesEffectWhenTheNotificationEnds)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    std::atomic<int> firstCalls{0}, secondCalls{0};
    int secondKey = 0;
    o.d->AddProcedureHandler(&firstCalls, [&](uint32_t msg, uintptr_t, intptr_t) {
        if (msg != MsgTriggerAvail)
            return;
        ++firstCalls;
        o.d->DiscardInput();
        o.d->RemoveProcedureHandler(&secondKey);
        o.d->RemoveProcedureHandler(&firstCalls); // itself, too
    });
    o.d->AddProcedureHandler(&secondKey, [&](uint32_t, uintptr_t, intptr_t) { ++secondCalls; });
    o.d->SetAvailLevel(1);
    o.pty.Send("A");
    ASSERT_TRUE(WaitUntil([&] { return firstCalls == 1; }));
    o.pty.Send("B");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 0);
    EXPECT_EQ(o.d->InputCount(), 1u); // B stays: nobody reads it any more
}

TEST(DispatcherHandlers, ABusyDirectReaderHoldsTheNotificationsBack)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    Collector c;
    c.Attach(*o.d);
    o.d->SetAvailLevel(1);
    EXPECT_FALSE(o.d->ExchangeBusy(true));
    o.pty.Send("OK\r");
    ASSERT_TRUE(WaitUntil([&] { return o.d->InputCount() == 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(c.notifications, 0);
    std::string got;
    uint8_t ch;
    while (o.d->ReadChar(ch) == 0)
        got.push_back(char(ch));
    EXPECT_EQ(got, "OK\r");
    EXPECT_TRUE(o.d->ExchangeBusy(false));
}

TEST(DispatcherHandlers, ClosingFromInsideAHandlerDefersTheCloseToTheOwner)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    std::atomic<bool> closed{false};
    o.d->AddProcedureHandler(&closed, [&](uint32_t msg, uintptr_t, intptr_t) {
        if (msg == MsgTriggerAvail && !closed) {
            o.d->ClosePort();
            closed = true;
        }
    });
    o.d->SetAvailLevel(1);
    o.pty.Send("RING\r");
    ASSERT_TRUE(WaitUntil([&] { return closed.load(); }));
    EXPECT_TRUE(o.d->ClosePending());
    EXPECT_TRUE(WaitUntil([&] { return !o.d->ThreadsRunning(); }));
    o.d.reset(); // the owner frees it once the threads are gone: one teardown, no double free
}

TEST(Dispatcher, ASecondStartIsRefused)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    try {
        o.d->StartDispatcher();
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Dispatcher already started");
    }
}

TEST(Dispatcher, DiscardingOutputAbandonsAStalledWriteAtOnceAndLaterDataStillFlows)
{
    OpenDispatcher o(16384);
    ASSERT_EQ(o.result, 0);
    std::string block(8192, 'x');
    while (o.d->WriteBlock(block.data(), uint32_t(block.size())) == 0) {}
    ASSERT_TRUE(WaitUntil([&] { return o.d->OutputCount() > 0; }));
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(o.d->DiscardOutput(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    EXPECT_EQ(o.d->OutputCount(), 0u);
    o.pty.Receive(1 << 20, 300); // the far end takes what the tty held
    ASSERT_EQ(o.d->WriteString("ATH0\r"), 0);
    EXPECT_EQ(o.pty.Receive(5, 2000), "ATH0\r");
}

TEST(Dispatcher, AThreadEndedByAnExceptionStillCountsOut)
{
    class FailingEvents : public TFxWin32Dispatcher {
    public:
        using TFxWin32Dispatcher::TFxWin32Dispatcher;
        ~FailingEvents() override { Shutdown(); }
        bool WaitComEvent(uint32_t&) override { throw std::runtime_error("line gone"); }
    };
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    FailingEvents d(nullptr);
    ASSERT_EQ(d.OpenPort(pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), 0);
    ASSERT_EQ(d.WriteString("AT\r"), 0); // the other threads go on
    EXPECT_EQ(pty.Receive(3, 2000), "AT\r");
    d.ClosePort();
    EXPECT_FALSE(d.ThreadsRunning());
}

TEST(Dispatcher, AFullRingLeavesTheProcessIdleAndTheRestComesInOnceRead)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    std::string sent(12000, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = char('a' + i % 26);
    std::thread far([&] { o.pty.Send(sent); });
    ASSERT_TRUE(WaitUntil([&] { return o.d->InputCount() == TFxBaseDispatcher::RingSize; }));
    double cpu0 = CpuSeconds();
    auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    EXPECT_LT((CpuSeconds() - cpu0) / wall, 0.05);
    EXPECT_TRUE(o.d->HasInput());
    std::string got;
    uint8_t c;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < sent.size() && std::chrono::steady_clock::now() < end) {
        if (o.d->ReadChar(c) == 0)
            got.push_back(char(c));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    far.join();
    EXPECT_EQ(got, sent);
}
