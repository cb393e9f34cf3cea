// Printing to the "Tarvel Fax" printer for real: a cupsd of the test's own (configuration and spool
// in a temporary folder) with our backend, `lp` of a two-page PDF, and znptf's main form answering
// the driver in this process. The fax pages are compared with ghostscript's own rasterisation of the
// same PDF, read back through netpbm and libtiff.
#include "ptf/main_form.h"

#include "platform/ini_file.h"
#include "platform/message_box.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>

namespace zn::ptf {
namespace {

// Runs a command; its standard output, or nothing when it failed.
QByteArray RunCommand(const QString& program, const QStringList& arguments, const QProcessEnvironment& env = {},
               int timeoutMs = 30000)
{
    QProcess process;
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " " << arguments.join(' ').toStdString() << ": "
                      << process.readAllStandardError().toStdString();
        process.kill();
        return {};
    }
    return process.readAllStandardOutput();
}

bool Have(const char* program)
{
    return !QStandardPaths::findExecutable(program, {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}).isEmpty();
}

// A PBM (P4) picture.
struct Bitmap {
    int width = 0, height = 0;
    std::vector<uint8_t> bits;
    bool Black(int x, int y) const
    {
        return bits[size_t(y) * size_t((width + 7) / 8) + size_t(x / 8)] & (0x80 >> (x % 8));
    }
};

Bitmap ReadPbm(const QByteArray& data)
{
    Bitmap b;
    std::istringstream in(data.toStdString());
    std::string magic;
    in >> magic;
    const auto number = [&in] {
        while (std::isspace(in.peek()) || in.peek() == '#')
            if (in.get() == '#')
                in.ignore(1 << 20, '\n');
        int value = 0;
        in >> value;
        return value;
    };
    b.width = number();
    b.height = number();
    in.get();
    if (magic != "P4")
        return {};
    b.bits.resize(size_t((b.width + 7) / 8) * size_t(b.height));
    in.read(reinterpret_cast<char*>(b.bits.data()), std::streamsize(b.bits.size()));
    return b;
}

class PrintToFax : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "cupsd runs its backends as root only when it is started by root";
        for (const char* program : {"cupsd", "lp", "lpadmin", "gs", "ps2pdf", "tifftopnm"})
            if (!Have(program))
                GTEST_SKIP() << program << " is not installed";
        ASSERT_TRUE(root_.isValid());
        root_.setAutoRemove(true);
        // cupsd's filters run as lp: they must reach the spool and the temporary folder.
        ::chmod(Root().c_str(), 0755);
        for (const char* folder : {"conf", "spool", "cache", "state", "log", "bin/backend", "home", "win", "run"})
            QDir().mkpath(QString::fromStdString(Root() + "/" + folder));
        QDir().mkpath(QString::fromStdString(Root() + "/tmp"));
        ::chmod((Root() + "/tmp").c_str(), 01777);
        ::chmod((Root() + "/run").c_str(), 0700);
        for (const char* part : {"filter", "daemon", "cgi-bin", "driver", "monitor", "notifier"})
            QFile::link(QString("/usr/lib/cups/") + part, QString::fromStdString(Root() + "/bin/" + part));
        const std::string backend = Root() + "/bin/backend/tarvelfax";
        ASSERT_TRUE(QFile::copy(TARVELFAX_BACKEND, QString::fromStdString(backend)));
        ::chmod(backend.c_str(), 0700); // run as root, to become the job's owner
        std::ofstream(Root() + "/conf/cupsd.conf")
            << "Listen " << Socket() << "\nLogLevel debug\nWebInterface No\nBrowsing No\nDefaultAuthType None\n"
               "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
               "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
        std::ofstream(Root() + "/conf/cups-files.conf")
            << "ServerRoot " << Root() << "/conf\nRequestRoot " << Root() << "/spool\nCacheDir " << Root()
            << "/cache\nStateDir " << Root() << "/state\nTempDir " << Root() << "/tmp\nServerBin " << Root()
            << "/bin\nDataDir /usr/share/cups\nErrorLog " << Root() << "/log/error_log\nAccessLog " << Root()
            << "/log/access_log\nPageLog " << Root() << "/log/page_log\nUser lp\nGroup lp\n"
            << "SetEnv ZN_FAX_CHANNEL_DIR " << Root() << "/run\n";
        cupsd_.start("cupsd", {"-f", "-c", QString::fromStdString(Root() + "/conf/cupsd.conf"), "-s",
                               QString::fromStdString(Root() + "/conf/cups-files.conf")});
        ASSERT_TRUE(cupsd_.waitForStarted());
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("CUPS_SERVER", QString::fromStdString(Socket()));
        QElapsedTimer waited;
        waited.start();
        while (::access(Socket().c_str(), F_OK) != 0 && waited.elapsed() < 10000)
            QThread::msleep(50);
        RunCommand("lpadmin", {"-p", "TarvelFax", "-E", "-v", "tarvelfax:/", "-P", TARVELFAX_PPD, "-D", "Tarvel Fax"}, env_);

