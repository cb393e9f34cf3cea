// A whole BMP picture decoded into memory, for the cover's image items (their pictures are bounded
// by the picture loader's pixel limit before they get here). The fax converter reads BMP files row
// by row on its own.
#include "cover/bmp_decode.h"
#include "faxdoc/fax_errors.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zn::cover {
namespace {

using faxdoc::ecBadGraphicsFormat;
using faxdoc::ecOK;
using faxdoc::TSourceBitmap;

constexpr int kMaxBitmapSide = 65535;

uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

uint32_t Channel(uint32_t pixel, uint32_t mask)
{
    if (mask == 0)
        return 0;
    const int shift = __builtin_ctz(mask);
    const uint32_t max = mask >> shift;
    return ((pixel & mask) >> shift) * 255 / max;
}

// Run-length coded 8- and 4-bit pixels (compression 1 and 2) into one palette index per pixel,
// rows top to bottom. False when the data breaks off or runs outside the picture.
bool DecodeRle(const uint8_t* d, size_t size, int bpp, int64_t width, int64_t height, std::vector<uint8_t>& out)
{
    out.assign(static_cast<size_t>(width * height), 0);
    int64_t x = 0, y = height - 1; // RLE bitmaps are stored bottom-up
    size_t i = 0;
    const auto put = [&](uint8_t index) {
        if (x < width && y >= 0)
            out[static_cast<size_t>(y * width + x)] = index;
        ++x;
    };
    while (i + 1 < size) {
        const uint8_t count = d[i], value = d[i + 1];
        i += 2;
        if (count > 0) {
            for (int k = 0; k < count; ++k)
                put(bpp == 8 ? value : static_cast<uint8_t>(k % 2 ? value & 0x0F : value >> 4));
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            --y;
        } else if (value == 1) { // end of bitmap
            return true;
        } else if (value == 2) { // move
            if (i + 1 >= size)
                return false;
            x += d[i];
            y -= d[i + 1];
            i += 2;
        } else { // `value` pixels as they are, padded to a 16-bit boundary
            const size_t bytes = bpp == 8 ? value : (value + 1u) / 2;
            if (i + bytes > size)
                return false;
            for (int k = 0; k < value; ++k)
                put(bpp == 8 ? d[i + static_cast<size_t>(k)]
                             : static_cast<uint8_t>(k % 2 ? d[i + static_cast<size_t>(k / 2)] & 0x0F
                                                          : d[i + static_cast<size_t>(k / 2)] >> 4));
            i += bytes + (bytes & 1);
        }
        if (y < -1)
            return false;
    }
    return true; // data that ends without its end mark keeps what it drew
}

} // namespace

