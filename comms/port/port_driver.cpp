// termios2 comes from the kernel headers; glibc's <termios.h> must stay out of this file, its struct
// termios clashes with the kernel's.
#include "comms/port/port_driver.h"

#include "comms/port/port_names.h"
#include "platform/end_removals.h"
#include "platform/io_error.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <poll.h>
#include <unistd.h>

namespace zn::comms {

namespace {

std::string& LockFolder()
{
    static std::string folder = "/var/lock";
    return folder;
}

bool ProcessAlive(long pid)
{
    if (pid <= 0 || pid > INT_MAX)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// A UUCP lock file holds the owner's pid: ten characters and a newline (HDB), or a binary int from
// older programs.
long ReadLockPid(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[64] = {};
    ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n == sizeof(int)) {
        int binaryPid;
        std::memcpy(&binaryPid, text, sizeof binaryPid);
        if (binaryPid > 0 && !(text[0] >= ' ' && text[0] <= '9'))
            return binaryPid;
    }
    if (n <= 0)
        return 0;
    return std::strtol(text, nullptr, 10);
}

int SystemErrorForOpen(int err)
{
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR: return ErrorFileNotFound;
    case EBUSY:
    case EACCES:
    case EPERM:
    case EWOULDBLOCK: return ErrorAccessDenied;
    default: return platform::ErrnoToIoError(err);
    }
}

uint32_t ByteSizeFlag(int bits)
{
    switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

} // namespace

// ---------------------------------------------------------------- UUCP lock

void UucpLock::SetLockFolderForTest(const std::string& folder) { LockFolder() = folder; }

namespace {

constexpr const char kNamePrefix[] = "LCK..";

// LCK.. and the name below /dev with its slashes made underscores; a name elsewhere (an alias in a
// test bed's folder) by its last part.
std::string LockPathOfName(const std::string& name)
{
    std::string base = name.rfind("/dev/", 0) == 0 ? name.substr(5) : name.substr(name.rfind('/') + 1);
    for (char& c : base)
        if (c == '/')
            c = '_';
    return LockFolder() + "/" + kNamePrefix + base;
}

// The lock by device number that lockdev-based programs take: LCK.<major>.<minor>, three digits each.
std::string LockPathOfNumber(dev_t device)
{
    char name[48];
    std::snprintf(name, sizeof name, "/LCK.%03u.%03u", ::major(device), ::minor(device));
    return LockFolder() + name;
}

bool CharDeviceOf(const std::string& path, dev_t& device)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    device = st.st_rdev;
    return true;
}

// Every name under /dev that leads to the device: its node and the links to it (/dev/modem,
// /dev/serial/by-id/...). Other programs lock the name they were given, so the device is locked
// under each of them. Links into /proc (/dev/fd, /dev/stdin) and the by-number folders are no
// names a program is configured with.
void CollectDevNames(const std::string& folder, dev_t device, int depth, std::vector<std::string>& names)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent* e = ::readdir(dir)) {
        std::string entry = e->d_name;
        if (entry == "." || entry == "..")
            continue;
        std::string path = folder + "/" + entry;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            bool skipped = depth == 0 && (entry == "char" || entry == "block" || entry == "shm" || entry == "mqueue");
            if (!skipped && depth < 3)
                CollectDevNames(path, device, depth + 1, names);
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            char target[256];
            ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
            if (n <= 0 || std::string(target, size_t(n)).rfind("/proc/", 0) == 0)
                continue;
        } else if (!S_ISCHR(st.st_mode)) {
            continue;
        }
        dev_t found;
        if (CharDeviceOf(path, found) && found == device)
            names.push_back(path);
    }
    ::closedir(dir);
}

// What a lock file's name says about the device it guards.
enum class LockNames { OurDevice, OtherDevice, NoDevice };

