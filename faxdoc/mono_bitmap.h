// A monochrome page in memory: rows of `stride` bytes, bit 7 of byte 0 the leftmost pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zn::faxdoc {

struct TMonoBitmap {
    int width = 0;          // pixels (stride * 8)
    int height = 0;         // rows
    int stride = 0;         // bytes per row, even
    bool blackIsOne = true; // false: 1 = white (the inverted rows a screen bitmap wants)
    std::vector<uint8_t> bits;

    uint8_t* Row(int y) { return bits.data() + static_cast<size_t>(y) * static_cast<size_t>(stride); }
    const uint8_t* Row(int y) const { return bits.data() + static_cast<size_t>(y) * static_cast<size_t>(stride); }
    bool Pixel(int x, int y) const { return (Row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
};

} // namespace zn::faxdoc
