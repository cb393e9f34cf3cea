// Benchmark: faxing a 10-page PDF by printing it, against printing it to a PDF file with cups-pdf,
// in one run through one private cupsd as CUPS ships it (started by root: cupsd runs backends as root
// only then), printed by an ordinary user (the test user znfaxa, made when missing) whose znptf and zn
// take the fax.
//   print_to_fax_bench [RUNS]
// For each run, in turn:
//   ours   `lp -d TarvelFax` to the job dialog on screen (CUPS, its filters, the backend's
//          rasterisation and coding, the channel), then from Ok (and Yes to "Switch to Tarvel now?")
//          to the job's row in the ZNOUT of a running zn;
//   peer   `lp -d CupsPdf` to the finished PDF file of cups-pdf;
//   gs     ghostscript alone rasterising the PDF at 204 x 196 dpi to PBM (the rasterisation's share).
// Medians are printed with min and max; goals: under 2 s to the dialog, under 100 ms to the row.
#include "ptf/main_form.h"
#include "ptf/tests/private_cups.h"
#include "ptf/tests/test_users.h"

#include "platform/message_box.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The record count in a DBF's header.
long DbfRecords(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char header[8] = {};
    if (!in.read(reinterpret_cast<char*>(header), 8))
        return -1;
    return long(header[4]) | long(header[5]) << 8 | long(header[6]) << 16 | long(header[7]) << 24;
}