LockNames WhatLockNames(const std::string& fileName, dev_t device)
{
    unsigned major = 0, minor = 0;
    char tail = 0;
    if (std::sscanf(fileName.c_str(), "LCK.%u.%u%c", &major, &minor, &tail) == 2)
        return major == ::major(device) && minor == ::minor(device) ? LockNames::OurDevice : LockNames::OtherDevice;
    if (fileName.rfind(kNamePrefix, 0) != 0)
        return LockNames::NoDevice;
    // LCK..ttyS0 is /dev/ttyS0; LCK..pts_3 is /dev/pts/3 (slashes written as underscores).
    std::string name = fileName.substr(sizeof kNamePrefix - 1);
    std::string slashed = name;
    std::replace(slashed.begin(), slashed.end(), '_', '/');
    bool other = false;
    for (const std::string& candidate : {name, slashed}) {
        dev_t found;
        if (name.empty() || candidate.find("..") != std::string::npos || !CharDeviceOf("/dev/" + candidate, found))
            continue;
        if (found == device)
            return LockNames::OurDevice;
        other = true;
    }
    return other ? LockNames::OtherDevice : LockNames::NoDevice;
}

// Whether process pid is seen to have the device open. An ordinary user may not read the
// descriptors of another user's (or root's) processes: such a process is not seen to have it. A
// program that really has our device open still keeps us out, by its lock under the device's name
// or number, or by the device's own exclusive open and flock.
bool HasDeviceOpen(long pid, dev_t device)
{
    std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    bool open = false;
    while (dirent* e = ::readdir(dir)) {
        dev_t found;
        if (e->d_name[0] != '.' && CharDeviceOf(folder + "/" + e->d_name, found) && found == device) {
            open = true;
            break;
        }
    }
    ::closedir(dir);
    return open;
}

// A program writes its lock first and opens the device a moment later: a lock this young whose
// holder does not have the device open yet is looked at again once it is this old.
constexpr long kLockSettleMs = 200;

long LockAgeMs(const std::string& path)
{
    struct stat st {};
    struct timespec now {};
    if (::stat(path.c_str(), &st) != 0 || ::clock_gettime(CLOCK_REALTIME, &now) != 0)
        return kLockSettleMs;
    return long(now.tv_sec - st.st_mtim.tv_sec) * 1000 + (now.tv_nsec - st.st_mtim.tv_nsec) / 1000000;
}

enum class LockState { Free, HeldForOurDevice, HeldForAnother };

// A lock file's state for our device. A lock whose name leads to our device is held while its
// process lives; one whose name leads to another existing device is that device's, whoever holds
// it. One whose name leads nowhere (an alias outside /dev, LCK..ttyA of /tmp/a/ttyA and of
// /tmp/b/ttyA alike) holds our device only when its process is seen to have the device open.
LockState StateOf(const std::string& path, dev_t device, bool deviceKnown)
{
    long pid = ReadLockPid(path);
    if (pid == 0) {
        // Being written right now, or empty: give the writer a moment before calling it stale.
        ::usleep(50000);
        pid = ReadLockPid(path);
    }
    if (pid <= 0 || !ProcessAlive(pid))
        return LockState::Free;
    std::string fileName = path.substr(path.rfind('/') + 1);
    if (!deviceKnown)
        return LockState::HeldForOurDevice;
    switch (WhatLockNames(fileName, device)) {
    case LockNames::OurDevice: return LockState::HeldForOurDevice;
    case LockNames::OtherDevice: return LockState::HeldForAnother;
    case LockNames::NoDevice: break;
    }
    if (HasDeviceOpen(pid, device))
        return LockState::HeldForOurDevice;
    long age = LockAgeMs(path);
    if (age >= 0 && age < kLockSettleMs) {
        ::usleep(useconds_t(kLockSettleMs - age) * 1000);
        if (ProcessAlive(pid) && HasDeviceOpen(pid, device))
            return LockState::HeldForOurDevice;
    }
    return ProcessAlive(pid) ? LockState::HeldForAnother : LockState::Free;
}

} // namespace

std::string UucpLock::LockPathFor(const std::string& devicePath)
{
    std::string real = devicePath;
    if (char* resolved = ::realpath(devicePath.c_str(), nullptr)) {
        real = resolved;
        std::free(resolved);
    }
    return LockPathOfName(real);
}

