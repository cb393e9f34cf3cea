#include "faxdoc/converter.h"

#include "faxdoc/bmp_header.h"
#include "faxdoc/fax_errors.h"
#include "faxdoc/raster_ops.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {
namespace {

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

inline void PutPixel(uint8_t* raster, int x, bool black)
{
    const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    if (black)
        raster[x >> 3] |= bit;
    else
        raster[x >> 3] &= static_cast<uint8_t>(~bit);
}

// The run-length codes, read byte by byte from the file.
class TBmpRleFile {
public:
    explicit TBmpRleFile(TInFile& file) : file_(file) {}
    int Next() { return file_.GetByte(); }
    bool Read(uint8_t* to, size_t n, size_t padded) { return file_.Read(to, padded) >= static_cast<long>(n); }

private:
    TInFile& file_;
};

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
    int DecodeRle();
    static bool Black(uint32_t bgr, int x, int y)
    {
        return BmpBrightness(bgr) < 10u * static_cast<uint32_t>(DitherThreshold(x, y));
    }

    TInFile file_;
    TBmpHeader head_;
    std::vector<uint8_t> block_; // file rows [blockFirst_, blockFirst_ + blockRows_)
    int blockFirst_ = 0, blockRows_ = 0;
    std::vector<uint8_t> page_; // run-length pictures: the kept pixels of every row, 1 = black
    size_t pageStride_ = 0;
};

int TBitmapReader::TBmpFile::Open(const std::string& name, int keptWidth)
{
    if (int rc = file_.Open(name); rc < 0)
        return rc;
    const auto bytesAt = [this](int64_t at, uint8_t* to, size_t n) { return file_.ReadAt(at, to, n); };
    if (int rc = ReadBmpHeader(file_.Size(), bytesAt, CheckImageSize, head_); rc < 0)
        return rc;
    width = static_cast<int>(head_.width);
    height = static_cast<int>(head_.height);
    kept = std::min(width, keptWidth);
    if (head_.RunLength())
        return DecodeRle();
    blockRows_ = 0;
    return ecOK;
}

int TBitmapReader::TBmpFile::DecodeRle()
{
    pageStride_ = (static_cast<size_t>(kept) + 7) / 8;
    // Pixels no run paints keep colour 0.
    const uint32_t background = head_.Colour(0);
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
    file_.Seek(head_.dataOffset);
    TBmpRleFile codes(file_);
    const int rc = WalkBmpRle(codes, head_.bpp, height, kept, [&](uint32_t index, int64_t x, int64_t y) {
        PutPixel(page_.data() + pageStride_ * static_cast<size_t>(y), static_cast<int>(x),
                 Black(head_.Colour(index), static_cast<int>(x), static_cast<int>(y)));
    });
    if (rc < 0)
        return rc;
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
    const int fileRow = head_.topDown ? y : height - 1 - y;
    if (fileRow < blockFirst_ || fileRow >= blockFirst_ + blockRows_) {
        const int n = static_cast<int>(std::clamp<size_t>(65536 / head_.stride, 1, static_cast<size_t>(height)));
        blockFirst_ = head_.topDown ? fileRow : std::max(fileRow - n + 1, 0);
        blockRows_ = std::min(n, height - blockFirst_);
        block_.resize(head_.stride * static_cast<size_t>(blockRows_));
        if (int rc = file_.ReadAt(head_.dataOffset + static_cast<int64_t>(head_.stride) * blockFirst_, block_.data(),
                                  block_.size());
            rc != ecOK) {
            blockRows_ = 0;
            return rc < -1 ? rc : ecDeviceRead;
        }
    }
    const uint8_t* s = block_.data() + head_.stride * static_cast<size_t>(fileRow - blockFirst_);
    if (head_.bpp == 1) {
        for (size_t i = 0; i < keptBytes; ++i) // index 1 is white unless index 0 is the lighter
            raster[i] = head_.zeroIsLighter ? s[i] : static_cast<uint8_t>(~s[i]);
        if (kept % 8)
            raster[keptBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (kept % 8));
        return ecOK;
    }
    head_.ForEachPixel(s, kept, [raster, y](int64_t x, uint32_t bgr) {
        if (Black(bgr, static_cast<int>(x), y))
            raster[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    });
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