template <typename F>
bool PumpUntil(F condition, int guardMs = 120000)
{
    QElapsedTimer guard;
    guard.start();
    while (!condition() && guard.elapsed() < guardMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return condition();
}

struct Figures {
    std::vector<double> values;
    void Add(double v) { values.push_back(v); }
    double Median() const
    {
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v[v.size() / 2];
    }
    double Min() const { return values.empty() ? 0 : *std::min_element(values.begin(), values.end()); }
    double Max() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

void Print(const char* what, const Figures& f)
{
    std::printf("%-44s %9.1f %9.1f %9.1f\n", what, f.Median(), f.Min(), f.Max());
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (::geteuid() != 0) {
        std::fprintf(stderr, "print_to_fax_bench: run it as root (cupsd runs backends as root only then; the jobs "
                             "are printed by an ordinary user)\n");
        return 2;
    }
    const auto user = zn::ptf::test::EnsureTestUser("znfaxa");
    if (!user) {
        std::fprintf(stderr, "print_to_fax_bench: the user znfaxa cannot be made\n");
        return 2;
    }
    QTemporaryDir rootDir(QDir::tempPath() + "/zn-ptf-bench-XXXXXX");
    const std::string root = rootDir.path().toStdString();
    const std::string runFolder = root + "/run/" + std::to_string(user->uid);
    for (const std::string& folder : {root + "/home", root + "/win", runFolder}) {
        QDir().mkpath(QString::fromStdString(folder));
        if (::chown(folder.c_str(), user->uid, user->gid) != 0)
            return 1;
    }
    ::chmod(runFolder.c_str(), 0700);

    // Ten pages of text, as A4.
    {
        std::ofstream ps(root + "/doc.ps");
        ps << "%!PS\n/Helvetica findfont 12 scalefont setfont\n";
        for (int page = 1; page <= 10; ++page) {
            for (int line = 0; line < 50; ++line)
                ps << "72 " << 770 - line * 14 << " moveto (Page " << page << " line " << line
                   << ": the quick brown fox jumps over the lazy dog 0123456789) show\n";
            ps << "showpage\n";
        }
    }
    const std::string pdf = root + "/doc.pdf";
    if (QProcess::execute("ps2pdf",
                          {"-sPAPERSIZE=a4", QString::fromStdString(root + "/doc.ps"), QString::fromStdString(pdf)})
        != 0)
        return 1;

    zn::ptf::test::PrivateCups cups(root, "SetEnv ZN_FAX_CHANNEL_DIR " + root + "/run\n");
    if (!cups.AddBackend(TARVELFAX_BACKEND, "tarvelfax")
        || !cups.AddBackend("/usr/lib/cups/backend/cups-pdf", "cups-pdf") || !cups.Start()
        || !cups.AddPrinter("TarvelFax", "tarvelfax:/", TARVELFAX_PPD, "Tarvel Fax",
                            {"-o", "printer-op-policy=authenticated"})
        || !cups.AddPrinter("CupsPdf", "cups-pdf:/", "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd", "PDF")) {
        std::fprintf(stderr, "print_to_fax_bench: the private cupsd did not come up: %s\n%s\n",
                     cups.LastError().c_str(), cups.LoggedErrors().c_str());
        return 1;
    }

    // The user runs zn from a folder of ours: the build tree may be out of their reach.
    QDir().mkpath(QString::fromStdString(root + "/programs"));
    const std::string znProgram = zn::ptf::test::ReachableProgram(ZN_PROGRAM, root + "/programs");
    if (znProgram.empty()) {
        std::fprintf(stderr, "print_to_fax_bench: zn cannot be copied where %s may run it\n", user->name.c_str());
        return 1;
    }

    Figures toDialog, toRow, peer, gs;
    {
    // From here on this process and all it starts (zn, lp) are the user's; cupsd stays root's.
    zn::ptf::test::ActingAs acting(*user);
    if (!acting.Acting()) {
        std::fprintf(stderr, "print_to_fax_bench: cannot act as %s\n", user->name.c_str());
        return 1;
    }
    qputenv("HOME", QByteArray::fromStdString(user->home));
    qputenv("ZN_HOME", QByteArray::fromStdString(root + "/home"));
    qputenv("ZN_WINDIR", QByteArray::fromStdString(root + "/win"));
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runFolder));
    QProcess zn;
    zn.start(QString::fromStdString(znProgram), {});
    if (!zn.waitForStarted()
        || !PumpUntil([&] { return QFile::exists(QString::fromStdString(root + "/win/ZNPD.INI")); })) {
        std::fprintf(stderr, "print_to_fax_bench: zn did not start\n");
        return 1;
    }
    const std::string znout = root + "/home/ZNOUT.DBF";

    zn::ptf::TMainForm form;
    Clock::time_point printed, shown, ok;
    bool dialogDone = false;
    form.RunJobDialog = [&](zn::ptf::TGetDataForm& dialog) {
        QTimer::singleShot(0, &dialog, [&] {
            shown = Clock::now();
            dialog.Phone->setText("555 0100");
            dialog.Recipient->setText("Bench");
            dialog.Subject->setText("Ten pages");
            ok = Clock::now();
            dialog.Button1->click();
            dialogDone = true;
        });
        return dialog.exec();
    };
    zn::platform::SetMessageBoxHook(
        [](const std::string&, const std::string&, unsigned) { return int(zn::platform::IDYES); });

    const std::string home = user->home;
    for (int run = 0; run <= runs; ++run) { // run 0 warms up
        // Ours.
        const long rowsBefore = DbfRecords(znout);
        dialogDone = false;
        printed = Clock::now();
        if (!cups.Run("lp", {"-d", "TarvelFax", "-t", "bench", QString::fromStdString(pdf)})
            || !PumpUntil([&] { return dialogDone; }) || !PumpUntil([&] { return DbfRecords(znout) > rowsBefore; })) {
            std::fprintf(stderr, "print_to_fax_bench: the fax job did not go through\n%s\n",
                         cups.LoggedErrors().c_str());
            return 1;
        }
        const Clock::time_point row = Clock::now();

        // cups-pdf: its file (named after the job's title) in the job owner's PDF folder, the job finished.
        const QString title = QString("znbench%1-%2").arg(::getpid()).arg(run);
        const QDir outFolder(QString::fromStdString(home + "/PDF"));
        const auto written = [&] { return outFolder.entryList({title + "*.pdf"}, QDir::Files); };
        const Clock::time_point peerStart = Clock::now();
        QByteArray queue;
        if (!cups.Run("lp", {"-d", "CupsPdf", "-t", title, QString::fromStdString(pdf)}) || !PumpUntil([&] {
                return !written().isEmpty() && cups.Run("lpstat", {"-o", "CupsPdf"}, &queue)
                       && queue.trimmed().isEmpty();
            })) {
            std::fprintf(stderr, "print_to_fax_bench: the cups-pdf job did not go through\n%s\n",
                         cups.LoggedErrors().c_str());
            return 1;
        }
        const Clock::time_point peerEnd = Clock::now();
        for (const QString& name : written())
            QFile::remove(outFolder.filePath(name));

        // Ghostscript alone, as the backend has it draw the pages.
        const Clock::time_point gsStart = Clock::now();
        QProcess::execute("gs", {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOINTERPOLATE", "-sDEVICE=pbmraw",
                                 "-r204x196", "-sOutputFile=/dev/null", QString::fromStdString(pdf)});
        const Clock::time_point gsEnd = Clock::now();
        if (run == 0)
            continue;
        toDialog.Add(Ms(printed, shown));
        toRow.Add(Ms(ok, row));
        peer.Add(Ms(peerStart, peerEnd));
        gs.Add(Ms(gsStart, gsEnd));
    }
    zn::platform::SetMessageBoxHook({});
    zn.terminate();
    zn.waitForFinished(10000);
    }

    std::printf("10-page PDF, %d runs, milliseconds                 median       min       max\n", runs);
    Print("zn: lp to the job dialog on screen", toDialog);
    Print("zn: Ok to the row in zn's outgoing list", toRow);
    Print("cups-pdf: lp to the finished PDF", peer);
    Print("ghostscript alone: 10 pages at 204x196 to PBM", gs);
    std::printf("rasterisation's share of lp to dialog: %.0f %%; lp to dialog / cups-pdf: %.2f\n",
                100.0 * gs.Median() / std::max(1.0, toDialog.Median()),
                toDialog.Median() / std::max(1.0, peer.Median()));
    return 0;
}
