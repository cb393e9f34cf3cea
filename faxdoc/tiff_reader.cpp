#include "faxdoc/converter.h"

#include "faxdoc/fax_errors.h"
#include "faxdoc/raster_ops.h"

#include <algorithm>
#include <cstring>

namespace zn::faxdoc {
namespace {

constexpr uint32_t kTiffNone = 1;
constexpr uint32_t kTiffPackBits = 32773;

class TTiffBytes {
 public:
  TTiffBytes(const TFileBytes& d, bool big) : d_(d), big_(big) {}
  bool Has(size_t at, size_t n) const { return at <= d_.size() && n <= d_.size() - at; }
  uint32_t U8(size_t at) const { return d_[at]; }
  uint32_t U16(size_t at) const {
    return big_ ? static_cast<uint32_t>(d_[at] << 8 | d_[at + 1]) : static_cast<uint32_t>(d_[at] | d_[at + 1] << 8);
  }
  uint32_t U32(size_t at) const {
    return big_ ? (U16(at) << 16 | U16(at + 2)) : (U16(at) | U16(at + 2) << 16);
  }

 private:
  const TFileBytes& d_;
  bool big_;
};

// The values of one IFD entry (BYTE, SHORT or LONG), at most `limit` of them.
bool EntryValues(const TTiffBytes& b, size_t entry, std::vector<uint32_t>& out, size_t limit) {
  const uint32_t type = b.U16(entry + 2);
  const uint32_t count = b.U32(entry + 4);
  const size_t size = type == 1 ? 1 : type == 3 ? 2 : type == 4 ? 4 : 0;
  if (size == 0 || count == 0 || count > limit)
    return false;
  size_t at = entry + 8;
  if (size * count > 4) {
    at = b.U32(entry + 8);
    if (!b.Has(at, size * count))
      return false;
  }
  out.clear();
  for (uint32_t i = 0; i < count; ++i, at += size)
    out.push_back(size == 1 ? b.U8(at) : size == 2 ? b.U16(at) : b.U32(at));
  return true;
}

} // namespace

int TTiffReader::Open(ConverterState& state, const std::string& name) {
  if (int rc = ReadWholeFile(name, file_); rc < 0)
    return rc;
  if (file_.size() < 8 || !((file_[0] == 'I' && file_[1] == 'I') || (file_[0] == 'M' && file_[1] == 'M')))
    return ecBadGraphicsFormat;
  bigEndian_ = file_[0] == 'M';
  const TTiffBytes b(file_, bigEndian_);
  const size_t ifd = b.U32(4);
  if (!b.Has(ifd, 2))
    return ecBadGraphicsFormat;
  const uint32_t entries = b.U16(ifd);
  if (!b.Has(ifd + 2, static_cast<size_t>(entries) * 12))
    return ecBadGraphicsFormat;
  bool haveWidth = false, haveLength = false;
  uint32_t bits = 1;
  compression_ = kTiffNone;
  invert_ = false;
  rowsPerStrip_ = 0;
  stripOffsets_.clear();
  stripCounts_.clear();
  const size_t maxStrips = file_.size();
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t e = ifd + 2 + 12 * static_cast<size_t>(i);
    std::vector<uint32_t> v;
    const uint32_t tag = b.U16(e);
    const bool many = tag == 273 || tag == 279;
    if (tag != 256 && tag != 257 && tag != 258 && tag != 259 && tag != 262 && tag != 278 && !many)
      continue;
    if (!EntryValues(b, e, v, many ? maxStrips : 16))
      return ecBadGraphicsFormat;
    switch (tag) {
    case 256: width_ = v[0]; haveWidth = true; break;
    case 257: length_ = v[0]; haveLength = true; break;
    case 258: bits = v[0]; break;
    case 259: compression_ = v[0]; break;
    case 262: invert_ = v[0] != 0; break;
    case 273: stripOffsets_ = v; break;
    case 278: rowsPerStrip_ = v[0]; break;
    case 279: stripCounts_ = v; break;
    }
  }
  if (!haveWidth || !haveLength || stripOffsets_.empty() || width_ == 0 || bits != 1 ||
      (compression_ != kTiffNone && compression_ != kTiffPackBits))
    return ecBadGraphicsFormat;
  if (rowsPerStrip_ == 0 || rowsPerStrip_ > length_)
    rowsPerStrip_ = length_;
  row_ = 0;
  strip_ = 0;
  rowInStrip_ = 0;
  pos_ = end_ = 0;
  const int rowBytes = static_cast<int>(std::min<uint64_t>((static_cast<uint64_t>(width_) + 7) / 8, kRasterBufferSize));
  state.DecideImageLayout(static_cast<int>(std::min<uint32_t>(width_, kRasterBufferSize * 8)), false);
  state.bytesRead = 0;
  state.bytesTotal = static_cast<int64_t>(length_) * rowBytes;
  return ecOK;
}

