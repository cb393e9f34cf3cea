#include "faxdoc/page_files.h"

#include "faxdoc/fax_errors.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {
namespace {

void Put16(uint8_t* p, uint32_t x)
{
    p[0] = static_cast<uint8_t>(x);
    p[1] = static_cast<uint8_t>(x >> 8);
}
void Put32(uint8_t* p, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(x >> (8 * i));
}

int BmpRowBytes(int stride) { return (stride + 3) & ~3; }
constexpr size_t kBmpDataOffset = 14 + 40 + 8;

void AppendPcxHeader(int width, int height, int stride, std::vector<uint8_t>& out)
{
    const size_t start = out.size();
    out.resize(start + kPcxHeaderSize, 0);
    uint8_t* h = out.data() + start;
    h[0] = 10; // manufacturer
    h[1] = 2;  // version
    h[2] = 1;  // RLE
    h[3] = 1;  // bits per pixel
    Put16(h + 8, static_cast<uint32_t>(std::max(width - 1, 0)));
    Put16(h + 10, static_cast<uint32_t>(std::max(height - 1, 0)));
    h[65] = 1; // planes
    Put16(h + 66, static_cast<uint32_t>(stride));
}

// The file's bytes in front of the image data, for a page of `height` rows whose image data
// takes `dataBytes`.
std::vector<uint8_t> PageHeader(TPageFileKind kind, int stride, int height, uint64_t dataBytes)
{
    const int width = stride * 8;
    std::vector<uint8_t> out;
    switch (kind) {
    case TPageFileKind::Pcx: AppendPcxHeader(width, height, stride, out); break;
    case TPageFileKind::Dcx:
        out.assign(kDcxHeaderSize, 0);
        Put32(out.data(), kDcxSignature);
        Put32(out.data() + 4, kDcxHeaderSize);
        AppendPcxHeader(width, height, stride, out);
        break;
    case TPageFileKind::Tiff: {
        struct TEntry {
            uint16_t tag;
            uint16_t type; // 3 SHORT, 4 LONG
            uint32_t value;
        };
        const auto sizeType = [](int v) -> uint16_t { return v > 0xFFFF ? 4 : 3; };
        const TEntry entries[] = {
            {255, 3, 1},
            {256, sizeType(width), static_cast<uint32_t>(width)},
            {257, sizeType(height), static_cast<uint32_t>(height)},
            {258, 3, 1},
            {259, 3, 32773},
            {262, 3, 0},
            {273, 4, kTiffStripOffset},
            {278, 4, static_cast<uint32_t>(height)},
            {279, 4, static_cast<uint32_t>(dataBytes)},
        };
        out.assign(kTiffStripOffset, 0);
        out[0] = 'I';
        out[1] = 'I';
        Put16(&out[2], 42);
        Put32(&out[4], 8);
        Put16(&out[8], 9);
        size_t at = 10;
        for (const TEntry& e : entries) {
            Put16(&out[at], e.tag);
            Put16(&out[at + 2], e.type);
            Put32(&out[at + 4], 1);
            if (e.type == 3)
                Put16(&out[at + 8], e.value);
            else
                Put32(&out[at + 8], e.value);
            at += 12;
        }
        Put32(&out[at], 0); // no further IFD
        break;
    }
    case TPageFileKind::Bmp: {
        out.assign(kBmpDataOffset, 0);
        uint8_t* h = out.data();
        h[0] = 'B';
        h[1] = 'M';
        Put32(h + 2, static_cast<uint32_t>(kBmpDataOffset + dataBytes));
        Put32(h + 10, static_cast<uint32_t>(kBmpDataOffset));
        Put32(h + 14, 40);
        Put32(h + 18, static_cast<uint32_t>(width));
        Put32(h + 22, static_cast<uint32_t>(height));
        Put16(h + 26, 1);
        Put16(h + 28, 1);
        Put32(h + 34, static_cast<uint32_t>(dataBytes));
        Put32(h + 38, 7874); // 200 dpi
        Put32(h + 42, 7874);
        Put32(h + 46, 2);
        // Palette: index 0 black, index 1 white, so bits are stored 1 = white.
        h[54 + 4] = h[54 + 5] = h[54 + 6] = 0xFF;
        break;
    }
    }
    return out;
}

// PCX stores 1 = white: every byte inverted, runs of up to 63 equal bytes as (0xC0 + n, byte).
void AppendPcxRow(const uint8_t* row, int n, std::vector<uint8_t>& out)
{
    int x = 0;
    while (x < n) {
        const uint8_t b = static_cast<uint8_t>(~row[x]);
        int run = 1;
        while (x + run < n && run < 63 && row[x + run] == row[x])
            ++run;
        if (run > 1 || b >= 0xC0)
            out.push_back(static_cast<uint8_t>(0xC0 + run));
        out.push_back(b);
        x += run;
    }
}

// PackBits: literal runs of up to 128 bytes with count n - 1, repeats of 2 to 128 with count 1 - n.
void AppendPackBitsRow(const uint8_t* row, int n, std::vector<uint8_t>& out)
{
    int i = 0;
    while (i < n) {
        int rep = 1;
        while (i + rep < n && rep < 128 && row[i + rep] == row[i])
            ++rep;
        if (rep >= 2) {
            out.push_back(static_cast<uint8_t>(1 - rep));
            out.push_back(row[i]);
            i += rep;
            continue;
        }
        int lit = 1;
        while (i + lit < n && lit < 128 && !(i + lit + 1 < n && row[i + lit] == row[i + lit + 1]))
            ++lit;
        out.push_back(static_cast<uint8_t>(lit - 1));
        out.insert(out.end(), row + i, row + i + lit);
        i += lit;
    }
}

// BMP rows: 1 = white, padded to four bytes.
void AppendBmpRow(const uint8_t* row, int n, std::vector<uint8_t>& out)
{
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(BmpRowBytes(n)), 0);
    for (int x = 0; x < n; ++x)
        out[start + static_cast<size_t>(x)] = static_cast<uint8_t>(~row[x]);
}

