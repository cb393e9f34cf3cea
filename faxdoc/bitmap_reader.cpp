#include "faxdoc/converter.h"

#include "faxdoc/fax_errors.h"
#include "faxdoc/raster_ops.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {
namespace {

uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

struct TDitherTable {
    int t[32][32];
    TDitherTable()
    {
        for (int a = 0; a < 32; ++a)
            for (int b = 0; b < 32; ++b) {
                int x = a, y = b, v = 0;
                for (int i = 0; i < 4; ++i) {
                    v = 2 * v | 2 * ((x ^ y) & 1) | (y & 1);
                    x >>= 1;
                    y >>= 1;
                }
                t[a][b] = v;
            }
    }
};
const TDitherTable& Dither()
{
    static const TDitherTable table;
    return table;
}

// A channel of a bit-field pixel scaled to 0..255.
uint32_t Channel(uint32_t pixel, uint32_t mask)
{
    if (mask == 0)
        return 0;
    const int shift = __builtin_ctz(mask);
    const uint32_t max = mask >> shift;
    return ((pixel & mask) >> shift) * 255 / max;
}

uint32_t Brightness(uint32_t bgr) { return (bgr & 0xFF) + (bgr >> 8 & 0xFF) + (bgr >> 16 & 0xFF); }

inline void PutPixel(uint8_t* raster, int x, bool black)
{
    const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    if (black)
        raster[x >> 3] |= bit;
    else
        raster[x >> 3] &= static_cast<uint8_t>(~bit);
}

} // namespace

int DitherThreshold(int x, int y) { return Dither().t[x & 31][y & 31]; }

// A BMP file read a block of rows at a time; run-length coded pictures are decoded once at open
// into the rows that the fax page keeps (at most the row width, at one bit a pixel), so memory
// follows the fax page and not the picture's declared size.
class TBitmapReader::TBmpFile {
public:
    int Open(const std::string& name, int keptWidth);
    // Row y (top-down) as raster bits, 1 = black, the first `kept` pixels.
    int Row(int y, uint8_t* raster);
    int width = 0, height = 0, kept = 0;

private:
    int DecodeRle(int64_t size);
    bool Black(uint32_t bgr, int x, int y) const
    {
        return Brightness(bgr) < 10u * static_cast<uint32_t>(DitherThreshold(x, y));
    }

    TInFile file_;
    uint32_t bpp_ = 0, compression_ = 0;
    bool topDown_ = false, flip_ = false;
    uint32_t masks_[3] = {0x7C00, 0x03E0, 0x001F};
    std::vector<uint32_t> palette_;
    size_t stride_ = 0;
    int64_t dataOffset_ = 0;
    std::vector<uint8_t> block_; // file rows [blockFirst_, blockFirst_ + blockRows_)
    int blockFirst_ = 0, blockRows_ = 0;
    std::vector<uint8_t> page_; // run-length pictures: the kept pixels of every row, 1 = black
    size_t pageStride_ = 0;
};

