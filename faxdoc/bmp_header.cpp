#include "faxdoc/bmp_header.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {
namespace {

uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

// A read of header bytes: one cut short by the end of the file makes no BMP we read.
int Got(int rc) { return rc == -1 ? ecBadGraphicsFormat : rc; }

} // namespace

int ReadBmpHeader(int64_t fileSize, const TBmpBytesAt& bytesAt, TBmpSideCheck checkSides, TBmpHeader& h)
{
    h = TBmpHeader();
    // The file header (14 bytes) and the info header's first 40.
    uint8_t d[14 + 40] = {};
    if (fileSize < 26)
        return ecBadGraphicsFormat;
    if (int rc = Got(bytesAt(0, d, 26)); rc < 0)
        return rc;
    if (d[0] != 'B' || d[1] != 'M')
        return ecBadGraphicsFormat;
    h.dataOffset = Le32(d + 10);
    const uint32_t headerSize = Le32(d + 14);
    if (headerSize < 12 || 14 + static_cast<int64_t>(headerSize) > fileSize)
        return ecBadGraphicsFormat;
    uint32_t colours = 0;
    size_t paletteEntry = 4;
    if (headerSize == 12) { // the core header: 16-bit sides, 3-byte palette entries
        h.width = Le16(d + 18);
        h.height = static_cast<int16_t>(Le16(d + 20));
        h.bpp = Le16(d + 24);
        paletteEntry = 3;
    } else {
        if (headerSize < 40)
            return ecBadGraphicsFormat;
        if (int rc = Got(bytesAt(26, d + 26, sizeof d - 26)); rc < 0)
            return rc;
        h.width = static_cast<int32_t>(Le32(d + 18));
        h.height = static_cast<int32_t>(Le32(d + 22));
        h.bpp = Le16(d + 28);
        h.compression = Le32(d + 30);
        colours = Le32(d + 46);
    }
    h.topDown = h.height < 0;
    h.height = h.height < 0 ? -h.height : h.height;
    if (h.width <= 0 || h.height <= 0)
        return ecBadGraphicsFormat;
    if (int rc = checkSides(h.width, h.height); rc < 0)
        return rc;
    const uint32_t bpp = h.bpp;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return ecBadGraphicsFormat;
    if (bpp == 32) {
        h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF;
    } else {
        h.masks[0] = 0x7C00, h.masks[1] = 0x03E0, h.masks[2] = 0x001F;
    }
    if (h.compression == kBmpBitFields && (bpp == 16 || bpp == 32)) {
        // The masks follow a 40-byte header; larger headers hold them at the same place.
        const int64_t at = headerSize >= 52 ? 14 + 40 : 14 + static_cast<int64_t>(headerSize);
        uint8_t m[12];
        if (at + 12 > fileSize)
            return ecBadGraphicsFormat;
        if (int rc = Got(bytesAt(at, m, sizeof m)); rc < 0)
            return rc;
        for (int i = 0; i < 3; ++i)
            h.masks[i] = Le32(m + 4 * i);
    } else if (h.compression != kBmpPlain && !(h.compression == kBmpRle8 && bpp == 8)
               && !(h.compression == kBmpRle4 && bpp == 4)) {
        return ecBadGraphicsFormat;
    }
    if (h.RunLength() && h.topDown)
        return ecBadGraphicsFormat;
    // The palette follows the header (bit fields, which could come between, are refused at 8 bits
    // and fewer).
    if (bpp <= 8) {
        const size_t entries = colours && colours <= (1u << bpp) ? colours : (1u << bpp);
        const int64_t at = 14 + static_cast<int64_t>(headerSize);
        uint8_t p[256 * 4];
        if (at + static_cast<int64_t>(entries * paletteEntry) > fileSize)
            return ecBadGraphicsFormat;
        if (int rc = Got(bytesAt(at, p, entries * paletteEntry)); rc < 0)
            return rc;
        for (size_t i = 0; i < entries; ++i) {
            const uint8_t* e = p + i * paletteEntry;
            h.palette.push_back(static_cast<uint32_t>(e[0] | e[1] << 8 | e[2] << 16));
        }
        h.zeroIsLighter = h.palette.size() >= 2 && BmpBrightness(h.palette[0]) > BmpBrightness(h.palette[1]);
    }
    h.stride = ((static_cast<size_t>(h.width) * bpp + 31) / 32) * 4;
    if (h.dataOffset > fileSize)
        return ecBadGraphicsFormat;
    const uint64_t data = static_cast<uint64_t>(fileSize - h.dataOffset);
    if (h.RunLength()) {
        // A run can paint at most 255 pixels for two bytes: a picture far larger than its data is no
        // run-length bitmap.
        if (static_cast<uint64_t>(h.width) * static_cast<uint64_t>(h.height) > 128 * (data + 2))
            return ecBadGraphicsFormat;
    } else if (h.stride * static_cast<uint64_t>(h.height) > data) {
        return ecBadGraphicsFormat;
    }
    return ecOK;
}

int ParseBmpHeader(const uint8_t* file, size_t size, TBmpSideCheck checkSides, TBmpHeader& h)
{
    const auto bytesAt = [file, size](int64_t at, uint8_t* to, size_t n) {
        if (at < 0 || static_cast<uint64_t>(at) > size || n > size - static_cast<size_t>(at))
            return -1;
        std::memcpy(to, file + at, n);
        return ecOK;
    };
    return ReadBmpHeader(static_cast<int64_t>(size), bytesAt, checkSides, h);
}

bool TBmpRleBytes::Read(uint8_t* to, size_t n, size_t padded)
{
    const size_t got = std::min(padded, size_ - at_);
    std::memcpy(to, data_ + at_, got);
    at_ += got;
    return got >= n;
}

} // namespace zn::faxdoc
