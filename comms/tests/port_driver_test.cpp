// The termios driver over pseudo-terminals: opening, exclusive use against other programs (efax
// among them), line settings and the settings Linux keeps only in the shadow copy.
#include "comms/port/port_driver.h"
#include "comms/tests/port_fixture.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

using namespace zn::comms;
using zn::comms::test::Collector;
using zn::comms::test::OpenDispatcher;
using zn::comms::test::PtyPair;
using zn::comms::test::ReadFile;
using zn::comms::test::WaitUntil;

TEST(PortDriver, AMissingDeviceGivesFileNotFound)
{
    TFxWin32Dispatcher d(nullptr);
    EXPECT_EQ(d.OpenPort("/dev/zn-no-such-tty", 19200, 0, 8, 1, 4096, 4096, 0), -ErrorFileNotFound);
    EXPECT_FALSE(d.ThreadsRunning());
}

TEST(PortDriver, AFolderOrPlainFileGivenAsThePortIsNoPort)
{
    char folder[] = "/tmp/zn-port-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/ttyS0";
    ::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0644));
    for (const std::string& path : {std::string(folder), file}) {
        TFxWin32Dispatcher d(nullptr);
        EXPECT_EQ(d.OpenPort(path, 19200, 0, 8, 1, 4096, 4096, 0), -ErrorFileNotFound) << path;
        EXPECT_FALSE(d.ThreadsRunning());
        EXPECT_NE(::access(UucpLock::LockPathFor(path).c_str(), F_OK), 0) << "no lock file for " << path;
    }
    ::unlink(file.c_str());
    ::rmdir(folder);
}

TEST(PortDriver, ATapiDispatcherWithoutHandleFailsWithNotOpen)
{
    TFxTAPI32Dispatcher d(nullptr, NoHandle);
    EXPECT_EQ(d.OpenPort("", 19200, 0, 8, 1, 4096, 4096, 0), -2007);
}

TEST(PortDriver, ATapiDispatcherRunsOverAHandedOverDescriptor)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    TFxTAPI32Dispatcher d(nullptr, fd);
    ASSERT_EQ(d.OpenPort("", 19200, 0, 8, 1, 4096, 4096, OptDtrOn | OptRtsOn), 0);
    Collector c;
    c.Attach(d);
    d.SetAvailLevel(1);
    ASSERT_EQ(d.WriteString("ATZ\r"), 0);
    EXPECT_EQ(pty.Receive(4, 2000), "ATZ\r");
    pty.Send("OK\r\n");
    EXPECT_TRUE(WaitUntil([&] { return c.Size() == 4; }));
    EXPECT_EQ(c.bytes, "OK\r\n");
}

TEST(PortDriver, DescriptorZeroIsAValidHandedOverHandle)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const int savedStdin = ::dup(0);
    ASSERT_GE(savedStdin, 0);
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::dup2(fd, 0), 0);
    ::close(fd);
    {
        TFxTAPI32Dispatcher d(nullptr, 0);
        EXPECT_EQ(d.OpenPort("", 19200, 0, 8, 1, 4096, 4096, 0), 0);
        EXPECT_EQ(d.WriteString("ATA\r"), 0);
        EXPECT_EQ(pty.Receive(4, 2000), "ATA\r");
    }
    ::dup2(savedStdin, 0);
    ::close(savedStdin);
}

TEST(PortDriver, ASecondOpenIsRefusedAndTheLockFileLivesWhileOpen)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    std::string lockPath = UucpLock::LockPathFor(o.pty.SlavePath());
    if (::access("/var/lock", W_OK) == 0) {
        std::string text = ReadFile(lockPath);
        EXPECT_EQ(std::atol(text.c_str()), long(::getpid())) << lockPath;
        EXPECT_EQ(text.size(), 11u);
    }
    TFxWin32Dispatcher second(nullptr);
    EXPECT_EQ(second.OpenPort(o.pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied);
    o.d->ClosePort();
    EXPECT_NE(::access(lockPath.c_str(), F_OK), 0);
    // Once closed, the port can be taken again.
    TFxWin32Dispatcher third(nullptr);
    EXPECT_EQ(third.OpenPort(o.pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), 0);
}

