#include "faxdoc/converter.h"

#include "faxdoc/fax_errors.h"
#include "faxdoc/page_files.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {
namespace {

constexpr int kDcxMaxPages = 1024;

uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

} // namespace

int TPcxReader::Open(ConverterState& state, const std::string& name)
{
    if (int rc = file_.Open(name); rc < 0)
        return rc;
    const int64_t size = file_.Size();
    pages_.clear();
    page_ = 0;
    if (!dcx_) {
        pages_.emplace_back(0, size);
    } else {
        uint8_t table[4 + 4 * kDcxMaxPages] = {};
        const long n = file_.Read(table, sizeof table);
        if (n < 0)
            return static_cast<int>(n);
        if (n < 4 || Le32(table) != kDcxSignature)
            return ecBadGraphicsFormat;
        std::vector<int64_t> offsets;
        for (long at = 4; at + 4 <= n && offsets.size() < kDcxMaxPages; at += 4) {
            const int64_t offset = Le32(table + at);
            if (offset == 0)
                break;
            offsets.push_back(offset);
        }
        // A page's data runs to the next page's offset; two pages at one offset would be one picture
        // many times over.
        std::vector<int64_t> sorted = offsets;
        std::sort(sorted.begin(), sorted.end());
        if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
            return ecBadGraphicsFormat;
        for (int64_t offset : offsets) {
            const auto next = std::upper_bound(sorted.begin(), sorted.end(), offset);
            const int64_t end = next == sorted.end() ? size : *next;
            if (offset >= size)
                return ecBadGraphicsFormat;
            pages_.emplace_back(offset, std::min(end, size));
        }
        if (pages_.empty())
            return ecBadGraphicsFormat;
    }
    return OpenPage(state, pages_[0].first, pages_[0].second);
}

int TPcxReader::OpenPage(ConverterState& state, int64_t begin, int64_t end)
{
    uint8_t h[kPcxHeaderSize];
    if (end < begin || end - begin < kPcxHeaderSize)
        return ecBadGraphicsFormat;
    if (int rc = file_.ReadAt(begin, h, sizeof h); rc != ecOK)
        return rc < -1 ? rc : ecBadGraphicsFormat;
    const int xmin = static_cast<int>(Le16(h + 4)), ymin = static_cast<int>(Le16(h + 6));
    const int xmax = static_cast<int>(Le16(h + 8)), ymax = static_cast<int>(Le16(h + 10));
    const int planes = h[65];
    bytesPerLine_ = static_cast<int>(Le16(h + 66));
    if (h[0] != 10 || h[2] != 1 || h[3] != 1 || xmax < xmin || ymax < ymin || xmax - xmin > state.LineWidth())
        return ecBadGraphicsFormat;
    width_ = xmax - xmin + 1;
    height_ = ymax - ymin + 1;
    // Several planes would be colour, and a row length that does not hold the width, or one past the
    // raster buffer, cannot be a monochrome row.
    if (planes != 1 || bytesPerLine_ < (width_ + 7) / 8 || bytesPerLine_ > kRasterBufferSize)
        return ecBadGraphicsFormat;
    file_.Seek(begin + kPcxHeaderSize);
    end_ = end;
    row_ = 0;
    state.DecideImageLayout(width_, false);
    state.bytesRead = 0;
    state.bytesTotal = end - begin - kPcxHeaderSize;
    return ecOK;
}

int TPcxReader::ReadLine(ConverterState& state, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage)
{
    morePages = page_ + 1 < pages_.size();
    if (row_ >= height_) {
        endOfPage = true;
        if (morePages) {
            ++page_;
            return OpenPage(state, pages_[page_].first, pages_[page_].second);
        }
        return ecOK;
    }
    endOfPage = false;
    const int rowBytes = (width_ + 7) / 8;
    bytes = rowBytes;
    const auto readFailure = [&] { return file_.Error() < 0 ? file_.Error() : ecDeviceRead; };
    // RLE: a byte of 192 or more counts (low 6 bits) copies of the next byte. Runs do not cross rows.
    int done = 0;
    const int64_t start = file_.Position();
    while (done < bytesPerLine_) {
        if (file_.Position() >= end_)
            return ecDeviceRead;
        int b = file_.GetByte();
        int count = 1;
        if (b >= 0xC0) {
            count = b & 0x3F;
            if (file_.Position() >= end_)
                return ecDeviceRead;
            b = file_.GetByte();
        }
        if (b < 0)
            return readFailure();
        const int copied = std::max(std::min({count, bytesPerLine_ - done, rowBytes - done}), 0);
        std::memset(raster + done, static_cast<uint8_t>(~b), static_cast<size_t>(copied)); // PCX: 1 = white
        done += std::min(count, bytesPerLine_ - done);
    }
    if (width_ % 8)
        raster[rowBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (width_ % 8));
    state.ShiftRow(raster, rowBytes);
    state.bytesRead += file_.Position() - start;
    ++row_;
    return ecOK;
}

void TPcxReader::Close(ConverterState&)
{
    file_.Close();
    pages_.clear();
}

} // namespace zn::faxdoc