void AppendRow(TPageFileKind kind, const uint8_t* row, int n, std::vector<uint8_t>& out)
{
    switch (kind) {
    case TPageFileKind::Pcx:
    case TPageFileKind::Dcx: AppendPcxRow(row, n, out); break;
    case TPageFileKind::Tiff: AppendPackBitsRow(row, n, out); break;
    case TPageFileKind::Bmp: AppendBmpRow(row, n, out); break;
    }
}

} // namespace

int TPageFileWriter::Create(const std::string& name, TPageFileKind kind, int stride)
{
    kind_ = kind;
    stride_ = stride;
    rows_ = 0;
    if (int rc = out_.Create(name); rc < 0)
        return rc;
    const std::vector<uint8_t> head = PageHeader(kind, stride, 0, 0);
    imageStart_ = static_cast<int64_t>(head.size());
    return out_.Write(head.data(), head.size());
}

int TPageFileWriter::WriteRow(const uint8_t* row)
{
    if ((kind_ == TPageFileKind::Pcx || kind_ == TPageFileKind::Dcx) && rows_ >= kPcxMaxRows) {
        out_.Discard();
        return ecPageTooTallForFormat;
    }
    coded_.clear();
    AppendRow(kind_, row, stride_, coded_);
    ++rows_;
    return out_.Write(coded_.data(), coded_.size());
}

