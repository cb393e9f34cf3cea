// Printing to the "Tarvel Fax" printer for real: a cupsd of the test's own (configuration and spool
// in a temporary folder) with our backend, `lp` of a two-page PDF, and znptf's main form answering
// the driver in this process. The fax pages are compared with ghostscript's own rasterisation of the
// same PDF, read back through netpbm and libtiff.
#include "ptf/main_form.h"
#include "ptf/tests/private_cups.h"
#include "ptf/tests/test_desktop.h"
#include "ptf/tests/test_users.h"

#include "faxline_harness.h"

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
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

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

// Whether a Unix socket serves.
bool Serving(const std::string& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool serving = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return serving;
}

uid_t OwnerOf(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_uid : uid_t(-1);
}

// The bounding box of a page's black pixels.
struct Ink {
    int left = -1, top = -1, right = -1, bottom = -1;
};
Ink InkOf(const Bitmap& page)
{
    Ink ink;
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x)
            if (page.Black(x, y)) {
                if (ink.left < 0 || x < ink.left)
                    ink.left = x;
                if (ink.top < 0)
                    ink.top = y;
                ink.right = std::max(ink.right, x);
                ink.bottom = y;
            }
    return ink;
}

// Sends a fax image with znfax through the test bed's back-to-back modem pair to efax, the far fax
// machine; "" when efax received every page as it was sent, else what went wrong.
std::string SendToEfax(const std::string& apf)
{
    faxline::TempDir dir;
    // The ports' lock files are named after the links: names of this folder's own.
    const std::string tag = dir.Path().substr(dir.Path().rfind('/') + 1);
    const std::string ours = dir.File(tag + "-a"), theirs = dir.File(tag + "-b");
    auto line = faxline::Line::Start(dir.Path(), {"pair", "--calls", "1", "--speed", "8", ours, theirs});
    if (!line)
        return "the test bed's line did not start";
    auto efax = faxline::StartPeer(dir, "rx", {"efax", "-v", "ewinchm", "-d", theirs, "-o1", "-r", dir.File("rx")});
    QProcess send;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZN_COM7", QString::fromStdString(ours));
    environment.insert("ZN_HOME", QString::fromStdString(dir.Path()));
    environment.insert("ZN_WINDIR", QString::fromStdString(dir.Path()));
    send.setProcessEnvironment(environment);
    send.start(ZNFAX_PROGRAM, {"send", "--port", "COM7", "--class", "1", "--number", "5550100",
                               QString::fromStdString(apf)});
    if (!send.waitForFinished(180000) || send.exitCode() != 0)
        return "znfax send failed: " + send.readAllStandardOutput().toStdString()
               + send.readAllStandardError().toStdString();
    if (efax->Wait(std::chrono::seconds(60)) != 0)
        return "efax did not receive the fax";
    QProcess info;
    info.start(ZNFAX_PROGRAM, {"info", QString::fromStdString(apf)});
    info.waitForFinished(30000);
    const int pages = QString(info.readAllStandardOutput()).section("pages: ", 1).section('\n', 0, 0).toInt();
    if (pages < 1)
        return "the fax has no pages";
    for (int page = 1; page <= pages + 1; ++page) {
        // efax names its pages rx.001, rx.002, ...
        char name[16];
        std::snprintf(name, sizeof name, "rx.%03d", page);
        const auto got = faxline::ReadTiffPages(dir.File(name));
        if (page > pages) {
            if (got)
                return "efax received a page more than was sent";
            break;
        }
        const std::string tif = dir.File("sent.tif");
        QProcess unpack;
        unpack.start(ZNFAX_PROGRAM, {"unpack", "--page", QString::number(page), QString::fromStdString(apf),
                                     QString::fromStdString(tif)});
        unpack.waitForFinished(30000);
        const auto sent = faxline::ReadTiffPages(tif);
        if (!got || got->empty() || !sent || sent->empty())
            return std::string(name) + " is missing";
        const faxline::Bitmap& g = got->front();
        const faxline::Bitmap& want = sent->front();
        if (g.height < want.height || !(g.Rows(g.height - want.height, want.height) == want))
            return "page " + std::to_string(page) + " differs: " + faxline::DescribeDifference(g, want);
    }
    return {};
}