std::vector<std::string> UucpLock::LockPathsFor(const std::string& devicePath)
{
    std::vector<std::string> paths;
    auto add = [&paths](const std::string& p) {
        if (std::find(paths.begin(), paths.end(), p) == paths.end())
            paths.push_back(p);
    };
    dev_t device = 0;
    const bool known = CharDeviceOf(devicePath, device);
    add(LockPathFor(devicePath));
    if (known)
        add(LockPathOfNumber(device));
    // The configured name and each link it leads through (a bounded walk: links may loop). A name
    // outside /dev is locked by its last part, unless that is the name of another device in /dev.
    std::string name = devicePath;
    for (int hop = 0; hop < 16; ++hop) {
        std::string path = LockPathOfName(name);
        if (!known || name.rfind("/dev/", 0) == 0
            || WhatLockNames(path.substr(path.rfind('/') + 1), device) != LockNames::OtherDevice)
            add(path);
        char target[4096];
        ssize_t n = ::readlink(name.c_str(), target, sizeof target - 1);
        if (n <= 0)
            break;
        std::string next(target, size_t(n));
        if (next[0] != '/' && name.find('/') != std::string::npos)
            next = name.substr(0, name.rfind('/') + 1) + next;
        name = next;
    }
    if (known) {
        std::vector<std::string> devNames;
        CollectDevNames("/dev", device, 0, devNames);
        for (const std::string& n : devNames)
            add(LockPathOfName(n));
    }
    return paths;
}

bool UucpLock::Acquire(const std::string& devicePath)
{
    Release();
    dev_t device = 0;
    const bool known = CharDeviceOf(devicePath, device);
    // Another program may hold the device under a name we do not know of (a link made after we
    // looked, an alias in its own folder): every lock in the folder is looked at.
    if (known) {
        if (DIR* dir = ::opendir(LockFolder().c_str())) {
            bool held = false;
            while (dirent* e = ::readdir(dir)) {
                if (std::strncmp(e->d_name, "LCK.", 4) != 0)
                    continue;
                std::string path = LockFolder() + "/" + e->d_name;
                // Our own locks of other devices (a second port of this process) are no concern.
                if (ReadLockPid(path) != long(::getpid()) || WhatLockNames(e->d_name, device) == LockNames::OurDevice)
                    held = StateOf(path, device, true) == LockState::HeldForOurDevice;
                if (held)
                    break;
            }
            ::closedir(dir);
            if (held)
                return false;
        }
    }
    for (const std::string& path : LockPathsFor(devicePath)) {
        if (!AcquireOne(path, device, known)) {
            Release();
            return false;
        }
        if (ReadLockPid(path) == long(::getpid())) {
            paths_.push_back(path);
            endSlots_.push_back(platform::RemoveAtEnd(path));
        }
    }
    return true;
}

bool UucpLock::AcquireOne(const std::string& path, dev_t device, bool deviceKnown)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            char text[16];
            int n = std::snprintf(text, sizeof text, "%10ld\n", long(::getpid()));
            bool ok = ::write(fd, text, size_t(n)) == n;
            ::close(fd);
            if (!ok)
                ::unlink(path.c_str()); // a full disk must not keep the port from opening; flock still guards it
            return true;
        }
        if (errno != EEXIST)
            return true; // no lock folder we may write to
        switch (StateOf(path, device, deviceKnown)) {
        case LockState::HeldForOurDevice: return false;
        case LockState::HeldForAnother: return true; // the same name for another device: not ours to take
        case LockState::Free: ::unlink(path.c_str()); break; // stale: its process is gone
        }
    }
    return false;
}

void UucpLock::Release()
{
    for (const std::string& path : paths_)
        if (ReadLockPid(path) == long(::getpid()))
            ::unlink(path.c_str());
    for (int& slot : endSlots_)
        platform::KeepAtEnd(slot);
    paths_.clear();
    endSlots_.clear();
}

// ---------------------------------------------------------------- driver

TFxWin32Dispatcher::TFxWin32Dispatcher(void* owner) : TFxBaseDispatcher(owner) {}

TFxWin32Dispatcher::~TFxWin32Dispatcher() { Shutdown(); }

