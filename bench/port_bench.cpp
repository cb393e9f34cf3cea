// Serial port layer over a pseudo-terminal pair: throughput both ways (MB/s, CPU seconds per MB) and
// the latency from a byte written by the far end to the procedure handler running (p50, p99).
// The peer is the floor a program reaches without the port layer: poll() and read()/write() straight
// on the same tty.
//
//   zn_port_bench [megabytes] [latency samples]
#include "comms/port/dispatcher.h"
#include "comms/port/port_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace zn::comms;
using Clock = std::chrono::steady_clock;

namespace {

struct Pty {
    int master = -1;
    std::string slave;
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master);
        ::unlockpt(master);
        slave = ::ptsname(master);
    }
    ~Pty() { ::close(master); }
};

double CpuSeconds()
{
    struct rusage u {};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Rate {
    double mbPerSecond = 0;
    double cpuPerMb = 0;
    bool intact = true; // the far end got exactly the bytes sent
};

constexpr size_t kBlock = 4096;

// The bytes every throughput run sends: a fixed pseudo-random sequence, so that a lost, doubled or
// reordered byte shows.
const std::vector<uint8_t>& Pattern(size_t total)
{
    static std::vector<uint8_t> bytes;
    if (bytes.size() != total) {
        bytes.resize(total);
        uint32_t x = 2463534242u;
        for (auto& b : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = uint8_t(x);
        }
    }
    return bytes;
}

// Checks received bytes against the pattern as they come.
struct Receiver {
    const std::vector<uint8_t>& expected;
    size_t got = 0;
    bool intact = true;
    void Take(const uint8_t* p, size_t n)
    {
        if (got + n > expected.size() || std::memcmp(p, expected.data() + got, n) != 0)
            intact = false;
        got += n;
    }
};

void WriteAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= size_t(w);
        } else {
            struct pollfd pfd = {fd, POLLOUT, 0};
            ::poll(&pfd, 1, 100);
        }
    }
}

// Reads until `total` bytes came, checking them.
bool Drain(int fd, size_t total)
{
    Receiver r{Pattern(total)};
    std::vector<uint8_t> buf(65536);
    while (r.got < total) {
        struct pollfd pfd = {fd, POLLIN, 0};
        ::poll(&pfd, 1, 100);
        ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n > 0)
            r.Take(buf.data(), size_t(n));
    }
    return r.intact && r.got == total;
}

template <typename Body>
Rate Measure(size_t total, Body body)
{
    double cpu0 = CpuSeconds();
    auto t0 = Clock::now();
    bool intact = body();
    double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    double mb = double(total) / 1e6;
    return {mb / seconds, (CpuSeconds() - cpu0) / mb, intact};
}

std::unique_ptr<TFxWin32Dispatcher> OpenPort(const Pty& pty)
{
    auto d = std::make_unique<TFxWin32Dispatcher>(nullptr);
    if (d->OpenPort(pty.slave, 115200, ParityNone, 8, 1, 8192, 8192, OptDtrOn | OptRtsOn) != 0) {
        std::fprintf(stderr, "cannot open %s\n", pty.slave.c_str());
        std::exit(1);
    }
    return d;
}

// The moment a byte reached its reader, handed from the reading thread to the sender.
struct Arrival {
    std::mutex lock;
    std::condition_variable arrived;
    Clock::time_point handled;
    bool done = false;
    void Signal()
    {
        auto now = Clock::now();
        std::lock_guard<std::mutex> g(lock);
        handled = now;
        done = true;
        arrived.notify_one();
    }
};

// Sends one byte at a time from the far end, at irregular gaps, and times its arrival.
std::vector<double> TimeSingleBytes(int master, int samples, Arrival& a)
{
    std::vector<double> us;
    for (int i = 0; i < samples; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(500 + (i * 7919) % 2000));
        std::unique_lock<std::mutex> g(a.lock);
        a.done = false;
        auto sent = Clock::now();
        uint8_t b = 'A';
        WriteAll(master, &b, 1);
        a.arrived.wait(g, [&] { return a.done; });
        us.push_back(std::chrono::duration<double, std::micro>(a.handled - sent).count());
    }
    return us;
}