// Printing to the "Tarvel Fax" printer as ordinary users do: a cupsd as CUPS ships it (its folders,
// modes and policies) with the printer installed as the README says, two users each running znptf,
// and jobs sent with `lp` by each of them.
class PrintToFax : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "cupsd runs its backends as root only when it is started by root";
        for (const char* program : {"cupsd", "lp", "lpadmin", "gs", "ps2pdf", "tifftopnm", "useradd"})
            if (!Have(program))
                GTEST_SKIP() << program << " is not installed";
        for (const char* name : {"znfaxa", "znfaxb"}) {
            const auto user = test::EnsureTestUser(name);
            if (!user)
                GTEST_SKIP() << "the test user " << name << " cannot be made";
            users_.push_back(*user);
        }
        ASSERT_TRUE(root_.isValid());
        root_.setAutoRemove(true);
        ::chmod(Root().c_str(), 0755);
        QDir().mkpath(QString::fromStdString(Root() + "/run"));
        for (const test::TestUser& user : users_) {
            const std::string mine = Root() + "/" + user.name;
            for (const char* folder : {"home/SEND", "win"})
                QDir().mkpath(QString::fromStdString(mine + "/" + folder));
            std::ofstream(mine + "/win/ZNPD.INI")
                << "[Location]\nZNOutPath=" << mine << "/home/SEND\nZNExecutable=/bin/true\n";
            const std::string run = RunFolder(user);
            QDir().mkpath(QString::fromStdString(run));
            for (const std::string& path : {mine, mine + "/home", mine + "/home/SEND", mine + "/win",
                                            mine + "/win/ZNPD.INI", run})
                ASSERT_EQ(::chown(path.c_str(), user.uid, user.gid), 0) << path;
            ::chmod(mine.c_str(), 0700);
            ::chmod(run.c_str(), 0700);
        }
        // The scheduler finds each user's channel in a folder of its own; a drawing bound the
        // test can wait for.
        cups_ = std::make_unique<test::PrivateCups>(
            Root(), "SetEnv ZN_FAX_CHANNEL_DIR " + Root() + "/run\nSetEnv TARVELFAX_TIME_LIMIT 10\n");
        ASSERT_TRUE(cups_->AddBackend(TARVELFAX_BACKEND, "tarvelfax"));
        ASSERT_TRUE(cups_->Start()) << cups_->LoggedErrors();
        ASSERT_TRUE(cups_->AddPrinter("TarvelFax", "tarvelfax:/", TARVELFAX_PPD, "Tarvel Fax",
                                      {"-o", "printer-op-policy=authenticated"}))
            << cups_->LastError();

        // Two pages with a known text and a rule, as A4; a page of plain text.
        std::ofstream(Root() + "/doc.ps")
            << "%!PS\n/Helvetica-Bold findfont 40 scalefont setfont\n"
               "72 700 moveto (Tarvel page ONE) show\n4 setlinewidth 72 100 moveto 520 100 lineto stroke\nshowpage\n"
               "72 600 moveto (Second page TWO) show\nshowpage\n";
        RunCommand("ps2pdf",
                   {"-sPAPERSIZE=a4", QString::fromStdString(Root() + "/doc.ps"), QString::fromStdString(Pdf())});
        std::ofstream(Text()) << "Dear reader,\nthis line starts where a text printer starts its lines.\n";
        std::ofstream(Forever()) << "%!PS\n{} loop\n";
        for (const std::string& path : {Root() + "/doc.ps", Pdf(), Text(), Forever()})
            ::chmod(path.c_str(), 0644);
    }
    void TearDown() override
    {
        for (auto& znptf : znptf_)
            if (znptf->state() != QProcess::NotRunning) {
                znptf->kill();
                znptf->waitForFinished(10000);
            }
        // The desktop last: its programs before its window manager and its display.
        for (auto& program : programs_)
            if (program->state() != QProcess::NotRunning) {
                program->kill();
                program->waitForFinished(10000);
            }
        desktop_.reset();
        cups_.reset();
    }
    std::string Root() const { return root_.path().toStdString(); }
    std::string RunFolder(const test::TestUser& user) const { return Root() + "/run/" + std::to_string(user.uid); }
    std::string Send(const test::TestUser& user) const { return Root() + "/" + user.name + "/home/SEND"; }
    QStringList SendFiles(const test::TestUser& user) const
    {
        return QDir(QString::fromStdString(Send(user))).entryList(QDir::Files, QDir::Name);
    }
    std::string Pdf() const { return Root() + "/doc.pdf"; }
    std::string Text() const { return Root() + "/letter.txt"; }
    // A PostScript job that never ends.
    std::string Forever() const { return Root() + "/forever.ps"; }
    std::string JobLog() const { return cups_->LoggedErrors(); }

    // The environment of the user's programs: their program folder, their runtime folder, and
    // their desktop when they have one, else no screen at all.
    QProcessEnvironment UserEnvironment(const test::TestUser& user) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const std::string mine = Root() + "/" + user.name;
        environment.insert("ZN_HOME", QString::fromStdString(mine + "/home"));
        environment.insert("ZN_WINDIR", QString::fromStdString(mine + "/win"));
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(RunFolder(user)));
        if (desktop_)
            return desktop_->Environment(environment);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        return environment;
    }
    // The user's desktop: an X display of their own with openbox; false when it did not come up.
    bool StartDesktop(const test::TestUser& user)
    {
        desktop_ = std::make_unique<test::TestDesktop>(user.home, &user);
        return desktop_->Ready();
    }
    // The user's own zn, started on their desktop; serving once it has told znptf where it is.
    bool StartZn(const test::TestUser& user)
    {
        auto zn = std::make_unique<QProcess>();
        test::StartAs(*zn, user, UserEnvironment(user), QString::fromStdString(Reachable(ZN_PROGRAM)), {});
        if (!zn->waitForStarted())
            return false;
        programs_.push_back(std::move(zn));
        const std::string znpd = Root() + "/" + user.name + "/win/ZNPD.INI";
        return PumpUntil([&] { return platform::IniFile(znpd).ReadString("Location", "ZNExecutable", "") != "/bin/true"; },
                         30000);
    }
    // A program of the build tree where the test users reach it.
    std::string Reachable(const std::string& program)
    {
        QDir().mkpath(QString::fromStdString(Root() + "/programs"));
        return test::ReachableProgram(program, Root() + "/programs");
    }

    // The user's own znptf (on their desktop, else offscreen), serving once this returns true.
    bool StartZnptf(const test::TestUser& user)
    {
        auto znptf = std::make_unique<QProcess>();
        const QProcessEnvironment environment = UserEnvironment(user);
        test::StartAs(*znptf, user, environment, QString::fromStdString(Reachable(ZNPTF_PROGRAM)), {});
        if (!znptf->waitForStarted())
            return false;
        znptf_.push_back(std::move(znptf));
        return PumpUntil([&] { return Serving(RunFolder(user) + "/FxFaxCnv"); }, 30000);
    }
    // `lp` run by the user; false when lp refused the job.
    bool Lp(const test::TestUser& user, const QStringList& arguments)
    {
        return cups_->Run("lp", QStringList{"-d", "TarvelFax"} + arguments, nullptr, &user);
    }
    // What `lpstat -l -p` says of the printer: what every user's print dialog shows.
    std::string PrinterStatus()
    {
        QByteArray status;
        EXPECT_TRUE(cups_->Run("lpstat", {"-l", "-p", "TarvelFax"}, &status)) << cups_->LastError();
        return status.toStdString();
    }
    // What `lpstat -l` says of the finished jobs: each job's own status.
    std::string FinishedJobs()
    {
        QByteArray jobs;
        EXPECT_TRUE(cups_->Run("lpstat", {"-W", "completed", "-l", "-o", "TarvelFax"}, &jobs)) << cups_->LastError();
        return jobs.toStdString();
    }
    // Jobs still queued or printing.
    bool Idle()
    {
        QByteArray jobs;
        return cups_->Run("lpstat", {"-o"}, &jobs) && jobs.trimmed().isEmpty();
    }
    // The fax page (1-based) of an image, as a bitmap.
    Bitmap FaxPage(const std::string& apf, int page)
    {
        const QString tif = QString::fromStdString(Root() + "/page.tif");
        QProcess unpack;
        unpack.start(ZNFAX_PROGRAM, {"unpack", "--page", QString::number(page), QString::fromStdString(apf), tif});
        EXPECT_TRUE(unpack.waitForFinished(30000) && unpack.exitCode() == 0)
            << unpack.readAllStandardError().toStdString();
        return ReadPbm(RunCommand("tifftopnm", {tif}));
    }

    QTemporaryDir root_{QDir::tempPath() + "/zn-cups-XXXXXX"};
    std::vector<test::TestUser> users_;
    std::unique_ptr<test::PrivateCups> cups_;
    std::vector<std::unique_ptr<QProcess>> znptf_;
    // The user's desktop (none: no screen at all) and the programs on it besides znptf.
    std::unique_ptr<test::TestDesktop> desktop_;
    std::vector<std::unique_ptr<QProcess>> programs_;
};

