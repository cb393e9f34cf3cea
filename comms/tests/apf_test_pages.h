// Test pages for the fax engine: fax image files made from bitmaps and read back into bitmaps,
// with libtiff as the MH coder.
#pragma once
#include <string>
#include <vector>

#include "faxline_harness.h"

namespace zn::comms::test {

// Writes the pages as a fax image file, each row a length-prefixed record. A page whose
// yResolution is set is fine above 150 lines per inch; the others take `fine`.
bool WriteApf(const std::string& path, const std::vector<faxline::Bitmap>& pages, bool fine);
// Reads every page of a fax image file (either page form).
bool ReadApf(const std::string& path, std::vector<faxline::Bitmap>& pages, std::vector<bool>* fine = nullptr);
// The page without its white rows at top and bottom: what a fax line must carry unchanged.
faxline::Bitmap TrimWhiteRows(const faxline::Bitmap& page);

} // namespace zn::comms::test
