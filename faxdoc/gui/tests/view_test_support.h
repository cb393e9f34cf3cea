// Shared by the printer and viewer tests: the application object, fax files made of the ITU charts
// (coded by netpbm's pbmtog3), and telling which chart a printed region shows.
#pragma once

#include "faxdoc/tests/test_support.h"

#include <QImage>
#include <QRect>

#include <string>
#include <vector>

namespace zn::faxdoc::test {

void EnsureApplication();

std::string ChartPath(int chart);
// A fax file whose page i shows chart charts[i], coded by pbmtog3; `flags` for every page
// (kPageHighResolution for fine pages). Every second row is dropped for normal resolution.
void MakeChartFax(const TTempDir& dir, const std::string& name, const std::vector<int>& charts, uint16_t flags);

// Ink fractions of a grid laid over a picture.
std::vector<double> Fingerprint(const QImage& image, const QRect& region);
std::vector<double> Fingerprint(const TRaster& raster);
// The chart (1..8) whose fingerprint correlates best with the region's.
int ClosestChart(const QImage& image, const QRect& region);

// The rows of `region` that are black over at least 97% of its width (the lines under a header and
// over a footer), top to bottom.
std::vector<int> RuledRows(const QImage& image, const QRect& region);
// The region between the header's and the footer's rule inside a page slot.
QRect BetweenRules(const QImage& image, const QRect& slot);
// Dark pixels in a region.
int Ink(const QImage& image, const QRect& region);

} // namespace zn::faxdoc::test