TEST_F(PrintToFax, TwoUsersPrintAPdfAndATextFileAndEachFaxReachesOnlyItsOwnersZnptf)
{
    const test::TestUser& ann = users_[0];
    const test::TestUser& bob = users_[1];
    ASSERT_TRUE(StartZnptf(ann));
    ASSERT_TRUE(StartZnptf(bob));
    // One job of each user at a time: each job's dialog then waits on its owner's desktop.
    ASSERT_TRUE(Lp(ann, {"-t", "two-pages.pdf", QString::fromStdString(Pdf())})) << cups_->LastError();
    ASSERT_TRUE(Lp(bob, {"-t", "letter.txt", QString::fromStdString(Text())})) << cups_->LastError();
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 90000)) << JobLog();
    EXPECT_EQ(JobLog(), "");
    EXPECT_EQ(SendFiles(ann).filter(".APF").join(' ').toStdString(), "FAX00000.APF");
    EXPECT_EQ(SendFiles(bob).filter(".APF").join(' ').toStdString(), "FAX00000.APF");
    // The faxes are their owners' files, made by their owners' processes.
    EXPECT_EQ(OwnerOf(Send(ann) + "/FAX00000.APF"), ann.uid);
    EXPECT_EQ(OwnerOf(Send(bob) + "/FAX00000.APF"), bob.uid);
    // Both dialogs are open: ended by a logout, each znptf keeps what its dialog shows as a fax of
    // its own user, for zn to list.
    for (auto& znptf : znptf_) {
        znptf->terminate();
        ASSERT_TRUE(znptf->waitForFinished(20000));
    }
    EXPECT_EQ(SendFiles(ann).join(' ').toStdString(), "FAX00000.APF FAX00000.JFD");
    EXPECT_EQ(SendFiles(bob).join(' ').toStdString(), "FAX00000.APF FAX00000.JFD");

    // Ann's fax: two fine pages, each the PDF's page as ghostscript draws it, on the fax's
    // 1728-pixel row, its ink on the page clear of the edges a fax machine loses.
    const std::string apf = Send(ann) + "/FAX00000.APF";
    QProcess info;
    info.start(ZNFAX_PROGRAM, {"info", QString::fromStdString(apf)});
    ASSERT_TRUE(info.waitForFinished(30000));
    const QString pages = info.readAllStandardOutput();
    EXPECT_TRUE(pages.contains("pages: 2")) << pages.toStdString();
    EXPECT_EQ(pages.count("high resolution, 1728 pixels"), 2) << pages.toStdString();
    for (int page = 1; page <= 2; ++page) {
        const Bitmap fax = FaxPage(apf, page);
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

    // Bob's text: drawn inside the page's margins (a quarter inch: 51 pixels across beside the
    // A4 page's 21-pixel edge on the fax row, 49 rows down), not from the paper's very edge.
    const Bitmap letter = FaxPage(Send(bob) + "/FAX00000.APF", 1);
    ASSERT_EQ(letter.width, 1728);
    const Ink ink = InkOf(letter);
    std::printf("text ink from (%d, %d) to (%d, %d)\n", ink.left, ink.top, ink.right, ink.bottom);
    ASSERT_GE(ink.left, 0) << "the page is blank";
    EXPECT_GE(ink.left, 21 + 51);
    EXPECT_GE(ink.top, 49);
    EXPECT_LE(ink.right, 1728 - 21 - 51);

    // Both faxes go out to a far fax machine as they were made.
    if (!Have("efax"))
        GTEST_SKIP() << "efax is not installed";
    for (const test::TestUser& user : users_)
        EXPECT_EQ(SendToEfax(Send(user) + "/FAX00000.APF"), "") << user.name;
}

