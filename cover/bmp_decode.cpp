// A whole BMP picture decoded into memory, for the cover's image items (their pictures are bounded
// by the picture loader's pixel limit before they get here). The headers are read as the fax
// converter reads them; only the side limit is the cover's own.
#include "cover/bmp_decode.h"
#include "faxdoc/bmp_header.h"
#include "faxdoc/fax_errors.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace zn::cover {
namespace {

using faxdoc::ecBadGraphicsFormat;
using faxdoc::ecOK;
using faxdoc::TSourceBitmap;

constexpr int64_t kMaxBitmapSide = 65535;

int CheckSides(int64_t width, int64_t height)
{
    return width > kMaxBitmapSide || height > kMaxBitmapSide ? ecBadGraphicsFormat : ecOK;
}

} // namespace

int DecodeBmp(const uint8_t* d, size_t size, TSourceBitmap& out)
{
    faxdoc::TBmpHeader h;
    if (faxdoc::ParseBmpHeader(d, size, CheckSides, h) < 0)
        return ecBadGraphicsFormat;
    const int64_t width = h.width, height = h.height;
    // Run-length pictures are decoded into one palette index a pixel, rows top to bottom; pixels no
    // run paints keep index 0.
    std::vector<uint8_t> expanded;
    if (h.RunLength()) {
        expanded.assign(static_cast<size_t>(width * height), 0);
        faxdoc::TBmpRleBytes codes(d + h.dataOffset, size - static_cast<size_t>(h.dataOffset));
        if (faxdoc::WalkBmpRle(codes, h.bpp, height, width,
                               [&](uint32_t index, int64_t x, int64_t y) {
                                   expanded[static_cast<size_t>(y * width + x)] = static_cast<uint8_t>(index);
                               })
            < 0)
            return ecBadGraphicsFormat;
    }
    const auto srcRow = [&](int64_t y) -> const uint8_t* {
        if (h.RunLength())
            return expanded.data() + static_cast<size_t>(width * y);
        return d + h.dataOffset + h.stride * static_cast<size_t>(h.topDown ? y : height - 1 - y);
    };

    out = TSourceBitmap();
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    if (h.bpp == 1) {
        // Monochrome: rows are kept as bits, 1 = white, whatever order the palette gives the colours.
        out.bitsPerPixel = 1;
        out.stride = static_cast<int>((width + 7) / 8);
        out.bits.resize(static_cast<size_t>(out.stride) * static_cast<size_t>(height));
        for (int64_t y = 0; y < height; ++y) {
            const uint8_t* s = srcRow(y);
            uint8_t* o = out.bits.data() + static_cast<size_t>(y) * static_cast<size_t>(out.stride);
            for (int i = 0; i < out.stride; ++i)
                o[i] = h.zeroIsLighter ? static_cast<uint8_t>(~s[i]) : s[i];
        }
        return ecOK;
    }
    out.bitsPerPixel = 32;
    out.stride = static_cast<int>(width * 4);
    out.bits.resize(static_cast<size_t>(out.stride) * static_cast<size_t>(height));
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* s = srcRow(y);
        uint8_t* o = out.bits.data() + static_cast<size_t>(y) * static_cast<size_t>(out.stride);
        const auto put = [o](int64_t x, uint32_t bgr) { std::memcpy(o + 4 * x, &bgr, 4); };
        if (h.RunLength()) {
            for (int64_t x = 0; x < width; ++x)
                put(x, h.Colour(s[x]));
        } else {
            h.ForEachPixel(s, width, put);
        }
    }
    return ecOK;
}

} // namespace zn::cover