void TFxWin32Dispatcher::Shutdown()
{
    if (ClosePending())
        FinishClose();
    else
        ClosePort();
    FinishClose();
}

bool TFxWin32Dispatcher::PrepareDevice()
{
    struct termios2 t;
    if (::ioctl(fd_, TCGETS2, &t) != 0)
        return false;
    // Raw: no CR/LF translation, no echo, no signals; reads return at once with what is there.
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK
                           | IUCLC | IMAXBEL);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::ioctl(fd_, TCSETS2, &t) != 0)
        return false;
    int lines = 0;
    modemIoctls_ = ::ioctl(fd_, TIOCMGET, &lines) == 0;
    struct serial_icounter_struct ic {};
    countIoctls_ = ::ioctl(fd_, TIOCGICOUNT, &ic) == 0;
    if (countIoctls_)
        lastCounts_ = {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
    hungUp_ = false;
    hangUpReported_ = false;
    dtrDropped_ = false;
    lastLines_ = GetModemLines();
    // Start the shadow from what the device holds.
    shadow_ = TComState{};
    GetComState(shadow_);
    return true;
}

int TFxWin32Dispatcher::OpenCom(const std::string& deviceName, uint32_t inSize, uint32_t outSize)
{
    std::string path = DeviceForName(deviceName);
    if (int n = ComNumberFromName(deviceName))
        SetEmulatedCarrier(ComPortCarrier(n));
    // Only a character device can be a serial port: a folder or a plain file given as the port is
    // no port at all (not one that is "already open"), and gets no lock file either.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        SetLastError(ErrorFileNotFound);
        return -1;
    }
    if (!lock_.Acquire(path)) {
        SetLastError(ErrorAccessDenied);
        return -1;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(SystemErrorForOpen(errno));
        lock_.Release();
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        lock_.Release();
        SetLastError(ErrorAccessDenied);
        return -1;
    }
    ::ioctl(fd, TIOCEXCL); // keeps other programs that take no lock from opening it too
    fd_ = fd;
    if (!PrepareDevice()) {
        ::close(fd);
        fd_ = NoHandle;
        lock_.Release();
        SetLastError(ErrorFileNotFound); // not a serial device
        return -1;
    }
    return fd;
}

int TFxWin32Dispatcher::CloseCom()
{
    if (fd_ == NoHandle)
        return 0;
    // The next program gets the line at its speed, not at B0.
    SetDtrBySpeed(true);
    // Drop what the device still holds: closing a tty otherwise waits for its output to drain.
    ::ioctl(fd_, TCFLSH, TCIOFLUSH);
    ::ioctl(fd_, TIOCNXCL);
    int r = ::close(fd_);
    fd_ = NoHandle;
    lock_.Release();
    return r == 0 ? 0 : -1;
}

int TFxWin32Dispatcher::EscapeComFunction(int function)
{
    if (fd_ == NoHandle)
        return 0;
    int bits = 0;
    switch (function) {
    case EscSetDtr:
        if (!modemIoctls_) {
            SetDtrBySpeed(true);
            break;
        }
        bits = TIOCM_DTR;
        ::ioctl(fd_, TIOCMBIS, &bits);
        break;
    case EscClrDtr:
        if (!modemIoctls_) {
            SetDtrBySpeed(false);
            break;
        }
        bits = TIOCM_DTR;
        ::ioctl(fd_, TIOCMBIC, &bits);
        break;
    case EscSetRts:
        bits = TIOCM_RTS;
        ::ioctl(fd_, TIOCMBIS, &bits);
        break;
    case EscClrRts:
        bits = TIOCM_RTS;
        ::ioctl(fd_, TIOCMBIC, &bits);
        break;
    case EscSetBreak: ::ioctl(fd_, TIOCSBRK); break;
    case EscClrBreak: ::ioctl(fd_, TIOCCBRK); break;
    default: break;
    }
    return 0;
}