int TBitmapReader::TBmpFile::Open(const std::string& name, int keptWidth)
{
    if (int rc = file_.Open(name); rc < 0)
        return rc;
    const int64_t size = file_.Size();
    uint8_t d[14 + 124 + 12] = {};
    const long got = file_.Read(d, sizeof d);
    if (got < 0)
        return static_cast<int>(got);
    if (got < 26 || d[0] != 'B' || d[1] != 'M')
        return ecBadGraphicsFormat;
    dataOffset_ = Le32(d + 10);
    const uint32_t headerSize = Le32(d + 14);
    if (headerSize < 12 || 14 + static_cast<int64_t>(headerSize) > size)
        return ecBadGraphicsFormat;
    int64_t w, h;
    uint32_t colours = 0;
    size_t paletteEntry = 4;
    if (headerSize == 12) {
        w = Le16(d + 18);
        h = static_cast<int16_t>(Le16(d + 20));
        bpp_ = Le16(d + 24);
        paletteEntry = 3;
    } else {
        if (headerSize < 40)
            return ecBadGraphicsFormat;
        w = static_cast<int32_t>(Le32(d + 18));
        h = static_cast<int32_t>(Le32(d + 22));
        bpp_ = Le16(d + 28);
        compression_ = Le32(d + 30);
        colours = Le32(d + 46);
    }
    topDown_ = h < 0;
    h = h < 0 ? -h : h;
    if (w <= 0 || h <= 0)
        return ecBadGraphicsFormat;
    if (int rc = CheckImageSize(w, h); rc < 0)
        return rc;
    if (bpp_ != 1 && bpp_ != 4 && bpp_ != 8 && bpp_ != 16 && bpp_ != 24 && bpp_ != 32)
        return ecBadGraphicsFormat;
    if (bpp_ == 32)
        masks_[0] = 0xFF0000, masks_[1] = 0xFF00, masks_[2] = 0xFF;
    if (compression_ == 3 && (bpp_ == 16 || bpp_ == 32)) {
        const size_t at = headerSize >= 52 ? 14 + 40 : 14 + headerSize;
        uint8_t m[12];
        if (file_.ReadAt(static_cast<int64_t>(at), m, sizeof m) != ecOK)
            return ecBadGraphicsFormat;
        for (int i = 0; i < 3; ++i)
            masks_[i] = Le32(m + 4 * i);
    } else if (compression_ != 0 && !(compression_ == 1 && bpp_ == 8) && !(compression_ == 2 && bpp_ == 4)) {
        return ecBadGraphicsFormat;
    }
    const bool rle = compression_ == 1 || compression_ == 2;
    if (rle && topDown_)
        return ecBadGraphicsFormat;
    // The palette follows the header (and the bit fields of a 40-byte header).
    palette_.clear();
    if (bpp_ <= 8) {
        const size_t entries = colours && colours <= (1u << bpp_) ? colours : (1u << bpp_);
        const int64_t at = 14 + headerSize + (compression_ == 3 && headerSize == 40 ? 12 : 0);
        std::vector<uint8_t> p(entries * paletteEntry);
        if (file_.ReadAt(at, p.data(), p.size()) != ecOK)
            return ecBadGraphicsFormat;
        for (size_t i = 0; i < entries; ++i)
            palette_.push_back(static_cast<uint32_t>(p[i * paletteEntry] | p[i * paletteEntry + 1] << 8
                                                     | p[i * paletteEntry + 2] << 16));
        // Monochrome rows are taken as bits, whatever order the palette gives the colours.
        flip_ = palette_.size() >= 2 && Brightness(palette_[0]) > Brightness(palette_[1]);
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    kept = std::min(width, keptWidth);
    stride_ = ((static_cast<size_t>(w) * bpp_ + 31) / 32) * 4;
    if (dataOffset_ > size)
        return ecBadGraphicsFormat;
    if (rle)
        return DecodeRle(size);
    if (stride_ * static_cast<size_t>(h) > static_cast<size_t>(size - dataOffset_))
        return ecBadGraphicsFormat;
    blockRows_ = 0;
    return ecOK;
}

// Run-length coded 8- and 4-bit pixels (compression 1 and 2), rows bottom-up. False when the data
// breaks off or runs outside the picture; data that ends without its end mark keeps what it drew.
int TBitmapReader::TBmpFile::DecodeRle(int64_t size)
{
    // A run can paint at most 255 pixels for two bytes: a picture far larger than its data is no
    // run-length bitmap.
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height)
        > 128 * static_cast<uint64_t>(size - dataOffset_ + 2))
        return ecBadGraphicsFormat;
    pageStride_ = (static_cast<size_t>(kept) + 7) / 8;
    // Pixels no run paints keep colour 0.
    const uint32_t background = palette_.empty() ? 0 : palette_[0];
    page_.assign(pageStride_ * static_cast<size_t>(height), 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = page_.data() + pageStride_ * static_cast<size_t>(y);
        if (y >= 32) {
            std::memcpy(row, row - 32 * pageStride_, pageStride_);
            continue;
        }
        for (int x = 0; x < kept; ++x)
            PutPixel(row, x, Black(background, x, y));
    }
    int64_t x = 0, y = height - 1;
    const auto put = [&](uint32_t index) {
        if (x < kept && y >= 0) {
            const uint32_t bgr = index < palette_.size() ? palette_[index] : 0;
            PutPixel(page_.data() + pageStride_ * static_cast<size_t>(y), static_cast<int>(x),
                     Black(bgr, static_cast<int>(x), static_cast<int>(y)));
        }
        ++x;
    };
    file_.Seek(dataOffset_);
    const auto next = [&]() { return file_.GetByte(); };
    for (;;) {
        const int count = next(), value = next();
        if (count < 0 || value < 0)
            break;
        if (count > 0) {
            for (int k = 0; k < count; ++k)
                put(bpp_ == 8 ? static_cast<uint32_t>(value)
                              : static_cast<uint32_t>(k % 2 ? value & 0x0F : value >> 4));
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            --y;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // move
            const int dx = next(), dy = next();
            if (dx < 0 || dy < 0)
                return ecBadGraphicsFormat;
            x += dx;
            y -= dy;
        } else { // `value` pixels as they are, padded to a 16-bit boundary
            const int bytes = bpp_ == 8 ? value : (value + 1) / 2;
            uint8_t literal[256];
            if (file_.Read(literal, static_cast<size_t>(bytes + (bytes & 1))) < bytes)
                return ecBadGraphicsFormat;
            for (int k = 0; k < value; ++k)
                put(bpp_ == 8 ? literal[k]
                              : static_cast<uint32_t>(k % 2 ? literal[k / 2] & 0x0F : literal[k / 2] >> 4));
        }
        if (y < -1)
            return ecBadGraphicsFormat;
    }
    if (file_.Error() < 0)
        return file_.Error();
    file_.Close();
    return ecOK;
}

