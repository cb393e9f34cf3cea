// Benchmark of the fax viewer and the fax printer.
//   zn_bench_viewer [charts folder] [rounds]
// 1. The viewer window (offscreen, 800 x 600): open a fine-resolution fax of the eight ITU charts,
//    decode page 1, scale it to the window's zoom and paint it; then turn to the next page. At 100%
//    and at 50% zoom; medians over the rounds. Then a turn to page 2 and a turn to page 1000 of a
//    1000-page fax of one chart: a far page must cost no more than a near one.
// 2. Printing a 20-page fax (the charts in turn) to a PDF file, one page a sheet, fitted: this
//    program in a child process of its own (start-up included) against `fax2ps | ps2pdf` on the same
//    pages as a G3 TIFF, run in turn (A B A B ...); medians and the ratio. Then both PDFs are
//    rasterised at 100 dpi and their ink compared: thin lines that a renderer drops show as less ink.
//   zn_bench_viewer --print IN.APF OUT.PDF   (the child: prints and exits)
#include "faxdoc/apf_file.h"
#include "faxdoc/gui/fax_printer.h"
#include "faxdoc/gui/viewer_window.h"

#include <QApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using zn::faxdoc::TViewerWindow;

double Ms(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int Run(const std::string& command) { return std::system(command.c_str()); }

std::vector<uint8_t> ReadAll(const std::string& name)
{
    std::ifstream f(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A fax file of the given charts, fine resolution, coded by pbmtog3.
void MakeFax(const std::string& charts, const std::vector<int>& pages, const std::string& dir, const std::string& out)
{
    std::vector<uint8_t> file(zn::faxdoc::kApfFileHeaderSize, 0);
    zn::faxdoc::TApfFileHeader header;
    header.SetSignature();
    header.pageCount = static_cast<uint16_t>(pages.size());
    header.page1Offset = zn::faxdoc::kApfFirstPageOffset;
    header.Encode(file.data());
    for (int chart : pages) {
        const std::string g3 = dir + "/c" + std::to_string(chart) + ".g3";
        if (access(g3.c_str(), R_OK) != 0
            && Run("pbmtog3 -reversebits '" + charts + "/itu" + std::to_string(chart) + ".pbm' > '" + g3
                   + "' 2>/dev/null")
                   != 0) {
            std::fprintf(stderr, "pbmtog3 failed\n");
            std::exit(1);
        }
        const std::vector<uint8_t> data = ReadAll(g3);
        zn::faxdoc::TApfPageHeader page;
        page.length = static_cast<int32_t>(data.size());
        page.flags = zn::faxdoc::kPageHighResolution;
        uint8_t ph[zn::faxdoc::kApfPageHeaderSize];
        page.Encode(ph);
        file.insert(file.end(), ph, ph + sizeof ph);
        file.insert(file.end(), data.begin(), data.end());
    }
    std::ofstream(out, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

void PrintToPdf(const std::string& in, const std::string& out)
{
    zn::faxdoc::TFxFaxPrinter printer;
    printer.SetFileName(in);
    printer.Printer().setOutputFormat(QPrinter::PdfFormat);
    printer.Printer().setOutputFileName(QString::fromStdString(out));
    printer.Printer().setPageLayout(
        QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(18, 18, 18, 18)));
    printer.FaxHeader().Enabled = false;
    printer.FaxFooter().Enabled = false;
    printer.PrintFax();
}

double InkOfFirstPage(const std::string& pdf, const std::string& dir, const std::string& tag)
{
    const std::string base = dir + "/ink-" + tag;
    if (Run("pdftoppm -r 100 -gray -f 1 -l 1 -singlefile '" + pdf + "' '" + base + "' 2>/dev/null") != 0)
        return -1;
    QImage page(QString::fromStdString(base + ".pgm"));
    long dark = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            dark += qGray(page.pixel(x, y)) < 128;
    return page.isNull() ? -1 : 100.0 * static_cast<double>(dark) / (static_cast<double>(page.width()) * page.height());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--print") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        PrintToPdf(argv[2], argv[3]);
        return 0;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string charts = argc > 1 ? argv[1] : std::string(ZN_SOURCE_DIR) + "/tests/data/itu-charts";
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
    char tmpl[] = "/tmp/zn-viewer-bench-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    MakeFax(charts, {1, 2, 3, 4, 5, 6, 7, 8}, dir, dir + "/EIGHT.APF");

    std::printf("Viewer window 800 x 600, fine-resolution ITU charts, median of %d rounds (ms; goal < 15)\n", rounds);
    std::printf("%-8s %12s %12s %12s %12s\n", "chart", "open 100%", "open 50%", "turn 100%", "turn 50%");
    TViewerWindow viewer;
    viewer.resize(800, 600);
    viewer.show();
    QCoreApplication::processEvents();
    std::vector<double> allOpen[2], allTurn[2];
    for (int chart = 1; chart <= 8; ++chart) {
        const std::string one = dir + "/ONE" + std::to_string(chart) + ".APF";
        MakeFax(charts, {chart, chart % 8 + 1}, dir, one);
        double row[4];
        for (int z = 0; z < 2; ++z) {
            std::vector<double> o, t;
            for (int r = 0; r < rounds; ++r) {
                viewer.apwViewSetFile("");
                QCoreApplication::processEvents();
                auto t0 = Clock::now();
                viewer.apwViewStartUpdate();
                viewer.apwViewSetFile(one);
                viewer.apwViewSetScale(z == 0 ? zn::faxdoc::TViewerScale{} : zn::faxdoc::TViewerScale{1, 2, 1, 2});
                viewer.apwViewEndUpdate();
                viewer.viewport()->repaint();
                o.push_back(Ms(t0));
                t0 = Clock::now();
                viewer.apwViewGotoPage(2);
                viewer.viewport()->repaint();
                t.push_back(Ms(t0));
            }
            row[z] = Median(o);
            row[2 + z] = Median(t);
            allOpen[z].insert(allOpen[z].end(), o.begin(), o.end());
            allTurn[z].insert(allTurn[z].end(), t.begin(), t.end());
        }
        std::printf("itu%-5d %12.2f %12.2f %12.2f %12.2f\n", chart, row[0], row[1], row[2], row[3]);
    }
    std::printf("%-8s %12.2f %12.2f %12.2f %12.2f\n\n", "all", Median(allOpen[0]), Median(allOpen[1]),
                Median(allTurn[0]), Median(allTurn[1]));

    // Turning pages near the start and near the end of a 1000-page fax (every page the same chart,
    // so that only where the page lies differs).
    {
        const std::string thousand = dir + "/THOUSAND.APF";
        MakeFax(charts, std::vector<int>(1000, 1), dir, thousand);
        viewer.apwViewSetScale({});
        viewer.apwViewSetFile(thousand);
        std::vector<double> nearTurns, farTurns;
        for (int r = 0; r < rounds; ++r) {
            viewer.apwViewGotoPage(1);
            auto t0 = Clock::now();
            viewer.apwViewGotoPage(2);
            viewer.viewport()->repaint();
            nearTurns.push_back(Ms(t0));
            viewer.apwViewGotoPage(999);
            t0 = Clock::now();
            viewer.apwViewGotoPage(1000);
            viewer.viewport()->repaint();
            farTurns.push_back(Ms(t0));
        }
        std::printf("1000-page fax of itu1 at 100%%, median of %d turns (ms): to page 2 %.2f, to page 1000 %.2f, "
                    "ratio %.2f\n\n",
                    rounds, Median(nearTurns), Median(farTurns), Median(farTurns) / Median(nearTurns));
    }

    // A quarter turn of the page shown (the Rotation menu), at 50%.
    {
        const std::string one = dir + "/ONE1.APF";
        viewer.apwViewSetFile(one);
        viewer.apwViewSetScale({1, 2, 1, 2});
        std::vector<double> turns;
        for (int r = 0; r < rounds; ++r) {
            const auto t0 = Clock::now();
            viewer.apwViewSetRotation((r + 1) % 4);
            viewer.viewport()->repaint();
            turns.push_back(Ms(t0));
        }
        std::printf("quarter turn of itu1 at 50%%, shown: %.2f ms (median)\n\n", Median(turns));
    }

    // Printing 20 pages.
    std::vector<int> twenty;
    for (int i = 0; i < 20; ++i)
        twenty.push_back(i % 8 + 1);
    const std::string apf = dir + "/TWENTY.APF", tif = dir + "/twenty.tif";
    MakeFax(charts, twenty, dir, apf);
    std::string pages;
    for (int i = 0; i < 20; ++i) {
        const std::string one = dir + "/p" + std::to_string(i) + ".tif";
        if (Run("pamtotiff -g3 '" + charts + "/itu" + std::to_string(twenty[static_cast<size_t>(i)]) + ".pbm' > '" + one
                + "' 2>/dev/null")
            != 0)
            return 1;
        pages += " '" + one + "'";
    }
    if (Run("tiffcp" + pages + " '" + tif + "'") != 0)
        return 1;
    const std::string ours = "'" + std::string(argv[0]) + "' --print '" + apf + "' '" + dir + "/ours.pdf'";
    const std::string peer = "fax2ps '" + tif + "' | ps2pdf - '" + dir + "/peer.pdf'";
    std::vector<double> a, b;
    const int printRounds = std::max(3, rounds / 2);
    for (int r = 0; r < printRounds; ++r) {
        auto t0 = Clock::now();
        if (Run(ours) != 0)
            return 1;
        a.push_back(Ms(t0));
        t0 = Clock::now();
        if (Run(peer) != 0)
            return 1;
        b.push_back(Ms(t0));
    }
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size(); ++i)
        ratios.push_back(a[i] / b[i]);
    std::printf("Printing 20 fine pages to a PDF file, whole processes, median of %d runs in turn\n", printRounds);
    std::printf("%-34s %10s\n", "", "ms");
    std::printf("%-34s %10.0f\n", "zn fax printer (QPrinter, PDF)", Median(a));
    std::printf("%-34s %10.0f\n", "fax2ps | ps2pdf", Median(b));
    std::printf("%-34s %10.2f\n", "ratio zn / peer (pairwise median)", Median(ratios));
    const double inkOurs = InkOfFirstPage(dir + "/ours.pdf", dir, "ours");
    const double inkPeer = InkOfFirstPage(dir + "/peer.pdf", dir, "peer");
    std::printf("ink of sheet 1 at 100 dpi: zn %.2f%%, peer %.2f%%\n", inkOurs, inkPeer);
    std::fflush(stdout);
    Run("pdfimages -list '" + dir
        + "/ours.pdf' | sed -n 3p | awk '{print \"zn page images in the PDF: \" $4 \" x \" $5 \", \" $8 \" bit a "
          "pixel\"}'");
    Run("rm -rf '" + dir + "'");
    return 0;
}
