#include "faxdoc/gui/tests/view_test_support.h"

#include <QApplication>

#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace zn::faxdoc::test {

namespace {

constexpr int kGrid = 8;

bool Dark(const QImage& image, int x, int y) { return qGray(image.pixel(x, y)) < 128; }

} // namespace

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "faxdoc_gui_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance())
        new QApplication(argc, argv); // lives until the test program ends
}

std::string ChartPath(int chart) { return TestData("itu-charts/itu" + std::to_string(chart) + ".pbm"); }

void MakeChartFax(const TTempDir& dir, const std::string& name, const std::vector<int>& charts, uint16_t flags)
{
    std::vector<TTestPage> pages;
    for (int chart : charts) {
        std::string source = ChartPath(chart);
        if (!(flags & 1)) {
            // Normal resolution: every second row of the fine chart.
            const std::string halved = dir.Path("half" + std::to_string(chart) + ".pbm");
            if (RunCommand("pamscale -yscale 0.5 -nomix '" + source + "' | pamditherbw -threshold | pamtopnm > '"
                           + halved + "' 2>/dev/null")
                != 0)
                throw std::runtime_error("pamscale failed");
            source = halved;
        }
        const std::string g3 = dir.Path("chart.g3");
        if (RunCommand("pbmtog3 -reversebits '" + source + "' > '" + g3 + "' 2>/dev/null") != 0)
            throw std::runtime_error("pbmtog3 failed");
        pages.push_back({flags, ReadFile(g3)});
    }
    WriteFile(dir.Path(name), MakeApf(pages));
}

std::vector<double> Fingerprint(const QImage& image, const QRect& region)
{
    std::vector<double> cells(kGrid * kGrid, 0.0);
    for (int gy = 0; gy < kGrid; ++gy)
        for (int gx = 0; gx < kGrid; ++gx) {
            const int x0 = region.left() + region.width() * gx / kGrid,
                      x1 = region.left() + region.width() * (gx + 1) / kGrid;
            const int y0 = region.top() + region.height() * gy / kGrid,
                      y1 = region.top() + region.height() * (gy + 1) / kGrid;
            int ink = 0, all = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) {
                    ink += Dark(image, x, y);
                    ++all;
                }
            cells[static_cast<size_t>(gy * kGrid + gx)] = all ? static_cast<double>(ink) / all : 0.0;
        }
    return cells;
}

std::vector<double> Fingerprint(const TRaster& r)
{
    QImage image(r.width, r.height, QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    for (int y = 0; y < r.height; ++y)
        std::memcpy(image.scanLine(y), r.Row(y), static_cast<size_t>(r.Stride()));
    return Fingerprint(image, image.rect());
}

int ClosestChart(const QImage& image, const QRect& region)
{
    static std::vector<std::vector<double>> charts;
    if (charts.empty())
        for (int c = 1; c <= 8; ++c)
            charts.push_back(Fingerprint(ReadPbm(ChartPath(c))));
    // Correlation rather than distance: shrinking that keeps black darkens a page evenly.
    auto normalised = [](std::vector<double> v) {
        double mean = 0, norm = 0;
        for (double x : v)
            mean += x;
        mean /= static_cast<double>(v.size());
        for (double& x : v) {
            x -= mean;
            norm += x * x;
        }
        norm = std::sqrt(norm);
        for (double& x : v)
            x = norm > 0 ? x / norm : 0;
        return v;
    };
    const std::vector<double> f = normalised(Fingerprint(image, region));
    int best = 0;
    double bestScore = -2;
    for (size_t c = 0; c < charts.size(); ++c) {
        const std::vector<double> g = normalised(charts[c]);
        double score = 0;
        for (size_t i = 0; i < f.size(); ++i)
            score += f[i] * g[i];
        if (score > bestScore) {
            bestScore = score;
            best = static_cast<int>(c) + 1;
        }
    }
    return best;
}

std::vector<int> RuledRows(const QImage& image, const QRect& region)
{
    std::vector<int> rows;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        int ink = 0;
        for (int x = region.left(); x <= region.right(); ++x)
            ink += Dark(image, x, y);
        if (ink * 100 >= region.width() * 97)
            rows.push_back(y);
    }
    return rows;
}

QRect BetweenRules(const QImage& image, const QRect& slot)
{
    const std::vector<int> rows = RuledRows(image, slot);
    if (rows.size() < 2)
        return {};
    return QRect(QPoint(slot.left(), rows.front() + 2), QPoint(slot.right(), rows.back() - 2));
}

int Ink(const QImage& image, const QRect& region)
{
    int ink = 0;
    for (int y = region.top(); y <= region.bottom(); ++y)
        for (int x = region.left(); x <= region.right(); ++x)
            ink += Dark(image, x, y);
    return ink;
}

} // namespace zn::faxdoc::test