// ---- ours

// The writer keeps the output buffer full, waiting for room as the fax engine does: an output-free
// status trigger for one block, fired by the dispatch thread.
Rate OurOutput(size_t total)
{
    Pty pty;
    auto d = OpenPort(pty);
    const std::vector<uint8_t>& bytes = Pattern(total);
    std::mutex lock;
    std::condition_variable roomMade;
    bool room = false;
    int trigger = d->AddStatusTrigger(StatusOutBuffFree);
    d->AddProcedureHandler(&room, [&](uint32_t msg, uintptr_t, intptr_t) {
        if (msg != MsgTriggerStatus)
            return;
        std::lock_guard<std::mutex> g(lock);
        room = true;
        roomMade.notify_one();
    });
    return Measure(total, [&] {
        bool intact = false;
        std::thread far([&] { intact = Drain(pty.master, total); });
        for (size_t sent = 0; sent < total; sent += kBlock) {
            while (d->WriteBlock(bytes.data() + sent, uint32_t(kBlock)) == ecOutputBufferTooSmall) {
                std::unique_lock<std::mutex> g(lock);
                room = false;
                d->SetStatusTrigger(trigger, uint32_t(kBlock), true);
                roomMade.wait_for(g, std::chrono::milliseconds(100), [&] { return room; });
            }
        }
        far.join();
        return intact;
    });
}

// The handler takes what waits in blocks.
Rate OurInput(size_t total)
{
    Pty pty;
    auto d = OpenPort(pty);
    Receiver r{Pattern(total)};
    std::atomic<size_t> got{0};
    d->AddProcedureHandler(&got, [&](uint32_t msg, uintptr_t, intptr_t) {
        uint8_t buf[TFxBaseDispatcher::RingSize];
        if (msg == MsgTriggerAvail)
            while (uint32_t n = d->ReadBlock(buf, sizeof buf)) {
                r.Take(buf, n);
                got += n;
            }
    });
    d->SetAvailLevel(1);
    const std::vector<uint8_t>& bytes = Pattern(total);
    return Measure(total, [&] {
        for (size_t sent = 0; sent < total; sent += kBlock)
            WriteAll(pty.master, bytes.data() + sent, kBlock);
        while (got < total)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        d->RemoveProcedureHandler(&got);
        return r.intact && r.got == total;
    });
}

std::vector<double> OurLatency(int samples)
{
    Pty pty;
    auto d = OpenPort(pty);
    Arrival a;
    d->AddProcedureHandler(&a, [&](uint32_t msg, uintptr_t, intptr_t) {
        if (msg != MsgTriggerAvail)
            return;
        a.Signal();
        uint8_t c;
        while (d->ReadChar(c) == 0) {}
    });
    d->SetAvailLevel(1);
    return TimeSingleBytes(pty.master, samples, a);
}

// ---- peer: the tty read and written directly