// Jobs as their user lives them: printed with `lp` on their desktop (openbox), answered in the job
// dialog from the keyboard, handed to zn with "Switch to Tarvel now?", and listed by zn as rows of
// its outgoing table, read back with dbfread. Two jobs printed at once are asked one at a time, the
// older first, while the printer goes on.
TEST_F(PrintToFax, PrintedJobsGoOneAtATimeThroughTheJobDialogIntoRowsOfZnsOutgoingList)
{
    const test::TestUser& ann = users_[0];
    if (!StartDesktop(ann) && desktop_->Missing())
        GTEST_SKIP() << desktop_->Missing() << " is not installed";
    ASSERT_TRUE(desktop_->Ready());
    // zn first, as the user starts it: it tells znptf where the send folder and zn itself are.
    ASSERT_TRUE(StartZn(ann));
    ASSERT_TRUE(StartZnptf(ann));
    ASSERT_TRUE(Lp(ann, {"-t", "Quarterly offer", QString::fromStdString(Pdf())})) << cups_->LastError();
    ASSERT_TRUE(Lp(ann, {"-t", "letter", QString::fromStdString(Text())})) << cups_->LastError();
    // Both faxes are made while nobody has answered yet: the printer did not wait for the user.
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 90000)) << JobLog();
    ASSERT_TRUE(PumpUntil([&] { return SendFiles(ann).filter(".PTF").size() == 2; }, 10000))
        << SendFiles(ann).join(' ').toStdString();
    const QString dialogTitle = "^Tarvel NT Print To Fax$";
    const struct Answer {
        const char *phone, *recipient, *subject;
    } answers[] = {{"555-0100", "Ann Example", "Offer for Q3"}, {"555-0199", "Bob Reader", "Letter"}};
    for (const Answer& answer : answers) {
        ASSERT_TRUE(PumpUntil([&] { return desktop_->Focus(dialogTitle); }, 30000)) << JobLog();
        const QList<QByteArray> shown = desktop_->Shown(dialogTitle);
        EXPECT_EQ(shown.size(), 1) << "job dialogs at once: " << shown.join(' ').toStdString();
        // The dialog's first field is the number; Tab goes on to the recipient and the subject, and
        // Return is Ok.
        for (const QStringList& keys : {QStringList{"type", "--delay", "30", answer.phone}, {"key", "Tab"},
                                        {"type", "--delay", "30", answer.recipient}, {"key", "Tab"},
                                        {"type", "--delay", "30", answer.subject}, {"key", "Return"}})
            ASSERT_TRUE(desktop_->Xdotool(keys)) << keys.join(' ').toStdString();
        // "Switch to Tarvel now?" with Yes first: zn comes to the front and takes the job up.
        ASSERT_TRUE(PumpUntil([&] { return desktop_->Focus("^FAX CREATED$"); }, 30000));
        ASSERT_TRUE(desktop_->Xdotool({"key", "Return"}));
        ASSERT_TRUE(PumpUntil([&] { return !desktop_->Focus("^FAX CREATED$"); }, 30000));
    }

    const std::string table = Root() + "/" + ann.name + "/home/ZNOUT.DBF";
    const auto rows = [&] {
        QProcess dbf;
        dbf.start("/usr/bin/python3",
                  {"-c", "import sys, dbfread\n"
                         "for r in dbfread.DBF(sys.argv[1], char_decode_errors='replace'):\n"
                         "    print('|'.join(r[f] for f in ('FAXDOC', 'PHONE', 'RECIPIENT', 'SUBJECT')))\n",
                   QString::fromStdString(table)});
        dbf.waitForFinished(30000);
        return dbf.exitCode() == 0 ? QString(dbf.readAllStandardOutput()) : QString();
    };
    ASSERT_TRUE(PumpUntil([&] { return rows().count('\n') == 2; }, 30000))
        << rows().toStdString() << SendFiles(ann).join(' ').toStdString();
    // The older job, the PDF, got the first answer.
    EXPECT_EQ(rows().toStdString(), "FAX00000.APF|555-0100|Ann Example|Offer for Q3\n"
                                    "FAX00001.APF|555-0199|Bob Reader|Letter\n");
    // Taken up: the job files are gone, the faxes stay for sending, the user's own.
    EXPECT_EQ(SendFiles(ann).join(' ').toStdString(), "FAX00000.APF FAX00001.APF");
    EXPECT_EQ(OwnerOf(Send(ann) + "/FAX00000.APF"), ann.uid);
    EXPECT_EQ(JobLog(), "");
    // The PDF's fax has its two pages.
    QProcess info;
    info.start(ZNFAX_PROGRAM, {"info", QString::fromStdString(Send(ann) + "/FAX00000.APF")});
    ASSERT_TRUE(info.waitForFinished(30000));
    EXPECT_TRUE(QString(info.readAllStandardOutput()).contains("pages: 2"));
}

TEST_F(PrintToFax, AJobClaimingAnotherUserOrSentByRootOrUnauthenticatedIsRefusedAndTouchesNoFiles)
{
    const test::TestUser& ann = users_[0];
    const test::TestUser& bob = users_[1];
    ASSERT_TRUE(StartZnptf(ann));
    ASSERT_TRUE(StartZnptf(bob));
    // Ann claims to be Bob: CUPS checks who she is and takes no such job.
    EXPECT_FALSE(Lp(ann, {"-U", bob.name.c_str(), QString::fromStdString(Text())}));
    // Root's job is taken by CUPS but not faxed: no user's desktop gets it.
    ASSERT_TRUE(cups_->Run("lp", {"-d", "TarvelFax", QString::fromStdString(Text())})) << cups_->LastError();
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 60000)) << JobLog();
    EXPECT_NE(JobLog().find("Jobs of root are not faxed"), std::string::npos) << JobLog();
    // The reason is the job's, not the state of the printer that every user sees.
    EXPECT_NE(FinishedJobs().find("Status: Jobs of root are not faxed"), std::string::npos) << FinishedJobs();
    EXPECT_EQ(PrinterStatus().find("Jobs of root"), std::string::npos) << PrinterStatus();
    // A queue whose policy lets anybody claim any name: the backend does not take the claim.
    ASSERT_TRUE(cups_->AddPrinter("Open", "tarvelfax:/", TARVELFAX_PPD, "Tarvel Fax")) << cups_->LastError();
    ASSERT_TRUE(cups_->Run("lp", {"-d", "Open", "-U", bob.name.c_str(), QString::fromStdString(Text())}, nullptr, &ann))
        << cups_->LastError();
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 60000)) << JobLog();
    EXPECT_NE(JobLog().find("was not authenticated by CUPS"), std::string::npos) << JobLog();
    for (const test::TestUser& user : users_)
        EXPECT_TRUE(SendFiles(user).isEmpty()) << user.name << ": " << SendFiles(user).join(' ').toStdString();
    // The printer keeps taking jobs: the jobs were cancelled, the queue not stopped.
    QByteArray status;
    EXPECT_TRUE(cups_->Run("lpstat", {"-p", "TarvelFax"}, &status));
    EXPECT_TRUE(status.contains("enabled")) << status.toStdString();
}

TEST_F(PrintToFax, ANeverEndingPostScriptJobFailsWithinTheBoundAndTheNextJobPrints)
{
    const test::TestUser& ann = users_[0];
    ASSERT_TRUE(StartZnptf(ann));
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(Lp(ann, {"-o", "raw", QString::fromStdString(Forever())})) << cups_->LastError();
    ASSERT_TRUE(Lp(ann, {"-t", "letter.txt", QString::fromStdString(Text())})) << cups_->LastError();
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 120000)) << JobLog();
    std::printf("both jobs done after %lld ms\n", static_cast<long long>(took.elapsed()));
    EXPECT_NE(JobLog().find("The document was still being drawn after 10 seconds, so it was not faxed."),
              std::string::npos)
        << JobLog();
    // The endless job left nothing; the next one is the user's fax.
    EXPECT_EQ(SendFiles(ann).filter(".APF").join(' ').toStdString(), "FAX00000.APF");
    EXPECT_GT(QFileInfo(QString::fromStdString(Send(ann) + "/FAX00000.APF")).size(), 128);
    EXPECT_TRUE(QDir(QString::fromStdString(cups_->SpoolTemporaries())).entryList(QDir::Files).isEmpty());
}

