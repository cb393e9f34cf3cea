// Ordinary users for tests that must act as one: printing as a user who is not root, a controller
// of each user. Made when missing (the tests run as root on a fresh machine); a test that cannot
// have them skips.
#pragma once
#include <QFile>
#include <QProcess>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace zn::ptf::test {

struct TestUser {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
};

// The user of that name, made (with a home) when root and it does not exist yet.
inline std::optional<TestUser> EnsureTestUser(const std::string& name)
{
    if (!::getpwnam(name.c_str()) && ::geteuid() == 0) {
        // Another test may make it at the same moment: then this one fails and the user is there.
        QProcess::execute("useradd", {"--create-home", "--user-group", "--shell", "/bin/sh", QString::fromStdString(name)});
    }
    const passwd* found = ::getpwnam(name.c_str());
    if (!found)
        return std::nullopt;
    return TestUser{found->pw_name, found->pw_uid, found->pw_gid, found->pw_dir};
}

// A program of the build tree as another user can run it: a copy in folder (which that user may
// enter), mode 0755. The build tree itself may lie where other users cannot go (a checkout in a home
// folder of mode 0700). Empty when the copy could not be made.
inline std::string ReachableProgram(const std::string& program, const std::string& folder)
{
    const std::string copy = folder + "/" + program.substr(program.find_last_of('/') + 1);
    QFile::remove(QString::fromStdString(copy));
    if (!QFile::copy(QString::fromStdString(program), QString::fromStdString(copy)) || ::chmod(copy.c_str(), 0755) != 0)
        return {};
    return copy;
}

// A child process started as that user (call in QProcess's child modifier).
inline void BecomeInChild(const TestUser& user)
{
    if (::geteuid() != 0)
        return;
    ::setsid(); // no terminal to ask a password on
    if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0)
        ::_exit(126);
}

// A process of that user, with the environment given (HOME and USER set to the user's).
inline void StartAs(QProcess& process, const TestUser& user, QProcessEnvironment environment, const QString& program,
                    const QStringList& arguments)
{
    environment.insert("HOME", QString::fromStdString(user.home));
    environment.insert("USER", QString::fromStdString(user.name));
    environment.insert("LOGNAME", QString::fromStdString(user.name));
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([user] { BecomeInChild(user); });
    process.start(program, arguments);
}

// This process acting as that user until the end of the scope (root keeps the way back): what it
// makes belongs to the user, and the processes it starts are wholly the user's.
class ActingAs {
public:
    explicit ActingAs(const TestUser& user)
    {
        if (::geteuid() != 0)
            return;
        acting_ = ::setgroups(1, &user.gid) == 0 && ::setresgid(user.gid, user.gid, 0) == 0
                  && ::setresuid(user.uid, user.uid, 0) == 0;
    }
    ~ActingAs()
    {
        if (acting_ && ::setresuid(0, 0, 0) == 0 && ::setresgid(0, 0, 0) == 0)
            ::setgroups(0, nullptr);
    }
    bool Acting() const { return acting_; }

private:
    bool acting_ = false;
};

} // namespace zn::ptf::test
