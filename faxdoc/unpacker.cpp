#include "faxdoc/unpacker.h"

#include "faxdoc/fax_errors.h"
#include "faxdoc/file_io.h"
#include "faxdoc/file_names.h"
#include "faxdoc/mh_coder.h"
#include "faxdoc/mh_codes.h"
#include "faxdoc/page_files.h"
#include "faxdoc/raster_ops.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace zn::faxdoc {
namespace {

constexpr int kMemRowBytes = 256;
constexpr int kMemBlockRows = 1024;

bool AllZero(const uint8_t* row, int len)
{
    for (int i = 0; i < len; ++i)
        if (row[i])
            return false;
    return true;
}

// Nearest-neighbour scaling that keeps black: an output pixel is black when any source pixel
// it stands for is black.
TMonoBitmap ScaleBitmap(const TMonoBitmap& src, int width, int height)
{
    TMonoBitmap dst;
    dst.blackIsOne = src.blackIsOne;
    dst.stride = ((width + 15) / 16) * 2;
    dst.width = dst.stride * 8;
    dst.height = height;
    const uint8_t white = src.blackIsOne ? 0 : 0xFF;
    dst.bits.assign(static_cast<size_t>(dst.stride) * static_cast<size_t>(height), white);
    const int srcW = src.width, srcH = src.height;
    for (int y = 0; y < height; ++y) {
        const int y0 = static_cast<int>(static_cast<int64_t>(y) * srcH / height);
        const int y1 = std::max(y0 + 1, static_cast<int>(static_cast<int64_t>(y + 1) * srcH / height));
        uint8_t* out = dst.Row(y);
        for (int x = 0; x < width; ++x) {
            const int x0 = static_cast<int>(static_cast<int64_t>(x) * srcW / width);
            const int x1 = std::max(x0 + 1, static_cast<int>(static_cast<int64_t>(x + 1) * srcW / width));
            bool black = false;
            for (int sy = y0; sy < y1 && sy < srcH && !black; ++sy)
                for (int sx = x0; sx < x1 && sx < srcW && !black; ++sx)
                    black = src.Pixel(sx, sy) == src.blackIsOne;
            if (black == src.blackIsOne)
                out[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
            else
                out[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
        }
    }
    return dst;
}

} // namespace

std::string UnpackOutputName(const std::string& inName, const std::string& outName, const char* defaultExtension)
{
    if (outName.empty())
        return ForceExtension(inName, defaultExtension);
    return DefaultExtension(outName, defaultExtension);
}

UnpackerState::UnpackerState(TOutputLineProc outputLine) : outputLine_(std::move(outputLine))
{
    work_.resize(TMhDecoder::kRowBufferBytes);
}

void UnpackerState::SetUnpackerFlags(uint16_t bits)
{
    const uint16_t scale = kUnpackDoubleHeight | kUnpackHalfWidth;
    if ((bits & scale) == scale)
        return;
    if (bits & scale)
        flags_ = static_cast<uint16_t>(flags_ & ~scale);
    flags_ = static_cast<uint16_t>(flags_ | bits);
}

void UnpackerState::ClearUnpackerFlags(uint16_t bits) { flags_ = static_cast<uint16_t>(flags_ & ~bits); }

int UnpackerState::SetWhitespaceCompression(uint32_t from, uint32_t to)
{
    if (from < to || (from == 0 && to != 0))
        return ecBadArgument;
    whitespaceFrom_ = from;
    whitespaceTo_ = to;
    return ecOK;
}

void UnpackerState::SetUnpackerScaling(uint32_t horizMult, uint32_t horizDiv, uint32_t vertMult, uint32_t vertDiv)
{
    horizMult_ = horizMult ? horizMult : 1;
    horizDiv_ = horizDiv ? horizDiv : 1;
    vertMult_ = vertMult ? vertMult : 1;
    vertDiv_ = vertDiv ? vertDiv : 1;
}

int UnpackerState::Output(int kind, const uint8_t* row, int len)
{
    if (fileOut_)
        return FileRow(kind, row, len);
    if (collecting_)
        return CollectRow(kind, row, len);
    return outputLine_ ? outputLine_(*this, kind, row, pageNumber_, len) : ecOK;
}

int UnpackerState::Emit(const uint8_t* row, int len)
{
    const bool normal = !(pageHeader_.flags & kPageHighResolution);
    const bool halve = normal && (flags_ & kUnpackHalfWidth) && len > 0;
    if (len > 0 && (invert_ || halve)) {
        uint8_t* w = work_.data();
        std::memcpy(w, row, static_cast<size_t>(len));
        // Halving ORs black pixels, so it comes before inverting: a one-pixel black line stays.
        if (halve) {
            const int half = len / 2;
            for (int i = 0; i < half; ++i) {
                uint8_t out = 0;
                for (int b = 0; b < 2; ++b) {
                    const uint8_t in = w[2 * i + b];
                    for (int p = 0; p < 4; ++p)
                        if (in & (0xC0 >> (2 * p)))
                            out = static_cast<uint8_t>(out | (0x80 >> (4 * b + p)));
                }
                w[i] = out;
            }
            len = half;
        }
        if (invert_)
            InvertBytes(w, static_cast<size_t>(len));
        row = w;
    }
    const int times = normal && (flags_ & kUnpackDoubleHeight) ? 2 : 1;
    for (int t = 0; t < times; ++t) {
        if (int rc = Output(kOutputRow, row, len); rc < 0)
            return rc;
        ++rowsDelivered_;
        if ((flags_ & kUnpackYield) && yield_ && rowsDelivered_ % 16 == 0)
            if (int rc = yield_(); rc < 0)
                return rc;
    }
    if (status_)
        status_(*this, fileName_, pageNumber_, std::min(bytesRead_, pageLength_), pageLength_);
    return ecOK;
}

// Blank-row compression: runs of at least From blank rows become To rows.
int UnpackerState::Deliver(const uint8_t* row, int len)
{
    if (whitespaceFrom_ && whitespaceTo_) {
        if (AllZero(row, len)) {
            ++pendingBlanks_;
            return ecOK;
        }
        if (pendingBlanks_ > 0) {
            const int n =
                pendingBlanks_ >= static_cast<int>(whitespaceFrom_) ? static_cast<int>(whitespaceTo_) : pendingBlanks_;
            pendingBlanks_ = 0;
            for (int i = 0; i < n; ++i)
                if (int rc = Emit(nullptr, 0); rc < 0)
                    return rc;
        }
    }
    return Emit(row, len);
}

int UnpackerState::FlushPendingBlanks()
{
    int n = 0;
    if (pendingBlanks_ > 0 && whitespaceFrom_ != whitespaceTo_)
        n = pendingBlanks_ < static_cast<int>(whitespaceFrom_) ? pendingBlanks_ : static_cast<int>(whitespaceTo_);
    pendingBlanks_ = 0;
    for (int i = 0; i < n; ++i)
        if (int rc = Emit(nullptr, 0); rc < 0)
            return rc;
    return ecOK;
}

int UnpackerState::UnpackPage(const std::string& fileName, unsigned page)
{
    TInFile f;
    TApfFileHeader fileHeader;
    TApfPageHeader pageHeader;
    if (int rc = pageIndex_.OpenPage(f, fileName, page, fileHeader, pageHeader); rc < 0)
        return rc;
    return UnpackPageAt(f, fileName, page, fileHeader, pageHeader);
}

int UnpackerState::UnpackPageAt(TInFile& f, const std::string& fileName, unsigned page,
                                const TApfFileHeader& fileHeader, const TApfPageHeader& pageHeader)
{
    fileHeader_ = fileHeader;
    pageHeader_ = pageHeader;
    fileName_ = fileName;
    pageNumber_ = static_cast<int>(page);
    return DecodePage(f);
}

// The page's data goes to the decoder in pieces as it is read, so memory stays a piece whatever
// the page's length.
int UnpackerState::DecodePage(TInFile& f)
{
    constexpr size_t kPieceBytes = 65536;
    pageLength_ = pageHeader_.length;
    rowsDelivered_ = 0;
    pendingBlanks_ = 0;
    bytesRead_ = 0;
    if (int rc = Output(kOutputStart, nullptr, 0); rc < 0)
        return rc;
    TMhDecoder decoder;
    int failure = ecOK;
    int rows = 0;
    const TMhDecoder::TRowSink sink = [&](const uint8_t* row, int len) {
        if (++rows > kMaxPageRows) {
            failure = ecPageTooLong;
            return false;
        }
        failure = Deliver(row, len);
        if (failure >= 0 && (flags_ & kUnpackAbort))
            return false;
        return failure >= 0;
    };
    // Pieces of the page are gathered and decoded some 64 KB at a time.
    input_.clear();
    input_.reserve(kPieceBytes + kApfMaxRecordBytes);
    bool ended = false;
    const auto decode = [&] {
        ended = decoder.Decode(input_.data(), input_.size(), sink);
        input_.clear();
        return !ended;
    };
    const int readResult = ReadApfPageData(
        f, pageHeader_,
        [&](const uint8_t* piece, size_t size) {
            input_.insert(input_.end(), piece, piece + size);
            return input_.size() < kPieceBytes || decode();
        },
        bytesRead_);
    if (readResult < 0 && readResult != ecFaxBadFormat)
        return readResult;
    if (!ended && !input_.empty())
        decode();
    if (!ended)
        ended = decoder.Finish(sink);
    badCodes_ = decoder.BadCodes();
    if (failure < 0)
        return failure;
    if (!ended && readResult < 0)
        return readResult;
    if (int rc = FlushPendingBlanks(); rc < 0)
        return rc;
    if (status_)
        status_(*this, fileName_, pageNumber_, std::min(bytesRead_, pageLength_), pageLength_);
    return Output(kOutputEnd, nullptr, 0);
}

int UnpackerState::CollectRow(int kind, const uint8_t* row, int len)
{
    const uint8_t white = invert_ ? 0xFF : 0x00;
    try {
        if (kind == kOutputStart) {
            memRows_.assign(static_cast<size_t>(kMemBlockRows) * kMemRowBytes, white);
            memRowCount_ = 0;
            widestRow_ = 0;
            return ecOK;
        }
        if (kind == kOutputRow) {
            if (memRowCount_ > 0 && memRowCount_ % kMemBlockRows == 0)
                memRows_.resize(memRows_.size() + static_cast<size_t>(kMemBlockRows) * kMemRowBytes, white);
            uint8_t* dst = memRows_.data() + static_cast<size_t>(memRowCount_) * kMemRowBytes;
            const int n = std::min(len, kMemRowBytes);
            if (n > 0)
                std::memcpy(dst, row, static_cast<size_t>(n));
            for (int i = n - 1; i >= 0; --i)
                if (row[i] != white) {
                    widestRow_ = std::max(widestRow_, i + 1);
                    break;
                }
            ++memRowCount_;
        }
    } catch (const std::bad_alloc&) {
        return ecOutOfMemory;
    }
    return ecOK;
}

int UnpackerState::UnpackPageToMemBitmap(const std::string& fileName, unsigned page, bool invert, TMonoBitmap& out)
{
    invert_ = invert;
    collecting_ = true;
    const int rc = UnpackPage(fileName, page);
    collecting_ = false;
    invert_ = false;
    if (rc < 0) {
        memRows_ = {};
        return rc;
    }
    try {
        const int base = (pageHeader_.flags & kPageWide) ? kWideLineWidth / 8 : kNormalLineWidth / 8;
        int width = std::max(widestRow_, base);
        width += width & 1;
        TMonoBitmap bm;
        bm.blackIsOne = !invert;
        bm.stride = width;
        bm.width = width * 8;
        bm.height = memRowCount_;
        bm.bits.assign(static_cast<size_t>(width) * static_cast<size_t>(memRowCount_), invert ? 0xFF : 0);
        for (int y = 0; y < memRowCount_; ++y)
            std::memcpy(bm.Row(y), memRows_.data() + static_cast<size_t>(y) * kMemRowBytes,
                        static_cast<size_t>(std::min(width, kMemRowBytes)));
        memRows_ = {};
        if (horizMult_ != horizDiv_ || vertMult_ != vertDiv_) {
            const int64_t w = static_cast<int64_t>(horizMult_) * bm.width / horizDiv_;
            const int64_t h = static_cast<int64_t>(bm.height) * vertMult_ / vertDiv_;
            if (w <= 0 || h <= 0 || w > 65536 || h > 1 << 20)
                return ecCantMakeBitmap;
            bm = ScaleBitmap(bm, static_cast<int>(w), static_cast<int>(h));
        }
        out = std::move(bm);
    } catch (const std::bad_alloc&) {
        return ecOutOfMemory;
    }
    return ecOK;
}

namespace {

// The bytes of a row that hold ink (its length up to the last non-zero byte), at most kMemRowBytes.
int InkedBytes(const uint8_t* row, int len)
{
    for (int i = std::min(len, kMemRowBytes) - 1; i >= 0; --i)
        if (row[i])
            return i + 1;
    return 0;
}

} // namespace

int UnpackerState::FileRow(int kind, const uint8_t* row, int len)
{
    if (kind != kOutputRow)
        return ecOK;
    const int n = std::min(len, kMemRowBytes);
    widestRow_ = std::max(widestRow_, InkedBytes(row, n));
    if (widestRow_ > fileStride_) {
        // Decoding goes on only to find the widest row; the page is written again that wide.
        fileTooNarrow_ = true;
        return ecOK;
    }
    if (fileTooNarrow_)
        return ecOK;
    uint8_t out[kMemRowBytes] = {};
    if (n > 0)
        std::memcpy(out, row, static_cast<size_t>(std::min(n, fileStride_)));
    return fileOut_->WriteRow(out);
}

int UnpackerState::StreamPageToFile(const std::string& inName, const std::string& outName, unsigned page,
                                    TPageFileKind kind)
{
    TPageFileWriter writer;
    int rc = ecOK;
    fileOut_ = &writer;
    // The page is as wide as its widest row and at least as its row width: first tried at the row
    // width, which nearly every page is.
    for (int attempt = 0; attempt < 2; ++attempt) {
        TInFile f;
        TApfFileHeader fileHeader;
        TApfPageHeader pageHeader;
        rc = pageIndex_.OpenPage(f, inName, page, fileHeader, pageHeader);
        if (rc < 0)
            break;
        if (attempt == 0) {
            fileStride_ = (pageHeader.flags & kPageWide) ? kWideLineWidth / 8 : kNormalLineWidth / 8;
            widestRow_ = 0;
        } else {
            fileStride_ = widestRow_ + (widestRow_ & 1);
        }
        fileTooNarrow_ = false;
        rc = writer.Create(outName, kind, fileStride_);
        if (rc >= 0) {
            fileHeader_ = fileHeader;
            pageHeader_ = pageHeader;
            fileName_ = inName;
            pageNumber_ = static_cast<int>(page);
            rc = DecodePage(f);
        }
        if (rc < 0 || !fileTooNarrow_)
            break;
        writer.Discard();
    }
    fileOut_ = nullptr;
    if (rc < 0)
        return rc;
    return writer.Close();
}

int UnpackerState::UnpackPageToFile(const std::string& inName, const std::string& outName, unsigned page,
                                    TPageFileKind kind)
{
    if (inName.empty())
        return ecFileNotFound;
    const std::string output = UnpackOutputName(inName, outName, DefaultPageExtension(kind));
    if (int rc = RefuseOutputOverInput(inName, output); rc < 0)
        return rc;
    if (horizMult_ == horizDiv_ && vertMult_ == vertDiv_)
        return StreamPageToFile(inName, output, page, kind);
    // A scaled page is made whole in memory first.
    TMonoBitmap bm;
    if (int rc = UnpackPageToMemBitmap(inName, page, false, bm); rc < 0)
        return rc;
    if ((kind == TPageFileKind::Pcx || kind == TPageFileKind::Dcx) && bm.height > kPcxMaxRows)
        return ecPageTooTallForFormat;
    try {
        return WriteFileData(output, EncodePage(kind, bm));
    } catch (const std::bad_alloc&) {
        return ecOutOfMemory;
    }
}

int UnpackerState::UnpackPageToPcx(const std::string& inName, const std::string& outName, unsigned page)
{
    return UnpackPageToFile(inName, outName, page, TPageFileKind::Pcx);
}
int UnpackerState::UnpackPageToDcx(const std::string& inName, const std::string& outName, unsigned page)
{
    return UnpackPageToFile(inName, outName, page, TPageFileKind::Dcx);
}
int UnpackerState::UnpackPageToTiff(const std::string& inName, const std::string& outName, unsigned page)
{
    return UnpackPageToFile(inName, outName, page, TPageFileKind::Tiff);
}
int UnpackerState::UnpackPageToBmp(const std::string& inName, const std::string& outName, unsigned page)
{
    return UnpackPageToFile(inName, outName, page, TPageFileKind::Bmp);
}

} // namespace zn::faxdoc