TEST_F(PrintToFax, AJobCancelledByItsOwnerWhileItIsDrawnLeavesNothingBehind)
{
    const test::TestUser& ann = users_[0];
    ASSERT_TRUE(StartZnptf(ann));
    QByteArray request;
    ASSERT_TRUE(cups_->Run("lp", {"-d", "TarvelFax", "-o", "raw", QString::fromStdString(Forever())},
                           &request, &ann))
        << cups_->LastError();
    const QString job = QString(request).section("request id is ", 1).section(' ', 0, 0);
    ASSERT_FALSE(job.isEmpty()) << request.toStdString();
    // znptf has named the fax and marked the job: the backend is at work.
    ASSERT_TRUE(PumpUntil([&] { return SendFiles(ann).join(' ') == "FAX00000.APF FAX00000.PTF"; }, 30000))
        << SendFiles(ann).join(' ').toStdString();
    ASSERT_TRUE(cups_->Run("cancel", {job}, nullptr, &ann)) << cups_->LastError();
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 30000)) << JobLog();
    EXPECT_TRUE(PumpUntil([&] { return SendFiles(ann).isEmpty(); }, 5000)) << SendFiles(ann).join(' ').toStdString();
    EXPECT_TRUE(QDir(QString::fromStdString(cups_->SpoolTemporaries())).entryList(QDir::Files).isEmpty());
}

TEST_F(PrintToFax, AJobWithoutARunningControllerFailsWithAClearMessageAndLeavesNoFile)
{
    const test::TestUser& ann = users_[0];
    ASSERT_TRUE(Lp(ann, {QString::fromStdString(Pdf())})) << cups_->LastError();
    ASSERT_TRUE(PumpUntil([&] { return JobLog().find("is not running") != std::string::npos; }, 60000)) << JobLog();
    EXPECT_NE(JobLog().find("Tarvel Print To Fax (znptf) is not running for the user \\\"znfaxa\\\""),
              std::string::npos)
        << JobLog();
    // Another user's print dialog does not show the user's name and trouble as the printer's state.
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 30000));
    EXPECT_NE(FinishedJobs().find("Status: Tarvel Print To Fax (znptf) is not running for the user \"znfaxa\""),
              std::string::npos)
        << FinishedJobs();
    EXPECT_EQ(PrinterStatus().find("znfaxa"), std::string::npos) << PrinterStatus();
    EXPECT_TRUE(SendFiles(ann).isEmpty());
    // The printer keeps taking jobs: the job was cancelled, the queue not stopped.
    QByteArray status;
    EXPECT_TRUE(cups_->Run("lpstat", {"-p", "TarvelFax"}, &status));
    EXPECT_TRUE(status.contains("enabled")) << status.toStdString();
}

// cupsd takes "PPD:", "ATTR:" and "STATE:" lines of a backend's standard error as orders for the
// queue. A user's document can make ghostscript write any text there (%stderr, even under -dSAFER):
// it must change nothing of the printer that all users share.
TEST_F(PrintToFax, WhatADocumentWritesToItsErrorOutputChangesNothingOfTheQueue)
{
    const test::TestUser& ann = users_[0];
    ASSERT_TRUE(StartZnptf(ann));
    const std::string ps = Root() + "/orders.ps";
    std::ofstream(ps) << "%!PS\n/err (%stderr) (w) file def\n"
                         "err (\\nPPD: DefaultPageSize=GSINJ\\nATTR: printer-alert-description=GSINJ\\n"
                         "STATE: +toner-empty-error\\n) writestring err flushfile\n"
                         "/Helvetica findfont 20 scalefont setfont 72 700 moveto (Orders) show showpage\n";
    ::chmod(ps.c_str(), 0644);
    const std::string ppd = Root() + "/conf/ppd/TarvelFax.ppd";
    const auto defaultPageSize = [&] {
        std::ifstream in(ppd);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("*DefaultPageSize:", 0) == 0)
                return line;
        return std::string("no *DefaultPageSize in ") + ppd;
    };
    ASSERT_EQ(defaultPageSize(), "*DefaultPageSize: A4");
    ASSERT_TRUE(Lp(ann, {QString::fromStdString(ps)})) << cups_->LastError();
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 60000)) << JobLog();
    // The document was drawn (so its orders were written) and became the user's fax.
    EXPECT_EQ(JobLog(), "");
    EXPECT_EQ(SendFiles(ann).filter(".APF").join(' ').toStdString(), "FAX00000.APF");
    EXPECT_EQ(defaultPageSize(), "*DefaultPageSize: A4");
    const std::string status = PrinterStatus();
    EXPECT_EQ(status.find("GSINJ"), std::string::npos) << status;
    EXPECT_EQ(status.find("toner"), std::string::npos) << status;
    EXPECT_NE(status.find("Alerts: none"), std::string::npos) << status;
}

