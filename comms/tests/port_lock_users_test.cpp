// Modems of several users on one machine: an ordinary user's port against the live locks of other
// users' and root's programs. The port is opened by a program running as an ordinary user (the
// port layer as zn opens its modem); the holders are plain programs (sleep) that keep a device open
// and name their pid in UUCP lock files, as mgetty or efax do on another line.
#include "comms/tests/pty_pair.h"
#include "faxline_harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using zn::comms::test::PtyPair;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Account {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
};

// An ordinary user of the machine, made when missing (only root can).
std::optional<Account> OrdinaryUser(const std::string& name)
{
    if (!::getpwnam(name.c_str()) && ::geteuid() == 0) {
        // Another test may make it at the same moment: then this one fails and the user is there.
        std::system(("useradd --no-create-home --user-group --shell /usr/sbin/nologin " + name + " 2>/dev/null").c_str());
    }
    const passwd* found = ::getpwnam(name.c_str());
    if (!found || found->pw_uid == 0)
        return std::nullopt;
    return Account{found->pw_name, found->pw_uid, found->pw_gid};
}

const Account kRoot{"root", 0, 0};

// The command line that runs argv as the account (the test runs as root).
std::vector<std::string> As(const Account& who, std::vector<std::string> argv)
{
    if (who.uid == ::geteuid())
        return argv;
    std::vector<std::string> all{"setpriv", "--reuid=" + std::to_string(who.uid), "--regid=" + std::to_string(who.gid),
                                 "--clear-groups", "--"};
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
}

dev_t DeviceOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_rdev : 0;
}

// The lock files a program on the device writes: by its name below /dev and by its number.
std::vector<std::string> LocksOfDevice(const std::string& device)
{
    std::string name = device.substr(5); // "pts/N"
    for (char& c : name)
        if (c == '/')
            c = '_';
    char number[48];
    dev_t d = DeviceOf(device);
    std::snprintf(number, sizeof number, "/var/lock/LCK.%03u.%03u", ::major(d), ::minor(d));
    return {"/var/lock/LCK.." + name, number};
}

void WriteLock(const std::string& path, pid_t pid, const Account& owner)
{
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    std::fprintf(f, "%10d\n", int(pid));
    std::fclose(f);
    ASSERT_EQ(::chown(path.c_str(), owner.uid, owner.gid), 0);
}

// Whether the process has the device open (as root sees it).
bool HasOpen(pid_t pid, const std::string& device)
{
    for (int fd = 0; fd < 3; ++fd) {
        char target[256] = {};
        std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
        if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && device == target)
            return true;
    }
    return false;
}

enum class Who { UserA, UserB, Root };
enum class LockedDevice { Another, Ours };
enum class LockedBy { Name, Number };

struct LockCase {
    const char* name;
    Who opener;
    Who holder;
    LockedDevice device; // the device the holder keeps open and names in its locks
    LockedBy by;         // which of its locks it leaves (the name lock, or the number lock)
    bool opens;          // whether the opener gets the port
};