int TBitmapReader::TBmpFile::Row(int y, uint8_t* raster)
{
    const size_t keptBytes = (static_cast<size_t>(kept) + 7) / 8;
    if (!page_.empty()) {
        std::memcpy(raster, page_.data() + pageStride_ * static_cast<size_t>(y), keptBytes);
        return ecOK;
    }
    // Rows are read in blocks of about 64 KB, in the order the file keeps them.
    const int fileRow = topDown_ ? y : height - 1 - y;
    if (fileRow < blockFirst_ || fileRow >= blockFirst_ + blockRows_) {
        const int n = static_cast<int>(std::clamp<size_t>(65536 / stride_, 1, static_cast<size_t>(height)));
        blockFirst_ = topDown_ ? fileRow : std::max(fileRow - n + 1, 0);
        blockRows_ = std::min(n, height - blockFirst_);
        block_.resize(stride_ * static_cast<size_t>(blockRows_));
        if (int rc =
                file_.ReadAt(dataOffset_ + static_cast<int64_t>(stride_) * blockFirst_, block_.data(), block_.size());
            rc != ecOK) {
            blockRows_ = 0;
            return rc < -1 ? rc : ecDeviceRead;
        }
    }
    const uint8_t* s = block_.data() + stride_ * static_cast<size_t>(fileRow - blockFirst_);
    if (bpp_ == 1) {
        for (size_t i = 0; i < keptBytes; ++i)
            raster[i] = flip_ ? s[i] : static_cast<uint8_t>(~s[i]); // index 1 is white unless flipped
        if (kept % 8)
            raster[keptBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (kept % 8));
        return ecOK;
    }
    for (int x = 0; x < kept; ++x) {
        uint32_t bgr = 0;
        if (bpp_ == 4 || bpp_ == 8) {
            const uint32_t index = bpp_ == 8 ? s[x] : (s[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F;
            bgr = index < palette_.size() ? palette_[index] : 0;
        } else if (bpp_ == 24) {
            bgr = static_cast<uint32_t>(s[3 * x] | s[3 * x + 1] << 8 | s[3 * x + 2] << 16);
        } else {
            const uint32_t px = bpp_ == 16 ? Le16(s + 2 * x) : Le32(s + 4 * x);
            bgr = Channel(px, masks_[2]) | Channel(px, masks_[1]) << 8 | Channel(px, masks_[0]) << 16;
        }
        if (Black(bgr, x, y))
            raster[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
    return ecOK;
}

TBitmapReader::TBitmapReader(bool fromFile) : fromFile_(fromFile) {}
TBitmapReader::~TBitmapReader() = default;

int TBitmapReader::Open(ConverterState& state, const std::string& name)
{
    file_.reset();
    // Pixels past the fax row are never coded.
    const int keptWidth = std::min(state.LineWidth(), kRasterBufferSize * 8);
    if (fromFile_) {
        file_ = std::make_unique<TBmpFile>();
        if (int rc = file_->Open(name, keptWidth); rc < 0)
            return rc;
        width_ = file_->width;
        height_ = file_->height;
    } else {
        if (!given_ || given_->width <= 0 || given_->height <= 0
            || (given_->bitsPerPixel != 1 && given_->bitsPerPixel != 32)
            || given_->stride < (given_->bitsPerPixel == 1 ? (given_->width + 7) / 8 : given_->width * 4)
            || given_->bits.size() < static_cast<size_t>(given_->stride) * static_cast<size_t>(given_->height))
            return ecBadArgument;
        if (int rc = CheckImageSize(given_->width, given_->height); rc < 0)
            return rc;
        width_ = given_->width;
        height_ = given_->height;
    }
    row_ = 0;
    state.DecideImageLayout(width_, true);
    state.bytesRead = 0;
    state.bytesTotal = static_cast<int64_t>(height_);
    return ecOK;
}

int TBitmapReader::ReadLine(ConverterState& state, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage)
{
    morePages = false;
    endOfPage = row_ >= height_;
    if (endOfPage)
        return ecOK;
    const int w = std::min({width_, state.LineWidth(), kRasterBufferSize * 8});
    const int rowBytes = (w + 7) / 8;
    bytes = rowBytes;
    if (file_) {
        if (int rc = file_->Row(row_, raster); rc < 0)
            return rc;
    } else {
        const uint8_t* src = given_->bits.data() + static_cast<size_t>(row_) * static_cast<size_t>(given_->stride);
        if (given_->bitsPerPixel == 1) {
            std::memcpy(raster, src, static_cast<size_t>(rowBytes));
            InvertBytes(raster, static_cast<size_t>(rowBytes)); // screen bitmaps keep 1 = white
            if (w % 8)
                raster[rowBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (w % 8));
        } else {
            const int(*t)[32] = Dither().t;
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = src + 4 * x;
                if (p[0] + p[1] + p[2] < 10 * t[x & 31][row_ & 31])
                    raster[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
            }
        }
    }
    state.ShiftRow(raster, rowBytes);
    ++row_;
    state.bytesRead = row_;
    return ecOK;
}

void TBitmapReader::Close(ConverterState&) { file_.reset(); }

} // namespace zn::faxdoc