void TFxWin32Dispatcher::SetDtrBySpeed(bool on)
{
    struct termios2 t;
    if (::ioctl(fd_, TCGETS2, &t) != 0)
        return;
    const tcflag_t speedBits = CBAUD | CBAUD << IBSHIFT;
    if (!on && !dtrDropped_) {
        speedBeforeDrop_ = {t.c_cflag & speedBits, t.c_ispeed, t.c_ospeed};
        t.c_cflag &= ~speedBits; // B0
        t.c_ispeed = t.c_ospeed = 0;
        dtrDropped_ = ::ioctl(fd_, TCSETS2, &t) == 0;
    } else if (on && dtrDropped_) {
        t.c_cflag = (t.c_cflag & ~speedBits) | speedBeforeDrop_.bits;
        t.c_ispeed = speedBeforeDrop_.in;
        t.c_ospeed = speedBeforeDrop_.out;
        ::ioctl(fd_, TCSETS2, &t);
        dtrDropped_ = false;
    }
}

int TFxWin32Dispatcher::FlushCom(int which)
{
    if (fd_ == NoHandle)
        return 0;
    if (which == 1)
        return ::ioctl(fd_, TCFLSH, TCIFLUSH) == 0 ? 0 : -platform::ErrnoToIoError(errno);
    if (outThreadAlive_ && outputFlush_) {
        // The output thread acknowledges from its idle wait or by abandoning a pending write. It may
        // have ended or hang in a stalled device: the wait is bounded.
        outputFlush_->Set();
        threadSignal_->Wait(1000);
    }
    {
        std::lock_guard<std::recursive_mutex> g(outputLock_);
        outFull_ = false;
        outRead_ = outWrite_ = 0;
        ++flushGeneration_;
    }
    return ::ioctl(fd_, TCFLSH, TCOFLUSH) == 0 ? 0 : -platform::ErrnoToIoError(errno);
}

uint32_t TFxWin32Dispatcher::GetComError(TComStatus& status)
{
    uint32_t bits = pendingErrors_.exchange(0);
    int inQueue = 0;
    if (fd_ != NoHandle && ::ioctl(fd_, FIONREAD, &inQueue) != 0)
        inQueue = 0;
    status.inQue = uint32_t(inQueue > 0 ? inQueue : 0);
    std::lock_guard<std::recursive_mutex> g(outputLock_);
    status.outQue = outBuf_.empty() ? 0 : OutputWaiting();
    return bits;
}

int TFxWin32Dispatcher::GetComState(TComState& state)
{
    state = shadow_;
    struct termios2 t;
    if (fd_ == NoHandle || ::ioctl(fd_, TCGETS2, &t) != 0)
        return -1;
    state.baud = dtrDropped_ ? speedBeforeDrop_.out : t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: state.byteSize = 5; break;
    case CS6: state.byteSize = 6; break;
    case CS7: state.byteSize = 7; break;
    default: state.byteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        state.parity = ParityNone;
    else if (t.c_cflag & CMSPAR)
        state.parity = (t.c_cflag & PARODD) ? ParityMark : ParitySpace;
    else
        state.parity = (t.c_cflag & PARODD) ? ParityOdd : ParityEven;
    if (!(t.c_cflag & CSTOPB))
        state.stopBits = StopBitsOne;
    else
        state.stopBits = state.byteSize == 5 ? StopBitsOneAndHalf : StopBitsTwo;
    if (framingShadowed_) {
        state.byteSize = shadow_.byteSize;
        state.parity = shadow_.parity;
        state.stopBits = shadow_.stopBits;
    }
    state.outX = t.c_iflag & IXON;
    state.inX = t.c_iflag & IXOFF;
    state.xonChar = t.c_cc[VSTART];
    state.xoffChar = t.c_cc[VSTOP];
    // Linux has one switch for RTS handshake and CTS output flow.
    bool rtscts = t.c_cflag & CRTSCTS;
    bool shadowRtscts = shadow_.outxCtsFlow || shadow_.rtsControl == RtsHandshake;
    if (rtscts && !shadowRtscts) {
        state.outxCtsFlow = true;
        state.rtsControl = RtsHandshake;
    } else if (!rtscts && shadowRtscts) {
        state.outxCtsFlow = false;
        if (state.rtsControl == RtsHandshake)
            state.rtsControl = RtsEnable;
    }
    return 0;
}