// A user who holds their own fax channel (the lock of their conversions) and prints holds the
// printer only for a bounded time: CUPS runs one job of a printer at a time, and the next user's
// job is faxed within two minutes.
TEST_F(PrintToFax, AUserHoldingTheirOwnChannelDoesNotHoldTheNextUsersJob)
{
    const test::TestUser& ann = users_[0];
    const test::TestUser& bob = users_[1];
    ASSERT_TRUE(StartZnptf(ann));
    ASSERT_TRUE(StartZnptf(bob));
    QProcess holder;
    test::StartAs(holder, ann, cups_->Environment(), "flock",
                  {QString::fromStdString(RunFolder(ann) + "/FxFaxCnv.job"), "sleep", "3600"});
    ASSERT_TRUE(holder.waitForStarted());
    const pid_t holders = pid_t(holder.processId()); // flock and its sleep, a process group of their own
    const auto held = [&] {
        const int lock = ::open((RunFolder(ann) + "/FxFaxCnv.job").c_str(), O_RDONLY | O_CLOEXEC);
        const bool taken = lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) != 0;
        if (lock >= 0)
            ::close(lock);
        return taken;
    };
    ASSERT_TRUE(PumpUntil(held, 10000));
    ASSERT_TRUE(Lp(ann, {"-t", "held", QString::fromStdString(Text())})) << cups_->LastError();
    ASSERT_TRUE(Lp(bob, {"-t", "letter.txt", QString::fromStdString(Text())})) << cups_->LastError();
    const bool done = PumpUntil([&] { return Idle(); }, 120000);
    ::kill(-holders, SIGKILL);
    holder.waitForFinished(10000);
    ASSERT_TRUE(done) << JobLog();
    EXPECT_EQ(SendFiles(bob).filter(".APF").join(' ').toStdString(), "FAX00000.APF");
    EXPECT_TRUE(SendFiles(ann).isEmpty()) << SendFiles(ann).join(' ').toStdString();
    EXPECT_NE(JobLog().find("Another print job of the user \\\"znfaxa\\\" was still being made into a fax after 60 "
                            "seconds, so this document was not faxed."),
              std::string::npos)
        << JobLog();
}

// The backend on its own, as CUPS starts it for a job read from standard input, against the channel
// served in this process.
// The backend runs as an ordinary user: when the test runs as root it acts as a test user.
class TarvelfaxBackend : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        if (::geteuid() == 0) {
            const auto user = test::EnsureTestUser("znfaxa");
            if (!user)
                GTEST_SKIP() << "the test user znfaxa cannot be made";
            ASSERT_EQ(::chown(Root().c_str(), user->uid, user->gid), 0);
            // The user runs the programs from a folder of the test's: the build tree may be out of
            // their reach.
            QDir().mkpath(QString::fromStdString(Root() + "/programs"));
            znptfProgram_ = test::ReachableProgram(ZNPTF_PROGRAM, Root() + "/programs");
            backendProgram_ = test::ReachableProgram(TARVELFAX_BACKEND, Root() + "/programs");
            ASSERT_FALSE(znptfProgram_.empty() || backendProgram_.empty());
            acting_ = std::make_unique<test::ActingAs>(*user);
            ASSERT_TRUE(acting_->Acting());
        }
        for (const char* folder : {"SEND", "tmp"})
            QDir().mkpath(QString::fromStdString(Root() + "/" + folder));
        QDir().mkpath(QString::fromStdString(Channels("run")));
        ::chmod(Channels("run").c_str(), 0700);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(Channels("run")));
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
        acting_.reset();
    }
    // The channel folder of this user under a folder of channel folders.
    std::string Channels(const char* folder) const { return Root() + "/" + folder + "/" + std::to_string(::getuid()); }
    // Starts the real znptf with its channel in the folder "znptf-run"; true once it serves. Its
    // windows show on the desktop given, else nowhere (offscreen).
    bool StartZnptf(const test::TestDesktop* desktop = nullptr)
    {
        QDir().mkpath(QString::fromStdString(Channels("znptf-run")));
        ::chmod(Channels("znptf-run").c_str(), 0700);
        QDir().mkpath(QString::fromStdString(Root() + "/win"));
        std::ofstream(Root() + "/win/ZNPD.INI") << "[Location]\nZNOutPath=" << Root() << "/SEND\nZNExecutable=/bin/true\n";
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ZN_HOME", QString::fromStdString(Root()));
        environment.insert("ZN_WINDIR", QString::fromStdString(Root() + "/win"));
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(Channels("znptf-run")));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        znptf_.setProcessEnvironment(desktop ? desktop->Environment(environment) : environment);
        znptf_.start(QString::fromStdString(znptfProgram_), {});
        if (!znptf_.waitForStarted())
            return false;
        return PumpUntil([&] { return Serving(Channels("znptf-run") + "/FxFaxCnv"); }, 30000);
    }
    // Starts the backend for a job of this user read from standard input, which stays open.
    void StartJob(const char* channelFolder = "run")
    {
        StartBackend(backend_, channelFolder, {});
        ASSERT_TRUE(backend_.waitForStarted());
        backend_.write("%!PS\n/Helvetica findfont 20 scalefont setfont\n72 700 moveto (Half a job) show\n");
    }
    // A job read from the file, or from standard input when none is given, as CUPS starts it for
    // a job whose submitter it authenticated.
    void StartBackend(QProcess& process, const char* channelFolder, const QString& file)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ZN_FAX_CHANNEL_DIR", QString::fromStdString(Root() + "/" + channelFolder));
        environment.insert("TMPDIR", QString::fromStdString(Root() + "/tmp"));
        environment.insert("AUTH_UID", QString::number(::getuid()));
        process.setProcessEnvironment(environment);
        QStringList arguments{"7", QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name), "letter", "1", ""};
        if (!file.isEmpty())
            arguments << file;
        process.start(QString::fromStdString(backendProgram_), arguments);
    }
    bool Finished() { return backend_.state() == QProcess::NotRunning || backend_.waitForFinished(30000); }
    QStringList Files(const char* folder) const
    {
        return QDir(QString::fromStdString(Root() + "/" + folder)).entryList(QDir::Files);
    }
    std::string Root() const { return root_.path().toStdString(); }

    QTemporaryDir root_{QDir::tempPath() + "/zn-backend-XXXXXX"};
    // Run from the build tree unless the test acts as another user.
    std::string znptfProgram_ = ZNPTF_PROGRAM;
    std::string backendProgram_ = TARVELFAX_BACKEND;
    std::unique_ptr<test::ActingAs> acting_;
    std::unique_ptr<TFxFaxDriverInterface> channel_;
    QProcess backend_;
    QProcess znptf_;
    int ends_ = 0;
};

