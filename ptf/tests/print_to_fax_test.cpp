// Printing to the "Tarvel Fax" printer for real: a cupsd of the test's own (configuration and spool
// in a temporary folder) with our backend, `lp` of a two-page PDF, and znptf's main form answering
// the driver in this process. The fax pages are compared with ghostscript's own rasterisation of the
// same PDF, read back through netpbm and libtiff.
#include "ptf/main_form.h"
#include "ptf/tests/private_cups.h"

#include "foundation/tests/modal_driver.h"

#include "platform/ini_file.h"
#include "platform/message_box.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zn::ptf {
namespace {

// Runs a command; its standard output, or nothing when it failed.
QByteArray RunCommand(const QString& program, const QStringList& arguments, int timeoutMs = 30000)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
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
        for (const char* folder : {"home", "win", "run"})
            QDir().mkpath(QString::fromStdString(Root() + "/" + folder));
        ::chmod((Root() + "/run").c_str(), 0700);
        cups_ = std::make_unique<test::PrivateCups>(Root(), "SetEnv ZN_FAX_CHANNEL_DIR " + Root() + "/run\n");
        ASSERT_TRUE(cups_->AddBackend(TARVELFAX_BACKEND, "tarvelfax"));
        ASSERT_TRUE(cups_->Start()) << cups_->LoggedErrors();
        ASSERT_TRUE(cups_->AddPrinter("TarvelFax", "tarvelfax:/", TARVELFAX_PPD, "Tarvel Fax")) << cups_->LastError();

        qputenv("ZN_HOME", QByteArray::fromStdString(Root() + "/home"));
        qputenv("ZN_WINDIR", QByteArray::fromStdString(Root() + "/win"));
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(Root() + "/run"));
        platform::SetMessageBoxHook([this](const std::string& text, const std::string&, unsigned) {
            boxes_.push_back(text);
            return answer_;
        });

        // Two pages with a known text and a rule, as A4.
        std::ofstream(Root() + "/doc.ps")
            << "%!PS\n/Helvetica-Bold findfont 40 scalefont setfont\n"
               "72 700 moveto (Tarvel page ONE) show\n4 setlinewidth 72 100 moveto 520 100 lineto stroke\nshowpage\n"
               "72 600 moveto (Second page TWO) show\nshowpage\n";
        RunCommand("ps2pdf",
                   {"-sPAPERSIZE=a4", QString::fromStdString(Root() + "/doc.ps"), QString::fromStdString(Pdf())});
    }
    void TearDown() override
    {
        platform::SetMessageBoxHook({});
        if (zn_.state() != QProcess::NotRunning) {
            zn_.terminate();
            if (!zn_.waitForFinished(10000))
                zn_.kill();
        }
        cups_.reset();
    }
    bool Lp(const QStringList& arguments) { return cups_->Run("lp", arguments); }
    std::string Root() const { return root_.path().toStdString(); }
    std::string Send() const { return Root() + "/home/SEND"; }
    std::string Pdf() const { return Root() + "/doc.pdf"; }
    std::string JobLog() const { return cups_->LoggedErrors(); }

    QTemporaryDir root_{QDir::tempPath() + "/zn-cups-XXXXXX"};
    std::unique_ptr<test::PrivateCups> cups_;
    QProcess zn_;
    std::vector<std::string> boxes_;
    int answer_ = platform::IDNO;
};

