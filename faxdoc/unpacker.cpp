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

bool AllZero(const uint8_t* row, int len) {
  for (int i = 0; i < len; ++i)
    if (row[i])
      return false;
  return true;
}

// Nearest-neighbour scaling that keeps black: an output pixel is black when any source pixel
// it stands for is black.
TMonoBitmap ScaleBitmap(const TMonoBitmap& src, int width, int height) {
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

std::string UnpackOutputName(const std::string& inName, const std::string& outName,
                             const char* defaultExtension) {
  if (outName.empty())
    return ForceExtension(inName, defaultExtension);
  return DefaultExtension(outName, defaultExtension);
}

UnpackerState::UnpackerState(TOutputLineProc outputLine) : outputLine_(std::move(outputLine)) {
  work_.resize(TMhDecoder::kRowBufferBytes);
}

void UnpackerState::SetUnpackerFlags(uint16_t bits) {
  const uint16_t scale = kUnpackDoubleHeight | kUnpackHalfWidth;
  if ((bits & scale) == scale)
    return;
  if (bits & scale)
    flags_ = static_cast<uint16_t>(flags_ & ~scale);
  flags_ = static_cast<uint16_t>(flags_ | bits);
}

void UnpackerState::ClearUnpackerFlags(uint16_t bits) { flags_ = static_cast<uint16_t>(flags_ & ~bits); }

int UnpackerState::SetWhitespaceCompression(uint32_t from, uint32_t to) {
  if (from < to || (from == 0 && to != 0))
    return ecBadArgument;
  whitespaceFrom_ = from;
  whitespaceTo_ = to;
  return ecOK;
}

void UnpackerState::SetUnpackerScaling(uint32_t horizMult, uint32_t horizDiv, uint32_t vertMult,
                                       uint32_t vertDiv) {
  horizMult_ = horizMult ? horizMult : 1;
  horizDiv_ = horizDiv ? horizDiv : 1;
  vertMult_ = vertMult ? vertMult : 1;
  vertDiv_ = vertDiv ? vertDiv : 1;
}

int UnpackerState::Output(int kind, const uint8_t* row, int len) {
  if (collecting_)
    return CollectRow(kind, row, len);
  return outputLine_ ? outputLine_(*this, kind, row, pageNumber_, len) : ecOK;
}

int UnpackerState::Emit(const uint8_t* row, int len) {
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
int UnpackerState::Deliver(const uint8_t* row, int len) {
  if (whitespaceFrom_ && whitespaceTo_) {
    if (AllZero(row, len)) {
      ++pendingBlanks_;
      return ecOK;
    }
    if (pendingBlanks_ > 0) {
      const int n = pendingBlanks_ >= static_cast<int>(whitespaceFrom_) ? static_cast<int>(whitespaceTo_)
                                                                         : pendingBlanks_;
      pendingBlanks_ = 0;
      for (int i = 0; i < n; ++i)
        if (int rc = Emit(nullptr, 0); rc < 0)
          return rc;
    }
  }
  return Emit(row, len);
}

int UnpackerState::FlushPendingBlanks() {
  int n = 0;
  if (pendingBlanks_ > 0 && whitespaceFrom_ != whitespaceTo_)
    n = pendingBlanks_ < static_cast<int>(whitespaceFrom_) ? pendingBlanks_ : static_cast<int>(whitespaceTo_);
  pendingBlanks_ = 0;
  for (int i = 0; i < n; ++i)
    if (int rc = Emit(nullptr, 0); rc < 0)
      return rc;
  return ecOK;
}

int UnpackerState::UnpackPage(const std::string& fileName, unsigned page) {
  TInFile f;
  if (int rc = OpenApfPage(f, fileName, std::max(page, 1u), fileHeader_, pageHeader_); rc < 0)
    return rc;
  if (fileHeader_.pageCount < page)
    return ecFaxBadFormat;

  fileName_ = fileName;
  pageNumber_ = static_cast<int>(page);
  pageLength_ = pageHeader_.length;
  rowsDelivered_ = 0;
  pendingBlanks_ = 0;
  std::vector<uint8_t> data;
  const int readResult = ReadApfPageData(f, pageHeader_, data, bytesRead_);
  f.Close();
  if (readResult < 0 && readResult != ecFaxBadFormat)
    return readResult;

  if (int rc = Output(kOutputStart, nullptr, 0); rc < 0)
    return rc;
  TMhDecoder decoder;
  int failure = ecOK;
  const bool ended = decoder.Decode(data.data(), data.size(), [&](const uint8_t* row, int len) {
    failure = Deliver(row, len);
    if (failure >= 0 && (flags_ & kUnpackAbort))
      return false;
    return failure >= 0;
  });
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

int UnpackerState::CollectRow(int kind, const uint8_t* row, int len) {
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

int UnpackerState::UnpackPageToMemBitmap(const std::string& fileName, unsigned page, bool invert,
                                         TMonoBitmap& out) {
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

int UnpackerState::UnpackPageToFile(const std::string& inName, const std::string& outName, unsigned page,
                                    const char* defaultExtension,
                                    std::vector<uint8_t> (*encode)(const TMonoBitmap&)) {
  if (inName.empty())
    return ecFileNotFound;
  const std::string output = UnpackOutputName(inName, outName, defaultExtension);
  if (int rc = RefuseOutputOverInput(inName, output); rc < 0)
    return rc;
  TMonoBitmap bm;
  if (int rc = UnpackPageToMemBitmap(inName, page, false, bm); rc < 0)
    return rc;
  try {
    return WriteFileData(output, encode(bm));
  } catch (const std::bad_alloc&) {
    return ecOutOfMemory;
  }
}

int UnpackerState::UnpackPageToPcx(const std::string& inName, const std::string& outName, unsigned page) {
  return UnpackPageToFile(inName, outName, page, "PCX", EncodePcx);
}
int UnpackerState::UnpackPageToDcx(const std::string& inName, const std::string& outName, unsigned page) {
  return UnpackPageToFile(inName, outName, page, "DCX", EncodeDcx);
}
int UnpackerState::UnpackPageToTiff(const std::string& inName, const std::string& outName, unsigned page) {
  return UnpackPageToFile(inName, outName, page, "TIF", EncodeTiff);
}
int UnpackerState::UnpackPageToBmp(const std::string& inName, const std::string& outName, unsigned page) {
  return UnpackPageToFile(inName, outName, page, "BMP", EncodeBmp);
}

} // namespace zn::faxdoc