TEST(PortDriver, AStaleLockOfADeadProcessIsRemoved)
{
    if (::access("/var/lock", W_OK) != 0)
        GTEST_SKIP() << "no writable lock folder";
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    std::string lockPath = UucpLock::LockPathFor(pty.SlavePath());
    FILE* f = std::fopen(lockPath.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "%10d\n", int(child));
    std::fclose(f);
    TFxWin32Dispatcher d(nullptr);
    EXPECT_EQ(d.OpenPort(pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), 0);
    EXPECT_EQ(std::atol(ReadFile(lockPath).c_str()), long(::getpid()));
}

TEST(PortDriver, ALockHeldByALiveProcessMakesThePortBusy)
{
    if (::access("/var/lock", W_OK) != 0)
        GTEST_SKIP() << "no writable lock folder";
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    std::string lockPath = UucpLock::LockPathFor(pty.SlavePath());
    FILE* f = std::fopen(lockPath.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "%10d\n", int(::getppid()));
    std::fclose(f);
    TFxWin32Dispatcher d(nullptr);
    EXPECT_EQ(d.OpenPort(pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied);
    EXPECT_EQ(std::atol(ReadFile(lockPath).c_str()), long(::getppid())); // not ours to remove
    ::unlink(lockPath.c_str());
}

struct LineCase {
    uint32_t baud;
    int parity, dataBits, stopBits;
    int wantStop;
};

class LineParams : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineParams, AreAppliedAndReadBack)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    const LineCase& c = GetParam();
    ASSERT_EQ(o.d->SetLineParams(c.baud, c.parity, c.dataBits, c.stopBits), 0);
    uint32_t baud;
    int parity, data, stop;
    o.d->GetLineParams(baud, parity, data, stop);
    EXPECT_EQ(baud, c.baud);
    EXPECT_EQ(parity, c.parity);
    EXPECT_EQ(data, c.dataBits);
    EXPECT_EQ(stop, c.wantStop);
}

INSTANTIATE_TEST_SUITE_P(Rates, LineParams,
                         ::testing::Values(LineCase{14400, ParityNone, 8, 1, 1}, LineCase{56000, ParityEven, 7, 1, 1},
                                           LineCase{128000, ParityMark, 8, 2, 2},
                                           LineCase{115200, ParitySpace, 8, 1, 1},
                                           LineCase{2400, ParityOdd, 5, 1, 2}, // five data bits: 1.5 stop bits
                                           LineCase{38400, ParityNone, 8, 0, 1}),
                         [](const ::testing::TestParamInfo<LineCase>& info) {
                             const LineCase& c = info.param;
                             return "Baud" + std::to_string(c.baud) + "_" + std::to_string(c.dataBits) + "NOEMS"[c.parity]
                                    + std::to_string(c.stopBits);
                         });

TEST(PortDriver, FlowSettingsLinuxLacksSurviveReadModifyWrite)
{
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    ASSERT_EQ(o.d->SetHardwareFlow(7372, 819, HwUseDtr | HwUseRts | HwRequireDsr | HwRequireCts), 0);
    ASSERT_EQ(o.d->SetFlowChars(0x11, 0x13), 0);
    ASSERT_EQ(o.d->SetLineBaud(9600), 0);
    int hw, sw;
    uint8_t xon, xoff;
    o.d->GetFlowOptions(hw, sw, xon, xoff);
    EXPECT_EQ(hw, HwUseDtr | HwUseRts | HwRequireDsr | HwRequireCts);
    EXPECT_EQ(sw, 0);
    EXPECT_EQ(o.d->SetDtrLine(false), 1); // DTR is under flow control
    ASSERT_EQ(o.d->SetSoftwareFlow(6144, 2048, SwReceive | SwTransmit), 0);
    o.d->GetFlowOptions(hw, sw, xon, xoff);
    EXPECT_EQ(sw, SwReceive | SwTransmit);
    EXPECT_EQ(xon, 17);
    EXPECT_EQ(xoff, 19);
    EXPECT_EQ(o.d->SetHardwareFlow(100, 200, HwUseRts), ecBadArgument);
    EXPECT_EQ(o.d->SetHardwareFlow(9000, 100, HwUseRts), ecBadArgument);
}