TEST_F(PrintToFax, APrintedPdfBecomesAFinePageFaxAndARowOfZnsOutgoingList)
{
    // zn runs and has told znptf where jobs go (ZNPD.INI).
    zn_.start(ZN_PROGRAM, {});
    ASSERT_TRUE(zn_.waitForStarted());
    ASSERT_TRUE(PumpUntil([&] { return QFile::exists(QString::fromStdString(Root() + "/win/ZNPD.INI")); }, 30000));

    TMainForm form;
    foundation::test::ModalDriver driver;
    driver.Then([](QWidget* dialog) {
        EXPECT_EQ(dialog->objectName(), "GetDataForm");
        EXPECT_EQ(dialog->windowTitle(), "Tarvel NT Print To Fax");
        dialog->findChild<QLineEdit*>("Phone")->setText("555 0100");
        dialog->findChild<QLineEdit*>("Recipient")->setText("Ann Smith");
        dialog->findChild<QLineEdit*>("Subject")->setText("Two pages");
        dialog->findChild<QPushButton*>("Button1")->click();
    });
    std::string jobText;
    answer_ = platform::IDYES;
    platform::SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned) {
        boxes_.push_back(text);
        std::ifstream job(Send() + "/FAX00000.JFD", std::ios::binary);
        jobText.assign(std::istreambuf_iterator<char>(job), {});
        return answer_;
    });
    ASSERT_TRUE(Lp({"-d", "TarvelFax", "-t", "two-pages.pdf", QString::fromStdString(Pdf())})) << cups_->LastError();
    ASSERT_TRUE(PumpUntil([&] { return !boxes_.empty(); }, 60000)) << JobLog();
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(jobText, "555 0100\r\nAnn Smith\r\nTwo pages\r\n");
    ASSERT_EQ(boxes_, std::vector<std::string>{"Switch to Tarvel now?"});

    // Yes brought zn forward, which took the job up: a row, and the job file gone.
    EXPECT_TRUE(PumpUntil([&] { return !QFile::exists(QString::fromStdString(Send() + "/FAX00000.JFD")); }, 30000));
    QProcess dump;
    dump.start("/usr/bin/python3", {"-c",
                                    "import sys, dbfread; print([(r['FAXDOC'], r['PHONE'], r['RECIPIENT'], "
                                    "r['SUBJECT']) for r in dbfread.DBF(sys.argv[1])])",
                                    QString::fromStdString(Root() + "/home/ZNOUT.DBF")});
    dump.waitForFinished(20000);
    EXPECT_EQ(dump.readAllStandardOutput().trimmed().toStdString(),
              "[('FAX00000.APF', '555 0100', 'Ann Smith', 'Two pages')]");

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
        ASSERT_TRUE(unpack.waitForFinished(30000) && unpack.exitCode() == 0)
            << unpack.readAllStandardError().toStdString();
        const Bitmap fax = ReadPbm(RunCommand("tifftopnm", {tif}));
        const Bitmap reference =
            ReadPbm(RunCommand("gs", {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pbmraw", "-r204x196",
                                      "-dFirstPage=" + QString::number(page), "-dLastPage=" + QString::number(page),
                                      "-sOutputFile=-", QString::fromStdString(Pdf())}));
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
    ASSERT_TRUE(Lp({"-d", "TarvelFax", QString::fromStdString(Pdf())})) << cups_->LastError();
    ASSERT_TRUE(PumpUntil([&] { return JobLog().find("is not running") != std::string::npos; }, 60000)) << JobLog();
    EXPECT_NE(JobLog().find("Tarvel Print To Fax (znptf) is not running for the user \\\"root\\\""), std::string::npos)
        << JobLog();
    EXPECT_TRUE(QDir(QString::fromStdString(Send())).entryList(QDir::Files).isEmpty());
    // The printer keeps taking jobs: the job was cancelled, the queue not stopped.
    QByteArray status;
    EXPECT_TRUE(cups_->Run("lpstat", {"-p", "TarvelFax"}, &status));
    EXPECT_TRUE(status.contains("enabled")) << status.toStdString();
}