        qputenv("ZN_HOME", QByteArray::fromStdString(Root() + "/home"));
        qputenv("ZN_WINDIR", QByteArray::fromStdString(Root() + "/win"));
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(Root() + "/run"));
        platform::IniFile ini(Root() + "/win/ZNPD.INI");
        ini.WriteString("Location", "ZNOutPath", Send() + "\\");
        ini.WriteString("Location", "ZNExecutable", "/bin/true");
        platform::SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            boxes_.push_back(text);
            return platform::IDNO;
        });

        // Two pages with a known text and a rule, as A4.
        std::ofstream(Root() + "/doc.ps") << "%!PS\n/Helvetica-Bold findfont 40 scalefont setfont\n"
                                             "72 700 moveto (Tarvel page ONE) show\n4 setlinewidth 72 100 moveto 520 100 lineto stroke\nshowpage\n"
                                             "72 600 moveto (Second page TWO) show\nshowpage\n";
        RunCommand("ps2pdf", {"-sPAPERSIZE=a4", QString::fromStdString(Root() + "/doc.ps"), QString::fromStdString(Pdf())});
    }
    void TearDown() override
    {
        platform::SetMessageBoxHook({});
        if (cupsd_.state() != QProcess::NotRunning) {
            cupsd_.terminate();
            cupsd_.waitForFinished(5000);
        }
    }
    std::string Root() const { return root_.path().toStdString(); }
    std::string Socket() const { return Root() + "/cups.sock"; }
    std::string Send() const { return Root() + "/home/SEND"; }
    std::string Pdf() const { return Root() + "/doc.pdf"; }
    std::string JobLog() const
    {
        std::ifstream in(Root() + "/log/error_log");
        std::string line, errors;
        while (std::getline(in, line))
            if (line.rfind("E ", 0) == 0)
                errors += line + "\n";
        return errors;
    }
    // Pumps the GUI thread until the condition holds or timeoutMs passed.
    template <typename F>
    bool PumpUntil(F condition, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition() && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return condition();
    }

    QTemporaryDir root_{QDir::tempPath() + "/zn-cups-XXXXXX"};
    QProcess cupsd_;
    QProcessEnvironment env_;
    std::vector<std::string> boxes_;
};

TEST_F(PrintToFax, APrintedPdfBecomesAFinePageFaxWithItsJobFile)
{
    TMainForm form;
    bool answered = false;
    form.RunJobDialog = [&](TGetDataForm& dialog) {
        answered = true;
        dialog.Phone->setText("555 0100");
        dialog.Recipient->setText("Ann Smith");
        dialog.Subject->setText("Two pages");
        return 1;
    };
    RunCommand("lp", {"-d", "TarvelFax", "-t", "two-pages.pdf", QString::fromStdString(Pdf())}, env_);
    ASSERT_TRUE(PumpUntil([&] { return answered; }, 60000)) << JobLog();

    std::ifstream job(Send() + "/FAX00000.JFD", std::ios::binary);
    const std::string jobText((std::istreambuf_iterator<char>(job)), {});
    EXPECT_EQ(jobText, "555 0100\r\nAnn Smith\r\nTwo pages\r\n");
    ASSERT_EQ(boxes_, std::vector<std::string>{"Switch to Tarvel now?"});

    // Two fine pages, each the PDF's page as ghostscript draws it at fax resolution, centred on the
    // 1728-pixel row.
    const QString apf = QString::fromStdString(Send() + "/FAX00000.APF");
    QProcess info;
    info.start(ZNFAX_PROGRAM, {"info", apf});
    ASSERT_TRUE(info.waitForFinished(30000));
    const QString pages = info.readAllStandardOutput();
    EXPECT_TRUE(pages.contains("pages: 2")) << pages.toStdString();
    EXPECT_EQ(pages.count("high resolution, 1728 pixels"), 2) << pages.toStdString();
    for (int page = 1; page <= 2; ++page) {
        const QString tif = QString::fromStdString(Root() + "/page" + std::to_string(page) + ".tif");
        QProcess unpack;
        unpack.start(ZNFAX_PROGRAM, {"unpack", "--page", QString::number(page), apf, tif});
        ASSERT_TRUE(unpack.waitForFinished(30000) && unpack.exitCode() == 0) << unpack.readAllStandardError().toStdString();
        const Bitmap fax = ReadPbm(RunCommand("tifftopnm", {tif}));
        const Bitmap reference = ReadPbm(RunCommand("gs", {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pbmraw",
                                                    "-r204x196", "-dFirstPage=" + QString::number(page),
                                                    "-dLastPage=" + QString::number(page), "-sOutputFile=-",
                                                    QString::fromStdString(Pdf())}));
        ASSERT_EQ(fax.width, 1728);
        ASSERT_EQ(fax.height, reference.height);
        const int offset = (1728 - reference.width) / 2;
        long black = 0, differing = 0;
        for (int y = 0; y < reference.height; ++y)
            for (int x = 0; x < reference.width; ++x) {
                const bool r = reference.Black(x, y);
                black += r;
                differing += r != fax.Black(x + offset, y);
            }
        std::printf("page %d: %ld black reference pixels, %ld differ\n", page, black, differing);
        EXPECT_GT(black, 2000) << "page " << page << " has its text";
        // CUPS's PostScript conversion on the way changes nothing that ghostscript draws.
        EXPECT_EQ(differing, 0) << "page " << page;
    }
}

TEST_F(PrintToFax, AJobWithoutARunningControllerFailsWithAClearMessageAndLeavesNoFile)
{
    RunCommand("lp", {"-d", "TarvelFax", QString::fromStdString(Pdf())}, env_);
    ASSERT_TRUE(PumpUntil([&] { return JobLog().find("is not running") != std::string::npos; }, 60000)) << JobLog();
    EXPECT_NE(JobLog().find("Tarvel Print To Fax (znptf) is not running for the user \\\"root\\\""), std::string::npos)
        << JobLog();
    EXPECT_TRUE(QDir(QString::fromStdString(Send())).entryList(QDir::Files).isEmpty());
    // The printer keeps taking jobs: the job was cancelled, the queue not stopped.
    EXPECT_TRUE(RunCommand("lpstat", {"-p", "TarvelFax"}, env_).contains("enabled"));
}

} // namespace
} // namespace zn::ptf
