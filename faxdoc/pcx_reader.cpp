#include "faxdoc/converter.h"

#include "faxdoc/fax_errors.h"
#include "faxdoc/page_files.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {
namespace {

constexpr int kDcxMaxPages = 1024;

uint32_t Le16(const TFileBytes& d, size_t at) { return static_cast<uint32_t>(d[at] | d[at + 1] << 8); }
uint32_t Le32(const TFileBytes& d, size_t at) { return Le16(d, at) | Le16(d, at + 2) << 16; }

} // namespace

int TPcxReader::Open(ConverterState& state, const std::string& name) {
  if (int rc = ReadWholeFile(name, file_); rc < 0)
    return rc;
  pages_.clear();
  page_ = 0;
  if (!dcx_) {
    pages_.emplace_back(0, file_.size());
  } else {
    if (file_.size() < 4 || Le32(file_, 0) != kDcxSignature)
      return ecBadGraphicsFormat;
    std::vector<size_t> offsets;
    for (size_t at = 4; at + 4 <= file_.size() && offsets.size() < kDcxMaxPages; at += 4) {
      const size_t offset = Le32(file_, at);
      if (offset == 0)
        break;
      offsets.push_back(offset);
    }
    std::vector<size_t> sorted = offsets;
    std::sort(sorted.begin(), sorted.end());
    for (size_t offset : offsets) {
      const auto next = std::upper_bound(sorted.begin(), sorted.end(), offset);
      const size_t end = next == sorted.end() ? file_.size() : *next;
      if (offset >= file_.size())
        return ecBadGraphicsFormat;
      pages_.emplace_back(offset, std::min(end, file_.size()));
    }
    if (pages_.empty())
      return ecBadGraphicsFormat;
  }
  return OpenPage(state, pages_[0].first, pages_[0].second);
}

int TPcxReader::OpenPage(ConverterState& state, size_t begin, size_t end) {
  if (end < begin || end - begin < kPcxHeaderSize)
    return ecBadGraphicsFormat;
  const uint8_t* h = &file_[begin];
  const int xmin = Le16(file_, begin + 4), ymin = Le16(file_, begin + 6);
  const int xmax = Le16(file_, begin + 8), ymax = Le16(file_, begin + 10);
  const int planes = h[65];
  bytesPerLine_ = static_cast<int>(Le16(file_, begin + 66));
  if (h[0] != 10 || h[2] != 1 || h[3] != 1 || xmax < xmin || ymax < ymin || xmax - xmin > state.LineWidth())
    return ecBadGraphicsFormat;
  width_ = xmax - xmin + 1;
  height_ = ymax - ymin + 1;
  // Several planes would be colour, and a row length that does not hold the width, or one past the
  // raster buffer, cannot be a monochrome row.
  if (planes != 1 || bytesPerLine_ < (width_ + 7) / 8 || bytesPerLine_ > kRasterBufferSize)
    return ecBadGraphicsFormat;
  pos_ = begin + kPcxHeaderSize;
  end_ = end;
  row_ = 0;
  state.DecideImageLayout(width_, false);
  state.bytesRead = 0;
  state.bytesTotal = static_cast<int64_t>(end - begin) - kPcxHeaderSize;
  return ecOK;
}

int TPcxReader::ReadLine(ConverterState& state, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage) {
  if (row_ >= height_) {
    endOfPage = true;
    morePages = page_ + 1 < pages_.size();
    if (morePages) {
      ++page_;
      if (int rc = OpenPage(state, pages_[page_].first, pages_[page_].second); rc < 0)
        return rc;
    }
    return ecOK;
  }
  endOfPage = false;
  morePages = page_ + 1 < pages_.size();
  const int rowBytes = (width_ + 7) / 8;
  bytes = rowBytes;
  // RLE: a byte of 192 or more counts (low 6 bits) copies of the next byte. Runs do not cross rows.
  int done = 0;
  const size_t start = pos_;
  while (done < bytesPerLine_) {
    if (pos_ >= end_)
      return ecDeviceRead;
    uint8_t b = file_[pos_++];
    int count = 1;
    if (b >= 0xC0) {
      count = b & 0x3F;
      if (pos_ >= end_)
        return ecDeviceRead;
      b = file_[pos_++];
    }
    for (int i = 0; i < count && done < bytesPerLine_; ++i, ++done)
      if (done < rowBytes)
        raster[done] = static_cast<uint8_t>(~b); // PCX: 1 = white
  }
  if (width_ % 8)
    raster[rowBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (width_ % 8));
  state.ShiftRow(raster, rowBytes);
  state.bytesRead += static_cast<int64_t>(pos_ - start);
  ++row_;
  return ecOK;
}

void TPcxReader::Close(ConverterState&) {
  file_.clear();
  pages_.clear();
}

} // namespace zn::faxdoc