// The backend on its own, as CUPS starts it for a job read from standard input, against the channel
// served in this process.
class TarvelfaxBackend : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        for (const char* folder : {"SEND", "run", "tmp"})
            QDir().mkpath(QString::fromStdString(Root() + "/" + folder));
        ::chmod((Root() + "/run").c_str(), 0700);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(Root() + "/run"));
        channel_ = std::make_unique<TFxFaxDriverInterface>();
        // Named and reserved as znptf does.
        channel_->OnDocStart = [this](TFxFaxDriverInterface& sender) {
            sender.FileName = Root() + "/SEND/FAX00000.APF";
            std::ofstream(sender.FileName);
        };
        channel_->OnDocEnd = [this](TFxFaxDriverInterface&) { ++ends_; };
    }
    void TearDown() override
    {
        for (QProcess* process : {&backend_, &znptf_})
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(10000);
            }
        channel_.reset();
    }
    // Starts the real znptf with its channel in the folder "znptf-run"; true once it serves.
    bool StartZnptf()
    {
        QDir().mkpath(QString::fromStdString(Root() + "/znptf-run"));
        ::chmod((Root() + "/znptf-run").c_str(), 0700);
        QDir().mkpath(QString::fromStdString(Root() + "/win"));
        std::ofstream(Root() + "/win/ZNPD.INI") << "[Location]\nZNOutPath=" << Root() << "/SEND\nZNExecutable=/bin/true\n";
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ZN_HOME", QString::fromStdString(Root()));
        environment.insert("ZN_WINDIR", QString::fromStdString(Root() + "/win"));
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(Root() + "/znptf-run"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        znptf_.setProcessEnvironment(environment);
        znptf_.start(ZNPTF_PROGRAM, {});
        if (!znptf_.waitForStarted())
            return false;
        const std::string path = Root() + "/znptf-run/FxFaxCnv";
        return PumpUntil([&] {
            const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
            const bool serving = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            ::close(fd);
            return serving;
        }, 30000);
    }
    // Starts the backend for a job of this user read from standard input, which stays open.
    void StartJob(const char* channelFolder = "run")
    {
        StartBackend(backend_, channelFolder, {});
        ASSERT_TRUE(backend_.waitForStarted());
        backend_.write("%!PS\n/Helvetica findfont 20 scalefont setfont\n72 700 moveto (Half a job) show\n");
    }
    // A job read from the file, or from standard input when none is given.
    void StartBackend(QProcess& process, const char* channelFolder, const QString& file)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ZN_FAX_CHANNEL_DIR", QString::fromStdString(Root() + "/" + channelFolder));
        environment.insert("TMPDIR", QString::fromStdString(Root() + "/tmp"));
        process.setProcessEnvironment(environment);
        QStringList arguments{"7", QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name), "letter", "1", ""};
        if (!file.isEmpty())
            arguments << file;
        process.start(TARVELFAX_BACKEND, arguments);
    }
    bool Finished() { return backend_.state() == QProcess::NotRunning || backend_.waitForFinished(30000); }
    QStringList Files(const char* folder) const
    {
        return QDir(QString::fromStdString(Root() + "/" + folder)).entryList(QDir::Files);
    }
    std::string Root() const { return root_.path().toStdString(); }

    QTemporaryDir root_{QDir::tempPath() + "/zn-backend-XXXXXX"};
    std::unique_ptr<TFxFaxDriverInterface> channel_;
    QProcess backend_;
    QProcess znptf_;
    int ends_ = 0;
};