class PortLocksOfOtherUsers : public ::testing::TestWithParam<LockCase> {
protected:
    void SetUp() override
    {
        if (::access("/var/lock", W_OK) != 0)
            GTEST_SKIP() << "needs a lock folder";
        asRoot_ = ::geteuid() == 0;
        if (asRoot_) {
            if (!faxline::HaveProgram("setpriv"))
                GTEST_SKIP() << "setpriv is not installed";
            for (const char* name : {"znfaxa", "znfaxb"}) {
                auto user = OrdinaryUser(name);
                if (!user)
                    GTEST_SKIP() << "the test user " << name << " cannot be made";
                users_.push_back(*user);
            }
        } else {
            // An ordinary user runs the test: it is user A, and root's program is the system's first
            // process (which it may not look into either).
            const LockCase c = GetParam();
            struct stat init {};
            if (c.opener != Who::UserA || c.holder != Who::Root || c.device == LockedDevice::Ours
                || ::stat("/proc/1", &init) != 0 || init.st_uid != 0)
                GTEST_SKIP() << "needs root to act as two users";
            users_.push_back(Account{"self", ::geteuid(), ::getegid()});
        }
        ASSERT_TRUE(ours_.Ok() && theirs_.Ok());
        // Modems users may open (as members of the group that owns them).
        for (const PtyPair* p : {&ours_, &theirs_})
            ASSERT_EQ(::chmod(p->SlavePath().c_str(), 0666), 0);
        // The probe where every user reaches it, whatever the mode of the build tree's folders.
        ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);
        probe_ = dir_.File("port_open_probe");
        std::string copy = "cp '" + std::string(std::getenv("ZN_BUILD_DIR")) + "/comms/port_open_probe' '" + probe_ + "'";
        ASSERT_EQ(std::system(copy.c_str()), 0);
        ASSERT_EQ(::chmod(probe_.c_str(), 0755), 0);
    }

    const Account& Of(Who who) const
    {
        switch (who) {
        case Who::UserA: return users_[0];
        case Who::UserB: return users_[1];
        case Who::Root: break;
        }
        return kRoot;
    }

    // A program of the holder that keeps the device open; its pid. Without root, the first process.
    pid_t StartHolder(const Account& holder, const std::string& device)
    {
        if (!asRoot_)
            return 1;
        sleeper_ = std::make_unique<faxline::ChildProcess>(
            As(holder, {"/bin/sh", "-c", "exec sleep 600 <>\"$0\"", device}), dir_.File("holder.out"),
            dir_.File("holder.err"));
        for (int i = 0; i < 500; ++i) {
            if (HasOpen(sleeper_->Pid(), device))
                return sleeper_->Pid();
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    faxline::TempDir dir_;
    bool asRoot_ = false;
    std::vector<Account> users_;
    PtyPair ours_, theirs_;
    std::string probe_;
    std::unique_ptr<faxline::ChildProcess> sleeper_;
};

TEST_P(PortLocksOfOtherUsers, RefuseThePortOnlyWhenTheyAreLocksOfIt)
{
    const LockCase c = GetParam();
    const Account& holder = Of(c.holder);
    const std::string held = c.device == LockedDevice::Ours ? ours_.SlavePath() : theirs_.SlavePath();
    const pid_t holderPid = StartHolder(holder, held);
    ASSERT_GT(holderPid, 0) << ReadFile(dir_.File("holder.err"));
    const std::string lock = LocksOfDevice(held)[c.by == LockedBy::Name ? 0 : 1];
    WriteLock(lock, holderPid, asRoot_ ? holder : Of(Who::UserA));

    faxline::ChildProcess probe(As(Of(c.opener), {probe_, ours_.SlavePath()}), dir_.File("probe.out"),
                                dir_.File("probe.err"));
    auto status = probe.Wait(20s);
    const std::string said = ReadFile(dir_.File("probe.out")) + ReadFile(dir_.File("probe.err"));
    const long lockOwner = std::atol(ReadFile(lock).c_str());
    ::unlink(lock.c_str());
    ASSERT_TRUE(status) << said;
    if (c.opens) {
        EXPECT_EQ(said, "open\n");
        EXPECT_EQ(*status, 0);
    } else {
        EXPECT_EQ(said, "error -2008: ie_Open - device already open\n");
        EXPECT_EQ(*status, 1);
    }
    // The holder's lock is left as it was, and the opener left none of its own.
    EXPECT_EQ(lockOwner, long(holderPid));
    for (const std::string& mine : LocksOfDevice(ours_.SlavePath()))
        EXPECT_NE(std::atol(ReadFile(mine).c_str()), long(probe.Pid())) << mine;
}

INSTANTIATE_TEST_SUITE_P(
    Holders, PortLocksOfOtherUsers,
    ::testing::Values(
        LockCase{"AnotherUsersLockOfAnotherDevice", Who::UserA, Who::UserB, LockedDevice::Another, LockedBy::Name, true},
        LockCase{"AnotherUsersNumberLockOfAnotherDevice", Who::UserA, Who::UserB, LockedDevice::Another,
                 LockedBy::Number, true},
        LockCase{"TheSameTheOtherWayRound", Who::UserB, Who::UserA, LockedDevice::Another, LockedBy::Name, true},
        LockCase{"RootsLockOfAnotherDevice", Who::UserA, Who::Root, LockedDevice::Another, LockedBy::Name, true},
        LockCase{"RootsNumberLockOfAnotherDevice", Who::UserA, Who::Root, LockedDevice::Another, LockedBy::Number, true},
        LockCase{"AnotherUsersLockOfOurDevice", Who::UserA, Who::UserB, LockedDevice::Ours, LockedBy::Name, false},
        LockCase{"AnotherUsersNumberLockOfOurDevice", Who::UserA, Who::UserB, LockedDevice::Ours, LockedBy::Number,
                 false},
        LockCase{"RootsLockOfOurDevice", Who::UserA, Who::Root, LockedDevice::Ours, LockedBy::Name, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
