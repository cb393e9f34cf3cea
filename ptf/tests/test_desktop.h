// A user's desktop of the test's own: an X display (Xvfb) with a window manager (openbox), on which
// programs started by the test show their windows as on a user's desktop, and the test sees and
// drives them as the user does (xdotool: what is shown, which window is active, the keyboard).
// Runs as the test user given (started by root), else as this process is; it goes with the object.
#pragma once
#include "ptf/tests/test_users.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <string>

namespace zn::ptf::test {

class TestDesktop {
public:
    // home: the window manager's home folder when it runs as this process (a user given has theirs).
    explicit TestDesktop(const std::string& home, const TestUser* user = nullptr)
    {
        if (user)
            user_ = *user;
        for (const char* program : {"Xvfb", "openbox", "xdotool"})
            if (QStandardPaths::findExecutable(program).isEmpty()) {
                missing_ = program;
                return;
            }
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert("HOME", QString::fromStdString(home));
        // Xvfb names the free display it took once it is ready for clients.
        Start(xvfb_, "Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (!xvfb_.waitForStarted())
            return;
        QByteArray number;
        while (!number.contains('\n') && xvfb_.waitForReadyRead(10000))
            number += xvfb_.readAllStandardOutput();
        if (!number.contains('\n'))
            return;
        display_ = ":" + QString(number).trimmed();
        environment_.insert("DISPLAY", display_);
        Start(openbox_, "openbox", {"--sm-disable"});
        if (!openbox_.waitForStarted())
            return;
        // The window manager runs once it answers for the desktops it keeps.
        QElapsedTimer waited;
        waited.start();
        while (!(ready_ = Xdotool({"get_desktop"})) && waited.elapsed() < 20000
               && openbox_.state() == QProcess::Running)
            QThread::msleep(50);
    }
    ~TestDesktop()
    {
        for (QProcess* process : {&openbox_, &xvfb_})
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000)) {
                    process->kill();
                    process->waitForFinished(5000);
                }
            }
    }
    TestDesktop(const TestDesktop&) = delete;
    TestDesktop& operator=(const TestDesktop&) = delete;

    bool Ready() const { return ready_; }
    // The program that is not installed, if that is why the desktop is not ready.
    const char* Missing() const { return missing_; }
    // The environment of a program shown on this desktop.
    QProcessEnvironment Environment(QProcessEnvironment environment) const
    {
        environment.insert("DISPLAY", display_);
        environment.insert("QT_QPA_PLATFORM", "xcb");
        return environment;
    }
    // xdotool on this desktop; false when it failed.
    bool Xdotool(const QStringList& arguments, QByteArray* output = nullptr)
    {
        QProcess xdotool;
        Start(xdotool, "xdotool", arguments);
        const bool ok = xdotool.waitForFinished(20000) && xdotool.exitStatus() == QProcess::NormalExit
                        && xdotool.exitCode() == 0;
        if (output)
            *output = xdotool.readAllStandardOutput();
        return ok;
    }
    // The shown windows whose title matches the pattern (xdotool's), oldest first.
    QList<QByteArray> Shown(const QString& title)
    {
        QByteArray found;
        return Xdotool({"search", "--onlyvisible", "--name", title}, &found) ? found.trimmed().split('\n')
                                                                             : QList<QByteArray>();
    }
    // Gives the keyboard to the newest shown window whose title matches; false when there is none.
    bool Focus(const QString& title)
    {
        const QList<QByteArray> windows = Shown(title);
        QByteArray active;
        return !windows.isEmpty() && Xdotool({"windowactivate", "--sync", windows.last()})
               && Xdotool({"getactivewindow"}, &active) && active.trimmed() == windows.last();
    }

private:
    void Start(QProcess& process, const QString& program, const QStringList& arguments)
    {
        if (user_) {
            StartAs(process, *user_, environment_, program, arguments);
        } else {
            process.setProcessEnvironment(environment_);
            process.start(program, arguments);
        }
    }

    std::optional<TestUser> user_;
    const char* missing_ = nullptr;
    QProcessEnvironment environment_;
    QProcess xvfb_;
    QProcess openbox_;
    QString display_;
    bool ready_ = false;
};

} // namespace zn::ptf::test