// cupsd takes every line of the backend's standard error as an order ("PPD:", "ATTR:", "STATE:" change
// the queue for all users). What the job's user controls reaches it only inside a line of the
// backend's own, without line breaks and bounded.
TEST_F(TarvelfaxBackend, NothingTheJobsUserControlsStartsALineOfItsOwnOnTheStatusChannel)
{
    if (!QFile::exists("/usr/bin/gs"))
        GTEST_SKIP() << "gs is not installed";
    const std::string drawn = "/Helvetica findfont 20 scalefont setfont 72 700 moveto (Page) show showpage\n";
    const std::string orders = "err (\\nPPD: DefaultPageSize=GSINJ\\nSTATE: +toner-empty-error\\n) writestring\n";
    struct Case {
        const char* what;
        std::string faxPath; // as the user's channel answers it
        std::string document;
        std::string seen; // the user's text as it must arrive, inside a line of the backend's
    } cases[] = {
        {"a fax path with line breaks", Root() + "/SEND/FAX\nPPD: DefaultPageSize=CHANNEL\n.APF", "%!PS\n" + drawn,
         "INFO: Reading the job for the fax " + Root() + "/SEND/FAXPPD: DefaultPageSize=CHANNEL.APF"},
        {"orders written to %stderr", Root() + "/SEND/FAX00001.APF",
         "%!PS\n/err (%stderr) (w) file def\n" + orders + "err flushfile\n" + drawn,
         "DEBUG: ghostscript: PPD: DefaultPageSize=GSINJ"},
        {"a line of 100000 characters on %stderr", Root() + "/SEND/FAX00002.APF",
         "%!PS\n/err (%stderr) (w) file def\n1 1 2000 { pop err (" + std::string(50, 'X')
             + ") writestring } for\n" + drawn,
         "DEBUG: ghostscript: " + std::string(512 - std::string("ghostscript: ").size(), 'X')},
    };
    for (const Case& c : cases) {
        channel_->OnDocStart = [&](TFxFaxDriverInterface& sender) {
            sender.FileName = c.faxPath;
            std::ofstream(sender.FileName);
        };
        const std::string document = Root() + "/job.ps";
        std::ofstream(document) << c.document;
        QProcess backend;
        StartBackend(backend, "run", QString::fromStdString(document));
        ASSERT_TRUE(PumpUntil([&] { return backend.state() == QProcess::NotRunning; }, 60000)) << c.what;
        EXPECT_EQ(backend.exitCode(), 0) << c.what;
        const QList<QByteArray> lines = backend.readAllStandardError().split('\n');
        bool seen = false;
        for (const QByteArray& line : lines) {
            if (line.isEmpty())
                continue;
            EXPECT_TRUE(line.startsWith("INFO: ") || line.startsWith("DEBUG: ")) << c.what << ": " << line.toStdString();
            EXPECT_LE(line.size(), 600) << c.what;
            seen = seen || line.toStdString() == c.seen;
        }
        EXPECT_TRUE(seen) << c.what << ": " << lines.join('\n').toStdString();
    }
}