namespace {

int OpenDescriptors()
{
    int n = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++n;
        ::closedir(dir);
    }
    return n;
}

} // namespace

TEST(PortDriver, AFailedOpenLeavesNoDescriptorBehind)
{
    OpenDispatcher holder;
    ASSERT_EQ(holder.result, 0);
    int before = OpenDescriptors();
    TFxWin32Dispatcher busy(nullptr);
    EXPECT_EQ(busy.OpenPort(holder.pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied);
    TFxWin32Dispatcher missing(nullptr);
    EXPECT_EQ(missing.OpenPort("/dev/zn-missing-tty", 19200, 0, 8, 1, 4096, 4096, 0), -ErrorFileNotFound);
    EXPECT_EQ(OpenDescriptors(), before); // while the two failed dispatchers still exist
}

// ---------------------------------------------------------------- efax as the other program

namespace {

// efax on the pty with a UUCP lock file, its messages read from a pipe.
class Efax {
public:
    Efax(const std::string& device, const std::string& lockPath)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        std::string received = ::testing::TempDir() + "zn_efax_rx_" + std::to_string(::getpid());
        const char* argv[] = {"efax",  "-d", device.c_str(),   "-x",   lockPath.c_str(), "-v",
                              "ewinx", "-r", received.c_str(), nullptr};
        if (posix_spawnp(&pid_, "efax", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
        ::fcntl(out_, F_SETFL, O_NONBLOCK);
    }
    ~Efax()
    {
        Stop();
        if (out_ >= 0)
            ::close(out_);
    }
    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    void Stop()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    // What efax said so far.
    const std::string& Said()
    {
        char buf[1024];
        ssize_t n;
        while ((n = ::read(out_, buf, sizeof buf)) > 0)
            said_.append(buf, size_t(n));
        return said_;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string said_;
};

bool HaveEfax() { return ::access("/usr/bin/efax", X_OK) == 0 && ::access("/var/lock", W_OK) == 0; }

} // namespace

TEST(PortDriverPeers, EfaxWaitsWhileZnHoldsThePort)
{
    if (!HaveEfax())
        GTEST_SKIP() << "efax or a writable /var/lock missing";
    OpenDispatcher o;
    ASSERT_EQ(o.result, 0);
    Efax efax(o.pty.SlavePath(), UucpLock::LockPathFor(o.pty.SlavePath()));
    ASSERT_TRUE(efax.Started());
    EXPECT_TRUE(WaitUntil([&] { return efax.Said().find("locked or busy") != std::string::npos; }, 5000))
        << efax.Said();
}

TEST(PortDriverPeers, ZnFindsThePortBusyWhileEfaxHoldsItAndTakesItAfterEfaxDied)
{
    if (!HaveEfax())
        GTEST_SKIP() << "efax or a writable /var/lock missing";
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    std::string lockPath = UucpLock::LockPathFor(pty.SlavePath());
    Efax efax(pty.SlavePath(), lockPath);
    ASSERT_TRUE(efax.Started());
    ASSERT_TRUE(WaitUntil([&] { return std::atol(ReadFile(lockPath).c_str()) == long(efax.Pid()); }));
    TFxWin32Dispatcher busy(nullptr);
    EXPECT_EQ(busy.OpenPort(pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied);
    efax.Stop(); // killed: its lock file stays behind, stale
    TFxWin32Dispatcher free(nullptr);
    EXPECT_EQ(free.OpenPort(pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), 0);
}

// The test bed's way to name a modem: an alias in a folder of its own that links to the device.
class AliasedPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access("/var/lock", W_OK) != 0)
            GTEST_SKIP() << "no writable lock folder";
        ASSERT_TRUE(pty_.Ok());
        char pattern[] = "/tmp/zn_alias_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
        alias_ = folder_ + "/ttyZnAlias" + std::to_string(::getpid());
        ASSERT_EQ(::symlink(pty_.SlavePath().c_str(), alias_.c_str()), 0);
    }
    void TearDown() override
    {
        if (!alias_.empty())
            ::unlink(alias_.c_str());
        if (!folder_.empty())
            ::rmdir(folder_.c_str());
    }
    static bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
    std::string AliasLock() const { return "/var/lock/LCK..ttyZnAlias" + std::to_string(::getpid()); }

    PtyPair pty_;
    std::string folder_, alias_;
};

TEST_F(AliasedPort, IsLockedUnderTheConfiguredNameAndTheDeviceAndReleasedFromBoth)
{
    std::string deviceLock = UucpLock::LockPathFor(pty_.SlavePath());
    std::vector<std::string> names = UucpLock::LockPathsFor(alias_);
    EXPECT_NE(std::find(names.begin(), names.end(), AliasLock()), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), deviceLock), names.end());
    {
        TFxWin32Dispatcher d(nullptr);
        ASSERT_EQ(d.OpenPort(alias_, 19200, 0, 8, 1, 4096, 4096, 0), 0);
        EXPECT_EQ(std::atol(ReadFile(AliasLock()).c_str()), long(::getpid()));
        EXPECT_EQ(std::atol(ReadFile(deviceLock).c_str()), long(::getpid()));
        // By the device's own name it is busy too.
        TFxWin32Dispatcher second(nullptr);
        EXPECT_EQ(second.OpenPort(pty_.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied);
        if (HaveEfax()) {
            // A program that opens the modem by the configured name and locks that name.
            Efax efax(alias_, AliasLock());
            ASSERT_TRUE(efax.Started());
            EXPECT_TRUE(WaitUntil([&] { return efax.Said().find("locked or busy") != std::string::npos; }, 5000))
                << efax.Said();
        }
        d.ClosePort();
        EXPECT_FALSE(Exists(AliasLock()));
        EXPECT_FALSE(Exists(deviceLock));
    }
}