int DecodeBmp(const uint8_t* d, size_t size, TSourceBitmap& out)
{
    if (size < 26 || d[0] != 'B' || d[1] != 'M')
        return ecBadGraphicsFormat;
    const uint32_t dataOffset = Le32(d + 10);
    const uint32_t headerSize = Le32(d + 14);
    if (headerSize < 12 || 14 + static_cast<size_t>(headerSize) > size)
        return ecBadGraphicsFormat;
    int64_t width, height;
    uint32_t bpp, compression = 0, colours = 0;
    size_t paletteEntry = 4;
    if (headerSize == 12) {
        width = Le16(d + 18);
        height = static_cast<int16_t>(Le16(d + 20));
        bpp = Le16(d + 24);
        paletteEntry = 3;
    } else {
        if (headerSize < 40)
            return ecBadGraphicsFormat;
        width = static_cast<int32_t>(Le32(d + 18));
        height = static_cast<int32_t>(Le32(d + 22));
        bpp = Le16(d + 28);
        compression = Le32(d + 30);
        colours = Le32(d + 46);
    }
    const bool topDown = height < 0;
    height = height < 0 ? -height : height;
    if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide)
        return ecBadGraphicsFormat;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return ecBadGraphicsFormat;
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bpp == 32)
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    if (compression == 3 && (bpp == 16 || bpp == 32)) {
        const size_t at = headerSize >= 52 ? 14 + 40 : 14 + headerSize;
        if (at + 12 > size)
            return ecBadGraphicsFormat;
        for (int i = 0; i < 3; ++i)
            masks[i] = Le32(d + at + 4 * i);
    } else if (compression != 0 && !(compression == 1 && bpp == 8) && !(compression == 2 && bpp == 4)) {
        return ecBadGraphicsFormat;
    }
    const bool rle = compression == 1 || compression == 2;
    if (rle && topDown)
        return ecBadGraphicsFormat;
    // The palette follows the header (and the bit fields of a 40-byte header).
    std::vector<uint32_t> palette;
    if (bpp <= 8) {
        const size_t entries = colours && colours <= (1u << bpp) ? colours : (1u << bpp);
        const size_t at = 14 + headerSize + (compression == 3 && headerSize == 40 ? 12 : 0);
        if (at + entries * paletteEntry > size)
            return ecBadGraphicsFormat;
        for (size_t i = 0; i < entries; ++i) {
            const uint8_t* p = d + at + i * paletteEntry;
            palette.push_back(static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16));
        }
    }
    size_t stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
    std::vector<uint8_t> expanded;
    if (rle) {
        // A run can paint at most 255 pixels for two bytes: a picture far larger than its data is no
        // run-length bitmap.
        if (dataOffset > size
            || static_cast<uint64_t>(width * height) > 128 * static_cast<uint64_t>(size - dataOffset + 2))
            return ecBadGraphicsFormat;
        if (!DecodeRle(d + dataOffset, size - dataOffset, bpp, width, height, expanded))
            return ecBadGraphicsFormat;
        bpp = 8;
        stride = static_cast<size_t>(width);
    } else if (dataOffset > size || stride * static_cast<size_t>(height) > size - dataOffset) {
        return ecBadGraphicsFormat;
    }
    const auto srcRow = [&](int64_t y) -> const uint8_t* {
        if (rle)
            return expanded.data() + stride * static_cast<size_t>(y);
        return d + dataOffset + stride * static_cast<size_t>(topDown ? y : height - 1 - y);
    };
    const auto brightness = [](uint32_t bgr) { return (bgr & 0xFF) + (bgr >> 8 & 0xFF) + (bgr >> 16 & 0xFF); };

    out = TSourceBitmap();
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    if (bpp == 1) {
        // Monochrome: rows are kept as bits, 1 = white, whatever order the palette gives the colours.
        const bool flip = palette.size() >= 2 && brightness(palette[0]) > brightness(palette[1]);
        out.bitsPerPixel = 1;
        out.stride = static_cast<int>((width + 7) / 8);
        out.bits.resize(static_cast<size_t>(out.stride) * static_cast<size_t>(height));
        for (int64_t y = 0; y < height; ++y) {
            const uint8_t* s = srcRow(y);
            uint8_t* o = out.bits.data() + static_cast<size_t>(y) * static_cast<size_t>(out.stride);
            for (int i = 0; i < out.stride; ++i)
                o[i] = flip ? static_cast<uint8_t>(~s[i]) : s[i];
        }
        return ecOK;
    }
    out.bitsPerPixel = 32;
    out.stride = static_cast<int>(width * 4);
    out.bits.resize(static_cast<size_t>(out.stride) * static_cast<size_t>(height));
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* s = srcRow(y);
        uint8_t* o = out.bits.data() + static_cast<size_t>(y) * static_cast<size_t>(out.stride);
        for (int64_t x = 0; x < width; ++x) {
            uint32_t bgr = 0;
            if (bpp == 4 || bpp == 8) {
                const uint32_t index = bpp == 8 ? s[x] : (s[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F;
                bgr = index < palette.size() ? palette[index] : 0;
            } else if (bpp == 24) {
                bgr = static_cast<uint32_t>(s[3 * x] | s[3 * x + 1] << 8 | s[3 * x + 2] << 16);
            } else {
                const uint32_t px = bpp == 16 ? Le16(s + 2 * x) : Le32(s + 4 * x);
                bgr = Channel(px, masks[2]) | Channel(px, masks[1]) << 8 | Channel(px, masks[0]) << 16;
            }
            std::memcpy(o + 4 * x, &bgr, 4);
        }
    }
    return ecOK;
}

} // namespace zn::cover