// CUPS runs one job of a printer at a time: a job waiting on anything its user controls keeps every
// other user's job waiting. Each such wait ends, and with it the job, with a message saying why.
TEST_F(TarvelfaxBackend, EveryWaitOnWhatTheUserControlsEndsTheJobWithinItsBound)
{
    if (!QFile::exists("/usr/bin/gs"))
        GTEST_SKIP() << "gs is not installed";
    const std::string user = ::getpwuid(::geteuid())->pw_name;
    const std::string notAnswered = "ERROR: Tarvel Print To Fax (znptf) of the user \"" + user
                                    + "\" did not answer within 60 seconds, so the document was not faxed.";
    const std::string document = Root() + "/letter.ps";
    std::ofstream(document) << "%!PS\n/Helvetica findfont 20 scalefont setfont 72 700 moveto (Letter) show showpage\n";
    // A channel of the test's own in a folder of channel folders; its listening socket.
    const auto listening = [&](const char* folder, int backlog) {
        QDir().mkpath(QString::fromStdString(Channels(folder)));
        ::chmod(Channels(folder).c_str(), 0700);
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, (Channels(folder) + "/FxFaxCnv").c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(fd, backlog), 0);
        return fd;
    };
    const auto connectTo = [&](const char* folder) {
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, (Channels(folder) + "/FxFaxCnv").c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    };
    std::vector<int> descriptors;

    // Another job of the user holds the channel's lock and never lets go.
    QDir().mkpath(QString::fromStdString(Channels("held")));
    ::chmod(Channels("held").c_str(), 0700);
    descriptors.push_back(::open((Channels("held") + "/FxFaxCnv.job").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_EQ(::flock(descriptors.back(), LOCK_EX | LOCK_NB), 0);
    // A channel that takes no connection: its one place in the queue is taken.
    descriptors.push_back(listening("full", 0));
    descriptors.push_back(connectTo("full"));
    // A channel that takes the job and never answers it.
    descriptors.push_back(listening("silent", 8));
    // A channel that answers the start, then takes no connection for the end.
    const int endless = listening("endless", 0);
    descriptors.push_back(endless);
    const std::string endlessFax = Root() + "/SEND/FAX00007.APF";
    std::thread answering([&] {
        pollfd p{endless, POLLIN, 0};
        if (::poll(&p, 1, 60000) != 1)
            return;
        const int driver = ::accept4(endless, nullptr, nullptr, SOCK_CLOEXEC);
        ChannelMessage request{};
        if (::recv(driver, request.data(), request.size(), 0) > 0) {
            std::ofstream{endlessFax};
            descriptors.push_back(connectTo("endless"));
            const ChannelMessage answer = MakeChannelMessage(kCodeFileName, endlessFax);
            ::send(driver, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
        ::close(driver);
    });

    struct Case {
        const char* folder;
        std::string why;
        std::unique_ptr<QProcess> backend = std::make_unique<QProcess>();
    } cases[] = {
        {"held", "ERROR: Another print job of the user \"" + user
                     + "\" was still being made into a fax after 60 seconds, so this document was not faxed."},
        {"full", notAnswered},
        {"silent", notAnswered},
        {"endless", "ERROR: Tarvel Print To Fax (znptf) of the user \"" + user
                        + "\" did not take the end of the fax within 10 seconds, so the document was not faxed."},
    };
    for (Case& c : cases)
        StartBackend(*c.backend, c.folder, QString::fromStdString(document));
    const bool ended = PumpUntil([&] {
        return std::all_of(std::begin(cases), std::end(cases),
                           [](const Case& c) { return c.backend->state() == QProcess::NotRunning; });
    }, 90000);
    answering.join();
    for (const int fd : descriptors)
        ::close(fd);
    ASSERT_TRUE(ended);
    for (Case& c : cases) {
        const std::string log = c.backend->readAllStandardError().toStdString();
        EXPECT_EQ(c.backend->exitCode(), 5) << c.folder;
        EXPECT_NE(log.find(c.why), std::string::npos) << c.folder << ": " << log;
    }
    EXPECT_TRUE(Files("SEND").isEmpty()) << Files("SEND").join(' ').toStdString();
}

TEST_F(TarvelfaxBackend, AJobCancelledWhileItIsReadLeavesNoFaxFileAndNoSpooledCopy)
{
    StartJob();
    // The name is taken and the job's first bytes are spooled (in a file without a name): the
    // backend waits for the rest.
    QByteArray log;
    ASSERT_TRUE(PumpUntil([&] { return (log += backend_.readAllStandardError()).contains("INFO: Reading the job"); },
                          30000))
        << log.toStdString();
    ASSERT_EQ(Files("SEND").size(), 1);
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
    // The backend has the fax's name and reads the job.
    QByteArray log;
    ASSERT_TRUE(PumpUntil([&] { return (log += backend_.readAllStandardError()).contains("INFO: Reading the job"); },
                          30000))
        << log.toStdString();
    // znptf ends without a word and is started again while the job is still being read.
    znptf_.kill();
    ASSERT_TRUE(znptf_.waitForFinished(10000));
    ASSERT_TRUE(StartZnptf());
    backend_.write("showpage\n");
    backend_.closeWriteChannel();
    ASSERT_TRUE(PumpUntil([&] { return backend_.state() == QProcess::NotRunning; }, 60000));
    log += backend_.readAllStandardError();
    EXPECT_EQ(backend_.exitCode(), 5) << log.toStdString();
    EXPECT_TRUE(log.contains("ERROR: Tarvel Print To Fax (znptf) was started again while the fax was being made."))
        << log.toStdString();
    // The new znptf clears the mark of the job it never saw once the job has gone.
    EXPECT_TRUE(PumpUntil([&] { return Files("SEND").isEmpty(); }, 10000)) << Files("SEND").join(' ').toStdString();
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
    ASSERT_TRUE(PumpUntil([&] { return events.size() == 1; }, 30000));
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
    // A long document: its pages are still being coded when the job is cancelled.
    StartBackend(backend_, "run", {});
    ASSERT_TRUE(backend_.waitForStarted());
    backend_.write("%!PS\n/Helvetica findfont 20 scalefont setfont\n"
                   "1 1 900 { 72 700 moveto (Page) show 72 400 moveto 30 string cvs show showpage } for\n");
    backend_.closeWriteChannel();
    // The fax file is being written (aside, under a temporary name).
    ASSERT_TRUE(PumpUntil([&] { return Files("SEND").size() == 2; }, 60000))
        << Files("SEND").join(' ').toStdString() << backend_.readAllStandardError().toStdString();
    backend_.terminate();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(backend_.exitCode(), 5);
    EXPECT_TRUE(Files("SEND").isEmpty()) << Files("SEND").join(' ').toStdString();
    EXPECT_TRUE(Files("tmp").isEmpty());
    EXPECT_EQ(ends_, 0);
}

TEST_F(TarvelfaxBackend, APrintedFaxWhoseDialogDiedWithZnptfIsOfferedByTheNextAndAHalfMadeOneGoes)
{
    if (!QFile::exists("/usr/bin/gs"))
        GTEST_SKIP() << "gs is not installed";
    test::TestDesktop desktop(Root());
    if (desktop.Missing())
        GTEST_SKIP() << desktop.Missing() << " is not installed";
    ASSERT_TRUE(desktop.Ready());
    const QString dialog = "^Tarvel NT Print To Fax$";
    ASSERT_TRUE(StartZnptf(&desktop));
    StartJob("znptf-run");
    backend_.write("showpage\n");
    backend_.closeWriteChannel();
    ASSERT_TRUE(PumpUntil([&] { return backend_.state() == QProcess::NotRunning; }, 60000));
    ASSERT_EQ(backend_.exitCode(), 0) << backend_.readAllStandardError().toStdString();
    ASSERT_TRUE(PumpUntil([&] { return desktop.Shown(dialog).size() == 1; }, 30000));

    // While the dialog waits for its answer, a long job is being made when its backend dies
    // (SIGKILL): its reserved name, its mark and the fax written so far stay behind.
    StartBackend(backend_, "znptf-run", {});
    ASSERT_TRUE(backend_.waitForStarted());
    backend_.write("%!PS\n/Helvetica findfont 20 scalefont setfont\n"
                   "1 1 900 { 72 700 moveto (Page) show 72 400 moveto 30 string cvs show showpage } for\n");
    backend_.closeWriteChannel();
    ASSERT_TRUE(PumpUntil([&] { return Files("SEND").filter("FAX00001.APF.").size() == 1; }, 60000))
        << Files("SEND").join(' ').toStdString();
    backend_.kill();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(Files("SEND").filter("FAX00001").size(), 3) << Files("SEND").join(' ').toStdString();

    // znptf is killed with the first job's dialog open (SIGKILL, a crash).
    znptf_.kill();
    ASSERT_TRUE(znptf_.waitForFinished(10000));
    EXPECT_FALSE(Files("SEND").contains("FAX00000.JFD"));

    // The next znptf removes what the dead backend left and offers the printed fax again; the user
    // types its number, and a logout while the dialog is open keeps the fax with what was typed.
    ASSERT_TRUE(StartZnptf(&desktop));
    ASSERT_TRUE(PumpUntil([&] { return desktop.Shown(dialog).size() == 1; }, 30000));
    EXPECT_EQ(Files("SEND").join(' ').toStdString(), "FAX00000.APF FAX00000.PTF");
    ASSERT_TRUE(desktop.Focus(dialog));
    ASSERT_TRUE(desktop.Xdotool({"type", "--delay", "20", "5550123"}));
    znptf_.terminate();
    ASSERT_TRUE(znptf_.waitForFinished(20000));
    EXPECT_EQ(Files("SEND").join(' ').toStdString(), "FAX00000.APF FAX00000.JFD");
    std::ifstream job(Root() + "/SEND/FAX00000.JFD", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(job), {}), "5550123\r\n\r\n\r\n");
}

} // namespace
} // namespace zn::ptf
