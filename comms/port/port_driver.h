// The port drivers: TFxWin32Dispatcher drives a serial device (any tty) through termios in raw mode;
// TFxTAPI32Dispatcher is the same driver over a descriptor that the TAPI line device hands over.
//
// What the device cannot tell or do on Linux is kept in a shadow copy of the line settings (DTR
// handshake, DSR sensitivity, XonLim, XoffLim, RTS toggle), so that read-modify-write of the settings
// stays consistent. Modem lines and line-error counters have no pollable source: the comm-event
// thread samples them. On a pseudo-terminal, where those calls fail, CTS and DSR read on and carrier
// follows the port's carrier setting until the far end hangs up; while DTR is dropped (by the speed
// B0, as POSIX hangs up a line) it reads off, as a modem's does once it hung up.
//
// Exclusive use: UUCP lock files (/var/lock/LCK..name; stale ones of dead processes are removed)
// and flock() on the device, so that other programs and a second open see the port as busy. The
// lock files go with the process however it ends while it runs code of its own (a second SIGTERM,
// SIGHUP at a logout, a crash: platform/end_removals.h).
#pragma once

#include "comms/port/dispatcher.h"

#include <atomic>
#include <vector>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace zn::comms {

// Windows-style system errors the driver reports through the dispatcher's last error.
constexpr int ErrorFileNotFound = 2;
constexpr int ErrorAccessDenied = 5; // the port is held by another program or open here already

// A device is locked under every name it is known by: the name as configured (/dev/modem, a
// /dev/serial/by-id/ link, a test bed's alias), each link on the way, the device itself, every other
// name in /dev that leads to it, and its device number (LCK.MMM.mmm, as lockdev writes it). A program
// that opens the modem by any of those names then finds it locked. The other way round, a port is
// busy when any lock in the folder guards the same device: by its name in /dev, by the device
// number, or (for a name that leads to no device, an alias elsewhere) by its holder being seen to
// have the device open (another user's process, whose open files may not be read, is not). A lock
// whose name leads to another device is that device's, whoever holds it.
class UucpLock {
public:
    UucpLock() = default;
    ~UucpLock() { Release(); }
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;
    // Takes the locks for a device path; false (holding none) when a live process holds any of
    // them. A lock folder that cannot be written is not an error (flock still guards the device).
    bool Acquire(const std::string& devicePath);
    void Release();
    const std::vector<std::string>& Paths() const { return paths_; }

    // The lock file of the resolved device, and those of every name of the device.
    static std::string LockPathFor(const std::string& devicePath);
    static std::vector<std::string> LockPathsFor(const std::string& devicePath);
    static void SetLockFolderForTest(const std::string& folder);

private:
    // False when a live process holds the lock for our device; true when it is ours now, or is
    // another device's lock of the same name, or the folder takes no locks.
    static bool AcquireOne(const std::string& path, dev_t device, bool deviceKnown);
    std::vector<std::string> paths_;
    std::vector<int> endSlots_; // the lock files go with the process however it ends
};

class TFxWin32Dispatcher : public TFxBaseDispatcher {
public:
    explicit TFxWin32Dispatcher(void* owner);
    ~TFxWin32Dispatcher() override;

    int EscapeComFunction(int function) override;
    int FlushCom(int which) override;
    uint32_t GetComError(TComStatus& status) override;
    int GetComState(TComState& state) override;
    int ReadCom(uint8_t* dest, uint32_t count) override;
    int SetComState(const TComState& state) override;
    bool WaitComEvent(uint32_t& mask) override;
    int WaitDispatch(int timeoutMs) override;
    bool SetupCom(uint32_t inSize, uint32_t outSize) override;
    uint8_t GetModemLines() override;
    int OpenCom(const std::string& deviceName, uint32_t inSize, uint32_t outSize) override;
    int CloseCom() override;
    int WriteDevice(const uint8_t* data, uint32_t count) override;
    bool WaitWritable() override;

    int Descriptor() const { return fd_; }

protected:
    // Closes the port and joins its threads. Every driver's destructor calls it first: the threads
    // call the driver's virtual operations until they have ended.
    void Shutdown();
    // Puts an open descriptor into raw mode and learns what it supports. False when it is no tty.
    bool PrepareDevice();
    void SampleLines(uint32_t& mask);
    // DTR on a device without modem-line calls (a pseudo-terminal): dropped as POSIX hangs up a
    // line, by the speed B0, and raised by giving the speed back.
    void SetDtrBySpeed(bool on);
    // A read or write result: bytes moved, 0 when the device would block, -1 when it failed.
    int TransferResult(long n);

    TComState shadow_;
    bool modemIoctls_ = false;
    bool countIoctls_ = false;
    bool framingShadowed_ = false; // the device does not keep data bits, parity and stop bits
    bool dtrDropped_ = false;      // DTR dropped by speed B0; the speed before it is kept here
    struct {
        uint32_t bits = 0, in = 0, out = 0;
    } speedBeforeDrop_;
    uint8_t lastLines_ = 0;
    struct Counts {
        int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    } lastCounts_;
    std::atomic<uint32_t> pendingErrors_{0};
    std::atomic<bool> hungUp_{false};
    bool hangUpReported_ = false; // comm-event thread only
    UucpLock lock_;
};

class TFxTAPI32Dispatcher : public TFxWin32Dispatcher {
public:
    // The descriptor is owned from here on and closed with the port.
    TFxTAPI32Dispatcher(void* owner, int commHandle);
    ~TFxTAPI32Dispatcher() override;
    int OpenCom(const std::string& deviceName, uint32_t inSize, uint32_t outSize) override;
};

} // namespace zn::comms