// A process that opens a device and keeps it open until killed; Holding() once it has it open.
class DeviceHolder {
public:
    explicit DeviceHolder(const std::string& path)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            char ok = fd >= 0 ? '1' : '0';
            [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char ok = 0;
        holding_ = pid_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == '1';
        ::close(ready[0]);
    }
    ~DeviceHolder() { Stop(); }
    void Stop()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    bool Holding() const { return holding_; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool holding_ = false;
};

void WriteLock(const std::string& path, pid_t pid)
{
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    std::fprintf(f, "%10d\n", int(pid));
    std::fclose(f);
}

TEST_F(AliasedPort, ALiveLockUnderTheConfiguredNameKeepsThePortAndLeavesNoLockOfOurs)
{
    // A program that locked the configured name and has the device open.
    DeviceHolder holderProcess(alias_);
    ASSERT_TRUE(holderProcess.Holding());
    pid_t holder = holderProcess.Pid();
    FILE* f = std::fopen(AliasLock().c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "%10d\n", int(holder));
    std::fclose(f);
    TFxWin32Dispatcher d(nullptr);
    EXPECT_EQ(d.OpenPort(alias_, 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied);
    EXPECT_FALSE(Exists(UucpLock::LockPathFor(pty_.SlavePath())));
    EXPECT_EQ(std::atol(ReadFile(AliasLock()).c_str()), long(holder));
    holderProcess.Stop();
    // Its holder gone, the lock is stale and the port opens.
    TFxWin32Dispatcher again(nullptr);
    EXPECT_EQ(again.OpenPort(alias_, 19200, 0, 8, 1, 4096, 4096, 0), 0);
    again.ClosePort();
    EXPECT_FALSE(Exists(AliasLock()));
}

// Two modems whose links in folders of their own end in the same name: each lock of that name is
// another device's, and neither port keeps the other from opening.
TEST(PortDriverNames, SameNamedLinksToDifferentDevicesBothOpen)
{
    if (::access("/var/lock", W_OK) != 0)
        GTEST_SKIP() << "no writable lock folder";
    PtyPair ptyA, ptyB;
    ASSERT_TRUE(ptyA.Ok() && ptyB.Ok());
    char patternA[] = "/tmp/zn_twinA_XXXXXX", patternB[] = "/tmp/zn_twinB_XXXXXX";
    ASSERT_NE(::mkdtemp(patternA), nullptr);
    ASSERT_NE(::mkdtemp(patternB), nullptr);
    const std::string name = "ttyZnTwin" + std::to_string(::getpid());
    const std::string linkA = std::string(patternA) + "/" + name, linkB = std::string(patternB) + "/" + name;
    ASSERT_EQ(::symlink(ptyA.SlavePath().c_str(), linkA.c_str()), 0);
    ASSERT_EQ(::symlink(ptyB.SlavePath().c_str(), linkB.c_str()), 0);
    const std::string sharedLock = "/var/lock/LCK.." + name;
    {
        TFxWin32Dispatcher a(nullptr), b(nullptr);
        EXPECT_EQ(a.OpenPort(linkA, 19200, 0, 8, 1, 4096, 4096, 0), 0);
        EXPECT_EQ(b.OpenPort(linkB, 19200, 0, 8, 1, 4096, 4096, 0), 0);
        // The same device under its own name stays busy.
        TFxWin32Dispatcher again(nullptr);
        EXPECT_EQ(again.OpenPort(ptyB.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied);
        a.ClosePort();
        b.ClosePort();
    }
    EXPECT_NE(::access(sharedLock.c_str(), F_OK), 0);
    if (HaveEfax()) {
        // efax on the first modem under that name, zn on the second.
        Efax efax(linkA, sharedLock);
        ASSERT_TRUE(efax.Started());
        ASSERT_TRUE(WaitUntil([&] { return efax.Said().find("opened") != std::string::npos; }, 5000)) << efax.Said();
        TFxWin32Dispatcher b(nullptr);
        EXPECT_EQ(b.OpenPort(linkB, 19200, 0, 8, 1, 4096, 4096, 0), 0);
        TFxWin32Dispatcher a(nullptr);
        EXPECT_EQ(a.OpenPort(linkA, 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied);
        b.ClosePort();
        EXPECT_EQ(std::atol(ReadFile(sharedLock).c_str()), long(efax.Pid())) << "efax's lock is left alone";
        efax.Stop();
        ::unlink(sharedLock.c_str());
    }
    ::unlink(linkA.c_str());
    ::unlink(linkB.c_str());
    ::rmdir(patternA);
    ::rmdir(patternB);
}

// The lock by device number that lockdev-based programs take: written while the port is open, and
// a live one of another process keeps the port busy under any name.
TEST(PortDriverNames, TheDeviceNumberLockIsWrittenAndHonoured)
{
    if (::access("/var/lock", W_OK) != 0)
        GTEST_SKIP() << "no writable lock folder";
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    struct stat st {};
    ASSERT_EQ(::stat(pty.SlavePath().c_str(), &st), 0);
    char name[64];
    std::snprintf(name, sizeof name, "/var/lock/LCK.%03u.%03u", ::major(st.st_rdev), ::minor(st.st_rdev));
    const std::string numberLock = name;
    {
        TFxWin32Dispatcher d(nullptr);
        ASSERT_EQ(d.OpenPort(pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), 0);
        EXPECT_EQ(std::atol(ReadFile(numberLock).c_str()), long(::getpid()));
        d.ClosePort();
        EXPECT_NE(::access(numberLock.c_str(), F_OK), 0);
    }
    DeviceHolder holder(pty.SlavePath());
    ASSERT_TRUE(holder.Holding());
    WriteLock(numberLock, holder.Pid());
    TFxWin32Dispatcher busy(nullptr);
    EXPECT_EQ(busy.OpenPort(pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied);
    EXPECT_EQ(std::atol(ReadFile(numberLock).c_str()), long(holder.Pid()));
    holder.Stop();
    TFxWin32Dispatcher free(nullptr);
    EXPECT_EQ(free.OpenPort(pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), 0);
}

// A modem with a second name in /dev (a link such as /dev/modem): a program that opened it under
// one name keeps out one that opens it under the other, both ways.
class DevLinkedPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access("/var/lock", W_OK) != 0 || ::access("/dev", W_OK) != 0)
            GTEST_SKIP() << "needs a writable lock folder and /dev (root)";
        ASSERT_TRUE(pty_.Ok());
        name_ = "ttyZnLink" + std::to_string(::getpid());
        link_ = "/dev/" + name_;
        ::unlink(link_.c_str());
        ASSERT_EQ(::symlink(pty_.SlavePath().c_str(), link_.c_str()), 0);
    }
    void TearDown() override
    {
        if (!link_.empty())
            ::unlink(link_.c_str());
    }
    std::string LinkLock() const { return "/var/lock/LCK.." + name_; }

    PtyPair pty_;
    std::string name_, link_;
};

TEST_F(DevLinkedPort, ZnUnderTheDeviceNameLocksTheLinkNameToo)
{
    std::vector<std::string> names = UucpLock::LockPathsFor(pty_.SlavePath());
    EXPECT_NE(std::find(names.begin(), names.end(), LinkLock()), names.end());
    TFxWin32Dispatcher d(nullptr);
    ASSERT_EQ(d.OpenPort(pty_.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), 0);
    EXPECT_EQ(std::atol(ReadFile(LinkLock()).c_str()), long(::getpid()));
    if (HaveEfax()) {
        Efax efax(link_, LinkLock());
        ASSERT_TRUE(efax.Started());
        EXPECT_TRUE(WaitUntil([&] { return efax.Said().find("locked or busy") != std::string::npos; }, 5000))
            << efax.Said();
        EXPECT_EQ(efax.Said().find("opened"), std::string::npos) << efax.Said();
    }
    d.ClosePort();
    EXPECT_NE(::access(LinkLock().c_str(), F_OK), 0);
}

TEST_F(DevLinkedPort, AProgramUnderTheLinkNameKeepsZnOutUnderTheDeviceName)
{
    if (!HaveEfax())
        GTEST_SKIP() << "efax missing";
    Efax efax(link_, LinkLock());
    ASSERT_TRUE(efax.Started());
    ASSERT_TRUE(WaitUntil([&] { return efax.Said().find("opened") != std::string::npos; }, 5000)) << efax.Said();
    TFxWin32Dispatcher d(nullptr);
    EXPECT_EQ(d.OpenPort(pty_.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), -ErrorAccessDenied);
    EXPECT_EQ(std::atol(ReadFile(LinkLock()).c_str()), long(efax.Pid()));
    efax.Stop(); // killed: its lock stays behind, stale
    TFxWin32Dispatcher after(nullptr);
    EXPECT_EQ(after.OpenPort(pty_.SlavePath(), 19200, 0, 8, 1, 4096, 4096, 0), 0);
    after.ClosePort();
    EXPECT_NE(::access(LinkLock().c_str(), F_OK), 0);
}
