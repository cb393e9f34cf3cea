// A desktop of the test's own: an X display (Xvfb) with a window manager (openbox), on which a
// program started by the test shows its windows as on a user's desktop, and the test sees which of
// them are shown (xdotool). Started by whoever the test acts as; both go with the object.
#pragma once
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <string>

namespace zn::ptf::test {

class TestDesktop {
public:
    // home: a folder of the current user for the window manager's files.
    explicit TestDesktop(const std::string& home)
    {
        for (const char* program : {"Xvfb", "openbox", "xdotool"})
            if (QStandardPaths::findExecutable(program).isEmpty()) {
                missing_ = program;
                return;
            }
        // Xvfb names the free display it took once it is ready for clients.
        xvfb_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        if (!xvfb_.waitForStarted())
            return;
        QByteArray number;
        while (!number.contains('\n') && xvfb_.waitForReadyRead(10000))
            number += xvfb_.readAllStandardOutput();
        if (!number.contains('\n'))
            return;
        display_ = ":" + QString(number).trimmed();
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert("DISPLAY", display_);
        environment_.insert("HOME", QString::fromStdString(home));
        openbox_.setProcessEnvironment(environment_);
        openbox_.start("openbox", {"--sm-disable"});
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
    // Whether a window with exactly this title is shown.
    bool Shows(const QString& title) { return Xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}); }
    // Types text on the keyboard into the window with exactly this title, made the active one.
    bool TypeInto(const QString& title, const QString& text)
    {
        QByteArray found;
        if (!Xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}, &found))
            return false;
        const QString window = QString(found).section('\n', 0, 0).trimmed();
        return Xdotool({"windowactivate", "--sync", window}) && Xdotool({"type", "--delay", "20", text});
    }

private:
    bool Xdotool(const QStringList& arguments, QByteArray* output = nullptr)
    {
        QProcess xdotool;
        xdotool.setProcessEnvironment(environment_);
        xdotool.start("xdotool", arguments);
        const bool ok = xdotool.waitForFinished(10000) && xdotool.exitStatus() == QProcess::NormalExit
                        && xdotool.exitCode() == 0;
        if (output)
            *output = xdotool.readAllStandardOutput();
        return ok;
    }

    const char* missing_ = nullptr;
    QProcess xvfb_;
    QProcess openbox_;
    QString display_;
    QProcessEnvironment environment_;
    bool ready_ = false;
};

} // namespace zn::ptf::test