TEST_F(TarvelfaxBackend, AJobCancelledWhileItIsReadLeavesNoFaxFileAndNoSpooledCopy)
{
    StartJob();
    // The name is taken and the job's first bytes are spooled: the backend waits for the rest.
    ASSERT_TRUE(PumpUntil([&] { return Files("SEND").size() == 1 && Files("tmp").size() == 1; }, 30000))
        << backend_.readAllStandardError().toStdString();
    // CUPS cancels a job with SIGTERM.
    backend_.terminate();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(backend_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(backend_.exitCode(), 5); // cancelled; the printer goes on taking jobs
    EXPECT_TRUE(Files("SEND").isEmpty()) << Files("SEND").join(' ').toStdString();
    EXPECT_TRUE(Files("tmp").isEmpty()) << Files("tmp").join(' ').toStdString();
    EXPECT_EQ(ends_, 0);
}

TEST_F(TarvelfaxBackend, AJobThatEndsIsAnnouncedAndItsFaxStays)
{
    if (!QFile::exists("/usr/bin/gs"))
        GTEST_SKIP() << "gs is not installed";
    StartJob();
    backend_.write("showpage\n");
    backend_.closeWriteChannel();
    ASSERT_TRUE(PumpUntil([&] { return ends_ == 1; }, 60000)) << backend_.readAllStandardError().toStdString();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(backend_.exitCode(), 0);
    EXPECT_EQ(Files("SEND"), QStringList{"FAX00000.APF"});
    EXPECT_GT(QFileInfo(QString::fromStdString(Root() + "/SEND/FAX00000.APF")).size(), 128);
    EXPECT_TRUE(Files("tmp").isEmpty());
}

TEST_F(TarvelfaxBackend, AJobWhoseZnptfWasStartedAgainMeanwhileIsCancelledNotHandedToTheNewOne)
{
    ASSERT_TRUE(StartZnptf());
    StartJob("znptf-run");
    ASSERT_TRUE(PumpUntil([&] { return Files("SEND").size() == 1 && Files("tmp").size() == 1; }, 30000))
        << backend_.readAllStandardError().toStdString();
    // znptf ends without a word and is started again while the job is still being read.
    znptf_.kill();
    ASSERT_TRUE(znptf_.waitForFinished(10000));
    ASSERT_TRUE(StartZnptf());
    backend_.write("showpage\n");
    backend_.closeWriteChannel();
    ASSERT_TRUE(PumpUntil([&] { return backend_.state() == QProcess::NotRunning; }, 60000));
    const std::string log = backend_.readAllStandardError().toStdString();
    EXPECT_EQ(backend_.exitCode(), 5) << log;
    EXPECT_NE(log.find("ERROR: Tarvel Print To Fax (znptf) was started again while the fax was being made."),
              std::string::npos)
        << log;
    EXPECT_TRUE(Files("SEND").isEmpty()) << Files("SEND").join(' ').toStdString();
    EXPECT_TRUE(Files("tmp").isEmpty());
}

TEST_F(TarvelfaxBackend, TwoJobsAtOnceFromTwoQueuesTakeTheChannelOneAfterTheOther)
{
    // What znptf sees: each start names the next fax; each end is taken for the fax named last.
    std::vector<std::string> events;
    channel_->OnDocStart = [&](TFxFaxDriverInterface& sender) {
        sender.FileName = Root() + "/SEND/FAX0000" + std::to_string(events.size() / 2) + ".APF";
        events.push_back("start " + sender.FileName.substr(sender.FileName.size() - 12));
    };
    channel_->OnDocEnd = [&](TFxFaxDriverInterface& sender) {
        events.push_back("end " + sender.FileName.substr(sender.FileName.size() - 12));
    };
    StartJob();
    ASSERT_TRUE(PumpUntil([&] { return events.size() == 1 && Files("tmp").size() == 1; }, 30000));
    // A second printer of the same backend takes a whole document while the first job is read.
    std::ofstream(Root() + "/other.ps") << "%!PS\n/Helvetica findfont 20 scalefont setfont\n72 700 moveto "
                                           "(Other job) show\nshowpage\n";
    QProcess other;
    StartBackend(other, "run", QString::fromStdString(Root() + "/other.ps"));
    QByteArray otherLog;
    ASSERT_TRUE(PumpUntil([&] {
        otherLog += other.readAllStandardError();
        return otherLog.contains("INFO: Waiting for the fax of another print job to be made")
               || other.state() == QProcess::NotRunning;
    }, 60000));
    backend_.write("showpage\n");
    backend_.closeWriteChannel();
    ASSERT_TRUE(PumpUntil([&] {
        return backend_.state() == QProcess::NotRunning && other.state() == QProcess::NotRunning && events.size() >= 4;
    }, 60000));
    EXPECT_EQ(backend_.exitCode(), 0);
    EXPECT_EQ(other.exitCode(), 0);
    EXPECT_EQ(events, (std::vector<std::string>{"start FAX00000.APF", "end FAX00000.APF", "start FAX00001.APF",
                                                "end FAX00001.APF"}));
    EXPECT_EQ(Files("SEND").join(' ').toStdString(), "FAX00000.APF FAX00001.APF");
}

TEST_F(TarvelfaxBackend, AJobCancelledWhileItsPagesAreCodedLeavesNoPartOfTheFax)
{
    if (!QFile::exists("/usr/bin/gs"))
        GTEST_SKIP() << "gs is not installed";
    // The document comes through a pipe that stays open after its first page, so ghostscript has
    // drawn that page and waits for more while the fax is being written.
    const std::string fifo = Root() + "/document.ps";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    StartBackend(backend_, "run", QString::fromStdString(fifo));
    ASSERT_TRUE(backend_.waitForStarted());
    // Opened once ghostscript reads it (until then an open without waiting fails). Ghostscript
    // reads in large blocks: a long comment after the first page makes it take that page at once.
    int document = -1;
    ASSERT_TRUE(PumpUntil([&] { return (document = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; },
                          30000));
    const std::string firstPage = "%!PS\n/Helvetica findfont 20 scalefont setfont\n72 700 moveto (Page one) show\n"
                                  "showpage\n%"
                                  + std::string(65536, ' ') + "\n72 700 moveto (Page two) show\n";
    ::fcntl(document, F_SETFL, 0);
    ASSERT_EQ(::write(document, firstPage.data(), firstPage.size()), ssize_t(firstPage.size()));
    // The fax file is being written (aside, under a temporary name).
    ASSERT_TRUE(PumpUntil([&] { return Files("SEND").size() == 2; }, 30000))
        << Files("SEND").join(' ').toStdString() << backend_.readAllStandardError().toStdString();
    backend_.terminate();
    ASSERT_TRUE(Finished());
    ::close(document);
    EXPECT_EQ(backend_.exitCode(), 5);
    EXPECT_TRUE(Files("SEND").isEmpty()) << Files("SEND").join(' ').toStdString();
    EXPECT_EQ(ends_, 0);
}

} // namespace
} // namespace zn::ptf
