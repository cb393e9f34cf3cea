// Reducing a picture to black and white as a fax shows it: each pixel by its luminance, the
// rounding error diffused to the neighbours by one of four kernels, in serpentine order. Plain C++.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace zn::cover {

enum TDitherMode {
    dmNearest = 0,
    dmFloydSteinberg = 1,
    dmStucki = 2,
    dmSierra = 3,
    dmBurkes = 4,
};

// Rows of blue, green, red bytes (as a 24-bit bitmap keeps them), top row first.
struct TBgrImage {
    int width = 0;
    int height = 0;
    int stride = 0; // bytes per row, at least 3 x width
    std::vector<uint8_t> bits;
    const uint8_t* Row(int y) const { return bits.data() + static_cast<size_t>(y) * static_cast<size_t>(stride); }
};

// One byte per pixel: 0 black, 1 white.
struct TMonoIndexImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> index;
    bool Empty() const { return width == 0 || height == 0; }
};

class TDitherError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Luminance 77 R + 150 G + 29 B above 32512 is white (index 1).
inline int MonochromeIndex(int red, int green, int blue) { return 77 * red + 150 * green + 29 * blue > 32512; }

// The reduced picture; a mode outside 0..4 gives an empty one. Throws TDitherError
// ("Invalid image dimensions") for a picture without pixels.
TMonoIndexImage ReduceToMonochrome(const TBgrImage& source, int mode);

} // namespace zn::cover
