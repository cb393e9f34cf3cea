// The real program started twice on one program folder: the second start hands over to the first
// (which takes up the print job waiting in SEND) and ends with exit code 0.
#include "foundation/tests/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

bool WaitFor(const std::function<bool()>& condition, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms)
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace

TEST(ZnStart, ASecondStartRestoresTheFirstInstanceWhichPicksUpWaitingJobs)
{
    zn::foundation::test::TempHome home;
    const QString dir = QString::fromStdString(home.Path());
    QDir().mkpath(dir + "/win");
    QDir().mkpath(dir + "/run");
    QDir().mkpath(dir + "/SEND");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZN_HOME", dir);
    env.insert("ZN_WINDIR", dir + "/win");
    env.insert("XDG_RUNTIME_DIR", dir + "/run");
    env.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(ZN_PATH, {});
    ASSERT_TRUE(first.waitForStarted());
    // ZNPD.INI is written at the end of the first activation.
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(dir + "/win/ZNPD.INI"); }, 20000));

    // A print job left while zn runs, then zn started again by the print-to-fax controller.
    const QString znfax = qEnvironmentVariable("ZN_BUILD_DIR") + "/tools/znfax/znfax";
    zn::foundation::test::WriteFile(home.Path() + "/job.txt", "Print job\n");
    ASSERT_EQ(QProcess::execute(znfax, {"convert", dir + "/job.txt", dir + "/SEND/FAX00000.APF"}), 0);
    zn::foundation::test::WriteFile(home.Path() + "/SEND/FAX00000.JFD", "555-0123\r\nJob Recipient\r\nJob Subject\r\n");

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(ZN_PATH, {});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    // The first instance acted on the restore: the job became a row and its job file went.
    EXPECT_TRUE(WaitFor([&] { return !QFile::exists(dir + "/SEND/FAX00000.JFD"); }, 20000));
    QProcess dump;
    dump.start("/usr/bin/python3", {"-c",
                                    "import sys, dbfread; print([(r['SUBJECT'], r['FAXDOC']) for r in "
                                    "dbfread.DBF(sys.argv[1])])",
                                    dir + "/ZNOUT.DBF"});
    dump.waitForFinished(20000);
    EXPECT_EQ(dump.readAllStandardOutput().trimmed().toStdString(), "[('Job Subject', 'FAX00000.APF')]");
    // SIGTERM (a logout): the program ends in order, as that signal ends a program.
    first.terminate();
    const bool ended = first.waitForFinished(20000);
    if (!ended)
        first.kill();
    EXPECT_TRUE(ended);
    EXPECT_EQ(first.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(first.exitCode(), SIGTERM);
}