int OpenRaw(const Pty& pty)
{
    // A dispatcher sets the tty raw; the peer takes the same settings and then works on it alone.
    auto d = OpenPort(pty);
    d->ClosePort();
    return ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

Rate PeerOutput(size_t total)
{
    Pty pty;
    int fd = OpenRaw(pty);
    const std::vector<uint8_t>& bytes = Pattern(total);
    Rate r = Measure(total, [&] {
        bool intact = false;
        std::thread far([&] { intact = Drain(pty.master, total); });
        for (size_t sent = 0; sent < total; sent += kBlock)
            WriteAll(fd, bytes.data() + sent, kBlock);
        far.join();
        return intact;
    });
    ::close(fd);
    return r;
}

Rate PeerInput(size_t total)
{
    Pty pty;
    int fd = OpenRaw(pty);
    const std::vector<uint8_t>& bytes = Pattern(total);
    Rate r = Measure(total, [&] {
        bool intact = false;
        std::thread reader([&] { intact = Drain(fd, total); });
        for (size_t sent = 0; sent < total; sent += kBlock)
            WriteAll(pty.master, bytes.data() + sent, kBlock);
        reader.join();
        return intact;
    });
    ::close(fd);
    return r;
}

std::vector<double> PeerLatency(int samples)
{
    Pty pty;
    int fd = OpenRaw(pty);
    Arrival a;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        uint8_t buf[64];
        while (!stop) {
            struct pollfd pfd = {fd, POLLIN, 0};
            if (::poll(&pfd, 1, 50) > 0 && ::read(fd, buf, sizeof buf) > 0)
                a.Signal();
        }
    });
    std::vector<double> us = TimeSingleBytes(pty.master, samples, a);
    stop = true;
    reader.join();
    ::close(fd);
    return us;
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// The run of median throughput; intact only when every run was.
Rate Median(std::vector<Rate> runs)
{
    bool intact = std::all_of(runs.begin(), runs.end(), [](const Rate& r) { return r.intact; });
    std::sort(runs.begin(), runs.end(), [](const Rate& a, const Rate& b) { return a.mbPerSecond < b.mbPerSecond; });
    Rate m = runs[runs.size() / 2];
    m.intact = intact;
    return m;
}

void Row(const char* what, double ours, double peer, const char* unit)
{
    std::printf("%-34s %12.3f %12.3f %8.2f  %s\n", what, ours, peer, peer != 0 ? ours / peer : 0.0, unit);
}

} // namespace

int main(int argc, char** argv)
{
    size_t megabytes = argc > 1 ? size_t(std::atoi(argv[1])) : 16;
    int samples = argc > 2 ? std::atoi(argv[2]) : 2000;
    size_t total = megabytes * 1000000 / kBlock * kBlock;

    // Each side runs in turn, five times; the median run counts, so that the machine's drift
    // touches both alike.
    std::vector<Rate> ourOuts, peerOuts, ourIns, peerIns;
    for (int round = 0; round < 5; ++round) {
        ourOuts.push_back(OurOutput(total));
        peerOuts.push_back(PeerOutput(total));
        ourIns.push_back(OurInput(total));
        peerIns.push_back(PeerInput(total));
    }
    Rate ourOut = Median(ourOuts), peerOut = Median(peerOuts), ourIn = Median(ourIns), peerIn = Median(peerIns);
    std::vector<double> ourLat = OurLatency(samples), peerLat = PeerLatency(samples);

    std::printf(
        "Serial port layer over a pty pair: %zu MB each way (median of 5 runs taken in turn), %d latency samples\n",
        total / 1000000, samples);
    std::printf("%-34s %12s %12s %8s\n", "measure", "zn", "direct tty", "ratio");
    Row("output throughput (WriteBlock)", ourOut.mbPerSecond, peerOut.mbPerSecond, "MB/s");
    Row("output CPU per MB", ourOut.cpuPerMb * 1000, peerOut.cpuPerMb * 1000, "ms/MB");
    Row("input throughput (0x7E01 handler)", ourIn.mbPerSecond, peerIn.mbPerSecond, "MB/s");
    Row("input CPU per MB", ourIn.cpuPerMb * 1000, peerIn.cpuPerMb * 1000, "ms/MB");
    Row("byte to handler latency p50", Percentile(ourLat, 0.50) / 1000, Percentile(peerLat, 0.50) / 1000, "ms");
    Row("byte to handler latency p99", Percentile(ourLat, 0.99) / 1000, Percentile(peerLat, 0.99) / 1000, "ms");
    Row("byte to handler latency max", Percentile(ourLat, 1.0) / 1000, Percentile(peerLat, 1.0) / 1000, "ms");
    bool intact = ourOut.intact && peerOut.intact && ourIn.intact && peerIn.intact;
    std::printf("every byte arrived in order, each way: %s\n", intact ? "yes" : "NO");
    bool ok = Percentile(ourLat, 0.99) < 10000;
    std::printf("Class 1 answer budget: p99 under 10 ms: %s\n", ok ? "yes" : "NO");
    return ok && intact ? 0 : 1;
}