int TFxWin32Dispatcher::SetComState(const TComState& state)
{
    struct termios2 t;
    if (fd_ == NoHandle || ::ioctl(fd_, TCGETS2, &t) != 0)
        return -platform::ErrnoToIoError(fd_ == NoHandle ? EBADF : errno);
    if (state.byteSize < 5 || state.byteSize > 8 || state.parity > ParitySpace || state.stopBits > StopBitsTwo
        || state.baud == 0)
        return -platform::ErrnoToIoError(EINVAL);
    t.c_cflag &= ~tcflag_t(CBAUD | CBAUD << IBSHIFT | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | CLOCAL | CREAD | ByteSizeFlag(state.byteSize);
    t.c_ispeed = t.c_ospeed = state.baud;
    if (state.stopBits != StopBitsOne)
        t.c_cflag |= CSTOPB;
    switch (state.parity) {
    case ParityOdd: t.c_cflag |= PARENB | PARODD; break;
    case ParityEven: t.c_cflag |= PARENB; break;
    case ParityMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case ParitySpace: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (state.outxCtsFlow || state.rtsControl == RtsHandshake)
        t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
    if (state.outX)
        t.c_iflag |= IXON;
    if (state.inX)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = state.xonChar;
    t.c_cc[VSTOP] = state.xoffChar;
    if (::ioctl(fd_, TCSETS2, &t) != 0)
        return -platform::ErrnoToIoError(errno);
    dtrDropped_ = false; // a line speed raises DTR again
    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told: it reads back as set.
    struct termios2 back;
    const tcflag_t framing = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
    if (::ioctl(fd_, TCGETS2, &back) == 0 && (back.c_cflag & framing) != (t.c_cflag & framing))
        framingShadowed_ = true;
    shadow_ = state;
    if (state.rtsControl == RtsToggle) {
        struct serial_rs485 rs {};
        rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        ::ioctl(fd_, TIOCSRS485, &rs); // devices without RS-485 support keep plain RTS
    }
    return 0;
}

int TFxWin32Dispatcher::ReadCom(uint8_t* dest, uint32_t count)
{
    if (fd_ == NoHandle)
        return -1;
    return TransferResult(::read(fd_, dest, count));
}

int TFxWin32Dispatcher::TransferResult(long n)
{
    if (n >= 0)
        return int(n);
    if (errno == EAGAIN || errno == EINTR)
        return 0;
    if (errno == EIO)
        hungUp_ = true; // the far end of a pseudo-terminal closed, or the device went away
    return -1;
}

bool TFxWin32Dispatcher::SetupCom(uint32_t, uint32_t)
{
    return true; // the kernel's queues have fixed sizes; the output buffer is ours
}

uint8_t TFxWin32Dispatcher::GetModemLines()
{
    int lines = 0;
    if (modemIoctls_ && fd_ != NoHandle && ::ioctl(fd_, TIOCMGET, &lines) == 0) {
        return uint8_t((lines & TIOCM_CTS ? MsCts : 0) | (lines & TIOCM_DSR ? MsDsr : 0)
                       | (lines & TIOCM_RI ? MsRing : 0) | (lines & TIOCM_CD ? MsDcd : 0));
    }
    // No modem lines: a modem hangs up when DTR drops, and its carrier goes with the call.
    return uint8_t(MsCts | MsDsr | (emulatedCarrier_ && !hungUp_ && !dtrDropped_ ? MsDcd : 0));
}

void TFxWin32Dispatcher::SampleLines(uint32_t& mask)
{
    uint8_t lines = GetModemLines();
    uint8_t changed = lines ^ lastLines_;
    if (changed & MsCts)
        mask |= EvCts;
    if (changed & MsDsr)
        mask |= EvDsr;
    if (changed & MsDcd)
        mask |= EvRlsd;
    if (changed & MsRing)
        mask |= (lines & MsRing) ? EvRing : EvRingTrailingEdge;
    lastLines_ = lines;
    if (!countIoctls_)
        return;
    struct serial_icounter_struct ic {};
    if (::ioctl(fd_, TIOCGICOUNT, &ic) != 0)
        return;
    uint32_t errors = 0;
    if (ic.buf_overrun != lastCounts_.bufOverrun)
        errors |= CeRxOver;
    if (ic.overrun != lastCounts_.overrun)
        errors |= CeOverrun;
    if (ic.parity != lastCounts_.parity)
        errors |= CeRxParity;
    if (ic.frame != lastCounts_.frame)
        errors |= CeFrame;
    if (ic.brk != lastCounts_.brk)
        errors |= CeBreak;
    lastCounts_ = {ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
    if (errors) {
        pendingErrors_.fetch_or(errors);
        mask |= (errors & CeBreak) ? EvBreak : 0;
        mask |= (errors & ~CeBreak) ? EvErr : 0;
    }
}

bool TFxWin32Dispatcher::WaitComEvent(uint32_t& mask)
{
    mask = 0;
    bool sampling = modemIoctls_ || countIoctls_;
    // Received bytes wake the dispatch thread itself (WaitDispatch); this thread watches the lines
    // and the hang-up. A hang-up is reported whatever the events asked for, so once reported the
    // device leaves the set: it would report for ever.
    struct pollfd fds[2] = {{hangUpReported_ ? -1 : fd_, 0, 0}, {wakeCom_->Fd(), POLLIN, 0}};
    int n = ::poll(fds, 2, sampling ? 20 : -1);
    if (n < 0 && errno != EINTR)
        ::usleep(10000);
    if (fds[1].revents & POLLIN)
        return false;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
        hungUp_ = true;
    if (hungUp_ && !hangUpReported_) {
        hangUpReported_ = true;
        mask |= EvRlsd;
    }
    if (sampling || hungUp_)
        SampleLines(mask);
    return mask != 0;
}

int TFxWin32Dispatcher::WaitDispatch(int timeoutMs)
{
    // Bytes are watched only while the ring can take them (a full ring is refilled by the periodic
    // poll), and never on a hung-up device.
    bool watchInput = !hungUp_ && !ringFull_;
    struct pollfd fds[3] = {
        {commEvent_->Fd(), POLLIN, 0}, {watchInput ? fd_ : -1, POLLIN, 0}, {outputRoom_->Fd(), POLLIN, 0}};
    if (::poll(fds, 3, timeoutMs) <= 0)
        return DispatchTimeout;
    if ((fds[0].revents & POLLIN) && commEvent_->Consume())
        return DispatchCommEvent;
    if ((fds[2].revents & POLLIN) && outputRoom_->Consume() && !(fds[1].revents & POLLIN))
        return DispatchOutputRoom;
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        hungUp_ = true; // the comm-event thread reports it
        return DispatchTimeout;
    }
    return (fds[1].revents & POLLIN) ? DispatchData : DispatchTimeout;
}

int TFxWin32Dispatcher::WriteDevice(const uint8_t* data, uint32_t count)
{
    if (fd_ == NoHandle || hungUp_)
        return -1;
    return TransferResult(::write(fd_, data, count));
}

bool TFxWin32Dispatcher::WaitWritable()
{
    struct pollfd fds[2] = {{fd_, POLLOUT, 0}, {outputFlush_->Fd(), POLLIN, 0}};
    for (;;) {
        int n = ::poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return true; // the write that follows reports the failure
        }
        if (fds[1].revents & POLLIN) {
            outputFlush_->Consume();
            return false;
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            hungUp_ = true;
        return true;
    }
}

// ---------------------------------------------------------------- TAPI

TFxTAPI32Dispatcher::TFxTAPI32Dispatcher(void* owner, int commHandle) : TFxWin32Dispatcher(owner) { fd_ = commHandle; }

TFxTAPI32Dispatcher::~TFxTAPI32Dispatcher() { Shutdown(); }

int TFxTAPI32Dispatcher::OpenCom(const std::string&, uint32_t, uint32_t)
{
    if (fd_ == NoHandle) {
        SetLastError(2007);
        return -2007;
    }
    if (!PrepareDevice()) {
        SetLastError(ErrorFileNotFound);
        return -1;
    }
    return fd_;
}

} // namespace zn::comms