int TTiffReader::ReadLine(ConverterState& state, uint8_t* raster, int& bytes, bool& morePages, bool& endOfPage) {
  morePages = false;
  endOfPage = row_ >= length_;
  const uint32_t rowBytes = static_cast<uint32_t>((static_cast<uint64_t>(width_) + 7) / 8);
  const uint32_t kept = std::min<uint32_t>(rowBytes, kRasterBufferSize);
  bytes = static_cast<int>(kept);
  if (endOfPage)
    return ecOK;
  // Strips in order, rowsPerStrip rows each, the last strip holding the rest.
  if (row_ == 0 || rowInStrip_ == rowsPerStrip_) {
    if (row_ != 0)
      ++strip_;
    if (strip_ >= stripOffsets_.size())
      return ecDeviceRead;
    pos_ = stripOffsets_[strip_];
    const bool lastStrip = strip_ + 1 == stripOffsets_.size();
    const size_t count = strip_ < stripCounts_.size() ? stripCounts_[strip_] : file_.size();
    end_ = std::min(file_.size(), pos_ + count);
    if (pos_ > file_.size())
      return ecDeviceRead;
    rowInStrip_ = 0;
    if (lastStrip)
      rowsPerStrip_ = length_ - row_;
  }
  if (compression_ == kTiffNone) {
    if (end_ - pos_ < rowBytes)
      return ecDeviceRead;
    std::memcpy(raster, &file_[pos_], kept);
    pos_ += rowBytes;
  } else {
    // PackBits: n < 128 copies n + 1 bytes; otherwise 257 - n copies of the next byte (128 is a no-op).
    uint32_t done = 0;
    while (done < rowBytes) {
      if (pos_ >= end_)
        return ecDeviceRead;
      const uint8_t n = file_[pos_++];
      if (n < 128) {
        const uint32_t count = n + 1u;
        if (end_ - pos_ < count)
          return ecDeviceRead;
        for (uint32_t i = 0; i < count; ++i, ++done)
          if (done < kept)
            raster[done] = file_[pos_ + i];
        pos_ += count;
      } else if (n > 128) {
        if (pos_ >= end_)
          return ecDeviceRead;
        const uint32_t count = 257u - n;
        for (uint32_t i = 0; i < count; ++i, ++done)
          if (done < kept)
            raster[done] = file_[pos_];
        ++pos_;
      }
    }
  }
  if (invert_)
    InvertBytes(raster, kept);
  if (width_ % 8 && kept == rowBytes)
    raster[kept - 1] &= static_cast<uint8_t>(0xFF00 >> (width_ % 8));
  state.ShiftRow(raster, static_cast<int>(kept));
  ++row_;
  ++rowInStrip_;
  state.bytesRead += kept;
  return ecOK;
}

void TTiffReader::Close(ConverterState&) { file_.clear(); }

} // namespace zn::faxdoc
