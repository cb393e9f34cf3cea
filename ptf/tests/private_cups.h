// A cupsd of its own for tests and benchmarks: configuration, spool, logs and its listening socket
// in one folder, so that it runs beside the machine's own CUPS and goes with the folder. cupsd runs
// backends as root only when it was started by root.
#pragma once
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace zn::ptf::test {

class PrivateCups {
public:
    // The folder must exist; extraFilesConf goes into cups-files.conf (SetEnv lines, say).
    explicit PrivateCups(std::string root, const std::string& extraFilesConf = {}) : root_(std::move(root))
    {
        // The filters run as lp: they must reach the spool and the temporary folder.
        ::chmod(root_.c_str(), 0755);
        for (const char* folder : {"conf", "spool", "cache", "state", "log", "bin/backend", "tmp"})
            QDir().mkpath(QString::fromStdString(root_ + "/" + folder));
        ::chmod((root_ + "/tmp").c_str(), 01777);
        for (const char* part : {"filter", "daemon", "cgi-bin", "driver", "monitor", "notifier"})
            QFile::link(QString("/usr/lib/cups/") + part, QString::fromStdString(root_ + "/bin/" + part));
        std::ofstream(root_ + "/conf/cupsd.conf")
            << "Listen " << Socket()
            << "\nLogLevel info\nWebInterface No\nBrowsing No\nDefaultAuthType None\n"
               "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
               "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
        std::ofstream(root_ + "/conf/cups-files.conf")
            << "ServerRoot " << root_ << "/conf\nRequestRoot " << root_ << "/spool\nCacheDir " << root_
            << "/cache\nStateDir " << root_ << "/state\nTempDir " << root_ << "/tmp\nServerBin " << root_
            << "/bin\nDataDir /usr/share/cups\nErrorLog " << root_ << "/log/error_log\nAccessLog " << root_
            << "/log/access_log\nPageLog " << root_ << "/log/page_log\nUser lp\nGroup lp\n"
            << extraFilesConf;
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("CUPS_SERVER", QString::fromStdString(Socket()));
    }
    ~PrivateCups()
    {
        if (cupsd_.state() != QProcess::NotRunning) {
            cupsd_.terminate();
            cupsd_.waitForFinished(5000);
        }
    }

    // A backend program under the given scheme (mode 0700, so that cupsd runs it as root).
    bool AddBackend(const std::string& program, const std::string& scheme)
    {
        const std::string target = root_ + "/bin/backend/" + scheme;
        return QFile::copy(QString::fromStdString(program), QString::fromStdString(target))
               && ::chmod(target.c_str(), 0700) == 0;
    }
    // Starts cupsd and waits for its socket; false when it did not come up.
    bool Start()
    {
        cupsd_.start("cupsd", {"-f", "-c", QString::fromStdString(root_ + "/conf/cupsd.conf"), "-s",
                               QString::fromStdString(root_ + "/conf/cups-files.conf")});
        if (!cupsd_.waitForStarted())
            return false;
        QElapsedTimer waited;
        waited.start();
        while (::access(Socket().c_str(), F_OK) != 0 && waited.elapsed() < 10000 && cupsd_.state() == QProcess::Running)
            QThread::msleep(20);
        return ::access(Socket().c_str(), F_OK) == 0;
    }
    // An enabled queue taking jobs.
    bool AddPrinter(const QString& name, const QString& uri, const QString& ppd, const QString& description)
    {
        return Run("lpadmin", {"-p", name, "-E", "-v", uri, "-P", ppd, "-D", description});
    }
    // Runs a CUPS client against this cupsd; false when it failed (its error output in LastError).
    bool Run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
    {
        QProcess process;
        process.setProcessEnvironment(env_);
        process.start(program, arguments);
        const bool ok =
            process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        lastError_ = process.readAllStandardError().toStdString();
        if (output)
            *output = process.readAllStandardOutput();
        return ok;
    }
    const std::string& LastError() const { return lastError_; }
    // The error lines of cupsd's log (the jobs' messages among them).
    std::string LoggedErrors() const
    {
        std::ifstream in(root_ + "/log/error_log");
        std::string line, errors;
        while (std::getline(in, line))
            if (line.rfind("E ", 0) == 0)
                errors += line + "\n";
        return errors;
    }
    std::string Socket() const { return root_ + "/cups.sock"; }
    const QProcessEnvironment& Environment() const { return env_; }

private:
    std::string root_;
    QProcess cupsd_;
    QProcessEnvironment env_;
    std::string lastError_;
};

} // namespace zn::ptf::test
