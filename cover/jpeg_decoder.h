// JPEG pictures decoded by libjpeg-turbo into a .BMP file image: 256 colours chosen in two passes,
// Floyd-Steinberg dithering, the accurate integer inverse DCT, an 8-bit bottom-up bitmap with its
// colour table (the same bytes as djpeg -bmp -colors 256 -dither fs -dct int writes). Plain C++.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zn::cover {

struct TJpegResult {
    bool ok = false;
    std::string error; // the library's message, "There are warnings", or the size limit
    std::vector<uint8_t> bmp;
};

// Any warning (a file that ends early) makes the decode fail with "There are warnings" after it
// finished; an empty input fails with the library's "Empty input file".
TJpegResult DecodeJpegToBmp(const uint8_t* data, size_t size, int64_t maxPixels);

} // namespace zn::cover