int TPageFileWriter::ReverseRows()
{
    const size_t rowBytes = static_cast<size_t>(BmpRowBytes(stride_));
    constexpr int kBlockRows = 256;
    std::vector<uint8_t> top(rowBytes * kBlockRows), bottom(rowBytes * kBlockRows);
    const auto reverse = [&](std::vector<uint8_t>& block, int n) {
        for (int i = 0; i < n / 2; ++i)
            std::swap_ranges(block.begin() + static_cast<ptrdiff_t>(rowBytes) * i,
                             block.begin() + static_cast<ptrdiff_t>(rowBytes) * (i + 1),
                             block.begin() + static_cast<ptrdiff_t>(rowBytes) * (n - 1 - i));
    };
    int lo = 0, hi = rows_;
    while (hi - lo >= 2) {
        const int n = std::min(kBlockRows, (hi - lo) / 2);
        const int64_t loAt = imageStart_ + static_cast<int64_t>(lo) * static_cast<int64_t>(rowBytes);
        const int64_t hiAt = imageStart_ + static_cast<int64_t>(hi - n) * static_cast<int64_t>(rowBytes);
        const size_t bytes = rowBytes * static_cast<size_t>(n);
        if (int rc = out_.ReadAt(loAt, top.data(), bytes); rc < 0)
            return rc;
        if (int rc = out_.ReadAt(hiAt, bottom.data(), bytes); rc < 0)
            return rc;
        reverse(top, n);
        reverse(bottom, n);
        if (int rc = out_.WriteAt(loAt, bottom.data(), bytes); rc < 0)
            return rc;
        if (int rc = out_.WriteAt(hiAt, top.data(), bytes); rc < 0)
            return rc;
        lo += n;
        hi -= n;
    }
    return ecOK;
}

int TPageFileWriter::Close()
{
    if (kind_ == TPageFileKind::Bmp)
        if (int rc = ReverseRows(); rc < 0)
            return rc;
    const int64_t end = out_.Position();
    const std::vector<uint8_t> head = PageHeader(kind_, stride_, rows_, static_cast<uint64_t>(end - imageStart_));
    if (int rc = out_.WriteAt(0, head.data(), head.size()); rc < 0)
        return rc;
    return out_.Close();
}

std::vector<uint8_t> EncodePage(TPageFileKind kind, const TMonoBitmap& page)
{
    std::vector<uint8_t> body, row(static_cast<size_t>(page.stride));
    for (int i = 0; i < page.height; ++i) {
        // BMP stores the bottom row first.
        const int y = kind == TPageFileKind::Bmp ? page.height - 1 - i : i;
        const uint8_t* src = page.Row(y);
        for (int x = 0; x < page.stride; ++x)
            row[static_cast<size_t>(x)] = page.blackIsOne ? src[x] : static_cast<uint8_t>(~src[x]);
        AppendRow(kind, row.data(), page.stride, body);
    }
    std::vector<uint8_t> out = PageHeader(kind, page.stride, page.height, body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

const char* DefaultPageExtension(TPageFileKind kind)
{
    switch (kind) {
    case TPageFileKind::Pcx: return "PCX";
    case TPageFileKind::Dcx: return "DCX";
    case TPageFileKind::Tiff: return "TIF";
    case TPageFileKind::Bmp: return "BMP";
    }
    return "";
}

std::vector<uint8_t> EncodePcx(const TMonoBitmap& page) { return EncodePage(TPageFileKind::Pcx, page); }
std::vector<uint8_t> EncodeDcx(const TMonoBitmap& page) { return EncodePage(TPageFileKind::Dcx, page); }
std::vector<uint8_t> EncodeTiff(const TMonoBitmap& page) { return EncodePage(TPageFileKind::Tiff, page); }
std::vector<uint8_t> EncodeBmp(const TMonoBitmap& page) { return EncodePage(TPageFileKind::Bmp, page); }

int WriteFileData(const std::string& name, const std::vector<uint8_t>& data)
{
    TBufferedWriter w;
    if (int rc = w.Create(name); rc < 0)
        return rc;
    if (int rc = w.Write(data.data(), data.size()); rc < 0)
        return rc;
    return w.Close();
}

} // namespace zn::faxdoc
