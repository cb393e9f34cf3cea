// The real program started twice on one program folder: the second start hands over to the first
// (which takes up the print job waiting in SEND) and ends with exit code 0. And the real program
// ended by SIGTERM in the middle of a call it is receiving.
#include "faxline_harness.h"
#include "foundation/tests/test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

// A logout or a service stop while the real program is receiving a fax (receive mode started with
// the program): the call is cancelled, the unfinished fax deleted, no row added, the port and its
// lock file released, and the program ends as SIGTERM ends a program.
TEST(ZnStart, SigtermInTheMiddleOfAReceivedFaxLeavesNoFileNoRowAndNoLock)
{
    zn::foundation::test::TempHome home;
    const QString dir = QString::fromStdString(home.Path());
    QDir().mkpath(dir + "/win");
    QDir().mkpath(dir + "/run");
    faxline::TempDir lineDir;
    std::vector<faxline::Bitmap> pages;
    for (int n : {1, 2, 3})
        pages.push_back(*faxline::ReadPbm(faxline::ItuChartPath(n)));
    ASSERT_TRUE(faxline::WriteFaxTiff(lineDir.File("tx.tif"), pages));
    auto line =
        faxline::Line::Start(lineDir.Path(), {"call", "--tx-file", lineDir.File("tx.tif"), "--ident", "FAR END"});
    ASSERT_TRUE(line);
    zn::foundation::test::WriteFile(home.Path() + "/ZN.INI", "[Modem]\r\nComPort=6\r\nFaxClassReceive=1\r\n"
                                                             "MaximumBPSReceive=14400\r\n"
                                                             "[User]\r\nFax=+1 555 0199\r\nName=Test\r\n"
                                                             "[Receive]\r\nAtStartup=1\r\n"
                                                             "DisableReceivingFaxesNotification=1\r\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZN_HOME", dir);
    env.insert("ZN_WINDIR", dir + "/win");
    env.insert("XDG_RUNTIME_DIR", dir + "/run");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ZN_COM7", QString::fromStdString(line->Port('A')));

    QProcess zn;
    zn.setProcessEnvironment(env);
    zn.start(ZN_PATH, {});
    ASSERT_TRUE(zn.waitForStarted());
    const QString receive = dir + "/Receive";
    // Until it is whole, a fax coming in is written under a temporary name beside its own.
    const auto received = [&] { return QDir(receive).entryList(QDir::Files); };
    // The far end calls once receive mode answers; the fax is in mid-page when its file has data.
    const bool inCall = WaitFor(
        [&] {
            const QStringList files = received();
            return !files.isEmpty() && QFileInfo(receive + "/" + files.first()).size() > 2000;
        },
        120000);
    const qint64 pid = zn.processId();
    EXPECT_EQ(zn::foundation::test::LockFilesOf(long(pid)), 2) << "the port is held during the call (by name and number)";
    zn.terminate();
    const bool ended = zn.waitForFinished(30000);
    if (!ended)
        zn.kill();
    ASSERT_TRUE(inCall) << line->Errors() << zn::foundation::test::ReadFile(home.Path() + "/Lastrec.log");
    EXPECT_TRUE(ended);
    EXPECT_EQ(zn.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(zn.exitCode(), SIGTERM);
    EXPECT_TRUE(received().isEmpty()) << received().join(" ").toStdString();
    EXPECT_EQ(zn::foundation::test::LockFilesOf(long(pid)), 0) << "lock file left behind";
    QProcess dump;
    dump.start("/usr/bin/python3",
               {"-c", "import sys, dbfread; print(len(list(dbfread.DBF(sys.argv[1]))))", dir + "/ZNREC.DBF"});
    dump.waitForFinished(20000);
    EXPECT_EQ(dump.readAllStandardOutput().trimmed().toStdString(), "0");
}
