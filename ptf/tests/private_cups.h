// A cupsd of its own for tests and benchmarks: configuration, spool, logs and its listening socket
// in one folder, so that it runs beside the machine's own CUPS and goes with the folder. cupsd runs
// backends as root only when it was started by root.
#pragma once
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include "ptf/tests/test_users.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace zn::ptf::test {

class PrivateCups {
public:
    // The folder must exist; extraFilesConf goes into cups-files.conf (SetEnv lines, say). The
    // scheduler is CUPS's as shipped (its cupsd.conf and cups-files.conf, its own modes for the
    // spool and its temporary folder, its policies) but for where it keeps things and listens.
    explicit PrivateCups(std::string root, const std::string& extraFilesConf = {}) : root_(std::move(root))
    {
        // cupsd makes the spool and its temporary folder itself, with its own modes; the filters
        // run as lp and must reach them.
        ::chmod(root_.c_str(), 0755);
        for (const char* folder : {"conf", "cache", "state", "log", "bin/backend"})
            QDir().mkpath(QString::fromStdString(root_ + "/" + folder));
        for (const char* part : {"filter", "daemon", "cgi-bin", "driver", "monitor", "notifier"})
            QFile::link(QString("/usr/lib/cups/") + part, QString::fromStdString(root_ + "/bin/" + part));
        std::ifstream stock("/usr/share/cups/cupsd.conf.default");
        std::ofstream conf(root_ + "/conf/cupsd.conf");
        conf << "Listen " << Socket() << "\n";
        for (std::string line; std::getline(stock, line);) {
            // Not on the machine's ports, not announced, nothing to serve but jobs.
            for (const char* left : {"Listen ", "Port ", "Browsing ", "BrowseLocalProtocols ", "WebInterface ",
                                     "IdleExitTimeout ", "LogLevel "})
                if (line.rfind(left, 0) == 0)
                    line.clear();
            conf << line << "\n";
        }
        conf << "LogLevel info\nBrowsing No\nWebInterface No\n";
        std::ifstream stockFiles("/usr/share/cups/cups-files.conf.default");
        std::ofstream files(root_ + "/conf/cups-files.conf");
        for (std::string line; std::getline(stockFiles, line);)
            if (line.rfind("AccessLog ", 0) != 0 && line.rfind("ErrorLog ", 0) != 0 && line.rfind("PageLog ", 0) != 0
                && line.rfind("LogFileGroup ", 0) != 0)
                files << line << "\n";
        files << "ServerRoot " << root_ << "/conf\nRequestRoot " << root_ << "/spool\nCacheDir " << root_
              << "/cache\nStateDir " << root_ << "/state\nServerBin " << root_
              << "/bin\nDataDir /usr/share/cups\nErrorLog " << root_ << "/log/error_log\nAccessLog " << root_
              << "/log/access_log\nPageLog " << root_ << "/log/page_log\n"
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
    // An enabled queue taking jobs (more lpadmin options in extra).
    bool AddPrinter(const QString& name, const QString& uri, const QString& ppd, const QString& description,
                    const QStringList& extra = {})
    {
        return Run("lpadmin", QStringList{"-p", name, "-E", "-v", uri, "-P", ppd, "-D", description} + extra);
    }
    // The spool's temporary folder, which cupsd makes.
    std::string SpoolTemporaries() const { return root_ + "/spool/tmp"; }
    // Runs a CUPS client against this cupsd; false when it failed (its error output in LastError).
    // A user given: run as that user (root starts it).
    bool Run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr,
             const TestUser* user = nullptr)
    {
        QProcess process;
        if (user)
            StartAs(process, *user, env_, program, arguments);
        else {
            process.setProcessEnvironment(env_);
            process.start(program, arguments);
        }
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
