// The headers of a BMP file, read once for both BMP readers: the fax converter's, which streams the
// rows a block at a time, and the cover's, which decodes a whole picture in memory. Both take and
// refuse the same files; only their side limits and what they make of the pixels differ.
#pragma once

#include "faxdoc/fax_errors.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace zn::faxdoc {

// Compression field of the info header.
constexpr uint32_t kBmpPlain = 0;
constexpr uint32_t kBmpRle8 = 1;
constexpr uint32_t kBmpRle4 = 2;
constexpr uint32_t kBmpBitFields = 3;

// A channel of a bit-field pixel scaled to 0..255.
inline uint32_t BmpChannel(uint32_t pixel, uint32_t mask)
{
    if (mask == 0)
        return 0;
    const int shift = __builtin_ctz(mask);
    const uint32_t max = mask >> shift;
    return ((pixel & mask) >> shift) * 255 / max;
}

// R + G + B of a colour with blue in the low byte (0..765).
inline uint32_t BmpBrightness(uint32_t bgr) { return (bgr & 0xFF) + (bgr >> 8 & 0xFF) + (bgr >> 16 & 0xFF); }

// What the headers, the bit fields and the palette say. Colours keep blue in the low byte.
struct TBmpHeader {
    int64_t width = 0;
    int64_t height = 0; // positive; topDown says the order of the stored rows
    bool topDown = false;
    uint32_t bpp = 0; // 1, 4, 8, 16, 24 or 32
    uint32_t compression = kBmpPlain;
    uint32_t masks[3] = {};        // red, green, blue of 16- and 32-bit pixels
    std::vector<uint32_t> palette; // pictures of up to 8 bits a pixel
    bool zeroIsLighter = false;    // 1-bit pictures: palette index 0 is the lighter colour
    int64_t dataOffset = 0;
    size_t stride = 0; // bytes of a stored row of plain pixels

    bool RunLength() const { return compression == kBmpRle8 || compression == kBmpRle4; }
    // Indices past the palette are black.
    uint32_t Colour(uint32_t index) const { return index < palette.size() ? palette[index] : 0; }
    // Hands use(x, colour) the colours of the first `count` pixels of a stored row of 4 to 32 bits a
    // pixel. One loop a depth, with the palette and masks held outside it: the row loops are the
    // readers' inner loops.
    template <class TUse>
    void ForEachPixel(const uint8_t* row, int64_t count, TUse&& use) const
    {
        const uint32_t* colours = palette.data();
        const size_t colourCount = palette.size();
        const auto colour = [colours, colourCount](uint32_t index) { return index < colourCount ? colours[index] : 0; };
        const uint32_t red = masks[0], green = masks[1], blue = masks[2];
        const auto bitFields = [red, green, blue](uint32_t px) {
            return BmpChannel(px, blue) | BmpChannel(px, green) << 8 | BmpChannel(px, red) << 16;
        };
        switch (bpp) {
        case 4:
            for (int64_t x = 0; x < count; ++x)
                use(x, colour((row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F));
            break;
        case 8:
            for (int64_t x = 0; x < count; ++x)
                use(x, colour(row[x]));
            break;
        case 16:
            for (int64_t x = 0; x < count; ++x)
                use(x, bitFields(static_cast<uint32_t>(row[2 * x] | row[2 * x + 1] << 8)));
            break;
        case 24:
            for (int64_t x = 0; x < count; ++x)
                use(x, static_cast<uint32_t>(row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16));
            break;
        case 32:
            for (int64_t x = 0; x < count; ++x) {
                const uint8_t* p = row + 4 * x;
                use(x, bitFields(static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | uint32_t{p[3]} << 24));
            }
            break;
        }
    }
};

// Bytes [at, at + n) of the file into `to`: ecOK, -1 when the file ends first, or a negative I/O code.
using TBmpBytesAt = std::function<int(int64_t at, uint8_t* to, size_t n)>;
// A reader's limit on the sides of a picture: ecOK, or its code for a picture too large.
using TBmpSideCheck = int (*)(int64_t width, int64_t height);

// Reads the headers of a file of `fileSize` bytes and checks that its pixel data is all there (for
// run-length pictures: that the data could paint the picture). ecBadGraphicsFormat for a file that
// is no BMP we read (and for one cut short), the side check's code for a picture it refuses, an
// I/O code when a read fails.
int ReadBmpHeader(int64_t fileSize, const TBmpBytesAt& bytesAt, TBmpSideCheck checkSides, TBmpHeader& h);
// The same for a whole file held in memory.
int ParseBmpHeader(const uint8_t* file, size_t size, TBmpSideCheck checkSides, TBmpHeader& h);

// Run-length codes held in memory, as WalkBmpRle reads them.
class TBmpRleBytes {
public:
    TBmpRleBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    int Next() { return at_ < size_ ? data_[at_++] : -1; }
    // `padded` bytes into `to`; false when fewer than `n` are left.
    bool Read(uint8_t* to, size_t n, size_t padded);

private:
    const uint8_t* data_;
    size_t size_, at_ = 0;
};

// Walks the codes of a run-length picture (compression 1: 8 bits, 2: 4 bits a pixel), rows bottom-up,
// and hands put(index, x, y) each pixel that falls in the first `keptWidth` columns of the `height`
// rows; pixels no code paints are left to the caller. `source` gives Next(), the next byte or -1 at
// the end, and Read(to, n, padded) as TBmpRleBytes does. ecOK when the data ends, with or without its
// end mark (what it drew is kept); ecBadGraphicsFormat when a code breaks off or the runs leave the
// picture.
template <class TSource, class TPut>
int WalkBmpRle(TSource& source, uint32_t bpp, int64_t height, int64_t keptWidth, TPut&& put)
{
    int64_t x = 0, y = height - 1;
    const auto paint = [&](uint32_t index) {
        if (x < keptWidth && y >= 0)
            put(index, x, y);
        ++x;
    };
    for (;;) {
        const int count = source.Next(), value = source.Next();
        if (count < 0 || value < 0)
            return ecOK;
        if (count > 0) {
            for (int k = 0; k < count; ++k)
                paint(bpp == 8 ? static_cast<uint32_t>(value)
                               : static_cast<uint32_t>(k % 2 ? value & 0x0F : value >> 4));
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            --y;
        } else if (value == 1) { // end of bitmap
            return ecOK;
        } else if (value == 2) { // move
            const int dx = source.Next(), dy = source.Next();
            if (dx < 0 || dy < 0)
                return ecBadGraphicsFormat;
            x += dx;
            y -= dy;
        } else { // `value` pixels as they are, padded to a 16-bit boundary
            const size_t bytes = bpp == 8 ? static_cast<size_t>(value) : (static_cast<size_t>(value) + 1) / 2;
            uint8_t literal[256];
            if (!source.Read(literal, bytes, bytes + (bytes & 1)))
                return ecBadGraphicsFormat;
            for (int k = 0; k < value; ++k)
                paint(bpp == 8 ? literal[k]
                               : static_cast<uint32_t>(k % 2 ? literal[k / 2] & 0x0F : literal[k / 2] >> 4));
        }
        if (y < -1)
            return ecBadGraphicsFormat;
    }
}

} // namespace zn::faxdoc
